#pragma once
// Statistics over sweeps: each point's sample standard deviation over the
// sweeps since the filter was switched on (or the sweep last started
// again). The first sweep only seeds the sums, and the trace shows nothing
// until the second.
#include <vector>

#include "filters/FilterBase.h"

namespace plotdesk {

class CFilterStat : public CFilterBase {
 public:
  enum EMode { Off = 0, Deviation = 1 };

  using CFilterBase::CFilterBase;
  void BuildMenu(QMenu* menu) override;
  void Apply(TTraceUpdate& update) override;

  int Mode() const { return mode_; }
  void SetMode(int mode);
  // The sweeps summed.
  int Sweeps() const { return n_; }

 private:
  int mode_ = Off;
  void Widen();

  // Per point: the mean over the sweeps and the sum of squared deviations
  // from it, updated sweep by sweep (no difference of two large sums that
  // would take the deviation's digits away). Deviations whose squares a
  // double does not hold (beyond 1e150 or below 1e-150) move the squares
  // into extended precision, whose range no such square leaves, until the
  // filter starts again.
  std::vector<double> mean_, squares_, out_;
  std::vector<long double> wideSquares_;
  bool wide_ = false;
  int n_ = 0;
  bool restart_ = false;
  size_t restartOffset_ = 0;
};

}  // namespace plotdesk
