#include "model/UnitRun.h"

#include <algorithm>
#include <cmath>

namespace vkresults {

namespace {

double Finite(double v) { return std::isfinite(v) ? v : (std::isnan(v) ? 0 : (v < 0 ? -1e300 : 1e300)); }

}  // namespace

void CUnitRun::Take(int input, const korchart::TDisplayOutcome& outcome) { newest_[input] = outcome; }

void CUnitRun::Start(const std::string& serial, const std::string& operatorName, double now,
                     const std::vector<int>& wired) {
  serial_ = serial;
  operator_ = operatorName;
  startedAt_ = now;
  timeUtc_ = NowUtc();
  wired_ = wired;
  startSweep_.clear();
  for (int input : wired_) {
    const auto it = newest_.find(input);
    startSweep_[input] = it == newest_.end() ? 0 : it->second.sweep;
  }
  running_ = true;
}

int CUnitRun::SweepsAwaited() const {
  if (!running_) return 0;
  int awaited = 0;
  for (int input : wired_) {
    const auto it = newest_.find(input);
    const unsigned long long seen = it == newest_.end() ? 0 : it->second.sweep;
    const unsigned long long from = startSweep_.at(input);
    // A display that started its count again (its scheme restarted) counts
    // from its new beginning.
    const unsigned long long taken = seen >= from ? seen - from : seen;
    awaited = std::max(awaited, settings_.sweeps - static_cast<int>(std::min<unsigned long long>(taken, 1u << 20)));
  }
  return std::max(awaited, 0);
}

std::optional<TResult> CUnitRun::Finish(double now) {
  if (!running_ || wired_.empty() || SweepsAwaited() > 0) return std::nullopt;
  running_ = false;
  return Compose(now - startedAt_);
}

TResult CUnitRun::Compose(double seconds) const {
  TResult r;
  r.id = NewResultId();
  r.serial = serial_;
  r.operatorName = operator_;
  r.bench = settings_.bench;
  r.scheme = settings_.scheme;
  r.timeUtc = timeUtc_.empty() ? NowUtc() : timeUtc_;
  r.seconds = seconds;
  bool everyDisplayJudged = !wired_.empty();
  bool pass = true;
  for (int input : wired_) {
    const auto it = newest_.find(input);
    if (it == newest_.end()) {
      everyDisplayJudged = false;
      continue;
    }
    const korchart::TDisplayOutcome& o = it->second;
    everyDisplayJudged = everyDisplayJudged && o.verdict.judged;
    pass = pass && o.verdict.pass;
    for (const auto& t : o.traces) {
      if (!t.verdict.judged) continue;
      r.limits.push_back({o.display + ": " + t.name, t.verdict.pass, Finite(t.verdict.worstMargin), Finite(t.verdict.argument)});
    }
    for (const auto& reading : o.readings) {
      if (reading.verdict.judged)
        r.limits.push_back({o.display + ": " + reading.name, reading.verdict.pass, Finite(reading.verdict.worstMargin),
                            Finite(reading.verdict.argument)});
      const bool wanted = settings_.readings.empty() ||
                          std::find(settings_.readings.begin(), settings_.readings.end(), reading.name) !=
                              settings_.readings.end();
      if (wanted) r.readings.push_back({reading.name, reading.hasValue ? reading.value : 0, reading.hasValue, reading.unit});
    }
  }
  // A unit nothing was checked on is no good unit.
  r.pass = everyDisplayJudged && pass;
  return r;
}

std::vector<std::string> FailingLimits(const TResult& result) {
  std::vector<std::string> out;
  for (const auto& l : result.limits)
    if (!l.pass) out.push_back(l.name);
  return out;
}

}  // namespace vkresults
