// TKorChart: zoom limits and undo, the mouse gestures, scrolling refused in
// divisions mode, divisions with reference levels and lines, and the
// markers manager in front of the markers. Ends with the demo chart that
// the screenshot shows: three markers, a link marker with statistics, ten
// divisions.
#include <gtest/gtest.h>

#include <QMenu>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

#include "Screenshot.h"
#include "TestApp.h"
#include "TestHome.h"
#include "chart/KorChart.h"
#include "chart/MarkersManager.h"
#include "markers/LinkMarker.h"
#include "markers/MarksManager.h"
#include "markers/Metka.h"
#include "report/ReportManager.h"
#include "GuiPlugin.h"
#include "platform/Com.h"
#include "platform/Report.h"

using namespace korchart;

namespace {

struct Chart {
  TKorChart chart;
  Chart() {
    chart.resize(900, 520);
    chart.xAxis->setProperty("units", "МГц");
    QCPGraph* a = chart.addGraph(chart.xAxis, chart.yAxis);
    a->setName("S21");
    a->setPen(QPen(QColor(0xC0, 0, 0)));
    QCPGraph* b = chart.addGraph(chart.xAxis, chart.yAxis2);
    b->setName("Фаза");
    b->setPen(QPen(QColor(0, 0, 0xC0)));
    chart.addGraph()->setName(QString());  // a helper series
    for (int i = 0; i <= 1000; ++i) {
      a->addData(i, -20 - 30 * std::exp(-std::pow((i - 500) / 80.0, 2)) + 25 * std::exp(-std::pow((i - 500) / 200.0, 2)));
      b->addData(i, 180 * std::sin(i / 120.0));
    }
    chart.yAxis2->setVisible(true);
    chart.SetMinMaxBottom(0, 1000);
    chart.SetMinMaxLeft(-60, 20);
    chart.SetMinMaxRight(-200, 200);
    chart.show();
    chart.replot();
  }
  QCPRange Range(EAxis axis) const { return chart.Axis(axis)->range(); }
};

void ExpectRange(const QCPRange& r, double lower, double upper) {
  EXPECT_DOUBLE_EQ(r.lower, lower);
  EXPECT_DOUBLE_EQ(r.upper, upper);
}

}  // namespace

TEST(KorChart, ZoomKeepsAxesAboveTheirLimitsAndUndoes) {
  TestApp();
  Chart c;
  QSignalSpy zoomed(&c.chart, &TKorChart::OnZoom);
  QSignalSpy undone(&c.chart, &TKorChart::OnUndoZoom);
  c.chart.SetLimitBottom(100);
  // The bottom axis would be 50 wide: it stays; the left one zooms.
  c.chart.ZoomTo({QCPRange(-30, -10), QCPRange(-200, 200), QCPRange(400, 450), QCPRange(0, 5)});
  ExpectRange(c.Range(EAxis::Bottom), 0, 1000);
  ExpectRange(c.Range(EAxis::Left), -30, -10);
  EXPECT_EQ(zoomed.count(), 1);
  EXPECT_TRUE(c.chart.Zoomed());
  c.chart.ZoomTo({QCPRange(-25, -15), QCPRange(-200, 200), QCPRange(300, 600), QCPRange(0, 5)});
  ExpectRange(c.Range(EAxis::Bottom), 300, 600);
  // Undo goes back to before the first zoom.
  c.chart.UndoZoom();
  ExpectRange(c.Range(EAxis::Bottom), 0, 1000);
  ExpectRange(c.Range(EAxis::Left), -60, 20);
  EXPECT_EQ(undone.count(), 1);

  // The mouse: down-right zooms into the rectangle, up-left undoes.
  const QRect plot = c.chart.axisRect()->rect();
  const QPoint from = plot.topLeft() + QPoint(plot.width() / 4, plot.height() / 4);
  const QPoint to = plot.topLeft() + QPoint(plot.width() / 2, plot.height() / 2);
  QTest::mousePress(&c.chart, Qt::LeftButton, Qt::NoModifier, from);
  QTest::mouseMove(&c.chart, to);
  QTest::mouseRelease(&c.chart, Qt::LeftButton, Qt::NoModifier, to);
  EXPECT_NEAR(c.Range(EAxis::Bottom).lower, 250, 3);
  EXPECT_NEAR(c.Range(EAxis::Bottom).upper, 500, 3);
  QTest::mousePress(&c.chart, Qt::LeftButton, Qt::NoModifier, to);
  QTest::mouseRelease(&c.chart, Qt::LeftButton, Qt::NoModifier, from);
  ExpectRange(c.Range(EAxis::Bottom), 0, 1000);
}

TEST(KorChart, DivisionsSetReferenceLevelsAndRestoreTheAxes) {
  TestApp();
  Chart c;
  c.chart.SetDesiredIncrement(EAxis::Left, 5);
  // Two divisions are no divisions; a reference level needs divisions.
  c.chart.SetDivisions(2);
  EXPECT_EQ(c.chart.Divisions(), 0);
  EXPECT_EQ(c.chart.RefLine(EAxis::Left), nullptr);
  c.chart.SetRefLevelLeft(10, -20, 2);
  ExpectRange(c.Range(EAxis::Left), -60, 20);

  c.chart.SetDivisions(10);
  ASSERT_NE(c.chart.RefLine(EAxis::Left), nullptr);
  ASSERT_NE(c.chart.RefLine(EAxis::Right), nullptr);
  EXPECT_FALSE(c.chart.RoundFirstLabel(EAxis::Left));
  c.chart.SetRefLevelLeft(10, -20, 2);
  ExpectRange(c.Range(EAxis::Left), -40, 60);
  EXPECT_DOUBLE_EQ(c.chart.DesiredIncrement(EAxis::Left), 10);
  c.chart.SetRefLevelRight(45, 0, 5);
  ExpectRange(c.Range(EAxis::Right), -225, 225);
  // A step that is no step changes nothing.
  c.chart.SetRefLevelLeft(0, 5, 1);
  ExpectRange(c.Range(EAxis::Left), -40, 60);

  // The lines: dotted at the levels, the right one a pixel further right,
  // shown while the series on their axes are.
  c.chart.replot();
  const QRect left = c.chart.RefLineRect(EAxis::Left), right = c.chart.RefLineRect(EAxis::Right);
  EXPECT_NEAR(left.top(), c.chart.yAxis->coordToPixel(-20), 1);
  EXPECT_NEAR(right.top(), c.chart.yAxis2->coordToPixel(0), 1);
  EXPECT_EQ(right.left(), left.left() + 1);
  EXPECT_NEAR(left.width(), c.chart.axisRect()->width(), 1);
  c.chart.graph(1)->setVisible(false);
  c.chart.replot();
  EXPECT_TRUE(c.chart.RefLineRect(EAxis::Right).isNull());
  c.chart.graph(1)->setVisible(true);

  // Scrolling is refused in divisions mode, by the mouse too.
  QSignalSpy scrolled(&c.chart, &TKorChart::OnScroll);
  const QPoint mid = c.chart.axisRect()->rect().center();
  QTest::mousePress(&c.chart, Qt::RightButton, Qt::NoModifier, mid);
  QTest::mouseMove(&c.chart, mid + QPoint(60, 30));
  QTest::mouseRelease(&c.chart, Qt::RightButton, Qt::NoModifier, mid + QPoint(60, 30));
  ExpectRange(c.Range(EAxis::Bottom), 0, 1000);
  ExpectRange(c.Range(EAxis::Left), -40, 60);
  EXPECT_EQ(scrolled.count(), 0);

  // Off again: the axes as they were before divisions.
  c.chart.SetDivisions(0);
  EXPECT_EQ(c.chart.RefLine(EAxis::Left), nullptr);
  ExpectRange(c.Range(EAxis::Left), -60, 20);
  EXPECT_TRUE(c.chart.RoundFirstLabel(EAxis::Left));
  EXPECT_DOUBLE_EQ(c.chart.DesiredIncrement(EAxis::Left), 5);
}

TEST(KorChart, ScrollAsksTheUsersHandler) {
  TestApp();
  Chart c;
  c.chart.OnAllowScroll = [](EAxis axis, double, double) { return axis != EAxis::Left; };
  QSignalSpy scrolled(&c.chart, &TKorChart::OnScroll);
  const double perPixel = 1000.0 / c.chart.axisRect()->width();
  c.chart.ScrollBy(100, 50);
  EXPECT_NEAR(c.Range(EAxis::Bottom).lower, -100 * perPixel, 1e-6);
  ExpectRange(c.Range(EAxis::Left), -60, 20);
  EXPECT_NE(c.Range(EAxis::Right).lower, -200);
  EXPECT_EQ(scrolled.count(), 1);
  EXPECT_FALSE(c.chart.RepaintPending());  // the scroll's redraw repainted the markers
}

TEST(KorChart, MarkersManagerFrontsTheMarkers) {
  TestApp();
  ASSERT_EQ(vkplatform::ComRegisterServer(VK_INTERPRETER_LIBRARY), S_OK);
  Chart c;
  TMarkersManager* mm = c.chart.Markers();
  // Disabled: every operation is refused.
  EXPECT_FALSE(mm->GetEnabled());
  EXPECT_EQ(mm->Update(), -1);
  EXPECT_EQ(mm->SeriesUpdate(), -1);
  EXPECT_EQ(mm->SaveToFile(TestHome() + "/x.mrk"), -1);
  EXPECT_EQ(mm->SetLabelState(1, false), -1);
  EXPECT_EQ(mm->GetMarksManager(), nullptr);

  mm->SetMaxArg(1000);
  mm->SetEnabled(true);
  MarksManager* marks = mm->GetMarksManager();
  ASSERT_NE(marks, nullptr);
  EXPECT_EQ(marks->SeriesCount(), 2);  // the untitled helper is left out
  EXPECT_EQ(marks->Mark(0)->GetParams().limitMax, 1000);

  // Redraws search; without AutoUpdate they do not.
  Metka* m = marks->Mark(0);
  SMarkParams p = m->GetParams();
  p.enabled = true;
  p.action = EMarkAction::Minimum;
  p.linkTrace = 1;
  m->SetParams(p);
  const double minimum = m->GetFreq();
  EXPECT_NEAR(minimum, 500, 60);
  mm->SetAutoUpdate(false);
  c.chart.graph(0)->data()->clear();
  for (int i = 0; i <= 1000; ++i) c.chart.graph(0)->addData(i, (i - 700) * (i - 700) / 1000.0);
  c.chart.replot();
  EXPECT_DOUBLE_EQ(m->GetFreq(), minimum);
  mm->SetAutoUpdate(true);
  c.chart.replot();
  EXPECT_DOUBLE_EQ(m->GetFreq(), 700);

  // The series change: the markers find theirs again by title, and one
  // whose series is gone falls back to free position.
  Metka* second = marks->Mark(1);
  p = second->GetParams();
  p.enabled = true;
  p.action = EMarkAction::Maximum;
  p.linkTrace = 2;  // "Фаза"
  second->SetParams(p);
  c.chart.removeGraph(0);  // "S21" goes
  ASSERT_EQ(mm->SeriesUpdate(), 0);
  marks = mm->GetMarksManager();
  EXPECT_EQ(marks->SeriesCount(), 1);
  EXPECT_EQ(marks->Mark(1)->GetParams().linkTrace, 1);
  EXPECT_EQ(marks->Mark(1)->GetParams().action, EMarkAction::Maximum);
  EXPECT_EQ(marks->Mark(0)->GetParams().linkTrace, 0);
  EXPECT_EQ(marks->Mark(0)->GetParams().action, EMarkAction::Free);

  // Activated off, the series change meanwhile, and on again: the markers
  // put aside come back.
  mm->SetActivated(false);
  EXPECT_TRUE(marks->Mark(1)->GetStandby());
  ASSERT_EQ(mm->SeriesUpdate(), 0);
  marks = mm->GetMarksManager();
  EXPECT_FALSE(marks->Mark(1)->GetActivated());
  mm->SetActivated(true);
  EXPECT_TRUE(marks->Mark(1)->GetActivated());
  EXPECT_EQ(marks->Mark(1)->GetParams().linkTrace, 1);

  // The formula library: the one shipped, and one that is missing.
  EXPECT_EQ(mm->SetLinkMarkPresetFileName(std::string(VK_SOURCE_DIR) + "/data/RelationPreset.xml"), 0);
  EXPECT_FALSE(marks->Presets().empty());
  EXPECT_NE(mm->SetLinkMarkPresetFileName(TestHome() + "/none.xml"), 0);

  // The report form follows the markers: a new one when they are made again.
  QPointer<TfrmReportManager> report = mm->GetReport();
  ASSERT_NE(report, nullptr);
  EXPECT_EQ(mm->GetReport(), report.data());
  const TModalDialogHook previous = SetModalDialogHook([](QDialog* d) {
    d->show();  // filled when shown
    return int(QDialog::Rejected);
  });
  report->ShowModal();
  SetModalDialogHook(previous);
  EXPECT_EQ(report->MarkersTableText().size(), 3u);  // header and two active markers
  mm->SetEnabled(false);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_TRUE(report.isNull());
  EXPECT_EQ(mm->GetMarksManager(), nullptr);
  EXPECT_EQ(mm->Repaint(), -1);
  EXPECT_EQ(c.chart.itemCount(), 0);  // nothing left behind
}

TEST(KorChart, DemoChartWithMarkersLinkAndDivisions) {
  TestApp();
  ASSERT_EQ(vkplatform::ComRegisterServer(VK_INTERPRETER_LIBRARY), S_OK);
  Chart c;
  c.chart.SetDivisions(10);
  c.chart.SetRefLevelLeft(10, -20, 4);
  c.chart.SetRefLevelRight(50, 0, 5);
  TMarkersManager* mm = c.chart.Markers();
  mm->SetMaxArg(1000);
  mm->SetEnabled(true);
  MarksManager* marks = mm->GetMarksManager();
  auto place = [&](int i, EMarkAction action, int trace, double level = 0) {
    SMarkParams p = marks->Mark(i)->GetParams();
    p.enabled = true;
    p.action = action;
    p.linkTrace = trace;
    p.divergence = level;
    p.framePos = 20 + 110 * i;
    marks->Mark(i)->SetParams(p);
  };
  place(0, EMarkAction::Minimum, 1);
  place(1, EMarkAction::Maximum, 1);
  place(2, EMarkAction::Fixed, 2, 100);
  SLinkParams link;
  link.used = true;
  link.markerA = 0;
  link.markerB = 1;
  link.expression = "б.S21-а.S21";
  link.print = "Δ %зн дБ (ср. %ср, ско %ско)";
  marks->Link(0)->SetParams(link);
  // Every frame takes the value into the statistics.
  for (int i = 0; i < 5; ++i) c.chart.replot();
  EXPECT_EQ(marks->Link(0)->Stat().n, 5);
  EXPECT_NE(marks->Link(0)->Text().find("ср. "), std::string::npos);
  EXPECT_TRUE(marks->Mark(2)->Placed());
  MaybeScreenshot(&c.chart, "korchart_demo");
}

// A long sweep is drawn through a reduction to the lowest and highest value
// of each pixel column: a one-point spike among 100,001 points, and a
// one-point dip, are still drawn at their full height.
TEST(KorChart, LongSweepsKeepTheirPeaks) {
  TestApp();
  korchart::TKorChart chart;
  chart.resize(800, 400);
  QCPGraph* g = chart.addGraph();
  g->setPen(QPen(Qt::red, 1));
  constexpr int kPoints = 100001;
  QVector<QCPGraphData> data(kPoints);
  for (int i = 0; i < kPoints; ++i) data[i] = QCPGraphData(i, 0);
  data[55555].value = 50;
  data[22222].value = -50;
  g->data()->set(data, true);
  chart.xAxis->setRange(0, kPoints - 1);
  chart.yAxis->setRange(-60, 60);
  chart.replot(QCustomPlot::rpImmediateRefresh);
  const QImage image = chart.grab().toImage();
  auto redAround = [&](double x, double y) {
    const int px = qRound(chart.xAxis->coordToPixel(x)), py = qRound(chart.yAxis->coordToPixel(y));
    for (int dx = -2; dx <= 2; ++dx)
      for (int dy = -2; dy <= 2; ++dy) {
        const QColor c = image.pixelColor(px + dx, py + dy);
        if (c.red() > 200 && c.green() < 120 && c.blue() < 120) return true;
      }
    return false;
  };
  EXPECT_TRUE(redAround(55555, 50));
  EXPECT_TRUE(redAround(22222, -50));
  EXPECT_TRUE(redAround(80000, 0));
  EXPECT_FALSE(redAround(80000, 50));
}

// A right click that does not scroll opens the chart's menu, whose
// "Сбросить статистику" starts the markers' statistics again; a right drag
// scrolls and opens nothing.
TEST(KorChart, RightClickMenuResetsTheStatistics) {
  TestApp();
  Chart c;
  TMarkersManager* mm = c.chart.Markers();
  mm->SetEnabled(true);
  Metka* m = mm->GetMarksManager()->Mark(0);
  m->Activate();
  m->SetOnFreq(500);
  SMarkParams p = m->GetParams();
  p.showStatistics = true;
  m->SetParams(p);
  for (int i = 0; i < 3; ++i) c.chart.replot();
  ASSERT_EQ(m->GetStat(1).n, 3);
  const QPoint empty(120, 300);
  QTest::mouseClick(&c.chart, Qt::RightButton, Qt::NoModifier, empty);
  QMenu* menu = c.chart.findChild<QMenu*>("ChartMenu");
  ASSERT_NE(menu, nullptr);
  EXPECT_TRUE(menu->isVisible());
  QAction* reset = menu->findChild<QAction*>("MenuResetStatistics");
  ASSERT_NE(reset, nullptr);
  EXPECT_EQ(reset->text(), "Сбросить статистику");
  EXPECT_TRUE(reset->isEnabled());
  reset->trigger();
  EXPECT_EQ(m->GetStat(1).n, 0);
  menu->close();
  QTest::mousePress(&c.chart, Qt::RightButton, Qt::NoModifier, empty);
  QTest::mouseRelease(&c.chart, Qt::RightButton, Qt::NoModifier, empty + QPoint(40, 0));
  EXPECT_FALSE(menu->isVisible());
}
