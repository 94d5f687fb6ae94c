#pragma once
// The marker filter: when a sweep is complete, tells the diagram that the
// markers on this trace may search and measure on it.
#include "filters/FilterBase.h"

namespace plotdesk {

class CFilterMarker : public CFilterBase {
 public:
  using CFilterBase::CFilterBase;
  void Apply(TTraceUpdate& update) override;
  // Complete sweeps seen.
  unsigned long long Sweeps() const { return sweeps_; }

 private:
  unsigned long long sweeps_ = 0;
};

}  // namespace plotdesk
