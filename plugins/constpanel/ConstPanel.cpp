#include "ConstPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDockWidget>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>

#include <charconv>
#include <cmath>
#include <cstdio>

#include "CoolButton.h"
#include "Diagnostics.h"
#include "GuiPlugin.h"
#include "KorSpinEdit.h"
#include "PluginClass.h"
#include "VKXml.h"
#include "platform/Report.h"

namespace {

const QColor kUnconfirmed(255, 255, 153);  // light yellow: not yet taken by the device
constexpr int kClientWidth = 230;
// The help page of the panel (F1 on its window).
constexpr int kHelpContext = 1101;
const char* const kValueNames[3] = {"value1", "value2", "value3"};

QString Qs(const std::string& s) { return QString::fromStdString(s); }

// A number typed into an editable combo box ("2,5" with a comma too); false
// for a text that is none, or not a finite one.
bool ReadTypedNumber(const QString& text, double& value) {
  bool ok = false;
  const double v = QString(text).replace(QLatin1Char(','), QLatin1Char('.')).trimmed().toDouble(&ok);
  if (!ok || !std::isfinite(v)) return false;
  value = v;
  return true;
}

// The shortest text that reads back as `value`.
QString NumberText(double value) {
  char buffer[32];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return QString::fromLatin1(buffer, static_cast<int>(result.ptr - buffer));
}

// The item of `combo` whose text is `text`, or -1.
int ItemNamed(const QComboBox* combo, const QString& text) {
  if (combo->currentIndex() >= 0 && combo->itemText(combo->currentIndex()) == text) return combo->currentIndex();
  return combo->findText(text, Qt::MatchFixedString);
}

}  // namespace

#define PANEL_ASSERT(cond, text) \
  ((cond) ? static_cast<void>(0) : PAssertFunction(__FILE__, __DATE__, __LINE__, Name().c_str(), text))

TConstPanel::~TConstPanel() {
  // Finalize has normally done this; a panel destroyed without it (a
  // failed start) leaves no window behind.
  if (tool_) {
    UnregisterToolWindow(tool_);
    delete tool_.data();
  }
}

int TConstPanel::Register() {
  RegisterInLinkPoint("command", {MetaClassOf<CDevCommand>()}, lptDefault);
  RegisterOutLinkPoint("command", {MetaClassOf<CDevCommand>()}, lptDefault);
  for (const char* name : kValueNames) RegisterOutLinkPoint(name, {MetaClassOf<CDoublePacket>()}, lptDefault);
  RegisterInLinkPoint("value1", {MetaClassOf<CDoublePacket>()}, lptDefault);
  return 0;
}

// ---- set-up -------------------------------------------------------------------

int TConstPanel::Initialize(QWidget* parent, xmlNode* node) {
  PANEL_ASSERT((cmd_i = GetInLinkPoint(AnsiString("command"))) != nullptr,
               "(cmd_i = GetInLinkPoint(\"command\"))!=NULL");
  PANEL_ASSERT((val_i = GetInLinkPoint(AnsiString("value1"))) != nullptr,
               "(val_i[0] = GetInLinkPoint(\"value1\"))!=NULL");
  PANEL_ASSERT((cmd_o = GetOutLinkPoint(AnsiString("command"))) != nullptr,
               "(cmd_o = GetOutLinkPoint(\"command\"))!=NULL");
  for (int i = 0; i < 3; ++i)
    PANEL_ASSERT((val_o[i] = GetOutLinkPoint(AnsiString(kValueNames[i]))) != nullptr,
                 "(val_o[i] = GetOutLinkPoint(Name))!=NULL");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingParameter_.reset();
    for (auto& v : pendingValues_) v.reset();
    for (bool& held : valueHeld_) held = false;
  }
  firstCycle_ = true;
  connected_ = false;
  hasWindow_ = false;
  Controls.clear();
  status_.clear();

  const constpanel::TPanelSettings settings = constpanel::ReadPanelSettings(node, Name());
  if (!settings.present) return 0;
  lockOnRun = settings.lockOnRun;

  PID = -1;
  if (!settings.parameter.empty()) {
    PID = GetParameterID(settings.parameter.c_str());
    PANEL_ASSERT(PID != -1, "(PID = GetParameterID(Parameter.c_str()))!=-1\r\n(Неизвестный параметр)");
  }
  base = settings.base;
  fract = settings.fract;

  for (const constpanel::TPanelElement& element : settings.elements) {
    auto entry = std::make_unique<ControlEntry>();
    entry->Multiplier = element.multiplier;
    entry->OnValue = element.onValue;
    entry->OffValue = element.offValue;
    for (const constpanel::TPanelEvent& e : element.events)
      entry->Events.push_back({e.value, e.index, Qs(e.array)});
    Controls.push_back(std::move(entry));
  }

  if (settings.control && parent) {
    BuildToolWindow(parent, settings);
  } else if (PID != -1) {
    // Without a window the values start at 0 and go as soon as the device
    // is there.
    SetPendingParameter(BuildParameter(std::vector<double>(Controls.size(), 0.0)));
  }
  return 0;
}

void TConstPanel::BuildToolWindow(QWidget* parent, const constpanel::TPanelSettings& settings) {
  caption_ = Qs(settings.caption);
  tool_ = new QDockWidget(caption_, parent);
  tool_->setObjectName(Qs(Name()));
  tool_->setProperty("helpContext", kHelpContext);
  auto* client = new QWidget(tool_);
  client->setObjectName("Client");
  client->setMinimumWidth(kClientWidth);
  client->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  auto* grid = new QGridLayout(client);
  grid->setContentsMargins(4, 4, 4, 4);
  grid->setHorizontalSpacing(6);
  grid->setVerticalSpacing(2);
  grid->setColumnStretch(0, 1);
  tool_->setWidget(client);
  hasWindow_ = true;

  for (size_t i = 0; i < Controls.size(); ++i)
    if (settings.elements[i].edit) AddWidget(*Controls[i], settings.elements[i], grid, static_cast<int>(i));
  // The rows keep to the top however tall the dock is.
  grid->setRowStretch(static_cast<int>(Controls.size()), 1);

  if (!FindWinControl(parent, settings.dock))
    PANEL_ASSERT(false, "Dock != NULL");
  PlaceToolWindow(tool_, parent, settings.dock);
  RegisterToolWindow(tool_);

  cmd_i->OnPacket = [this](CSubscriber* s, CBasePacket* p, bool& h) { InputCommand(s, p, h); };
  cmd_i->NotifyWindow = tool_;
  val_i->OnPacket = [this](CSubscriber* s, CBasePacket* p, bool& h) { InputValue1(s, p, h); };
  val_i->NotifyWindow = tool_;

  statusButton_ = new TCoolButton(client);
  statusButton_->setObjectName("StatusButton");
  statusButton_->move(5, 0);
  statusButton_->SetImageIndex(0);
  statusButton_->SetImageHotIndex(1);
  statusButton_->hide();
  statusButton_->raise();
  QObject::connect(statusButton_, &TCoolButton::clicked, tool_, [this] { ShowStatus(statusButton_); });

  if (!CommandWired() && PID != -1) SetStatus(kNoCommandInput);
  else if (!CommandWired()) SetStatus("");
  else SetStatus(kNotConnected);

  // A constant source with a window shows its values from the start; they
  // go out with the first cycle (its widgets live in this thread).
  if (PID == -1) {
    Validate(nullptr);
    firstCycle_ = false;
  }
}

void TConstPanel::AddWidget(ControlEntry& entry, const constpanel::TPanelElement& element, QGridLayout* grid,
                            int row) {
  const QString caption = Qs(element.caption);
  const QString hint = Qs(element.hint);
  QWidget* made = nullptr;
  if (element.widget == constpanel::EWidget::CheckBox) {
    auto* box = new QCheckBox(caption);
    box->setObjectName(QStringLiteral("CheckBox%1").arg(row + 1));
    box->setToolTip(hint);
    box->setChecked(entry.OnValue == 0);
    box->setEnabled(false);
    QObject::connect(box, &QCheckBox::clicked, tool_, [this, box] { Validate(box); });
    grid->addWidget(box, row, 0, 1, 2);
    entry.CheckBox = box;
    made = box;
  } else {
    auto* label = new QLabel(caption);
    label->setObjectName(QStringLiteral("Label%1").arg(row + 1));
    label->setWordWrap(true);  // a long caption takes two lines, not the widget's room
    label->setToolTip(hint);
    label->setEnabled(false);
    grid->addWidget(label, row, 0);
    entry.Label = label;
    if (element.widget == constpanel::EWidget::ComboBox) {
      auto* combo = new QComboBox;
      combo->setObjectName(QStringLiteral("ComboBox%1").arg(row + 1));
      combo->setFixedWidth(element.width);
      combo->setToolTip(hint);
      combo->setEnabled(false);
      combo->setEditable(!element.listStyle);
      // What is typed is a value to send, never a new item; and no item's
      // text completes it ("1" must not become "100").
      combo->setInsertPolicy(QComboBox::NoInsert);
      if (combo->isEditable()) combo->setCompleter(nullptr);
      for (const constpanel::TPanelItem& item : element.items)
        combo->addItem(Qs(item.text), QVariant::fromValue(TDoubleObject{item.value}));
      if (element.listStyle) {
        combo->setCurrentIndex(combo->count() > 0 ? 0 : -1);
      } else {
        combo->setCurrentIndex(-1);
        combo->setEditText(QStringLiteral("0"));
      }
      QObject::connect(combo, &QComboBox::currentIndexChanged, tool_, [this, combo](int) {
        if (!settingValue_) Validate(combo);
      });
      // Enter or leaving the field takes what was typed.
      if (combo->lineEdit())
        QObject::connect(combo->lineEdit(), &QLineEdit::editingFinished, tool_, [this, combo] {
          if (!settingValue_) TakeTypedValue(combo);
        });
      grid->addWidget(combo, row, 1, Qt::AlignRight);
      entry.ComboBox = combo;
      made = combo;
    } else {
      auto* edit = new TKorSpinEdit;
      edit->setObjectName(QStringLiteral("Edit%1").arg(row + 1));
      edit->setFixedWidth(element.width);
      edit->SetValue(0);
      edit->SetIncrement(element.increment);
      edit->SetAllowStepChange(element.allowStepChange);
      edit->setToolTip(hint);
      edit->SetEnabled(false);
      QObject::connect(edit, &QLineEdit::textChanged, tool_, [this, edit] {
        if (!settingValue_) OnChange(edit);
      });
      QObject::connect(edit, &TKorSpinEdit::validated, tool_, [this, edit] { Validate(edit); });
      grid->addWidget(edit, row, 1, Qt::AlignRight);
      entry.Edit = edit;
      made = edit;
    }
  }
  // Each widget starts as an operator's edit would leave it (light yellow
  // while a device is to confirm it).
  OnChange(made);
}

int TConstPanel::Finalize() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingParameter_.reset();
    for (auto& v : pendingValues_) v.reset();
  }
  for (CInLinkPoint* in : {cmd_i, val_i}) {
    if (!in) continue;
    in->OnPacket = TPacketEvent();
    in->NotifyWindow = nullptr;
  }
  Controls.clear();
  if (tool_) {
    UnregisterToolWindow(tool_);
    delete tool_.data();
  }
  hasWindow_ = false;
  return 0;
}

// ---- values -------------------------------------------------------------------

void TConstPanel::Paint(QWidget* widget, bool unconfirmed) {
  if (!widget) return;
  QPalette palette = widget->palette();
  const QPalette normal = widget->style() ? widget->style()->standardPalette() : QPalette();
  for (QPalette::ColorRole role : {QPalette::Base, QPalette::Button})
    palette.setColor(role, unconfirmed ? kUnconfirmed : normal.color(role));
  widget->setPalette(palette);
  widget->setAutoFillBackground(unconfirmed);
}

void TConstPanel::SetControlValue(int index, double value, bool confirmed) {
  if (index < 0 || index >= static_cast<int>(Controls.size())) return;
  ControlEntry& c = *Controls[static_cast<size_t>(index)];
  settingValue_ = true;
  if (c.Edit) {
    if (!confirmed) Paint(c.Edit, true);
    c.Edit->SetValue(value / c.Multiplier);
  } else if (c.CheckBox) {
    c.CheckBox->setChecked(value == c.OnValue);
  } else if (c.ComboBox) {
    if (!confirmed) Paint(c.ComboBox, true);
    // Item values are in the shown unit, as the edits'.
    int found = -1;
    for (int i = 0; i < c.ComboBox->count() && found < 0; ++i)
      if (c.ComboBox->itemData(i).value<TDoubleObject>().Value * c.Multiplier == value) found = i;
    if (found >= 0) {
      if (c.ComboBox->currentIndex() != found) c.ComboBox->setCurrentIndex(found);
    } else if (c.ComboBox->isEditable()) {
      // An editable box takes any number: it shows the value itself.
      c.Typed = value / c.Multiplier;
      c.ComboBox->setCurrentIndex(-1);
      c.ComboBox->setEditText(NumberText(c.Typed));
    } else {
      PANEL_ASSERT(false, "false\r\n(Значение параметра не поддерживается)");
    }
  }
  settingValue_ = false;
  std::lock_guard<std::mutex> lock(mutex_);
  c.Value = value / c.Multiplier;
}

double TConstPanel::GetControlValue(int index) {
  PANEL_ASSERT(index >= 0 && index < static_cast<int>(Controls.size()), "index>=0 && index<Controls.size()");
  if (index < 0 || index >= static_cast<int>(Controls.size())) return 0;
  ControlEntry& c = *Controls[static_cast<size_t>(index)];
  if (c.Edit) return c.Edit->GetValue() * c.Multiplier;
  if (c.ComboBox) {
    if (c.ComboBox->isEditable()) {
      // An item named by the text, else the number typed; a text being
      // typed that is neither yet counts as the value the box had.
      const QString text = c.ComboBox->currentText();
      int item = ItemNamed(c.ComboBox, text);
      double shown = c.Typed;
      if (item < 0 && !ReadTypedNumber(text, shown)) item = c.ComboBox->currentIndex();
      if (item >= 0) shown = c.ComboBox->itemData(item).value<TDoubleObject>().Value;
      return shown * c.Multiplier;
    }
    const QVariant data = c.ComboBox->currentData();
    PANEL_ASSERT(data.canConvert<TDoubleObject>(), "Object");
    return data.value<TDoubleObject>().Value * c.Multiplier;
  }
  if (c.CheckBox) return c.CheckBox->isChecked() ? c.OnValue : c.OffValue;
  std::lock_guard<std::mutex> lock(mutex_);
  return c.Value * c.Multiplier;
}

void TConstPanel::TakeTypedValue(QComboBox* combo) {
  ControlEntry* entry = nullptr;
  for (const auto& c : Controls)
    if (c->ComboBox == combo) entry = c.get();
  // Nothing typed since the box's value was last taken or shown (Enter
  // and the focus leaving after it both end the same edit).
  if (!entry || !combo->lineEdit() || !combo->lineEdit()->isModified()) return;
  const QString text = combo->currentText().trimmed();
  const int item = ItemNamed(combo, text);
  double typed = 0;
  if (item >= 0) {
    settingValue_ = true;
    combo->setCurrentIndex(item);
    combo->setEditText(combo->itemText(item));
    settingValue_ = false;
  } else if (ReadTypedNumber(text, typed)) {
    entry->Typed = typed;
    settingValue_ = true;
    combo->setCurrentIndex(-1);
    combo->setEditText(text);
    settingValue_ = false;
  } else {
    // Not a number: the field shows the value it had, and says why.
    settingValue_ = true;
    const int selected = combo->currentIndex();
    combo->setEditText(selected >= 0 ? combo->itemText(selected) : NumberText(entry->Typed));
    settingValue_ = false;
    vkplatform::MessageBox("Значение \"" + text.toStdString() + "\" не является числом; оставлено прежнее значение.",
                           "Ошибка", vkplatform::MsgIcon::Error);
    return;
  }
  Validate(combo);
}

std::unique_ptr<CDevParameter> TConstPanel::BuildParameter(const std::vector<double>& deviceValues) const {
  auto p = std::make_unique<CDevParameter>(static_cast<unsigned short>(PID),
                                           static_cast<unsigned>(deviceValues.size()),
                                           static_cast<unsigned char>(base), static_cast<unsigned char>(fract),
                                           MI_SET);
  for (size_t i = 0; i < deviceValues.size(); ++i) p->SetValue(static_cast<int>(i), deviceValues[i]);
  return p;
}

bool TConstPanel::CommandWired() const { return cmd_i && cmd_i->SubscriptionsCount() > 0; }

bool TConstPanel::ValueWired(int output) const { return val_o[output] && val_o[output]->Dispatcher(); }

void TConstPanel::SetPendingParameter(std::unique_ptr<CDevParameter> parameter) {
  std::lock_guard<std::mutex> lock(mutex_);
  pendingParameter_ = std::move(parameter);
}

void TConstPanel::SetPendingValue(int output, double value) {
  std::unique_ptr<CDoublePacket> superseded;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A value the worker has not tried to send yet is simply the older of
    // two (a start and a profile, two answers in one cycle): the newer one
    // goes. Only one that a full queue held back is lost to the reader.
    if (valueHeld_[output]) superseded = std::move(pendingValues_[output]);
    valueHeld_[output] = false;
    pendingValues_[output] = std::make_unique<CDoublePacket>(value);
  }
  if (superseded) {
    // The reader of that output has not taken the last value yet; it gets
    // the newer one instead.
    const AnsiString text = "Панель \"" + Name() + "\": значение " + vkcore::FormatG6(superseded->GetValue()) +
                            " для выхода \"" + kValueNames[output] +
                            "\" заменено новым до передачи (очередь заполнена)";
    LogMessage(text, false);
    std::fprintf(stderr, "Vektra: %s\n", text.c_str());
  }
}

// ---- events -------------------------------------------------------------------

void TConstPanel::Validate(QObject*) {
  if (PID == -1) {
    for (int i = 0; i < 3 && i < static_cast<int>(Controls.size()); ++i) {
      if (!ValueWired(i)) continue;
      SetPendingValue(i, GetControlValue(i));
      SetAllValidated(true);
    }
    return;
  }
  PANEL_ASSERT(cmd_o != nullptr, "cmd_o");
  if (!cmd_o) return;
  PANEL_ASSERT(cmd_o->Dispatcher() != nullptr, "cmd_o->dispatcher");
  std::vector<double> values;
  for (size_t i = 0; i < Controls.size(); ++i) values.push_back(GetControlValue(static_cast<int>(i)));
  SetPendingParameter(BuildParameter(values));
}

void TConstPanel::OnChange(QObject* sender) {
  CheckEvents(sender);
  if (CommandWired() && PID != -1) {
    for (const auto& c : Controls)
      if ((c->Edit && c->Edit == sender) || (c->ComboBox && c->ComboBox == sender))
        Paint(static_cast<QWidget*>(sender), true);
  }
}

void TConstPanel::CheckEvents(QObject* sender) {
  for (const auto& c : Controls) {
    if (!c->Edit || c->Edit != sender) continue;
    for (const ControlEvent& e : c->Events) {
      if (c->Edit->GetValue() != e.Value) continue;
      const bool exists = e.Index >= 0 && e.Index < static_cast<int>(Controls.size());
      PANEL_ASSERT(exists, "index>=0 && index<Controls.size()");
      if (!exists) continue;
      TKorSpinEdit* target = Controls[static_cast<size_t>(e.Index)]->Edit;
      PANEL_ASSERT(target != nullptr, "Controls[index]->Edit!=NULL");
      if (target) target->SetValuesList(e.Array);
    }
  }
}

bool TConstPanel::IsAnswer(const CDevParameter& p) const {
  return p.CheckStructure() == 0 && PID != -1 && static_cast<unsigned short>(p.ParameterID()) == PID &&
         p.FlagA() == Controls.size();
}

void TConstPanel::InputCommand(CSubscriber* subscriber, CBasePacket* packet, bool&) {
  PANEL_ASSERT(packet != nullptr, "Packet");
  PANEL_ASSERT(subscriber != nullptr, "Subscriber");
  auto* command = dynamic_cast<CDevCommand*>(packet);
  PANEL_ASSERT(command != nullptr, "pkt");
  if (!command) return;
  const bool reset = command->Command() == MI_RESET;
  if (reset && !connected_) {
    connected_ = true;
    Validate(nullptr);
    SetStatus("");
  } else if (reset) {
    // The device starts afresh (a run ended, or it greets a new
    // connection after the last one was lost, with its own defaults): it
    // gets the panel's values again, and its last error is over.
    Validate(nullptr);
    if (status_.rfind(kDeviceError, 0) == 0) SetStatus("");
  }
  if (lockOnRun) {
    if (reset && status_ == kRunning) SetStatus("");
    else if (command->Command() == MI_RUN && status_.empty()) SetStatus(kRunning);
  }
  const CDevParameter answer(command);
  if (!IsAnswer(answer)) return;
  SetAllValidated(true);
  if (answer.Status() < 0) {
    const char* text = GetErrorString(answer.Status());
    SetStatus(AnsiString(kDeviceError) + (text && *text ? text : "Неизвестная ошибка"));
    return;
  }
  // A good answer ends an error the device reported before.
  if (status_.rfind(kDeviceError, 0) == 0) SetStatus("");
  for (size_t i = 0; i < Controls.size(); ++i) SetControlValue(static_cast<int>(i), answer.Value(static_cast<int>(i)), true);
  // The GUI thread does not wait for room on an output: the worker sends.
  for (int i = 0; i < 3 && i < static_cast<int>(Controls.size()); ++i)
    if (ValueWired(i)) SetPendingValue(i, answer.Value(i) / Controls[static_cast<size_t>(i)]->Multiplier);
}

void TConstPanel::InputValue1(CSubscriber*, CBasePacket* packet, bool&) {
  auto* value = dynamic_cast<CDoublePacket*>(packet);
  PANEL_ASSERT(value != nullptr, "(DP = dynamic_cast<CDoublePacket*>(val_i[0]->GetPacketRef()))!=NULL");
  if (!value || Controls.empty()) return;
  SetControlValue(0, value->GetValue(), false);
  Validate(nullptr);
}

// ---- status -------------------------------------------------------------------

void TConstPanel::SetStatus(const AnsiString& text) {
  status_ = text;
  if (!tool_) return;
  const bool enabled = text.empty();
  for (const auto& c : Controls) {
    if (c->Label) c->Label->setEnabled(enabled);
    if (c->Edit) c->Edit->SetEnabled(enabled);
    if (c->ComboBox) c->ComboBox->setEnabled(enabled);
    if (c->CheckBox) c->CheckBox->setEnabled(enabled);
  }
  if (statusButton_) {
    statusButton_->setVisible(!enabled);
    statusButton_->setToolTip(Qs(text));
    statusButton_->raise();
  }
}

AnsiString TConstPanel::Status() const { return status_; }

void TConstPanel::SetAllValidated(bool validated) {
  for (const auto& c : Controls) {
    Paint(c->Edit, !validated);
    Paint(c->ComboBox, !validated);
  }
}

void TConstPanel::ShowStatus(QObject*) {
  vkplatform::MessageBox("Элемент управления \"" + caption_.toStdString() + "\"\r\nзаблокирован, т.к. " + status_,
                         caption_.toStdString(), vkplatform::MsgIcon::Information);
}

QDockWidget* TConstPanel::ToolWindow() const { return tool_; }
TCoolButton* TConstPanel::StatusButton() const { return statusButton_; }

QWidget* TConstPanel::ElementWidget(size_t index) const {
  if (index >= Controls.size()) return nullptr;
  const ControlEntry& c = *Controls[index];
  if (c.Edit) return c.Edit;
  if (c.ComboBox) return c.ComboBox;
  return c.CheckBox;
}

double TConstPanel::StoredValue(size_t index) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return index < Controls.size() ? Controls[index]->Value : 0;
}

// ---- worker -------------------------------------------------------------------

void TConstPanel::ReadInputs() {
  while (CBasePacket* p = val_i->GetPacketCopyAndRelease()) {
    std::unique_ptr<CBasePacket> owned(p);
    auto* value = dynamic_cast<CDoublePacket*>(p);
    if (!value || Controls.empty()) continue;
    std::vector<double> device;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Controls[0]->Value = value->GetValue();
      for (const auto& c : Controls) device.push_back(c->Value * c->Multiplier);
    }
    if (PID != -1) SetPendingParameter(BuildParameter(device));
  }
  while (CBasePacket* p = cmd_i->GetPacketCopyAndRelease()) {
    std::unique_ptr<CBasePacket> owned(p);
    auto* command = dynamic_cast<CDevCommand*>(p);
    if (!command) continue;
    connected_ = true;
    const CDevParameter answer(command);
    if (!IsAnswer(answer) || answer.Status() < 0) continue;
    std::vector<double> shown;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (size_t i = 0; i < Controls.size(); ++i) {
        Controls[i]->Value = answer.Value(static_cast<int>(i)) / Controls[i]->Multiplier;
        shown.push_back(Controls[i]->Value);
      }
    }
    for (int i = 0; i < 3 && i < static_cast<int>(shown.size()); ++i)
      if (ValueWired(i)) SetPendingValue(i, shown[static_cast<size_t>(i)]);
  }
}

void TConstPanel::SendPending() {
  std::lock_guard<std::mutex> lock(mutex_);
  // No parameter block leaves before the device is there; a constant
  // source never sends one.
  if (pendingParameter_ && connected_ && PID != -1) {
    const int rc = cmd_o->AddPacket(pendingParameter_.get());
    if (rc == VKT_OK) {
      pendingParameter_.release();
    } else if (rc != VKT_QUEUE_FULL) {
      PANEL_ASSERT(false, "result == 0");
      pendingParameter_.reset();
    }
  }
  for (int i = 0; i < 3; ++i) {
    if (!pendingValues_[i]) continue;
    const int rc = val_o[i]->AddPacket(pendingValues_[i].get());
    valueHeld_[i] = rc == VKT_QUEUE_FULL;
    if (rc == VKT_OK) {
      pendingValues_[i].release();
    } else if (rc != VKT_QUEUE_FULL) {
      PANEL_ASSERT(false, "result == 0");
      pendingValues_[i].reset();
    }
  }
}

void TConstPanel::Process() {
  if (!cmd_o) return;  // not initialised
  if (firstCycle_) {
    firstCycle_ = false;
    if (PID == -1 && !hasWindow_) Validate(nullptr);
  }
  if (!hasWindow_) ReadInputs();
  SendPending();
}

// ---- saved state --------------------------------------------------------------

int TConstPanel::Serialize(xmlNode* element, const char* section) {
  if (section && std::string(section) != "params") return 0;
  for (size_t i = 0; i < Controls.size(); ++i) {
    xmlNode* child = VKCore::AddElement(element, "element");
    VKCore::AddAttribute(child, "id", static_cast<int>(i + 1));
    VKCore::AddAttribute(child, "value", GetControlValue(static_cast<int>(i)));
  }
  return 0;
}

int TConstPanel::Deserialize(xmlNode* element, const char* section) {
  if (!section || std::string(section) == "params") {
    std::vector<xmlNode*> children;
    VKCore::SelectNodes(element, "element", children);
    for (size_t i = 0; i < children.size(); ++i) {
      PANEL_ASSERT(i < Controls.size(), "i<Controls.size()");
      if (i >= Controls.size()) continue;
      SetControlValue(static_cast<int>(i), VKCore::GetNodeDoubleValue(children[i], "@value", 0), false);
      CheckEvents(Controls[i]->Edit);
    }
  }
  Validate(nullptr);
  return 0;
}

int TConstPanel::Query(const AnsiString& request, AnsiString& answer) {
  if (request != "busy") return VKT_NOT_SUPPORTED;
  // A value waits while it is painted as unconfirmed, as long as there is
  // an instrument to confirm it.
  bool waiting = false;
  if (connected_ && PID != -1 && CommandWired())
    for (const auto& c : Controls)
      waiting = waiting || (c->Edit && c->Edit->autoFillBackground()) ||
                (c->ComboBox && c->ComboBox->autoFillBackground());
  answer = waiting ? "1" : "0";
  return VKT_OK;
}

VK_DECLARE_PLUGIN_PACKAGE(TConstPanel)
