#include "filters/TraceFilter.h"

namespace plotdesk {

void CTraceFilter::Apply(TTraceUpdate&) {}
void CTraceFilter::Reset() {}
void CTraceFilter::BuildMenu(QMenu*) {}
std::string CTraceFilter::Tag() const { return {}; }

std::vector<std::unique_ptr<CTraceFilter>> MakeFilterChain(CTrace* trace) {
  std::vector<std::unique_ptr<CTraceFilter>> chain;
  chain.push_back(std::make_unique<CFilterAccumulation>(trace));
  chain.push_back(std::make_unique<CFilterQuantity>(trace));
  chain.push_back(std::make_unique<CFilterSmoothing>(trace));
  chain.push_back(std::make_unique<CFilterStat>(trace));
  chain.push_back(std::make_unique<CFilterMarker>(trace));
  return chain;
}

}  // namespace plotdesk
