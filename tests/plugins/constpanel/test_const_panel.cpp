// The parameter panel on its own: widgets, the device protocol, statuses,
// events, saved state, units, constant mode and bad parameters.
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include "CoolButton.h"
#include "Diagnostics.h"
#include "KorSpinEdit.h"
#include "PanelTestSupport.h"
#include "platform/Report.h"

using namespace paneltest;

namespace {

const QColor kYellow(255, 255, 153);

bool Yellow(QWidget* w) { return w->palette().color(QPalette::Base) == kYellow; }

const char* kThreeKinds = R"(<parameters type="parameter" control="true" caption="Развёртка"
    parameter="P_FREQUENCY" base="4" fract="2" lockonrun="true">
  <element caption="Начало" increment="10" width="90" hint="начальная частота">
    <event value="5" index="2" array="1 2 5"/>
  </element>
  <element caption="Режим" type="combobox" style="list">
    <item text="первый" value="0"/><item text="второй" value="7"/>
  </element>
  <element caption="Включено" type="checkbox" onvalue="1" offvalue="0"/>
</parameters>)";

}  // namespace

TEST(ConstPanel, WidgetsOfEachKindInADockedToolWindow) {
  THost host;
  vkplatform::ReportCapture cap;
  TPanel p(host, kThreeKinds);
  QDockWidget* tool = p.panel.ToolWindow();
  ASSERT_NE(tool, nullptr);
  EXPECT_EQ(tool->objectName(), "panel");
  EXPECT_EQ(tool->windowTitle(), "Развёртка");
  EXPECT_EQ(host.main.dockWidgetArea(tool), Qt::RightDockWidgetArea);
  EXPECT_EQ(tool->property("helpContext").toInt(), 1101);
  EXPECT_GE(tool->widget()->minimumWidth(), 230);

  auto* edit = p.Widget<TKorSpinEdit>("Edit1");
  auto* combo = p.Widget<QComboBox>("ComboBox2");
  auto* box = p.Widget<QCheckBox>("CheckBox3");
  ASSERT_TRUE(edit && combo && box);
  EXPECT_EQ(edit->Increment(), 10);
  EXPECT_TRUE(edit->AllowStepChange());
  EXPECT_EQ(edit->width(), 90);
  EXPECT_EQ(edit->toolTip(), "начальная частота");
  EXPECT_EQ(p.Widget<QLabel>("Label1")->text(), "Начало");
  EXPECT_FALSE(combo->isEditable());
  EXPECT_EQ(combo->count(), 2);
  EXPECT_EQ(combo->itemData(1).value<TDoubleObject>().Value, 7);
  EXPECT_FALSE(box->isChecked());  // 0 is not its "on" value
  // Unconfirmed from the start, since a device is to take them.
  EXPECT_TRUE(Yellow(edit));
  EXPECT_TRUE(Yellow(combo));
  EXPECT_EQ(cap.Count(), 0u);
}

// No parameter block before the device is there; then the values go as one
// block, the answer confirms them and is mirrored on the value outputs; a
// device error locks the panel until a good answer; answers of other
// parameters or sizes change nothing; a run locks it (lockonrun); a reset
// sends the values again.
TEST(ConstPanel, DeviceProtocolAndStatuses) {
  THost host;
  vkplatform::ReportCapture cap;
  TPanel p(host, kThreeKinds);
  auto* edit = p.Widget<TKorSpinEdit>("Edit1");
  EXPECT_EQ(p.panel.Status(), TConstPanel::kNotConnected);
  EXPECT_FALSE(edit->isEnabled());
  EXPECT_FALSE(p.panel.StatusButton()->isHidden());
  EXPECT_EQ(p.panel.StatusButton()->toolTip().toStdString(), TConstPanel::kNotConnected);
  p.panel.Process();
  EXPECT_FALSE(p.command.Next<CDevCommand>());

  p.Receive(new CDevCommand(MI_RESET));
  EXPECT_TRUE(p.panel.Connected());
  EXPECT_EQ(p.panel.Status(), "");
  EXPECT_TRUE(edit->isEnabled());
  EXPECT_TRUE(p.panel.StatusButton()->isHidden());
  // The operator steps twice before the worker runs: one block, the latest.
  edit->Step(1);
  edit->Step(1);
  p.panel.Process();
  auto sent = p.command.Next<CDevCommand>();
  ASSERT_TRUE(sent);
  EXPECT_FALSE(p.command.Next<CDevCommand>());
  CDevParameter block(sent.get());
  EXPECT_EQ(block.Command(), MI_SET);
  EXPECT_EQ(block.ParameterID(), P_FREQUENCY);
  EXPECT_EQ(block.FlagA(), 3);
  EXPECT_EQ(block.ValueBytes(), 4u);
  EXPECT_EQ(block.FracBytes(), 2u);
  EXPECT_EQ(block.Value(0), 20);
  EXPECT_EQ(block.Value(2), 0);  // the check box is off: its "off" value
  EXPECT_TRUE(Yellow(edit));

  // The device took other values (corrected): shown, confirmed, mirrored.
  p.Receive(p.Answer(P_FREQUENCY, {15, 7, 1}, 4, 2, MI_PARAMETER_CORRECTED));
  EXPECT_EQ(edit->GetValue(), 15);
  EXPECT_FALSE(Yellow(edit));
  EXPECT_EQ(p.Widget<QComboBox>("ComboBox2")->currentIndex(), 1);
  EXPECT_TRUE(p.Widget<QCheckBox>("CheckBox3")->isChecked());
  p.panel.Process();
  auto v1 = p.values[0].Next<CDoublePacket>();
  auto v3 = p.values[2].Next<CDoublePacket>();
  ASSERT_TRUE(v1 && v3);
  EXPECT_EQ(v1->GetValue(), 15);
  EXPECT_EQ(v3->GetValue(), 1);

  // Answers of another parameter, or with another number of values.
  p.Receive(p.Answer(P_AVERAGING, {99, 99, 99}, 4, 2));
  p.Receive(p.Answer(P_FREQUENCY, {99, 99}, 4, 2));
  EXPECT_EQ(edit->GetValue(), 15);

  p.Receive(p.Answer(P_FREQUENCY, {0, 0, 0}, 4, 2, static_cast<short>(MI_PLD_ERROR)));
  EXPECT_EQ(p.panel.Status(), "прибор вернул ошибку:\r\nНет ответа от ПЛИС");
  EXPECT_FALSE(edit->isEnabled());
  EXPECT_EQ(edit->GetValue(), 15);  // the values were not taken
  p.Receive(p.Answer(P_FREQUENCY, {16, 0, 0}, 4, 2));
  EXPECT_EQ(p.panel.Status(), "");
  EXPECT_EQ(edit->GetValue(), 16);

  p.Receive(new CDevCommand(MI_RUN));
  EXPECT_EQ(p.panel.Status(), TConstPanel::kRunning);
  EXPECT_FALSE(edit->isEnabled());
  p.Receive(new CDevCommand(MI_RESET));
  EXPECT_EQ(p.panel.Status(), "");
  EXPECT_EQ(cap.Count(), 0u);
  // Any reset (a run ended, or the device greets a new connection with its
  // own defaults) takes the panel's values to the device again.
  p.panel.Process();
  std::unique_ptr<CDevCommand> last;
  while (auto c = p.command.Next<CDevCommand>()) last = std::move(c);
  ASSERT_TRUE(last);
  EXPECT_EQ(CDevParameter(last.get()).Value(0), 16);

  p.panel.ShowStatus(nullptr);
  p.Receive(new CDevCommand(MI_RUN));
  p.panel.ShowStatus(nullptr);
  ASSERT_EQ(cap.Count(), 2u);
  EXPECT_EQ(cap.Reports()[1].text, "Элемент управления \"Развёртка\"\r\nзаблокирован, т.к. производится измерение");
  EXPECT_EQ(cap.Reports()[1].caption, "Развёртка");
}

TEST(ConstPanel, EventsAndSavedState) {
  THost host;
  vkplatform::ReportCapture cap;
  TPanel p(host, R"(<parameters type="parameter" control="true" parameter="P_AVERAGING" base="4">
      <element><event value="5" index="1" array="1 2 5"/><event value="5" index="1" array="3 4"/></element>
      <element/></parameters>)");
  auto* first = p.Widget<TKorSpinEdit>("Edit1");
  auto* second = p.Widget<TKorSpinEdit>("Edit2");
  first->SetValue(5);  // as typed: the change event applies the events in order
  EXPECT_EQ(second->GetValuesList(), "3 4");

  VKCore::CXMLDocument saved(false);
  saved.New("parameters");
  EXPECT_EQ(p.panel.DoSerialize(saved.Root(), "other"), 0);
  EXPECT_EQ(saved.Root()->children, nullptr);
  p.panel.DoSerialize(saved.Root(), "params");
  EXPECT_EQ(VKCore::GetNodeIntValue(saved.Root(), "element[2]/@id", 0), 2);
  EXPECT_EQ(VKCore::GetNodeDoubleValue(saved.Root(), "element[1]/@value", 0), 5);

  VKCore::CXMLDocument state(false);
  state.OpenFromText(R"(<parameters><element value="7"/><element value="3"/><element value="9"/></parameters>)");
  p.panel.DoDeserialize(state.Root(), nullptr);
  EXPECT_EQ(first->GetValue(), 7);
  EXPECT_EQ(second->GetValue(), 3);
  EXPECT_TRUE(Yellow(first));
  EXPECT_EQ(cap.CountExpression("i<Controls.size()"), 1u);
}

// Decided: the answers' "value" outputs and an element's stored value are
// in the shown unit; blocks and answers in the device's (shown ×
// multiplier), for elements with and without a widget alike. "value1" in
// is the device's unit with a tool window (shown divided), the shown unit
// without one.
TEST(ConstPanel, MultipliersAreAppliedOnceEachWay) {
  THost host;
  const char* kilo = R"(<parameters type="parameter" control="%s" parameter="P_FREQUENCY" base="8" fract="2">
      <element multiplier="1000" edit="false"/><element multiplier="1000"/></parameters>)";
  for (const char* control : {"true", "false"}) {
    char text[512];
    std::snprintf(text, sizeof text, kilo, control);
    TPanel p(host, text);
    p.Receive(new CDevCommand(MI_RESET));
    p.panel.Process();
    p.command.Next<CDevCommand>();
    p.Receive(p.Answer(P_FREQUENCY, {5000, 7000}, 8, 2));
    p.panel.Process();
    auto v1 = p.values[0].Next<CDoublePacket>();
    auto v2 = p.values[1].Next<CDoublePacket>();
    ASSERT_TRUE(v1 && v2) << control;
    EXPECT_EQ(v1->GetValue(), 5) << control;
    EXPECT_EQ(v2->GetValue(), 7) << control;
    EXPECT_EQ(p.panel.StoredValue(0), 5) << control;
    p.ReceiveValue(std::string(control) == "true" ? 3000 : 3);
    p.panel.Process();
    auto block = p.command.Next<CDevCommand>();
    ASSERT_TRUE(block) << control;
    EXPECT_EQ(CDevParameter(block.get()).Value(0), 3000) << control;
    EXPECT_EQ(CDevParameter(block.get()).Value(1), 7000) << control;
  }
}

TEST(ConstPanel, ConstantModeFeedsTheValueOutputsOnly) {
  THost host;
  TPanel p(host, R"(<parameters type="parameter" control="true"><element/><element/></parameters>)",
           false);
  EXPECT_EQ(p.panel.ParameterId(), -1);
  EXPECT_EQ(p.panel.Status(), "");
  p.panel.Process();
  auto first = p.values[0].Next<CDoublePacket>();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->GetValue(), 0);
  ASSERT_TRUE(p.values[1].Next<CDoublePacket>());
  EXPECT_FALSE(p.values[2].Next<CDoublePacket>());  // no third element
  auto* edit = p.Widget<TKorSpinEdit>("Edit2");
  edit->SetValue(4.5);
  p.panel.Validate(edit);
  p.Receive(new CDevCommand(MI_RESET));  // nothing to confirm, nothing to send
  p.panel.Process();
  auto second = p.values[1].Next<CDoublePacket>();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->GetValue(), 4.5);
  EXPECT_FALSE(p.command.Next<CDevCommand>());
}

// A constant source sends its values in the device's unit (shown ×
// multiplier) and shows a value that comes in on "value1" divided by it. At
// start the window's first values and the profile's replace one another
// before the first cycle: no value was held back by a full queue, so none is
// said to be dropped.
TEST(ConstPanel, AConstantSourceSendsTheDeviceUnit) {
  THost host;
  std::vector<AnsiString> log;
  LogHook previous = SetLogHook([&](const AnsiString& m, bool) {
    if (m.find("заменено") != AnsiString::npos) log.push_back(m);
  });
  TPanel p(host, R"(<parameters type="parameter" control="true"><element multiplier="1000"/><element/></parameters>)",
           false);
  VKCore::CXMLDocument state(false);
  state.OpenFromText(R"(<parameters><element value="4000"/><element value="6"/></parameters>)");
  p.panel.DoDeserialize(state.Root(), "params");
  auto* edit = p.Widget<TKorSpinEdit>("Edit1");
  EXPECT_EQ(edit->GetValue(), 4);
  p.panel.Process();
  auto first = p.values[0].Next<CDoublePacket>();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->GetValue(), 4000);
  EXPECT_FALSE(p.values[0].Next<CDoublePacket>());
  EXPECT_EQ(p.values[1].Next<CDoublePacket>()->GetValue(), 6);
  edit->SetValue(5);
  p.panel.Validate(edit);
  p.panel.Process();
  EXPECT_EQ(p.values[0].Next<CDoublePacket>()->GetValue(), 5000);
  p.ReceiveValue(7000);
  EXPECT_EQ(edit->GetValue(), 7);
  p.panel.Process();
  EXPECT_EQ(p.values[0].Next<CDoublePacket>()->GetValue(), 7000);
  SetLogHook(previous);
  EXPECT_TRUE(log.empty()) << log.front();
}

// What is typed into an editable combo box is the value, taken on Enter or
// when the field is left: a number as it is (no item's text completes it),
// an item's text as that item; never a new item. Anything else is said and
// the box shows its value again. An answer no item carries is shown.
TEST(ConstPanel, AnEditableComboBoxSendsWhatIsTyped) {
  THost host;
  vkplatform::ReportCapture cap;
  TPanel p(host, R"(<parameters type="parameter" control="true" parameter="P_AVERAGING" base="4">
      <element type="combobox"><item text="10" value="10"/><item text="сто" value="100"/></element></parameters>)");
  p.Receive(new CDevCommand(MI_RESET));
  auto sent = [&p] {
    p.panel.Process();
    std::unique_ptr<CDevCommand> last;
    while (auto c = p.command.Next<CDevCommand>()) last = std::move(c);
    return last ? CDevParameter(last.get()).Value(0) : -1.0;
  };
  sent();
  auto* combo = p.Widget<QComboBox>("ComboBox1");
  ASSERT_TRUE(combo && combo->lineEdit());
  QLineEdit* line = combo->lineEdit();
  host.main.show();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&host.main));
  line->setFocus();
  auto type = [line](const char* text) {
    line->selectAll();
    for (const QChar c : QString::fromUtf8(text)) {
      QKeyEvent key(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
      QApplication::sendEvent(line, &key);
    }
  };
  type("42");
  QTest::keyClick(line, Qt::Key_Return);
  EXPECT_EQ(sent(), 42);
  type("1");
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(line, &out);
  EXPECT_EQ(sent(), 1);
  type("Сто");
  QTest::keyClick(line, Qt::Key_Return);
  EXPECT_EQ(sent(), 100);
  EXPECT_EQ(combo->currentIndex(), 1);
  type("abc");
  QTest::keyClick(line, Qt::Key_Return);
  EXPECT_EQ(cap.CountText("\"abc\" не является числом"), 1u);
  EXPECT_EQ(combo->currentText(), "сто");
  EXPECT_EQ(sent(), -1);
  EXPECT_EQ(combo->count(), 2);
  p.Receive(p.Answer(P_AVERAGING, {250}, 4, 0));
  EXPECT_EQ(combo->currentText(), "250");
  EXPECT_EQ(cap.CountExpression("Object"), 0u);
  EXPECT_EQ(cap.Count(), 1u);
}

TEST(ConstPanel, BadParametersGiveDefaultsAndReports) {
  THost host;
  {
    vkplatform::ReportCapture cap;
    TConstPanel lone;
    lone.SetName("lone");
    lone.Register();
    lone.DoInitialize(&host.main, nullptr);
    EXPECT_EQ(cap.CountExpression("1==0"), 1u);
    lone.DoFinalize();
  }
  vkplatform::ReportCapture cap;
  TPanel p(host, R"(<parameters type="other" control="true" dock="Nowhere" parameter="BOGUS" base="x">
      <element width="wide" increment="" multiplier="0" type="combobox" style="list"><item text="a" value="1"/></element>
    </parameters>)");
  EXPECT_EQ(cap.CountExpression("GetNodeStringValue(ANode,L\"@type\",\"\")==\"parameter\""), 1u);
  EXPECT_EQ(cap.CountExpression("(PID = GetParameterID(Parameter.c_str()))!=-1\r\n(Неизвестный параметр)"), 1u);
  EXPECT_EQ(cap.CountExpression("Dock != NULL"), 1u);
  EXPECT_EQ(cap.CountExpression("Multiplier!=0\r\n(Неверный множитель элемента)"), 1u);
  EXPECT_EQ(p.panel.ParameterId(), -1);
  EXPECT_EQ(host.main.dockWidgetArea(p.panel.ToolWindow()), Qt::RightDockWidgetArea);
  auto* combo = p.Widget<QComboBox>("ComboBox1");
  ASSERT_NE(combo, nullptr);
  EXPECT_EQ(combo->width(), 80);
  // A value no item of a list stands for is reported; the selection stays.
  p.panel.SetControlValue(0, 42, true);
  EXPECT_EQ(cap.CountExpression("false\r\n(Значение параметра не поддерживается)"), 1u);
}

// A reader that never takes its values does not hold the GUI thread: the
// answers' values wait for the worker, and one superseded before it could
// go is reported.
TEST(ConstPanel, AFullValueOutputNeverHoldsTheWindow) {
  THost host;
  TPanel p(host, R"(<parameters type="parameter" control="true" parameter="P_AVERAGING" base="4">
      <element/></parameters>)", true, 1);
  std::vector<AnsiString> log;
  LogHook previous = SetLogHook([&](const AnsiString& m, bool) { log.push_back(m); });
  p.Receive(new CDevCommand(MI_RESET));
  for (double v : {1.0, 2.0, 3.0}) {
    p.Receive(p.Answer(P_AVERAGING, {v}, 4, 0));
    p.panel.Process();
  }
  SetLogHook(previous);
  EXPECT_EQ(p.values[0].queue.QueueLen(), 1u);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("значение 2 для выхода \"value1\""), AnsiString::npos) << log[0];
  EXPECT_EQ(p.values[0].Next<CDoublePacket>()->GetValue(), 1);
  p.panel.Process();
  EXPECT_EQ(p.values[0].Next<CDoublePacket>()->GetValue(), 3);
}
