#include "ChartPanelSettings.h"

#include <algorithm>
#include <cmath>

#include "Diagnostics.h"
#include "VKPaths.h"
#include "VKXml.h"

namespace chartpanel {

using namespace VKCore;

namespace {

// A number attribute: its default when missing; a text that is no finite
// number is reported and gives the default too.
double Number(xmlNode* node, const char* path, double defaultValue, const std::string& plugin) {
  const std::string text = GetNodeStringValue(node, path, "");
  if (text.empty()) return defaultValue;
  double value = defaultValue;
  if (!vkcore::ParseXmlDouble(text, value) || !std::isfinite(value)) {
    PAssertFunction(__FILE__, __DATE__, __LINE__, plugin.c_str(),
                    (std::string(path) + "\r\n(Неверное число: \"" + text + "\")").c_str());
    return defaultValue;
  }
  return value;
}

void Report(const std::string& plugin, const std::string& text) {
  if (!plugin.empty()) PAssertFunction(__FILE__, __DATE__, __LINE__, plugin.c_str(), text.c_str());
}

size_t CountChildren(xmlNode* e, const char* name) {
  size_t n = 0;
  for (xmlNode* c = e->children; c; c = c->next)
    if (c->type == XML_ELEMENT_NODE && xmlStrcmp(c->name, BAD_CAST name) == 0) ++n;
  return n;
}

}  // namespace

void ReadCurveLimits(xmlNode* node, TCurveLimits& limits, std::array<bool, kCurves>& found,
                     const std::string& plugin) {
  found.fill(false);
  if (!node) return;
  for (xmlNode* e = node->children; e; e = e->next) {
    if (e->type != XML_ELEMENT_NODE || xmlStrcmp(e->name, BAD_CAST "limits") != 0) continue;
    const std::string text = GetNodeStringValue(e, "@curve", "");
    int curve = -1;
    if (!vkcore::ParseXmlInt(text, curve) || curve < 0 || curve >= kCurves) {
      Report(plugin, "limits/@curve\r\n(Нет такой кривой: \"" + text + "\")");
      continue;
    }
    // LoadLimits reads the "limits" child of a node: this element's copy
    // under a node of its own.
    xmlNode* holder = xmlNewDocNode(e->doc, nullptr, BAD_CAST "holder", nullptr);
    xmlAddChild(holder, xmlDocCopyNode(e, e->doc, 1));
    korchart::TLimitLines read;
    korchart::LoadLimits(holder, read);
    xmlFreeNode(holder);
    const size_t given = std::min(CountChildren(e, "upper"), korchart::kMaxSegments) +
                         std::min(CountChildren(e, "lower"), korchart::kMaxSegments);
    if (read.upper.size() + read.lower.size() < given)
      Report(plugin, "limits/upper|lower\r\n(Отрезок кривой " + std::to_string(curve) +
                         " с неверным числом пропущен)");
    limits[static_cast<size_t>(curve)] = read;
    found[static_cast<size_t>(curve)] = true;
  }
}

void WriteCurveLimits(xmlNode* node, const TCurveLimits& limits) {
  if (!node) return;
  for (int k = 0; k < kCurves; ++k) {
    const korchart::TLimitLines& l = limits[static_cast<size_t>(k)];
    xmlNode* e = nullptr;
    if (l.enabled || !l.Empty()) {
      korchart::SaveLimits(node, l);
      e = xmlGetLastChild(node);
    } else {
      e = AddElement(node, "limits");
      AddAttribute(e, "enabled", false);
    }
    AddAttribute(e, "curve", k);
  }
}

TChartSettings ReadChartSettings(xmlNode* node, const std::string& plugin) {
  TChartSettings s;
  if (!node) return s;
  s.left = Number(node, "position/@left", s.left, plugin);
  s.top = Number(node, "position/@top", s.top, plugin);
  s.width = Number(node, "position/@width", s.width, plugin);
  s.height = Number(node, "position/@height", s.height, plugin);
  // An area outside the panel, or of no size, would hide the chart for good.
  if (s.left < 0 || s.top < 0 || s.width <= 0 || s.height <= 0 || s.left + s.width > 100.0001 ||
      s.top + s.height > 100.0001) {
    PAssertFunction(__FILE__, __DATE__, __LINE__, plugin.c_str(),
                    "left>=0 && top>=0 && width>0 && height>0 && left+width<=100 && top+height<=100");
    s.left = s.top = 0;
    s.width = s.height = 100;
  }
  s.leftTitle = GetNodeStringValue(node, "titles/@left_axis", "");
  s.rightTitle = GetNodeStringValue(node, "titles/@right_axis", "");
  s.bottomTitle = GetNodeStringValue(node, "titles/@bottom_axis", "");
  s.caption = GetNodeStringValue(node, "titles/@caption", "");
  s.leftMin = Number(node, "axes/@left_min", s.leftMin, plugin);
  s.leftMax = Number(node, "axes/@left_max", s.leftMax, plugin);
  s.rightMin = Number(node, "axes/@right_min", s.rightMin, plugin);
  s.rightMax = Number(node, "axes/@right_max", s.rightMax, plugin);
  // A range with its ends the wrong way round is turned; an empty one
  // cannot be drawn.
  for (auto [min, max] : {std::pair{&s.leftMin, &s.leftMax}, std::pair{&s.rightMin, &s.rightMax}}) {
    if (*min > *max) std::swap(*min, *max);
    if (*min == *max) {
      PAssertFunction(__FILE__, __DATE__, __LINE__, plugin.c_str(), "axis_min<axis_max");
      *min = -105;
      *max = 10;
    }
  }
  const std::string markers = GetNodeStringValue(node, "markers/@template", "");
  s.markers = markers.empty() ? std::string() : FormatPath(markers);
  std::array<bool, kCurves> found{};
  ReadCurveLimits(node, s.limits, found, plugin);
  return s;
}

}  // namespace chartpanel
