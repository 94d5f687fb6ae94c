#pragma once
// The parameters node of a chart panel, read once: where the chart sits on
// the host panel (percentages), the axis titles and ranges, an optional
// marker template to start with, and the curves' limit lines. Faults are
// reported as they are found; reading always yields a usable description.
#include <libxml/tree.h>

#include <array>
#include <string>

#include "limits/LimitLines.h"

namespace chartpanel {

inline constexpr int kCurves = 3;
using TCurveLimits = std::array<korchart::TLimitLines, kCurves>;

struct TChartSettings {
  // The chart's area in percent of the host panel's client area.
  double left = 0, top = 0, width = 100, height = 100;
  std::string leftTitle, rightTitle, bottomTitle, caption;
  double leftMin = -105, leftMax = 10;
  double rightMin = -105, rightMax = 10;
  // A marker template (.mrk) loaded when the panel starts ("" for none);
  // macros such as "[schemes]" are expanded.
  std::string markers;
  // Each curve's limit lines (none unless the parameters give them).
  TCurveLimits limits;
};

// Reads `node` (null: the defaults); `pluginName` names the panel in the
// reports.
TChartSettings ReadChartSettings(xmlNode* node, const std::string& pluginName);

// The curves' limit lines, in the parameters and in the saved state alike:
//   <limits curve="0" enabled="true">
//     <upper start="100" stop="500" startlevel="-1" stoplevel="-1"/>
//     <lower start="..." stop="..." startlevel="..." stoplevel="..."/>
//   </limits>
// one element a curve (0 "Левый", 1 "Правый", 2 "Вспомогательный"); a curve
// without one keeps what `limits` holds. With `pluginName` given, a curve
// that is no curve and a segment left out for a value that is no number are
// reported. The curves found; `found` marks them.
void ReadCurveLimits(xmlNode* node, TCurveLimits& limits, std::array<bool, kCurves>& found,
                     const std::string& pluginName = std::string());
// Writes one element a curve (also for limits that are off and empty, so that
// clearing them is kept).
void WriteCurveLimits(xmlNode* node, const TCurveLimits& limits);

}  // namespace chartpanel
