#pragma once
// The parameter panel: a few numeric settings (its elements) kept in step
// with one parameter of the instrument. Each element may have a widget (a
// spin edit, a combo box or a check box) in a tool window; an edit sends the
// values of all elements as one MI_SET parameter block on "command", the
// instrument's answer on "command" confirms them (the widgets lose their
// light yellow) and is passed on as numbers on "value1".."value3". Without a
// parameter the panel is a constant source: its values go straight to the
// "value" outputs.
//
// Threads: with a tool window the input handlers, the widgets' events,
// Validate and the status run in the GUI thread; Process (worker) sends
// what they left in the pending slots. Without one everything but the
// profile calls runs in the worker. The slots and the elements' stored
// values are guarded by one mutex; nothing else is shared.
//
// Units: the parameter block and the answers are in the device's unit, the
// shown value times the multiplier; an element's stored value is in the
// shown unit. The answers go on to "value1".."value3" in the shown unit. A
// constant source sends the device's unit (shown × multiplier) there, and
// with a tool window "value1" in takes the device's unit (it is shown
// divided by the multiplier); without a window it takes the shown unit.
#include <QMetaType>
#include <QPointer>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "DevCommand.h"
#include "PanelSettings.h"
#include "Plugin.h"

class QCheckBox;
class QComboBox;
class QDockWidget;
class QLabel;
class QObject;
class QWidget;
class TCoolButton;
class TKorSpinEdit;

// The value a combo box item stands for (kept as the item's data).
struct TDoubleObject {
  double Value = 0;
};
Q_DECLARE_METATYPE(TDoubleObject)

class TConstPanel : public CBasePlugin {
 public:
  TConstPanel() = default;
  ~TConstPanel() override;

  int Register() override;
  int Initialize(QWidget* parent, xmlNode* node) override;
  int Finalize() override;
  // "busy": "1" while a value shown waits for the instrument's confirmation.
  int Query(const AnsiString& request, AnsiString& answer) override;
  void Process() override;
  int Serialize(xmlNode* element, const char* section) override;
  int Deserialize(xmlNode* element, const char* section) override;

  // Input handlers (GUI thread, with a tool window).
  void InputCommand(CSubscriber* subscriber, CBasePacket* packet, bool& handled);
  void InputValue1(CSubscriber* subscriber, CBasePacket* packet, bool& handled);
  // Shows a device value in element `index`; without `confirmed` the widget
  // turns light yellow.
  void SetControlValue(int index, double value, bool confirmed);
  // The value of element `index` to send, in the device's unit.
  double GetControlValue(int index);
  // Makes the packets that carry the current values pending.
  void Validate(QObject* sender);
  void OnChange(QObject* sender);
  void CheckEvents(QObject* sender);
  void SetStatus(const AnsiString& text);
  void SetAllValidated(bool validated);
  void ShowStatus(QObject* sender);

  // What tests and the help page look at.
  AnsiString Status() const;
  int ParameterId() const { return PID; }
  bool Connected() const { return connected_.load(); }
  QDockWidget* ToolWindow() const;
  TCoolButton* StatusButton() const;
  size_t ElementCount() const { return Controls.size(); }
  // The element's widget (spin edit, combo box or check box), or null.
  QWidget* ElementWidget(size_t index) const;
  // The element's stored value (its shown unit).
  double StoredValue(size_t index) const;

  // Texts of the statuses.
  static constexpr const char* kNoCommandInput = "не подключен вход Command";
  static constexpr const char* kNotConnected = "не осуществлено подключение к прибору";
  static constexpr const char* kRunning = "производится измерение";
  static constexpr const char* kDeviceError = "прибор вернул ошибку:\r\n";

 private:
  struct ControlEvent {
    double Value = 0;
    int Index = 0;
    QString Array;
  };
  struct ControlEntry {
    QPointer<QLabel> Label;
    QPointer<TKorSpinEdit> Edit;
    QPointer<QComboBox> ComboBox;
    QPointer<QCheckBox> CheckBox;
    double OnValue = 0;
    double OffValue = 0;
    double Value = 0;  // shown unit; guarded by mutex_
    double Multiplier = 1;
    // The number an editable combo box shows when no item is selected
    // (shown unit; GUI thread only).
    double Typed = 0;
    std::vector<ControlEvent> Events;
  };

  void BuildToolWindow(QWidget* parent, const constpanel::TPanelSettings& settings);
  // Takes what was typed into an editable combo box: an item's text selects
  // it, a number is the value; anything else is said and the box shows its
  // value again.
  void TakeTypedValue(QComboBox* combo);
  void AddWidget(ControlEntry& entry, const constpanel::TPanelElement& element, class QGridLayout* grid,
                 int row);
  bool CommandWired() const;
  bool ValueWired(int output) const;
  // A new MI_SET block with the given device values.
  std::unique_ptr<CDevParameter> BuildParameter(const std::vector<double>& deviceValues) const;
  // Leaves a value for output `output` to the worker; it replaces a value
  // still waiting there (said to be dropped when a full queue held it).
  void SetPendingValue(int output, double value);
  void SetPendingParameter(std::unique_ptr<CDevParameter> parameter);
  // Worker: sends what is pending.
  void SendPending();
  // Worker, without a tool window: reads the inputs.
  void ReadInputs();
  bool IsAnswer(const CDevParameter& parameter) const;
  void Paint(QWidget* widget, bool unconfirmed);

  CInLinkPoint* cmd_i = nullptr;
  CInLinkPoint* val_i = nullptr;
  COutLinkPoint* cmd_o = nullptr;
  COutLinkPoint* val_o[3] = {nullptr, nullptr, nullptr};

  std::vector<std::unique_ptr<ControlEntry>> Controls;
  int PID = -1;
  int base = 0;
  int fract = 0;
  bool lockOnRun = false;
  bool hasWindow_ = false;  // set before the worker runs, read by it
  std::atomic<bool> connected_{false};
  bool firstCycle_ = true;
  AnsiString status_;
  QString caption_;
  QPointer<QDockWidget> tool_;
  QPointer<TCoolButton> statusButton_;
  // Set while a value is shown, so that the widgets' change events do not
  // take it for an operator's edit.
  bool settingValue_ = false;

  // The pending slots (one parameter block, one value per output) and the
  // elements' stored values: the GUI thread fills, the worker sends.
  mutable std::mutex mutex_;
  std::unique_ptr<CDevParameter> pendingParameter_;
  std::unique_ptr<CDoublePacket> pendingValues_[3];
  // Set while a full queue refuses the pending value of that output.
  bool valueHeld_[3] = {false, false, false};
};
