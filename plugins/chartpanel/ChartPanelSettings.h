#pragma once
// The parameters node of a chart panel, read once: where the chart sits on
// the host panel (percentages), the axis titles and ranges, and an optional
// marker template to start with. Faults are reported as they are found;
// reading always yields a usable description.
#include <libxml/tree.h>

#include <string>

namespace chartpanel {

struct TChartSettings {
  // The chart's area in percent of the host panel's client area.
  double left = 0, top = 0, width = 100, height = 100;
  std::string leftTitle, rightTitle, bottomTitle, caption;
  double leftMin = -105, leftMax = 10;
  double rightMin = -105, rightMax = 10;
  // A marker template (.mrk) loaded when the panel starts ("" for none);
  // macros such as "[schemes]" are expanded.
  std::string markers;
};

// Reads `node` (null: the defaults); `pluginName` names the panel in the
// reports.
TChartSettings ReadChartSettings(xmlNode* node, const std::string& pluginName);

}  // namespace chartpanel
