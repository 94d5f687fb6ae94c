#include "PanelSettings.h"

#include <cmath>
#include <limits>

#include "Diagnostics.h"
#include "VKXml.h"

namespace constpanel {
namespace {

using namespace VKCore;

// A number attribute truncated to an integer; garbage, infinities and
// values beyond int give the default.
int Truncated(xmlNode* node, const char* path, int defaultValue) {
  const double v = GetNodeDoubleValue(node, path, defaultValue);
  if (!std::isfinite(v) || v > std::numeric_limits<int>::max() || v < std::numeric_limits<int>::min())
    return defaultValue;
  return static_cast<int>(v);
}

std::vector<xmlNode*> Children(xmlNode* node, const char* name) {
  std::vector<xmlNode*> out;
  SelectNodes(node, name, out);
  return out;
}

}  // namespace

TPanelSettings ReadPanelSettings(xmlNode* node, const std::string& name) {
  TPanelSettings s;
  if (!node) {
    PAssertFunction(__FILE__, __DATE__, __LINE__, name.c_str(), "1==0");
    return s;
  }
  s.present = true;
  if (GetNodeStringValue(node, "@type", "") != "parameter")
    PAssertFunction(__FILE__, __DATE__, __LINE__, name.c_str(),
                    "GetNodeStringValue(ANode,L\"@type\",\"\")==\"parameter\"");
  s.lockOnRun = GetNodeBoolValue(node, "@lockonrun", false);
  s.control = GetNodeBoolValue(node, "@control", false);
  s.dock = GetNodeStringValue(node, "@dock", s.dock);
  s.caption = GetNodeStringValue(node, "@caption", s.caption);
  s.parameter = GetNodeStringValue(node, "@parameter", "");
  s.base = Truncated(node, "@base", 0);
  s.fract = Truncated(node, "@fract", 0);
  // A value format the device protocol cannot carry would make every
  // parameter packet unreadable: said at once.
  if (!s.parameter.empty() && (s.base < 1 || s.base > 8 || s.fract < 0 || s.fract > 3 || s.fract > s.base))
    PAssertFunction(__FILE__, __DATE__, __LINE__, name.c_str(),
                    "base>=1 && base<=8 && fract>=0 && fract<=3\r\n(Неверный формат значений параметра)");

  for (xmlNode* e : Children(node, "element")) {
    TPanelElement el;
    el.multiplier = GetNodeDoubleValue(e, "@multiplier", 1);
    // A multiplier of 0 (or none that is a number) would divide by zero
    // when a value is shown.
    if (!std::isfinite(el.multiplier) || el.multiplier == 0) {
      PAssertFunction(__FILE__, __DATE__, __LINE__, name.c_str(),
                      "Multiplier!=0\r\n(Неверный множитель элемента)");
      el.multiplier = 1;
    }
    el.caption = GetNodeStringValue(e, "@caption", "");
    el.increment = GetNodeDoubleValue(e, "@increment", 1);
    el.width = Truncated(e, "@width", 80);
    if (el.width < 16 || el.width > 1000) el.width = 80;
    el.edit = GetNodeBoolValue(e, "@edit", true);
    const std::string type = GetNodeStringValue(e, "@type", "");
    el.widget = type == "checkbox" ? EWidget::CheckBox : type == "combobox" ? EWidget::ComboBox : EWidget::SpinEdit;
    el.listStyle = GetNodeStringValue(e, "@style", "edit") == "list";
    el.onValue = Truncated(e, "@onvalue", 0);
    el.offValue = Truncated(e, "@offvalue", 0);
    el.hint = GetNodeStringValue(e, "@hint", "");
    el.allowStepChange = GetNodeBoolValue(e, "@allowstepchange", true);
    for (xmlNode* item : Children(e, "item"))
      el.items.push_back({GetNodeStringValue(item, "@text", ""), GetNodeDoubleValue(item, "@value", 0)});
    for (xmlNode* ev : Children(e, "event"))
      el.events.push_back({GetNodeDoubleValue(ev, "@value", 0), Truncated(ev, "@index", 0),
                           GetNodeStringValue(ev, "@array", "")});
    s.elements.push_back(std::move(el));
  }
  return s;
}

}  // namespace constpanel
