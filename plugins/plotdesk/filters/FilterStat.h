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
  std::vector<double> sum_, sumSq_, out_;
  int n_ = 0;
  bool restart_ = false;
  size_t restartOffset_ = 0;
};

}  // namespace plotdesk
