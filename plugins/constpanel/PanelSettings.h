#pragma once
// The parameters node of a parameter panel, read once and checked: every
// attribute with its default, the elements with their combo box items and
// value-list events. Faults of the node are reported as they are found;
// reading always yields a usable description.
#include <libxml/tree.h>

#include <string>
#include <vector>

namespace constpanel {

// Switches the value list of another element's spin edit when this
// element's spin edit shows `value`.
struct TPanelEvent {
  double value = 0;
  int index = 0;
  std::string array;
};

struct TPanelItem {
  std::string text;
  double value = 0;
};

enum class EWidget { SpinEdit, ComboBox, CheckBox };

struct TPanelElement {
  double multiplier = 1;
  std::string caption;
  double increment = 1;
  int width = 80;
  bool edit = true;  // whether the element gets a widget
  EWidget widget = EWidget::SpinEdit;
  bool listStyle = false;  // a combo box that is a fixed drop-down list
  int onValue = 0;
  int offValue = 0;
  std::string hint;
  bool allowStepChange = true;
  std::vector<TPanelItem> items;
  std::vector<TPanelEvent> events;
};

struct TPanelSettings {
  bool present = false;  // there was a parameters node
  bool lockOnRun = false;
  bool control = false;
  std::string dock = "DockRight";
  std::string caption = "Параметр прибора";
  std::string parameter;  // empty: constant mode
  int base = 0;           // bytes per value
  int fract = 0;          // fractional bytes
  std::vector<TPanelElement> elements;
};

// Reads `node`; `pluginName` names the panel in the reports.
TPanelSettings ReadPanelSettings(xmlNode* node, const std::string& pluginName);

}  // namespace constpanel
