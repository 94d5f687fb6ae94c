#include "filters/FilterMarker.h"

#include "model/Trace.h"
#include "ui/DiagramArea.h"

namespace plotdesk {

void CFilterMarker::Apply(TTraceUpdate& u) {
  if (u.count == 0 || u.offset + u.count != u.arraySize) return;
  ++sweeps_;
  if (trace_) trace_->Area()->MarkersDue();
}

}  // namespace plotdesk
