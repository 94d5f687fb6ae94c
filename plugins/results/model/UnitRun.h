#pragma once
// One unit under test, from Start to its result: the displays' verdicts
// (their "outcome" texts) come in on the package's inputs; once every wired
// display has shown `sweeps` whole sweeps taken after Start, the unit's
// result is made from the newest of each: the verdict (every display
// judged something, and everything judged passed), each trace's and each
// limited reading's verdict and worst margin, and the readings asked for.
// Plain data: no window, no database.
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Result.h"
#include "limits/Outcome.h"

namespace vkresults {

struct TRunSettings {
  int sweeps = 2;                      // whole sweeps after Start, each display
  std::vector<std::string> readings;   // readings kept (empty: every reading)
  std::string bench, scheme;
};

class CUnitRun {
 public:
  explicit CUnitRun(TRunSettings settings) : settings_(std::move(settings)) {}

  // A display's outcome arrived on input `input`.
  void Take(int input, const korchart::TDisplayOutcome& outcome);
  // Starts a unit (what came before Start does not count); `now` in seconds.
  void Start(const std::string& serial, const std::string& operatorName, double now, const std::vector<int>& wired);
  void Cancel() { running_ = false; }
  bool Running() const { return running_; }
  // The unit's result once every wired input has enough sweeps (the run is
  // then over); nothing before.
  std::optional<TResult> Finish(double now);
  // Sweeps still awaited (the most any input still needs).
  int SweepsAwaited() const;

  // The result made of the newest outcomes (used by Finish; also for the
  // station's display while nothing runs).
  TResult Compose(double seconds) const;

 private:
  TRunSettings settings_;
  std::map<int, korchart::TDisplayOutcome> newest_;
  std::map<int, unsigned long long> startSweep_;
  std::vector<int> wired_;
  bool running_ = false;
  double startedAt_ = 0;
  std::string serial_, operator_, timeUtc_;
};

// The names of the limits of a result that failed.
std::vector<std::string> FailingLimits(const TResult& result);

}  // namespace vkresults
