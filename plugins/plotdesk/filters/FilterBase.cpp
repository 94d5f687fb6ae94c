#include "filters/FilterBase.h"

#include "filters/FilterAccumulation.h"
#include "filters/FilterMarker.h"
#include "filters/FilterQuantity.h"
#include "filters/FilterSmoothing.h"
#include "filters/FilterStat.h"
#include "model/Trace.h"
#include "ui/DiagramArea.h"

namespace plotdesk {

void CFilterBase::BuildMenu(QMenu*) {}
void CFilterBase::Reset() {}

void CFilterBase::SettingChanged(const std::string& tag) {
  tag_ = tag;
  if (!trace_) return;
  trace_->Refilter();
  trace_->Area()->Redraw();
}

std::vector<std::unique_ptr<CFilterBase>> MakeFilterChain(CTrace* trace) {
  std::vector<std::unique_ptr<CFilterBase>> chain;
  chain.push_back(std::make_unique<CFilterAccumulation>(trace));
  chain.push_back(std::make_unique<CFilterQuantity>(trace));
  chain.push_back(std::make_unique<CFilterSmoothing>(trace));
  chain.push_back(std::make_unique<CFilterStat>(trace));
  chain.push_back(std::make_unique<CFilterMarker>(trace));
  return chain;
}

std::string FilterTags(const std::vector<std::unique_ptr<CFilterBase>>& chain) {
  std::string tags;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (it != chain.rbegin()) tags += ' ';
    tags += (*it)->Tag();
  }
  return tags;
}

}  // namespace plotdesk
