// The diagram plug-in: traces on the area (parts and restarts on the
// series, display ranges, selection, memory and math traces, .trc files,
// the list and its menus), the plug-in fed through queues in common-X and
// pair mode with the stimulus range and bad frames, the thread against a
// stop, and a scheme with the simulated instrument.
#include <gtest/gtest.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QSplitter>
#include <QTableWidget>
#include <QTreeWidget>

#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "GuiPlugin.h"
#include "PacketQueue.h"
#include "PlotDesk.h"
#include "PluginFeed.h"
#include "SchemeRunner.h"
#include "Screenshot.h"
#include "TestApp.h"
#include "TestHome.h"
#include "VKXml.h"
#include "limits/LimitDrawing.h"
#include "limits/Outcome.h"
#include "markers/LinkMarker.h"
#include "markers/MarksManager.h"
#include "markers/Metka.h"
#include "model/TraceMath.h"
#include "platform/Com.h"
#include "platform/Report.h"
#include "qcustomplot.h"
#include "ui/DiagramArea.h"

namespace fs = std::filesystem;
using namespace plotdesk;

namespace {

// An area on a window, with two channels.
struct TArea : TAppFirst {
  TArea() : area(&host, true) {
    host.resize(800, 500);
    area.Panel()->resize(800, 500);
    area.AddChannel(&c1);
    area.AddChannel(&c2);
    host.show();
  }
  void Part(CChannel& c, size_t full, size_t offset, size_t n, double level) {
    std::vector<double> x(n), y(n);
    for (size_t i = 0; i < n; ++i) {
      x[i] = 100.0 + offset + i;
      y[i] = level + 0.01 * (offset + i);
    }
    c.SetArraySize(full);
    c.Deliver(offset, n, x.data(), y.data());
  }
  QWidget host;
  CDiagramArea area;
  CChannel c1{"Передача", "дБ", "МГц"}, c2{"Отражение", "дБ", "МГц"};
};

}  // namespace

TEST(DiagramTraces, PartsRestartsAndTheSeries) {
  TArea a;
  CTraceData* t = a.area.CreateDataTrace(&a.c1);
  EXPECT_EQ(t->Name(), "Трс1");
  a.Part(a.c1, 200, 0, 100, -10);
  a.Part(a.c1, 200, 100, 100, -10);
  ASSERT_EQ(t->PointCount(), 200u);
  EXPECT_DOUBLE_EQ(t->PointValue(150), -8.5);
  // The next sweep replaces points in place, never adds.
  a.Part(a.c1, 200, 0, 50, -20);
  EXPECT_EQ(t->PointCount(), 200u);
  EXPECT_DOUBLE_EQ(t->PointValue(10), -19.9);
  EXPECT_DOUBLE_EQ(t->PointValue(150), -8.5);
  // A part at an unexpected offset starts again there: nulls before it.
  a.Part(a.c1, 200, 120, 30, -30);
  EXPECT_EQ(t->PointCount(), 150u);
  EXPECT_TRUE(std::isnan(t->PointValue(0)));
  EXPECT_DOUBLE_EQ(t->PointValue(120), -28.8);
  // A new array size clears the trace (the channel says it changed).
  a.Part(a.c1, 50, 0, 50, 0);
  EXPECT_EQ(t->PointCount(), 50u);
  // The other channel's data are not this trace's.
  a.Part(a.c2, 10, 0, 10, 5);
  EXPECT_EQ(t->PointCount(), 50u);
}

TEST(DiagramTraces, RangesSelectionAndReferencePosition) {
  TArea a;
  CTraceData* t1 = a.area.CreateDataTrace(&a.c1);
  CTraceData* t2 = a.area.CreateDataTrace(&a.c2);
  EXPECT_EQ(a.area.Selected(), 1);  // the new trace is selected
  t1->SetReferenceScale(-20, 5);
  t2->SetReferenceScale(0, 1);
  // The selected trace shows its range on the left axis; the other keeps
  // its own (hidden) axis, so its values stay real.
  EXPECT_EQ(t2->Series()->valueAxis(), a.area.Chart()->yAxis);
  EXPECT_DOUBLE_EQ(a.area.Chart()->yAxis->range().lower, -5);
  EXPECT_DOUBLE_EQ(a.area.Chart()->yAxis->range().upper, 5);
  EXPECT_EQ(t1->Series()->valueAxis(), t1->OwnAxis());
  EXPECT_DOUBLE_EQ(t1->OwnAxis()->range().lower, -45);
  a.area.Select(0);
  EXPECT_EQ(t1->Series()->valueAxis(), a.area.Chart()->yAxis);
  EXPECT_DOUBLE_EQ(a.area.Chart()->yAxis->range().upper, 5);
  // The wheel moves every trace's reference position, keeping level and scale.
  a.area.Wheel(120);
  EXPECT_EQ(a.area.ReferencePosition(), 4);
  EXPECT_DOUBLE_EQ(t1->ReferenceLevel(), -20);
  EXPECT_DOUBLE_EQ(t1->Range().top, 0);
  a.area.Wheel(-120 * 20);
  EXPECT_EQ(a.area.ReferencePosition(), 10);
  EXPECT_DOUBLE_EQ(t2->Range().bottom, 0);
  // Auto scale on data 0..1, and a range too narrow is widened.
  std::vector<double> x{1, 2, 3}, y{0, 0.5, 1};
  a.c1.SetArraySize(3);
  a.c1.Deliver(0, 3, x.data(), y.data());
  a.area.SetReferencePosition(5);
  t1->AutoScale();
  EXPECT_DOUBLE_EQ(t1->ReferenceLevel(), 0);
  EXPECT_DOUBLE_EQ(t1->Scale(), 1);
  t1->SetDisplayRange(2, 2.01);
  EXPECT_NEAR(t1->Range().top - t1->Range().bottom, 0.1, 1e-12);
  // The row says it all.
  QTreeWidgetItem* row = a.area.Row(0);
  EXPECT_EQ(row->text(CDiagramArea::colChannel), "Передача");
  EXPECT_EQ(row->text(CDiagramArea::colScale), "0.01 дБ");
  EXPECT_EQ(row->text(CDiagramArea::colKind), "Измерит.");
  // Deleting selects nothing.
  a.area.Action(CDiagramArea::actDelete)->trigger();
  EXPECT_EQ(a.area.Traces().size(), 1u);
  EXPECT_EQ(a.area.Selected(), -1);
}

TEST(DiagramTraces, MemoryAndMathTraces) {
  vkplatform::ReportCapture reports;
  TArea a;
  CTraceData* t = a.area.CreateDataTrace(&a.c1);
  // Nothing to remember yet.
  EXPECT_EQ(a.area.Memorize(), nullptr);
  EXPECT_EQ(reports.CountText("Исходная трасса не содержит данных"), 1);
  a.Part(a.c1, 100, 0, 100, -10);
  t->SetReferenceScale(-5, 2);
  CTraceStatic* m = a.area.Memorize();
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->Name(), "Пам1");
  EXPECT_DOUBLE_EQ(m->ReferenceLevel(), -5);
  EXPECT_DOUBLE_EQ(m->Scale(), 2);
  // The memory keeps its points when the channel goes on.
  a.Part(a.c1, 100, 0, 100, -20);
  EXPECT_DOUBLE_EQ(m->PointValue(0), -10);

  CTraceMath* math = a.area.CreateMathTrace();
  EXPECT_EQ(math->Name(), "Мат1");
  math->SetOperand(1, t);
  math->SetOperand(2, m);
  // Chosen operands compute at once (the memory would never draw again).
  ASSERT_EQ(math->PointCount(), 100u);
  EXPECT_DOUBLE_EQ(math->PointValue(3), -10);
  math->SetOperation(2);
  EXPECT_DOUBLE_EQ(math->PointValue(3), -14.97);
  // New parts of the data trace follow on the result.
  a.Part(a.c1, 100, 0, 10, -30);
  EXPECT_DOUBLE_EQ(math->PointValue(3), -19.97);
  // Operands of unequal length leave the result as it is.
  m->SetPoints({1, 2}, {0, 0});
  a.Part(a.c1, 100, 10, 10, -40);
  EXPECT_DOUBLE_EQ(math->PointValue(12), -14.88);
  // A deleted operand is forgotten.
  a.area.DeleteTrace(a.area.IndexOf(m));
  EXPECT_EQ(math->Operand(2), nullptr);
  EXPECT_EQ(math->PointCount(), 0u);  // no result without both operands
  a.Part(a.c1, 100, 20, 10, -50);  // nothing to combine with: no crash, no change
}

TEST(DiagramTraces, TraceFilesKeepTwoColumns) {
  vkplatform::ReportCapture reports;
  TArea a;
  CTraceStatic* m = a.area.CreateMemoryTrace(&a.c1);
  const std::string good = TestHome() + "/good.trc", three = TestHome() + "/three.trc", saved = TestHome() + "/saved.trc";
  std::ofstream(good) << "100\t-1\n200\t-2\n300\t-3\n";
  std::ofstream(three) << "1 2 3\n4 5 6\n";
  ASSERT_EQ(m->LoadFromFile(good), 0);
  EXPECT_EQ(m->PointCount(), 3u);
  EXPECT_EQ(m->LoadFromFile(three), -1);
  EXPECT_EQ(reports.CountText("Таблица трассы должна содержать два столбца."), 1);
  EXPECT_EQ(m->PointCount(), 3u);  // the old points stay
  EXPECT_EQ(m->LoadFromFile(TestHome() + "/missing.trc"), -1);
  EXPECT_EQ(reports.CountText("Ошибка при открытии файла \"" + TestHome() + "/missing.trc\""), 1);
  EXPECT_EQ(m->PointCount(), 3u);
  ASSERT_EQ(m->SaveToFile(saved), 0);
  CTraceStatic* again = a.area.CreateMemoryTrace(&a.c1);
  ASSERT_EQ(again->LoadFromFile(saved), 0);
  EXPECT_DOUBLE_EQ(again->PointX(2), 300);
  EXPECT_DOUBLE_EQ(again->PointValue(2), -3);
  // A file's points out of argument order are all taken, as they are.
  const std::string unordered = TestHome() + "/unordered.trc";
  std::ofstream(unordered) << "300\t-3\n100\t-1\n200\t-2\n";
  ASSERT_EQ(again->LoadFromFile(unordered), 0);
  EXPECT_EQ(again->PointCount(), 3u);
}

namespace {

// Whether a series' arguments never descend.
bool InArgumentOrder(const CTrace& t) {
  for (size_t i = 1; i < t.PointCount(); ++i)
    if (t.PointX(i) < t.PointX(i - 1)) return false;
  return true;
}

// The markers of a bench: a maximum tracked on Трс1, and a free marker
// reading the data, its memory and their difference.
const char* const kTraceMarkers = R"(<?xml version="1.0" encoding="UTF-8"?>
<markerPreset title="Пик"><markerList>
  <marker id="0" enabled="true"><parked value="false"/><extremeMode value="false"/><showStatInfo value="false"/>
    <tracking value="true"/><framePos value="40"/><position value="600"/>
    <action value="maximum"><posLimits min="0" max="100000"/><divergence value="0" direction="left"/>
      <linkTrace value="Трс1"/><deltaMeasure enabled="false" linkTrace=""/></action>
    <lineList><line sourceTrace="" fraction="2"/><line sourceTrace="Трс1" fraction="2"/>
      <line sourceTrace="Пам1" fraction="2"/><line sourceTrace="Мат1" fraction="2"/></lineList></marker>
  <marker id="1" enabled="true"><parked value="false"/><extremeMode value="false"/><showStatInfo value="false"/>
    <tracking value="false"/><framePos value="55"/><position value="1050"/>
    <action value="free"><posLimits min="0" max="100000"/><divergence value="0" direction="left"/>
      <linkTrace value="Трс1"/><deltaMeasure enabled="false" linkTrace=""/></action>
    <lineList><line sourceTrace="" fraction="2"/><line sourceTrace="Трс1" fraction="2"/>
      <line sourceTrace="Пам1" fraction="2"/><line sourceTrace="Мат1" fraction="2"/></lineList></marker>
</markerList><relationList/></markerPreset>)";

}  // namespace

// The sweep's range changes while it runs: where a part begins (the start
// of a sweep too) and within a part. The data trace starts again on the new
// arguments, no series ever leaves argument order, and the markers that
// search and read the traces have nothing to complain of.
TEST(DiagramTraces, NewArgumentsInTheMiddleOfASweepStartItAgain) {
  vkplatform::ReportCapture reports;
  TArea a;
  CTraceData* t = a.area.CreateDataTrace(&a.c1);
  double lo = 100, hi = 1100;
  size_t at = 0;
  constexpr size_t kNone = 1000;
  auto send = [&](size_t changeAt, double newLo, double newHi) {
    std::vector<double> x(25), y(25);
    for (size_t i = 0; i < 25; ++i) {
      if (at + i == changeAt) {
        lo = newLo;
        hi = newHi;
      }
      x[i] = lo + (hi - lo) * static_cast<double>(at + i) / 99;
      y[i] = -std::fabs(static_cast<double>(at + i) - 50) / 5;
    }
    a.c1.SetArraySize(100);
    a.c1.Deliver(at, 25, x.data(), y.data());
    at = (at + 25) % 100;
    a.area.Chart()->replot();
    QApplication::processEvents();
    for (const auto& trace : a.area.Traces()) EXPECT_TRUE(InArgumentOrder(*trace)) << trace->Name() << " at " << at;
  };
  for (int i = 0; i < 4; ++i) send(kNone, 0, 0);
  a.area.Select(0);
  CTraceStatic* m = a.area.Memorize();
  ASSERT_NE(m, nullptr);
  CTraceMath* math = a.area.CreateMathTrace();
  math->SetOperand(1, t);
  math->SetOperand(2, m);
  const std::string markers = TestHome() + "/peak.mrk";
  std::ofstream(markers) << kTraceMarkers;
  ASSERT_EQ(a.area.Marks()->LoadFromFile(markers), 0);
  struct TChange {
    size_t at;
    double lo, hi;
  };
  for (const TChange& c : {TChange{0, 1100, 2100}, TChange{25, 100, 600}, TChange{50, 1500, 2500},
                           TChange{75, 100, 1100}, TChange{60, 2000, 3000}, TChange{90, 100, 1100}}) {
    SCOPED_TRACE(c.at);
    while (!(at <= c.at && c.at < at + 25)) send(kNone, 0, 0);
    send(c.at, c.lo, c.hi);
    for (int i = 0; i < 4; ++i) send(kNone, 0, 0);
    // A whole sweep on the new arguments, nothing of the old ones.
    ASSERT_EQ(t->PointCount(), 100u);
    EXPECT_DOUBLE_EQ(t->PointX(0), c.lo);
    EXPECT_DOUBLE_EQ(t->PointX(99), c.hi);
    for (size_t i = 0; i < 100; ++i) ASSERT_FALSE(std::isnan(t->PointValue(i))) << i;
  }
  EXPECT_EQ(reports.Count(), 0u) << (reports.Count() ? reports.Reports().front().text : "");
}

// A long sweep whose arguments descend, drawn with fast lines: the line
// spans the plot as an ascending sweep's does (not one pixel column).
TEST(DiagramTraces, ADescendingSweepIsDrawnWithFastLines) {
  TArea a;
  ASSERT_TRUE(a.area.FastLine());
  CTraceData* t = a.area.CreateDataTrace(&a.c1);
  t->SetReferenceScale(0, 5);
  auto columnsDrawn = [&](bool descending) {
    const size_t n = 5000;
    std::vector<double> x(n), y(n);
    for (size_t i = 0; i < n; ++i) {
      x[i] = descending ? static_cast<double>(n - i) : static_cast<double>(i + 1);
      y[i] = 20 * std::sin(static_cast<double>(i) * 0.01);
    }
    a.c1.SetArraySize(n);
    a.c1.Deliver(0, n, x.data(), y.data());
    EXPECT_TRUE(t->Series()->adaptiveSampling());
    const QImage image = a.area.Chart()->toPixmap(800, 400).toImage();
    int columns = 0;
    for (int px = 0; px < image.width(); ++px)
      for (int py = 0; py < image.height(); ++py) {
        const QColor c = image.pixelColor(px, py);
        if (c.red() > 150 && c.green() < 110 && c.blue() < 110) {
          ++columns;
          break;
        }
      }
    return columns;
  };
  const int ascending = columnsDrawn(false);
  EXPECT_GT(ascending, 600);
  EXPECT_GT(columnsDrawn(true), ascending - 10);
}

TEST(DiagramArea, ListMenusEditingAndTheSplitter) {
  vkplatform::ReportCapture reports;
  TArea a;
  CTraceData* t = a.area.CreateDataTrace(&a.c1);
  a.area.CreateDataTrace(&a.c2);
  a.area.Select(0);
  // The list's menu: the area's items, then the trace's.
  a.area.RebuildListMenu();
  QStringList items;
  for (QAction* act : a.area.ListMenu()->actions())
    if (!act->isSeparator()) items << act->text();
  EXPECT_EQ(items.mid(0, 5), (QStringList{"&Удалить", "&Запомнить", "&Отобразить", "&Автомасштаб", "&Канал"}));
  // The chart's menu holds the creating, marker, report, CSV, header and
  // statistics actions.
  EXPECT_EQ(a.area.ChartMenu()->actions().size(), 8);
  // Another channel while the trace has points asks first; No keeps it.
  a.Part(a.c1, 10, 0, 10, 0);
  // "Сохранить как CSV...": the argument and the trace as shown, a row a point.
  const std::string csv = TestHome() + "/diagram.csv";
  auto answerCsv = SetFileDialogHook([&](const TFileDialogRequest&) { return QString::fromStdString(csv); });
  for (QAction* act : a.area.ChartMenu()->actions())
    if (act->objectName() == "ActionSaveCsv") act->trigger();
  SetFileDialogHook(answerCsv);
  {
    std::ifstream in(csv);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0].rfind("\"Аргумент, МГц\",", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(a.area.Traces().front()->Name()), std::string::npos) << lines[0];
  }
  QMenu* channels = a.area.ListMenu()->findChild<QMenu*>("TraceChannel");
  ASSERT_NE(channels, nullptr);
  channels->actions().at(1)->trigger();
  EXPECT_EQ(reports.CountText("Вы уверены, что хотите изменить измерительный канал?"), 1);
  EXPECT_EQ(t->Channel(), &a.c1);
  // The cells' edits: a number sets, a text that is none is ignored.
  a.area.CellEdited(0, CDiagramArea::colReference, "-7,5");
  EXPECT_DOUBLE_EQ(t->ReferenceLevel(), -7.5);
  a.area.CellEdited(0, CDiagramArea::colScale, "abc");
  EXPECT_DOUBLE_EQ(t->Scale(), 10);
  a.area.CellEdited(0, CDiagramArea::colName, "Вход");
  EXPECT_EQ(t->Name(), "Вход");
  // The check box hides the trace.
  a.area.Row(0)->setCheckState(CDiagramArea::colName, Qt::Unchecked);
  EXPECT_FALSE(t->IsVisible());
  // The splitter keeps whole rows, never more than there are.
  const int row = a.area.List()->visualItemRect(a.area.Row(0)).height();
  EXPECT_EQ(a.area.RoundListHeight(1 + row * 2 - 3), 1 + row * 2);
  EXPECT_EQ(a.area.RoundListHeight(1000), 1 + row * 2);
  // Column headers push the rows down by the header's height.
  const int before = a.area.Splitter()->sizes().at(0);
  a.area.Action(CDiagramArea::actColumnHeaders)->trigger();
  EXPECT_TRUE(a.area.List()->header()->isVisible());
  EXPECT_GT(a.area.Splitter()->sizes().at(0), before);
  // Report titles carry channel, reference, scale and unit.
  EXPECT_EQ(a.area.ReportTitles().at(0), "Вход(Передача оп.-7.5/10 дБ)");
}

// ---- the plug-in ----

namespace {

enum { kX = 0, kX1 = 1, kY1 = 2, kX2 = 3, kY2 = 4, kX3 = 5, kY3 = 6, kX4 = 7, kY4 = 8, kMin = 9, kMax = 10 };

const char* const kFourChannels = R"(<parameters fps="true">
  <position left="10" top="0" width="50.7" height="100"/>
  <channels>
    <channel name="К1" quantityr="дБ" quantitys="МГц"><trace reference="0" scalediv="10"/></channel>
    <channel name="К2"><trace/></channel>
    <channel name="К3"><trace/></channel>
    <channel name="К4"><trace averaging="3" smoothing="5"/></channel>
  </channels></parameters>)";

// A diagram fed through its eleven inputs.
struct TDesk : TPluginFeed<TPlotDesk, 11> {
  explicit TDesk(const std::set<int>& wired, const std::string& parameters = kFourChannels)
      : TPluginFeed(wired, parameters, "diagram", QSize(1000, 600)) {}
  // A whole vector (full 0) or a part, values level + index.
  CDoubleVector* Vector(unsigned full, unsigned offset, unsigned n, double level) {
    auto* v = full ? new CDoubleVectorPart(n, full, offset) : new CDoubleVector(n);
    for (unsigned i = 0; i < n; ++i) (*v)[i] = level + offset + i;
    return v;
  }
  CTrace* Trace(int i) const { return desk.Area()->Trace(i); }

  TPlotDesk& desk = plugin;
};

}  // namespace

TEST(PlotDesk, CommonXFeedsTheWiredYsAndTheStimulusRange) {
  vkplatform::ReportCapture reports;
  TDesk d({kX, kY1, kY3, kMin, kMax});
  ASSERT_EQ(d.desk.Area()->Traces().size(), 4u);
  // The filters the parameters switch on.
  EXPECT_EQ(d.desk.Area()->Row(3)->text(CDiagramArea::colFilters), "  Сгл5  Ср3");
  // The area takes 50 percent (50.7 truncated) from 10 percent on.
  const QRect r = d.desk.Area()->Panel()->geometry();
  const int w = d.host.centralWidget()->contentsRect().width();
  EXPECT_EQ(r.left(), w * 10 / 100);
  EXPECT_EQ(r.width(), w * 50 / 100);
  // X and Y1 alone make no frame while Y3 is wired.
  d.Send(kX, d.Vector(0, 0, 20, 100));
  d.Send(kY1, d.Vector(0, 0, 20, -50));
  d.RunUntil([] { return false; }, 60);
  EXPECT_EQ(d.Trace(0)->PointCount(), 0u);
  d.Send(kY3, d.Vector(0, 0, 20, -10));
  ASSERT_TRUE(d.RunUntil([&] { return d.Trace(2)->PointCount() == 20; }));
  EXPECT_EQ(d.Trace(0)->PointCount(), 20u);
  EXPECT_DOUBLE_EQ(d.Trace(0)->PointX(5), 105);
  EXPECT_DOUBLE_EQ(d.Trace(2)->PointValue(5), -5);
  EXPECT_EQ(d.Trace(1)->PointCount(), 0u);
  EXPECT_EQ(d.Trace(3)->PointCount(), 0u);
  // The stimulus range sets the bottom axis; the same range again is nothing new.
  d.Send(kMin, new CDoublePacket(100));
  d.Send(kMax, new CDoublePacket(1100));
  ASSERT_TRUE(d.RunUntil([&] { return d.desk.Area()->Chart()->xAxis->range().upper == 1100; }));
  EXPECT_DOUBLE_EQ(d.desk.Channels()[0]->StimulusMin(), 100);
  // The frame rate is shown once two frames were drawn.
  d.Send(kX, d.Vector(0, 0, 20, 100));
  d.Send(kY1, d.Vector(0, 0, 20, -40));
  d.Send(kY3, d.Vector(0, 0, 20, -40));
  ASSERT_TRUE(d.RunUntil([&] { return d.Trace(0)->PointValue(0) == -40; }));
  EXPECT_TRUE(d.RunUntil([&] { return d.desk.Area()->FpsLabel()->text().startsWith("FPS: "); }, 500));
  EXPECT_EQ(reports.CountText("предустановок") , reports.Count());
}

TEST(PlotDesk, PairModeBadFramesAndAWholeVectorAfterParts) {
  vkplatform::ReportCapture reports;
  TDesk d({kX1, kY1, kX2, kY2, kY3});
  // Only Y3 of its pair is wired: said once, at the start.
  EXPECT_EQ(reports.CountText("Подключен только один вход (Xn или Yn)"), 1);
  // Two ready pairs are both handled.
  d.Send(kX2, d.Vector(40, 0, 20, 0));
  d.Send(kY2, d.Vector(40, 0, 20, -20));
  d.Send(kX1, d.Vector(40, 0, 20, 0));
  d.Send(kY1, d.Vector(40, 0, 20, -10));
  ASSERT_TRUE(d.RunUntil([&] { return d.Trace(0)->PointCount() == 20 && d.Trace(1)->PointCount() == 20; }));
  EXPECT_EQ(d.desk.Channels()[1]->ArraySize(), 40u);
  // A whole vector after parts of another full size resizes the channel.
  d.Send(kX1, d.Vector(0, 0, 30, 0));
  d.Send(kY1, d.Vector(0, 0, 30, 1));
  ASSERT_TRUE(d.RunUntil([&] { return d.desk.Channels()[0]->ArraySize() == 30; }));
  EXPECT_EQ(d.Trace(0)->PointCount(), 30u);
  // Unequal sizes, a part with a whole vector, and a part past its array:
  // each is said (once per kind in a row) and the packets are released.
  d.Send(kX1, d.Vector(0, 0, 5, 0));
  d.Send(kY1, d.Vector(0, 0, 6, 0));
  d.Send(kX2, d.Vector(40, 0, 5, 0));
  d.Send(kY2, d.Vector(0, 0, 5, 0));
  d.Send(kX1, d.Vector(10, 8, 5, 0));
  d.Send(kY1, d.Vector(10, 8, 5, 0));
  ASSERT_TRUE(d.RunUntil([&] {
    for (int i : {kX1, kY1, kX2, kY2})
      if (d.queues[static_cast<size_t>(i)].QueueLen() > 0) return false;
    return reports.CountText("nOffset+nSize<=nArraySize") == 1;
  }));
  EXPECT_EQ(reports.CountText("AB[0]->Size() == AB[1]->Size()"), 1);
  // Y must lie where X lies.
  d.Send(kX2, d.Vector(40, 0, 20, 0));
  d.Send(kY2, d.Vector(40, 20, 20, 0));
  ASSERT_TRUE(d.RunUntil([&] { return reports.CountText("VP[0]->Offset()==VP[1]->Offset()") == 1; }));
  EXPECT_EQ(reports.CountText("(VP[0] && VP[1]) || (!VP[0] && !VP[1])"), 1);
  EXPECT_EQ(d.Trace(0)->PointCount(), 30u);  // nothing of the bad frames drawn
}

// Automation's "sweeps marked" (what *OPC? waits for) count a sweep only
// once the markers have been placed on it, however soon sweeps follow.
TEST(PlotDesk, MarkedSweepsAreTheOnesTheMarkersRead) {
  TDesk d({kX, kY1});
  korchart::MarksManager* marks = d.desk.Area()->Marks();
  ASSERT_NE(marks, nullptr);
  marks->Mark(0)->Activate();
  marks->Mark(0)->SetOnFreq(105);
  auto ask = [&](const std::string& question) {
    AnsiString answer;
    EXPECT_EQ(d.desk.Query(question, answer), VKT_OK) << answer;
    return std::string(answer);
  };
  for (int sweep = 1; sweep <= 6; ++sweep) {
    SCOPED_TRACE(sweep);
    const double level = -100.0 * sweep;
    for (unsigned offset : {0u, 20u}) {
      d.Send(kX, d.Vector(40, offset, 20, 100));
      d.Send(kY1, d.Vector(40, offset, 20, level));
    }
    ASSERT_TRUE(d.RunUntil([&] { return ask("sweeps marked") == std::to_string(sweep); }));
    const std::string reading = ask("marker 0");
    ASSERT_EQ(reading.substr(0, 4), "105,") << reading;
    EXPECT_DOUBLE_EQ(std::stod(reading.substr(4)), level + 5) << reading;
  }
  EXPECT_EQ(ask("sweeps"), "6");
}

// The scheme's last trace is the selected one; automation's "sweeps" are
// the sweeps every fed channel took whole (its parts from 0 to the end in
// a row), not the frames.
TEST(PlotDesk, LastTraceSelectedAndSweepsOfEveryChannelTakenWhole) {
  vkplatform::ReportCapture reports;
  auto sweeps = [](TPlotDesk& desk) {
    AnsiString answer;
    EXPECT_EQ(desk.Query("sweeps", answer), VKT_OK);
    return answer;
  };
  {
    TDesk d({kX, kY1, kY3});
    EXPECT_EQ(d.desk.Area()->Selected(), 3);
    auto frame = [&](unsigned offset, unsigned n = 20) {
      const auto before = d.desk.FramesTaken();
      d.Send(kX, d.Vector(40, offset, n, 100));
      d.Send(kY1, d.Vector(40, offset, n, -50));
      d.Send(kY3, d.Vector(40, offset, n, -10));
      ASSERT_TRUE(d.RunUntil([&] { return d.desk.FramesTaken() == before + 1; }));
    };
    frame(20);  // the end of a sweep not seen from its start
    EXPECT_EQ(sweeps(d.desk), "0");
    frame(0);
    EXPECT_EQ(sweeps(d.desk), "0");
    frame(20);
    EXPECT_EQ(sweeps(d.desk), "1");
    frame(0, 10);
    frame(20);  // a gap: that sweep is not whole
    EXPECT_EQ(sweeps(d.desk), "1");
    frame(0);
    frame(20);
    EXPECT_EQ(sweeps(d.desk), "2");
  }
  {
    // Pair mode: both channels must have taken the sweep.
    TDesk d({kX1, kY1, kX2, kY2});
    auto pair = [&](int x, int y, unsigned offset) {
      const auto before = d.desk.FramesTaken();
      d.Send(x, d.Vector(40, offset, 20, 0));
      d.Send(y, d.Vector(40, offset, 20, -20));
      ASSERT_TRUE(d.RunUntil([&] { return d.desk.FramesTaken() == before + 1; }));
    };
    pair(kX1, kY1, 0);
    pair(kX1, kY1, 20);
    pair(kX2, kY2, 0);
    EXPECT_EQ(sweeps(d.desk), "0");
    pair(kX2, kY2, 20);
    EXPECT_EQ(sweeps(d.desk), "1");
  }
  EXPECT_EQ(reports.CountText("предустановок"), reports.Count());
}

// A stop with a frame's event on its way (it dies with the window) and a
// start again: frames are drawn again. An array size no trace should keep
// is refused.
TEST(PlotDeskThreads, StartAgainAfterAStopWithAnEventOnItsWay) {
  vkplatform::ReportCapture reports;
  TDesk d({kX, kY1});
  d.Send(kX, d.Vector(0, 0, 20, 100));
  d.Send(kY1, d.Vector(0, 0, 20, -50));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // posted, not taken
  d.desk.DoFinalize();
  ASSERT_EQ(d.desk.DoInitialize(&d.host, d.doc.Root()), 0);
  d.Send(kX, d.Vector(0, 0, 20, 100));
  d.Send(kY1, d.Vector(0, 0, 20, -50));
  EXPECT_TRUE(d.RunUntil([&] { return d.Trace(0)->PointCount() == 20; }));
  d.Send(kX, d.Vector(0xFFFFFFF0u, 0xFFFFFF00u, 16, 0));
  d.Send(kY1, d.Vector(0xFFFFFFF0u, 0xFFFFFF00u, 16, 0));
  EXPECT_TRUE(d.RunUntil([&] { return reports.CountText("nArraySize<=16777216") == 1; }));
  EXPECT_EQ(d.Trace(0)->PointCount(), 20u);
}

// A stop while frames pour in and the window does not look returns at once.
TEST(PlotDeskThreads, StopNeverWaitsForTheWindow) {
  auto d = std::make_unique<TDesk>(std::set<int>{kX, kY1});
  std::atomic<bool> go{true};
  std::thread producer([&] {
    for (unsigned sweep = 0; go && sweep < 5000; ++sweep)
      for (int input : {kX, kY1}) {
        CDoubleVector* v = d->Vector(401 * 4, (sweep % 4) * 401, 401, input == kX ? 100 : -sweep);
        CPacketQueue& q = d->queues[static_cast<size_t>(input)];
        while (v && q.AddPacket(v) != 0) {
          if (!go) {
            delete v;
            v = nullptr;
          }
          std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        q.NotifySubscribers();
      }
  });
  EXPECT_TRUE(d->RunUntil([&] { return d->desk.FramesTaken() > 20; }, 10000));
  const auto before = std::chrono::steady_clock::now();
  d->desk.DoFinalize();
  const auto stopped = std::chrono::steady_clock::now() - before;
  go = false;
  producer.join();
  QApplication::processEvents();  // an event for the chart that is gone
  EXPECT_LT(stopped, std::chrono::seconds(2));
  d.reset();
}

namespace {
std::string PluginsDir() {
  static const std::string dir = InstalledPackages(VK_PLUGINS_DIR, {"PlotDesk.so", "InstrumentLink.so", "RunGuide.so", "ConstPanel.so"},
                                                   {"libKorvanComponents.so", "libKorChartLib.so"}, TestHome());
  return dir;
}
}  // namespace

TEST(PlotDeskScheme, TracesFollowTheSimulatorsSweeps) {
  TAppFirst app;
  vkplatform::ReportCapture reports;
  const std::string file = TestHome() + "/diagram.vms";
  std::ofstream(file) << R"(<scheme name="diagram">
    <node name="run" class="TRunGuide"><parameters caption="Измерение"/>
      <output name="command"><link node="link" linkpoint="command" queue="8"/></output></node>
    <node name="diagram" class="TPlotDesk"><parameters><channels>
      <channel name="Передача" quantityr="дБ" quantitys="МГц"><trace/></channel>
      <channel name="Отражение" quantityr="дБ" quantitys="МГц"><trace/></channel></channels>
      <math operand1="Трс1" operand2="Трс2" operation="1"/></parameters></node>
    <node name="link" class="TInstrumentLink"><parameters address="sim" simrate="50" simpart="401"/>
      <output name="command"><link node="run" linkpoint="command" queue="16"/></output>
      <output name="F"><link node="diagram" linkpoint="X" queue="64"/></output>
      <output name="A"><link node="diagram" linkpoint="Y1" queue="64"/></output>
      <output name="B"><link node="diagram" linkpoint="Y2" queue="64"/></output></node>
  </scheme>)";
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(file), 0) << (reports.Count() ? reports.Reports().back().text : "");
  fs::remove(runner.Scheme().DefaultProfileFileName());
  ASSERT_EQ(runner.Start(), 0);
  auto* list = runner.Host()->findChild<QTreeWidget*>("TraceList");
  auto* chart = runner.Host()->findChild<QCustomPlot*>("Chart");
  ASSERT_NE(list, nullptr);
  ASSERT_NE(chart, nullptr);
  EXPECT_EQ(list->topLevelItemCount(), 3);
  auto* start = runner.Host()->findChild<QAction*>("ActionStart");
  ASSERT_TRUE(runner.RunUntil([&] { return start->isEnabled(); }, 5000));
  start->trigger();
  // Graphs 0..2: the two data traces and their sum.
  auto full = [&](int g) { return chart->graph(g)->data()->size() == 1601; };
  ASSERT_TRUE(runner.RunUntil([&] { return full(0) && full(1) && full(2); }, 10000));
  runner.RunFor(300);
  EXPECT_EQ(chart->graph(0)->data()->size(), 1601);
  // No stimulus range is wired: the bottom axis spans the sweep.
  EXPECT_DOUBLE_EQ(chart->xAxis->range().lower, chart->graph(0)->data()->constBegin()->key);
  EXPECT_DOUBLE_EQ(chart->xAxis->range().upper, (chart->graph(0)->data()->constEnd() - 1)->key);
  const auto at = [&](int g, int i) { return (chart->graph(g)->data()->constBegin() + i)->value; };
  int nans = 0;
  for (int i = 0; i < 1601; ++i) nans += std::isnan(at(2, i)) ? 1 : 0;
  // Both operands draw each part: the sum keeps the whole sweep.
  EXPECT_EQ(nans, 0);
  EXPECT_NEAR(at(2, 800), at(0, 800) + at(1, 800), 1.0);
  EXPECT_LT(at(1, 800), -10);  // the pass band reflects little (dB)
  // The whole chain on the live sweep, set through the trace menus:
  // averaging and smoothing on the transmission, deviations over sweeps on
  // the reflection.
  auto menuOf = [&](int row) {
    list->setCurrentItem(list->topLevelItem(row));
    QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(0, 0), QPoint(0, 0));
    QApplication::sendEvent(list, &key);
    return list->findChild<QMenu*>("TraceListPopup");
  };
  auto enter = [](QMenu* menu, const char* edit, const char* text) {
    auto* e = menu->findChild<QLineEdit*>(edit);
    ASSERT_NE(e, nullptr) << edit;
    e->setText(text);
    emit e->returnPressed();
  };
  QMenu* menu = menuOf(0);
  ASSERT_NE(menu, nullptr);
  MaybeScreenshot(menu, "plotdesk_trace_menu");
  enter(menu, "FilterAveragingDegreeEdit", "2");
  enter(menu, "FilterSmoothingWindowEdit", "2");
  menu = menuOf(1);
  QMenu* stat = menu->findChild<QMenu*>("FilterStat");
  ASSERT_NE(stat, nullptr);
  stat->actions().at(1)->trigger();
  auto nothingShown = [&] {
    for (auto it = chart->graph(1)->data()->constBegin(); it != chart->graph(1)->data()->constEnd(); ++it)
      if (!std::isnan(it->value)) return false;
    return true;
  };
  // At once: the stored sweep only seeds the sums.
  EXPECT_TRUE(nothingShown());
  EXPECT_EQ(list->topLevelItem(0)->text(5), "  Сгл2  Ср2");
  EXPECT_EQ(list->topLevelItem(1)->text(5), " СКО   ");
  // Then the noise's deviations.
  auto allShown = [&] {
    if (!full(1)) return false;
    for (auto it = chart->graph(1)->data()->constBegin(); it != chart->graph(1)->data()->constEnd(); ++it)
      if (std::isnan(it->value)) return false;
    return true;
  };
  ASSERT_TRUE(runner.RunUntil(allShown, 10000));
  for (int i : {0, 400, 800, 1600}) {
    EXPECT_TRUE(std::isfinite(at(0, i))) << i;
    EXPECT_GE(at(1, i), 0) << i;
    EXPECT_LT(at(1, i), 3) << i;
  }
  MaybeScreenshot(runner.Host(), "plotdesk_scheme");
  runner.Stop();
  EXPECT_EQ(reports.CountText("предустановок"), reports.Count());
}

// What the operator made survives closing the scheme: kept in the scheme's
// default profile when it stops, brought back when it starts again.
TEST(PlotDeskScheme, TracesAndFiltersSurviveReopeningTheScheme) {
  TAppFirst app;
  vkplatform::ReportCapture reports;
  const std::string file = TestHome() + "/kept.vms";
  std::ofstream(file) << R"(<scheme name="kept">
    <node name="diagram" class="TPlotDesk"><parameters><channels>
      <channel name="Передача" quantityr="дБ" quantitys="МГц"><trace/></channel></channels></parameters></node>
  </scheme>)";
  CSchemeRunner runner(PluginsDir());
  auto rows = [&] {
    QStringList cells;
    auto* list = runner.Host()->findChild<QTreeWidget*>("TraceList");
    for (int i = 0; list && i < list->topLevelItemCount(); ++i)
      cells << list->topLevelItem(i)->text(0) + "|" + list->topLevelItem(i)->text(5);
    return cells;
  };
  const QStringList made{"Трс1|  Сгл7  ", "Мат1|    "};
  ASSERT_EQ(runner.Open(file), 0);
  fs::remove(runner.Scheme().DefaultProfileFileName());
  ASSERT_EQ(runner.Start(), 0);
  auto* newMath = runner.Host()->findChild<QAction*>("ActionNewMathTrace");
  ASSERT_NE(newMath, nullptr);
  newMath->trigger();
  auto* list = runner.Host()->findChild<QTreeWidget*>("TraceList");
  list->setCurrentItem(list->topLevelItem(0));
  QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(0, 0), QPoint(0, 0));
  QApplication::sendEvent(list, &key);
  auto* window = list->findChild<QLineEdit*>("FilterSmoothingWindowEdit");
  ASSERT_NE(window, nullptr);
  window->setText("7");
  emit window->returnPressed();
  EXPECT_EQ(rows(), made);
  ASSERT_EQ(runner.Stop(), 0);
  ASSERT_EQ(runner.Close(), 0);
  ASSERT_EQ(runner.Open(file), 0);
  ASSERT_EQ(runner.Start(), 0);
  EXPECT_EQ(rows(), made);
  runner.Stop();
  EXPECT_EQ(reports.CountText("предустановок"), reports.Count());
}

// The simulated instrument's sweep range is changed from its panel while
// it sweeps, after each of its parts and between them, back and forth: no
// trace leaves argument order (the difference from a memory trace goes on
// from where it was), the markers that search and read the traces say
// nothing, and the data trace ends on a whole sweep of the last range.
TEST(PlotDeskScheme, RangeChangedWhileItSweeps) {
  TAppFirst app;
  vkplatform::ReportCapture reports;
  const std::string reference = TestHome() + "/reference.trc", markers = TestHome() + "/peak.mrk";
  {
    std::ofstream out(reference);
    for (int i = 0; i <= 400; ++i) out << 100 + 2.5 * i << "\t" << -20 << "\n";
  }
  std::ofstream(markers) << kTraceMarkers;
  const std::string file = TestHome() + "/ranges.vms";
  std::ofstream(file) << R"(<scheme name="ranges">
    <node name="run" class="TRunGuide"><parameters caption="Измерение"/>
      <output name="command"><link node="link" linkpoint="command" queue="8"/></output></node>
    <node name="sweep" class="TConstPanel">
      <parameters type="parameter" control="true" caption="Диапазон" parameter="P_FREQUENCY" base="8" fract="2">
        <element value="100"/><element value="1100"/><element value="401"/></parameters>
      <output name="command"><link node="link" linkpoint="command" queue="16"/></output>
      <output name="value1"><link node="diagram" linkpoint="MinStimulus" queue="4"/></output>
      <output name="value2"><link node="diagram" linkpoint="MaxStimulus" queue="4"/></output></node>
    <node name="diagram" class="TPlotDesk"><parameters><channels>
      <channel name="Передача" quantityr="дБ" quantitys="МГц"><trace/><memory file=")" +
                          reference + R"("/></channel>
      <channel name="Отражение" quantityr="дБ" quantitys="МГц"><trace/></channel></channels>
      <math operand1="Трс1" operand2="Пам1" operation="0"/><markers template=")" +
                          markers + R"("/></parameters></node>
    <node name="link" class="TInstrumentLink"><parameters address="sim" simrate="4" simpart="100"/>
      <output name="command"><link node="run" linkpoint="command" queue="16"/>
        <link node="sweep" linkpoint="command" queue="16"/></output>
      <output name="F"><link node="diagram" linkpoint="X" queue="64"/></output>
      <output name="A"><link node="diagram" linkpoint="Y1" queue="64"/></output>
      <output name="B"><link node="diagram" linkpoint="Y2" queue="64"/></output></node>
  </scheme>)";
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(file), 0) << (reports.Count() ? reports.Reports().back().text : "");
  fs::remove(runner.Scheme().DefaultProfileFileName());
  ASSERT_EQ(runner.Start(), 0);
  auto* chart = runner.Host()->findChild<QCustomPlot*>("Chart");
  auto* start = runner.Host()->findChild<QAction*>("ActionStart");
  CBasePlugin* sweep = nullptr;
  ASSERT_EQ(runner.Scheme().GetPlugin(sweep, "sweep"), 0);
  ASSERT_TRUE(chart && start && sweep);
  ASSERT_EQ(chart->graphCount(), 4);
  ASSERT_TRUE(runner.RunUntil([&] { return start->isEnabled(); }, 5000));
  start->trigger();
  // Every look at the chart finds each series in the order of its arguments.
  int disorders = 0;
  auto ordered = [&] {
    for (int g = 0; g < chart->graphCount(); ++g) {
      const auto* data = chart->graph(g)->data().data();
      for (auto it = data->constBegin(); it != data->constEnd() && it + 1 != data->constEnd(); ++it)
        if ((it + 1)->key < it->key) {
          ++disorders;
          return;
        }
    }
  };
  auto frames = [&] { return chart->property("framesTaken").toULongLong(); };
  auto waitFrames = [&](unsigned long long n) {
    const auto until = frames() + n;
    return runner.RunUntil([&] {
      ordered();
      return frames() >= until;
    }, 10000);
  };
  ASSERT_TRUE(waitFrames(6));
  const double ranges[][2] = {{1100, 2100}, {100, 600}, {1500, 2500}, {300, 800}, {700, 1700}};
  for (int change = 0; change < 10; ++change) {
    SCOPED_TRACE(change);
    // After one to five parts of the sweep; the second time round half a
    // part later.
    ASSERT_TRUE(waitFrames(1 + change % 5));
    if (change >= 5) runner.RunFor(25);
    const double* r = ranges[change % 5];
    VKCore::CXMLDocument state;
    ASSERT_EQ(state.OpenFromText("<parameters><element value=\"" + std::to_string(r[0]) + "\"/><element value=\"" +
                                 std::to_string(r[1]) + "\"/><element value=\"401\"/></parameters>"),
              0);
    ASSERT_EQ(sweep->DoDeserialize(state.Root(), nullptr), 0);
    AnsiString busy;
    ASSERT_TRUE(runner.RunUntil([&] {
      ordered();
      return sweep->Query("busy", busy) == VKT_OK && busy == "0";
    }, 5000));
  }
  // The last range, whole, on the data trace.
  const double lo = ranges[4][0], hi = ranges[4][1];
  ASSERT_TRUE(runner.RunUntil([&] {
    ordered();
    const auto* data = chart->graph(0)->data().data();
    if (data->size() != 401 || data->constBegin()->key != lo || (data->constEnd() - 1)->key != hi) return false;
    for (auto it = data->constBegin(); it != data->constEnd(); ++it)
      if (std::isnan(it->value)) return false;
    return true;
  }, 10000));
  waitFrames(10);
  runner.Stop();
  EXPECT_EQ(disorders, 0);
  EXPECT_EQ(reports.CountText("предустановок"), reports.Count())
      << (reports.Count() ? reports.Reports().back().text : "");
}

// A trace file keeps every digit: half a million readings loaded into a
// memory trace (on a channel in dB, shown as they are) and saved again come
// back bit for bit, arguments in their own order included.
TEST(DiagramTraces, TraceFilesKeepEveryDigit) {
  vkplatform::ReportCapture reports;
  TArea a;
  constexpr unsigned kPoints = 500000;
  std::mt19937_64 random(8122026);
  std::uniform_real_distribution<double> hertz(1e5, 2e10), decibels(-140, 30);
  CDoubleMatrix original;
  auto* x = new CDoubleVector(kPoints);
  auto* y = new CDoubleVector(kPoints);
  for (unsigned i = 0; i < kPoints; ++i) {
    (*x)[i] = hertz(random);
    (*y)[i] = i % 2 ? decibels(random) : std::ldexp(decibels(random), static_cast<int>(i % 600) - 300);
  }
  (*x)[1] = 749999.75;
  (*y)[1] = 1083.125;
  original.InsertColumn(x);
  original.InsertColumn(y);
  const std::string file = TestHome() + "/every-digit.trc", again = TestHome() + "/every-digit-again.trc";
  ASSERT_EQ(original.SaveToFile(file), 0);
  CTraceStatic* m = a.area.CreateMemoryTrace(&a.c1);
  ASSERT_EQ(m->LoadFromFile(file), 0);
  ASSERT_EQ(m->SaveToFile(again), 0);
  CDoubleMatrix back;
  ASSERT_EQ(back.LoadFromFile(again), 0);
  ASSERT_EQ(back.Columns(), 2u);
  ASSERT_EQ(back.Rows(), kPoints);
  unsigned differ = 0;
  for (unsigned c = 0; c < 2; ++c)
    for (unsigned i = 0; i < kPoints; ++i)
      if (std::memcmp(&(*back.Column(c))[i], &(*original.Column(c))[i], sizeof(double)) != 0 && differ++ < 3)
        ADD_FAILURE() << c << "," << i << ": " << (*original.Column(c))[i] << " came back as " << (*back.Column(c))[i];
  EXPECT_EQ(differ, 0u);
  EXPECT_EQ(reports.Count(), 0u);
}

// Limit lines on the diagram's traces: the scheme's parameters set them,
// every whole sweep is judged after the filters, the display sends its
// verdict (with a link marker's reading and its limits) on "verdict", the
// remote questions read and change them, and the profile keeps them.
TEST(PlotDesk, LimitLinesJudgeEveryWholeSweep) {
  const std::string parameters = R"(<parameters>
    <channels><channel name="К1" quantityr="дБ" quantitys="МГц"><trace>
      <limits><upper start="100" stop="140" startlevel="-10" stoplevel="-10"/></limits>
    </trace></channel></channels></parameters>)";
  ASSERT_EQ(vkplatform::ComRegisterServer(VK_INTERPRETER_LIBRARY), S_OK);  // the link marker's formula
  TDesk d({kX, kY1}, parameters);
  CPacketQueue out(16);
  CInLinkPoint verdicts("verdicts", {MetaClassOf<CStringPacket>()}, lptDefault);
  verdicts.AddSubscription(&out);
  d.desk.GetOutLinkPoint(AnsiString("verdict"))->SetDispatcher(&out);
  auto ask = [&](const std::string& question) {
    AnsiString answer;
    EXPECT_EQ(d.desk.Query(question, answer), VKT_OK) << question << ": " << answer;
    return std::string(answer);
  };
  // Link marker 0 reads marker 0's argument, which must lie within 95..105.
  korchart::MarksManager* marks = d.desk.Area()->Marks();
  marks->Mark(0)->Activate();
  marks->Mark(0)->SetOnFreq(110);
  marks->Mark(1)->Activate();
  korchart::SLinkParams link;
  link.used = true;
  link.description = "Частота";
  link.expression = "а.арг";
  link.limits = {true, true, true, 95, 105};
  ASSERT_EQ(marks->CreateLink(0, 1)->SetParams(link, false), 0);

  // Values level + index over 40 points from 100 MHz, sent in two parts.
  auto sweep = [&](double level, int number) {
    for (unsigned offset : {0u, 20u}) {
      d.Send(kX, d.Vector(40, offset, 20, 100));
      d.Send(kY1, d.Vector(40, offset, 20, level));
    }
    ASSERT_TRUE(d.RunUntil([&] { return ask("sweeps marked") == std::to_string(number); }));
  };
  auto outcome = [&] {
    korchart::TDisplayOutcome o;
    std::string error;
    std::unique_ptr<CBasePacket> p;
    while (CBasePacket* next = verdicts.GetPacketCopyAndRelease()) p.reset(next);
    auto* text = dynamic_cast<CStringPacket*>(p.get());
    EXPECT_TRUE(text && korchart::OutcomeFromXml(text->GetString(), o, error)) << error;
    return o;
  };
  sweep(-60, 1);  // the highest point inside the limit: -60 + 39 at 139
  EXPECT_EQ(ask("limits verdict 0").substr(0, 7), "PASS,11") << ask("limits verdict 0");
  korchart::TDisplayOutcome o = outcome();
  ASSERT_EQ(o.traces.size(), 1u);
  EXPECT_TRUE(o.traces[0].verdict.pass);
  EXPECT_EQ(o.sweep, 1u);
  // The marker at 110 puts the link marker out of its band: the display fails.
  ASSERT_EQ(o.readings.size(), 3u) << "two markers and the link marker";
  EXPECT_EQ(o.readings[2].name, "Частота");
  EXPECT_DOUBLE_EQ(o.readings[2].value, 110);
  EXPECT_FALSE(o.verdict.pass);
  EXPECT_EQ(ask("limits verdict").substr(0, 7), "FAIL,-5");
  marks->Mark(0)->SetOnFreq(100);
  sweep(-45, 2);  // over -10 from index 36 on
  o = outcome();
  EXPECT_FALSE(o.traces[0].verdict.pass);
  EXPECT_EQ(o.traces[0].verdict.failing, 4u);
  EXPECT_DOUBLE_EQ(o.traces[0].verdict.worstMargin, -4);
  EXPECT_DOUBLE_EQ(o.traces[0].verdict.argument, 139);
  EXPECT_EQ(std::count(d.Trace(0)->FailingPoints().begin(), d.Trace(0)->FailingPoints().end(), 1), 4);
  EXPECT_EQ(ask("limits verdict").substr(0, 4), "FAIL");
  // Drawn: the failing points in red, the trace's and the display's labels.
  korchart::TLimitDrawing* drawing = d.desk.Area()->LimitDrawing(d.Trace(0));
  ASSERT_NE(drawing, nullptr);
  EXPECT_EQ(drawing->Failing()->data()->size(), 4);
  EXPECT_NE(drawing->Label().Item()->text().indexOf(korchart::kFailText), -1);
  ASSERT_NE(d.desk.Area()->DisplayVerdictLabel(), nullptr);
  EXPECT_NE(d.desk.Area()->DisplayVerdictLabel()->Item()->text().indexOf(korchart::kFailText), -1);
  // The dialog from the trace list's menu: the limit raised to 0 passes.
  const TModalDialogHook previous = SetModalDialogHook([](QDialog* dialog) {
    auto* table = dialog->findChild<QTableWidget*>("LimitTable");
    if (!table || table->rowCount() != 1) return static_cast<int>(QDialog::Rejected);
    for (int column : {3, 4}) table->item(0, column)->setText("0");
    dialog->accept();
    return dialog->result();
  });
  d.desk.Area()->Select(0);
  d.desk.Area()->RebuildListMenu();
  QAction* limitsItem = d.desk.Area()->ListMenu()->findChild<QAction*>("ActionLimits");
  ASSERT_NE(limitsItem, nullptr);
  limitsItem->trigger();
  SetModalDialogHook(previous);
  EXPECT_EQ(d.Trace(0)->Limits().upper.at(0).stopLevel, 0);
  EXPECT_EQ(ask("limits verdict 0").substr(0, 4), "PASS");
  drawing = d.desk.Area()->LimitDrawing(d.Trace(0));
  ASSERT_NE(drawing, nullptr);
  EXPECT_EQ(drawing->Failing()->data()->size(), 0);

  // Switched off and replaced remotely; a bad CSV changes nothing.
  ask("limits state 0 off");
  EXPECT_EQ(ask("limits state 0"), "0");
  EXPECT_EQ(ask("limits verdict 0"), "NONE,,");
  AnsiString error;
  EXPECT_EQ(d.desk.Query("limits data 0 верхняя,1,2", error), VKT_ERROR);
  EXPECT_NE(std::string(error).find("Строка 1"), std::string::npos) << error;
  ask("limits data 0 верхняя,100,140,0,0|нижняя,100,140,-50,-50");
  ask("limits state 0 on");
  EXPECT_EQ(ask("limits verdict").substr(0, 4), "PASS");
  EXPECT_NE(ask("limits data 0").find("нижняя,100,140,-50,-50"), std::string::npos);
  // A marker's reading with a tolerance counts too: marker 0 reads -45 at
  // 100, above its maximum of -100.
  korchart::SMarkParams m0 = marks->Mark(0)->GetParams();
  m0.readingLimits = {true, false, true, 0, -100};
  marks->Mark(0)->SetParams(m0);
  EXPECT_EQ(ask("limits verdict").substr(0, 8), "FAIL,-55") << ask("limits verdict");

  // The profile keeps the limits; the scheme's would not be these.
  VKCore::CXMLDocument state(false);
  state.New("parameters");
  ASSERT_EQ(d.desk.DoSerialize(state.Root(), nullptr), 0);
  TDesk again({kX, kY1}, parameters);
  ASSERT_EQ(again.desk.DoDeserialize(state.Root(), nullptr), 0);
  ASSERT_EQ(again.Trace(0)->Limits().lower.size(), 1u);
  EXPECT_EQ(again.Trace(0)->Limits().upper.at(0).startLevel, 0);
}
