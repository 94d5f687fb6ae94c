// The chart panel's limit lines: read from the parameters (faults said),
// judged on whole sweeps only, the failing points and the labels drawn,
// edited through the chart's menu and the dialog, answered to automation,
// and kept in the saved state.
#include <gtest/gtest.h>

#include <QMenu>
#include <QTableWidget>

#include <set>

#include "ChartPanel.h"
#include "GuiPlugin.h"
#include "PluginFeed.h"
#include "Screenshot.h"
#include "VKXml.h"
#include "chart/KorChart.h"
#include "limits/LimitDialog.h"
#include "platform/Report.h"
#include "qcustomplot.h"

namespace {

enum { F, A, B, R };

const char* const kParameters = R"(<parameters>
  <titles left_axis="КП, дБ" right_axis="КО, дБ" bottom_axis="Частота, МГц"/>
  <axes left_min="-40" left_max="10" right_min="-60" right_max="0"/>
  <limits curve="0"><upper start="100" stop="199" startlevel="-5" stoplevel="-5"/>
    <lower start="100" stop="199" startlevel="-30" stoplevel="-30"/></limits>
  <limits curve="1" enabled="1"><upper start="100" stop="199" startlevel="-10" stoplevel="-10"/>
    <upper start="x" stop="199" startlevel="-10" stoplevel="-10"/></limits>
  <limits curve="7"/>
</parameters>)";

struct TPanel : TPluginFeed<TChartPanel, 4> {
  explicit TPanel(const std::string& parameters = kParameters)
      : TPluginFeed({F, A, B}, parameters, "chart", QSize(900, 560)) {}
  // One sweep of 100 points (arguments 100..199) in two parts; `a` and `b`
  // give the curves' values. Waits until it has been taken.
  template <class Value>
  void Sweep(Value a, Value b, bool secondPart = true) {
    for (unsigned offset : {0u, 50u}) {
      if (offset && !secondPart) break;
      for (int input : {F, A, B}) {
        auto* p = new CDoubleVectorPart(50, 100, offset);
        for (unsigned i = 0; i < 50; ++i)
          (*p)[i] = input == F ? 100.0 + offset + i : input == A ? a(offset + i) : b(offset + i);
        Send(input, p);
      }
    }
    EXPECT_TRUE(RunUntil([&] { return Drained(); }));
    RunUntil([] { return false; }, 30);  // drawn
  }
  std::string Ask(const std::string& question) {
    AnsiString answer;
    EXPECT_EQ(plugin.Query(question, answer), VKT_OK) << question << ": " << answer;
    return answer;
  }
  QCPItemText* Label(const char* name) const {
    for (int i = 0; i < plugin.Chart()->itemCount(); ++i)
      if (plugin.Chart()->item(i)->objectName() == name) return qobject_cast<QCPItemText*>(plugin.Chart()->item(i));
    ADD_FAILURE() << name;
    return nullptr;
  }
};

double Flat(unsigned) { return -12; }
double Deep(unsigned) { return -25; }

}  // namespace

TEST(ChartPanelLimits, ParametersWholeSweepsVerdictsAndFailingPoints) {
  vkplatform::ReportCapture reports;
  TPanel p;
  EXPECT_EQ(reports.CountText("Нет такой кривой: \"7\""), 1u);
  EXPECT_EQ(reports.CountText("Отрезок кривой 1 с неверным числом пропущен"), 1u);
  EXPECT_TRUE(p.plugin.CurveLimits(0).Active());
  EXPECT_EQ(p.plugin.CurveLimits(1).upper.size(), 1u);
  EXPECT_FALSE(p.plugin.CurveLimits(2).enabled);
  EXPECT_EQ(p.Ask("limits verdict"), "NONE,,");
  EXPECT_FALSE(p.Label("ChartVerdict")->visible());

  // Both curves inside their limits.
  p.Sweep(Flat, Deep);
  EXPECT_EQ(p.Ask("sweeps"), "1");
  EXPECT_EQ(p.Ask("limits verdict 0"), "PASS,7,100");  // -12 is 7 under -5 (and 18 over -30)
  EXPECT_EQ(p.Ask("limits verdict 1"), "PASS,15,100");
  EXPECT_EQ(p.Ask("limits verdict 2"), "NONE,,");
  EXPECT_EQ(p.Ask("limits verdict"), "PASS,7,100");
  EXPECT_EQ(p.Label("ChartVerdict")->text(), "ГОДЕН");
  EXPECT_EQ(p.Label("CurveVerdict0")->text(), "КП: ГОДЕН");
  EXPECT_EQ(p.Label("CurveVerdict1")->text(), "КО: ГОДЕН");
  EXPECT_FALSE(p.Label("CurveVerdict2")->visible());

  // "Левый" breaks its upper limit at 120..124 (by 6 at 122).
  auto peak = [](unsigned i) { return i >= 20 && i < 25 ? 0.0 + (i == 22) : -12.0; };
  p.Sweep(+peak, Deep);
  EXPECT_EQ(p.Ask("limits verdict 0"), "FAIL,-6,122");
  EXPECT_EQ(p.Ask("limits verdict"), "FAIL,-6,122");
  EXPECT_EQ(p.plugin.CurveVerdict(0).failing, 5u);
  std::set<double> failing;
  QCPGraph* dots = p.plugin.LimitDrawing(0)->Failing();
  for (auto it = dots->data()->constBegin(); it != dots->data()->constEnd(); ++it) failing.insert(it->key);
  EXPECT_EQ(failing, (std::set<double>{120, 121, 122, 123, 124}));
  EXPECT_TRUE(dots->visible());
  EXPECT_TRUE(p.plugin.LimitDrawing(1)->Failing()->data()->isEmpty());
  EXPECT_EQ(p.Label("ChartVerdict")->text(), "БРАК");
  EXPECT_EQ(p.Label("CurveVerdict0")->text(), "КП: БРАК");
  EXPECT_EQ(p.Label("CurveVerdict1")->text(), "КО: ГОДЕН");
  p.RunUntil([] { return false; }, 30);
  MaybeScreenshot(&p.host, "chart_panel_limits");

  // Half a sweep is not judged: the verdict is the last whole sweep's.
  p.Sweep(Flat, Deep, false);
  EXPECT_EQ(p.Ask("limits verdict 0"), "FAIL,-6,122");
  p.Sweep(Flat, Deep);
  EXPECT_EQ(p.Ask("limits verdict 0"), "PASS,7,100");
  EXPECT_TRUE(dots->data()->isEmpty());

  // Automation: switching off, replacing the segments, reading them.
  EXPECT_EQ(p.Ask("limits state 0 off"), "");
  EXPECT_EQ(p.Ask("limits verdict 0"), "NONE,,");
  EXPECT_FALSE(p.plugin.LimitDrawing(0)->Upper()->visible());
  EXPECT_EQ(p.Ask("limits verdict"), "PASS,15,100");  // "Правый" alone
  EXPECT_EQ(p.Ask("limits data 1 верхняя;100;199;-30;-30"), "");
  EXPECT_EQ(p.Ask("limits verdict 1"), "FAIL,-5,100");  // the held sweep judged again
  EXPECT_NE(p.Ask("limits data 1").find("\r\nверхняя,100,199,-30,-30\r\n"), std::string::npos) << p.Ask("limits data 1");
  AnsiString bad;
  EXPECT_EQ(p.plugin.Query("limits data 1 верхняя;1;x;3;4", bad), VKT_ERROR);
  EXPECT_EQ(p.plugin.CurveLimits(1).upper[0].startLevel, -30);
}

TEST(ChartPanelLimits, TheMenuOpensTheDialogForItsCurve) {
  vkplatform::ReportCapture reports;
  TPanel p;
  p.Sweep(Flat, Deep);
  QMenu* menu = p.plugin.Chart()->ChartMenu()->findChild<QMenu*>("LimitsMenu");
  ASSERT_NE(menu, nullptr);
  QStringList seen;
  const TModalDialogHook previous = SetModalDialogHook([&](QDialog* d) {
    auto* dialog = qobject_cast<korchart::TLimitDialog*>(d);
    EXPECT_NE(dialog, nullptr);
    if (!dialog) return int(QDialog::Rejected);
    seen << dialog->windowTitle();
    MaybeScreenshot(dialog, "chart_panel_limit_dialog");
    // Lower the upper limit under the curve: the held sweep fails.
    dialog->Table()->item(0, korchart::TLimitDialog::kStopLevelColumn)->setText("-13,5");
    dialog->accept();
    return dialog->result();
  });
  menu->findChild<QAction*>("ActionLimits0")->trigger();
  SetModalDialogHook(previous);
  ASSERT_EQ(seen.size(), 1);
  EXPECT_TRUE(seen[0].contains("КП"));
  EXPECT_EQ(p.plugin.CurveLimits(0).upper[0].stopLevel, -13.5);
  EXPECT_FALSE(p.plugin.CurveVerdict(0).pass);
  EXPECT_EQ(p.Label("CurveVerdict0")->text(), "КП: БРАК");
  // Curves that are not wired are not offered.
  emit menu->aboutToShow();
  EXPECT_TRUE(menu->findChild<QAction*>("ActionLimits1")->isVisible());
  EXPECT_FALSE(menu->findChild<QAction*>("ActionLimits2")->isVisible());
}

TEST(ChartPanelLimits, TheStateKeepsEachCurvesLimitsAndTheirClearing) {
  vkplatform::ReportCapture reports;
  VKCore::CXMLDocument saved;
  saved.New("parameters");
  korchart::TLimitLines changed;
  {
    TPanel p;
    changed = p.plugin.CurveLimits(1);
    changed.upper.push_back({150, 160, 1.25, 2.5});
    p.plugin.SetCurveLimits(1, changed);
    p.plugin.SetCurveLimits(0, korchart::TLimitLines());  // cleared and off
    ASSERT_EQ(p.plugin.DoSerialize(saved.Root(), nullptr), 0);
  }
  TPanel q;  // the scheme's limits, then the state's
  ASSERT_TRUE(q.plugin.CurveLimits(0).Active());
  ASSERT_EQ(q.plugin.DoDeserialize(saved.Root(), nullptr), 0);
  EXPECT_EQ(q.plugin.CurveLimits(0), korchart::TLimitLines());
  EXPECT_EQ(q.plugin.CurveLimits(1), changed);
  // A state from before limits keeps the scheme's.
  VKCore::CXMLDocument old;
  old.OpenFromText("<parameters/>");
  TPanel r;
  ASSERT_EQ(r.plugin.DoDeserialize(old.Root(), nullptr), 0);
  EXPECT_TRUE(r.plugin.CurveLimits(0).Active());
  // The state is read the same way when it is the scheme's parameters node.
  VKCore::CXMLDocument scheme;
  scheme.OpenFromText(kParameters);
  TPanel s("<parameters/>");
  ASSERT_EQ(s.plugin.DoDeserialize(scheme.Root(), nullptr), 0);
  EXPECT_EQ(s.plugin.CurveLimits(0), r.plugin.CurveLimits(0));
}
