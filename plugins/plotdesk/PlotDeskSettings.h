#pragma once
// The parameters node of a diagram, read once. Besides the designed
// parameters a channel may bring memory traces loaded from files, and math
// traces and a marker template may be set up when the scheme starts.
#include <libxml/tree.h>

#include "limits/LimitLines.h"

#include <string>
#include <vector>

namespace plotdesk {

struct TTraceSettings {
  double reference = 0;
  double scaleDiv = 10;
  std::string file;  // memory traces: the points (.trc)
  // Filters switched on at start: averaging degree (0: off), smoothing
  // window in percent (negative: off), deviation over sweeps.
  int averaging = 0;
  double smoothing = -1;
  bool deviation = false;
  // Limit lines in the unit shown (a child "limits" with "upper" and
  // "lower" segments).
  korchart::TLimitLines limits;
};

struct TChannelSettings {
  std::string name, quantityR, quantityS;
  std::vector<TTraceSettings> traces;
  std::vector<TTraceSettings> memories;
};

struct TMathSettings {
  std::string operand1, operand2;
  int operation = 0;
  double reference = 0;
  double scaleDiv = 10;
  korchart::TLimitLines limits;
};

struct TPlotDeskSettings {
  bool fastLine = true;
  bool fps = false;
  int refPosition = 5;
  // The area in whole percent of the host panel: left, top, right, bottom.
  int left = 0, top = 0, right = 100, bottom = 100;
  std::vector<TChannelSettings> channels;
  std::vector<TMathSettings> maths;
  std::string markers;  // a marker template loaded at start ("" for none)
};

TPlotDeskSettings ReadPlotDeskSettings(xmlNode* node);

}  // namespace plotdesk
