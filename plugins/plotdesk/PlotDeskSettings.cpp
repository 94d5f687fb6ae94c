#include "PlotDeskSettings.h"

#include <cmath>
#include <cstring>

#include "VKPaths.h"
#include "VKXml.h"
#include "model/TraceMaths.h"

namespace plotdesk {

using namespace VKCore;

namespace {

int WholePercent(xmlNode* node, const char* path, double defaultValue) {
  const double v = GetNodeDoubleValue(node, path, defaultValue);
  return std::isfinite(v) ? static_cast<int>(std::trunc(std::fmax(-1000, std::fmin(1000, v)))) : static_cast<int>(defaultValue);
}

TTraceSettings ReadTrace(xmlNode* node) {
  TTraceSettings t;
  t.reference = GetNodeDoubleValue(node, "@reference", 0);
  t.scaleDiv = GetNodeDoubleValue(node, "@scalediv", 10);
  if (!std::isfinite(t.reference)) t.reference = 0;
  if (!std::isfinite(t.scaleDiv) || t.scaleDiv < kMinScale) t.scaleDiv = std::isfinite(t.scaleDiv) ? kMinScale : 10;
  const std::string file = GetNodeStringValue(node, "@file", "");
  t.file = file.empty() ? file : FormatPath(file);
  const double averaging = GetNodeDoubleValue(node, "@averaging", 0);
  t.averaging = averaging >= 1 && averaging <= 32 ? static_cast<int>(averaging) : 0;
  const double smoothing = GetNodeDoubleValue(node, "@smoothing", -1);
  t.smoothing = std::isfinite(smoothing) ? smoothing : -1;
  t.deviation = GetNodeBoolValue(node, "@deviation", false);
  korchart::LoadLimits(node, t.limits);
  return t;
}

bool Named(xmlNode* n, const char* name) {
  return n->type == XML_ELEMENT_NODE && std::strcmp(reinterpret_cast<const char*>(n->name), name) == 0;
}

}  // namespace

TPlotDeskSettings ReadPlotDeskSettings(xmlNode* node) {
  TPlotDeskSettings s;
  if (!node) return s;
  s.fastLine = GetNodeBoolValue(node, "@fastline", true);
  s.fps = GetNodeBoolValue(node, "@fps", false);
  s.refPosition = ClampPosition(GetNodeDoubleValue(node, "@refposition", 5));
  s.left = WholePercent(node, "position/@left", 0);
  s.top = WholePercent(node, "position/@top", 0);
  s.right = s.left + WholePercent(node, "position/@width", 100);
  s.bottom = s.top + WholePercent(node, "position/@height", 100);
  for (xmlNode* group = node->children; group; group = group->next) {
    if (Named(group, "channels")) {
      for (xmlNode* c = group->children; c; c = c->next) {
        if (!Named(c, "channel")) continue;
        TChannelSettings channel;
        channel.name = GetNodeStringValue(c, "@name", "");
        channel.quantityR = GetNodeStringValue(c, "@quantityr", "");
        channel.quantityS = GetNodeStringValue(c, "@quantitys", "");
        for (xmlNode* t = c->children; t; t = t->next) {
          if (Named(t, "trace")) channel.traces.push_back(ReadTrace(t));
          if (Named(t, "memory")) channel.memories.push_back(ReadTrace(t));
        }
        s.channels.push_back(std::move(channel));
      }
    } else if (Named(group, "math")) {
      TMathSettings m;
      m.operand1 = GetNodeStringValue(group, "@operand1", "");
      m.operand2 = GetNodeStringValue(group, "@operand2", "");
      const double op = GetNodeDoubleValue(group, "@operation", 0);
      m.operation = std::isfinite(op) && op >= 0 && op < kMathOperationCount ? static_cast<int>(op) : 0;
      const TTraceSettings t = ReadTrace(group);
      m.reference = t.reference;
      m.scaleDiv = t.scaleDiv;
      m.limits = t.limits;
      s.maths.push_back(m);
    }
  }
  const std::string markers = GetNodeStringValue(node, "markers/@template", "");
  s.markers = markers.empty() ? markers : FormatPath(markers);
  return s;
}

}  // namespace plotdesk
