// The diagram area as an operator drives it: the parameters (defaults and
// garbage), re-filtering a stored sweep, the trace menu's number items,
// the colour dialog, marker templates and the report through the dialog
// hooks, and the menu key.
#include <gtest/gtest.h>

#include <QAction>
#include <QColorDialog>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTreeWidget>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "GuiPlugin.h"
#include "PlotDeskSettings.h"
#include "PluginFeed.h"
#include "TestHome.h"
#include "VKXml.h"
#include "markers/MarksManager.h"
#include "markers/Metka.h"
#include "model/TraceMath.h"
#include "platform/Report.h"
#include "qcustomplot.h"
#include "report/ReportManager.h"
#include "ui/DiagramArea.h"

using namespace plotdesk;

namespace {

TPlotDeskSettings Read(const std::string& xml) {
  VKCore::CXMLDocument doc;
  EXPECT_EQ(doc.OpenFromText(xml), 0);
  return ReadPlotDeskSettings(doc.Root());
}

struct TOneChannel : TAppFirst {
  TOneChannel() : area(&host, false) {
    host.resize(700, 400);
    area.Panel()->resize(700, 400);
    area.AddChannel(&channel);
    host.show();
  }
  void Sweep(size_t full, size_t offset, size_t n) {
    std::vector<double> x(n), y(n);
    for (size_t i = 0; i < n; ++i) {
      x[i] = static_cast<double>(offset + i);
      y[i] = -static_cast<double>(offset + i);
    }
    channel.SetArraySize(full);
    channel.Deliver(offset, n, x.data(), y.data());
  }
  QWidget host;
  CDiagramArea area;
  CChannel channel{"К1", "дБ", "МГц"};
};

}  // namespace

TEST(PlotDeskSettings, DefaultsGarbageAndExtras) {
  vkplatform::ReportCapture reports;
  TPlotDeskSettings s = Read("<parameters/>");
  EXPECT_TRUE(s.fastLine);
  EXPECT_FALSE(s.fps);
  EXPECT_EQ(s.refPosition, 5);
  EXPECT_EQ(s.right, 100);
  EXPECT_TRUE(s.channels.empty());
  s = Read(R"(<parameters fastline="false" refposition="12.9">
      <position left="abc" top="20.9" width="1e300" height="30"/>
      <channels><channel name="К"><trace reference="x" scalediv="0.0001" averaging="40" smoothing="2.5"/>
        <trace averaging="4" deviation="true"/>
        <memory file="[schemes]/ref.trc"/></channel><other/></channels>
      <math operand1="Трс1" operand2="Пам1" operation="9"/></parameters>)");
  EXPECT_FALSE(s.fastLine);
  EXPECT_EQ(s.refPosition, 10);
  EXPECT_EQ(s.left, 0);
  EXPECT_EQ(s.top, 20);
  EXPECT_EQ(s.bottom, 50);
  EXPECT_LE(s.right, 1000);  // an absurd width is bounded
  ASSERT_EQ(s.channels.size(), 1u);
  ASSERT_EQ(s.channels[0].traces.size(), 2u);
  EXPECT_DOUBLE_EQ(s.channels[0].traces[0].reference, 0);
  EXPECT_DOUBLE_EQ(s.channels[0].traces[0].scaleDiv, 0.01);
  // Filters at start: a degree out of range is none.
  EXPECT_EQ(s.channels[0].traces[0].averaging, 0);
  EXPECT_DOUBLE_EQ(s.channels[0].traces[0].smoothing, 2.5);
  EXPECT_EQ(s.channels[0].traces[1].averaging, 4);
  EXPECT_TRUE(s.channels[0].traces[1].deviation);
  EXPECT_LT(s.channels[0].traces[1].smoothing, 0);
  ASSERT_EQ(s.channels[0].memories.size(), 1u);
  EXPECT_EQ(s.channels[0].memories[0].file.find("[schemes]"), std::string::npos);
  ASSERT_EQ(s.maths.size(), 1u);
  EXPECT_EQ(s.maths[0].operation, 0);
}

TEST(DiagramTraces, RefilterRunsTheStoredSweepOldestFirst) {
  TOneChannel c;
  CTraceData* t = c.area.CreateDataTrace(&c.channel);
  // A sweep that started at 60 of 100 points and went round.
  c.Sweep(100, 60, 40);
  c.Sweep(100, 0, 60);
  ASSERT_EQ(t->PointCount(), 100u);
  EXPECT_EQ(t->Sweep().received, 100u);
  t->Refilter();
  // The same points, in place, and nothing lost or added.
  ASSERT_EQ(t->PointCount(), 100u);
  for (size_t i : {0u, 59u, 60u, 99u}) {
    EXPECT_DOUBLE_EQ(t->PointX(i), static_cast<double>(i));
    EXPECT_DOUBLE_EQ(t->PointValue(i), -static_cast<double>(i));
  }
  // Without a complete sweep only the filters start again.
  CTraceData* fresh = c.area.CreateDataTrace(&c.channel);
  fresh->Refilter();
  EXPECT_EQ(fresh->PointCount(), 0u);
}

TEST(DiagramArea, TraceMenuNumbersColourAndMenuKey) {
  TOneChannel c;
  CTraceData* t = c.area.CreateDataTrace(&c.channel);
  c.area.RebuildListMenu();
  // The reference item takes a number (a comma too) on Enter; garbage is ignored.
  auto* reference = c.area.ListMenu()->findChild<QLineEdit*>("TraceReferenceEdit");
  auto* scale = c.area.ListMenu()->findChild<QLineEdit*>("TraceScaleEdit");
  ASSERT_NE(reference, nullptr);
  ASSERT_NE(scale, nullptr);
  reference->setText("-12,5");
  emit reference->returnPressed();
  EXPECT_DOUBLE_EQ(t->ReferenceLevel(), -12.5);
  scale->setText("много");
  emit scale->returnPressed();
  EXPECT_DOUBLE_EQ(t->Scale(), 10);
  scale->setText("2");
  emit scale->returnPressed();
  EXPECT_DOUBLE_EQ(t->Scale(), 2);
  EXPECT_DOUBLE_EQ(t->ReferenceLevel(), -12.5);  // the level stays
  // The colour dialog's choice colours the series and the row's icon.
  TModalDialogHook previous = SetModalDialogHook([](QDialog* d) {
    auto* colours = qobject_cast<QColorDialog*>(d);
    if (!colours) return int(QDialog::Rejected);
    colours->setCurrentColor(QColor(0x12, 0x34, 0x56));
    colours->accept();
    return int(QDialog::Accepted);
  });
  QTreeWidget* list = c.area.List();
  emit list->itemDoubleClicked(c.area.Row(0), CDiagramArea::colKind);
  SetModalDialogHook(previous);
  EXPECT_EQ(t->Color(), QColor(0x12, 0x34, 0x56));
  // The menu key opens the list's menu with the trace's items.
  list->setFocus();
  QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(0, 0), QPoint(0, 0));
  QApplication::sendEvent(list, &key);
  EXPECT_TRUE(c.area.ListMenu()->isVisible());
  EXPECT_NE(c.area.ListMenu()->findChild<QMenu*>("TraceChannel"), nullptr);
  c.area.ListMenu()->close();
}

TEST(DiagramArea, MarkerTemplatesAndTheReport) {
  vkplatform::ReportCapture reports;
  TOneChannel c;
  c.area.CreateDataTrace(&c.channel);
  c.Sweep(10, 0, 10);
  const std::string file = TestHome() + "/diagram.mrk";
  std::filesystem::remove(file);
  TFileDialogHook previous = SetFileDialogHook([&](const TFileDialogRequest& r) {
    EXPECT_EQ(r.defaultSuffix, "mrk");
    return QString::fromStdString(r.save ? file : TestHome() + "/missing.mrk");
  });
  c.area.Marks()->Mark(0)->Activate();
  c.area.Action(CDiagramArea::actSaveMarkers)->trigger();
  EXPECT_TRUE(std::filesystem::exists(file));
  c.area.Action(CDiagramArea::actOpenMarkers)->trigger();
  EXPECT_EQ(reports.CountText("Ошибка при открытии файла"), 1);
  SetFileDialogHook(previous);
  // The report titles the trace after its channel, reference and scale.
  int shown = 0;
  TModalDialogHook modal = SetModalDialogHook([&](QDialog* d) {
    ++shown;
    EXPECT_EQ(d->windowTitle(), "Менеждер отчётов");
    return int(QDialog::Rejected);
  });
  c.area.Action(CDiagramArea::actReport)->trigger();
  SetModalDialogHook(modal);
  EXPECT_EQ(shown, 1);
  ASSERT_NE(c.area.Report(), nullptr);
  EXPECT_EQ(c.area.ReportTitles().at(0), "Трс1(К1 оп.0/10 дБ)");
}

TEST(DiagramTraces, PointsKeepTheirPlacesWhateverTheArguments) {
  TOneChannel c;
  CTraceData* t = c.area.CreateDataTrace(&c.channel);
  CTraceData* other = c.area.CreateDataTrace(&c.channel);
  // A sweep of descending arguments in two parts.
  std::vector<double> x1{10, 9, 8, 7, 6}, x2{5, 4, 3, 2, 1}, y{0, 1, 2, 3, 4};
  c.channel.SetArraySize(10);
  c.channel.Deliver(0, 5, x1.data(), y.data());
  c.channel.Deliver(5, 5, x2.data(), y.data());
  ASSERT_EQ(t->PointCount(), 10u);
  EXPECT_DOUBLE_EQ(t->PointX(0), 10);
  EXPECT_DOUBLE_EQ(t->PointX(5), 5);
  // One point where the sweep does not go on: nulls before it, the point last.
  std::vector<double> one{7}, value{-3};
  c.channel.Deliver(3, 1, one.data(), value.data());
  ASSERT_EQ(t->PointCount(), 4u);
  EXPECT_TRUE(std::isnan(t->PointValue(0)));
  EXPECT_DOUBLE_EQ(t->PointValue(3), -3);
  // Deleting another trace keeps the selection (and its axis).
  c.area.Select(1);
  c.area.DeleteTrace(0);
  EXPECT_EQ(c.area.Selected(), 0);
  EXPECT_EQ(other->Series()->valueAxis(), c.area.Chart()->yAxis);
}

// "Сбросить статистику" of the chart's menu starts the markers' statistics again.
TEST(DiagramArea, ChartMenuResetsTheMarkersStatistics) {
  TOneChannel c;
  c.area.CreateDataTrace(&c.channel);
  c.Sweep(10, 0, 10);
  korchart::Metka* m = c.area.Marks()->Mark(0);
  m->Activate();
  korchart::SMarkParams p = m->GetParams();
  p.showStatistics = true;
  m->SetParams(p);
  for (int i = 0; i < 2; ++i) c.area.Marks()->Update();
  ASSERT_EQ(m->GetStat(1).n, 2);
  QAction* reset = c.area.ChartMenu()->findChild<QAction*>("ActionResetStatistics");
  ASSERT_NE(reset, nullptr);
  EXPECT_EQ(reset->text(), "Сбросить статистику");
  reset->trigger();
  EXPECT_EQ(m->GetStat(1).n, 0);
}

// The filters' number items sit in their submenus, and Enter there closes
// the whole menu; the plot keeps margins of 1 % left, right and bottom and
// 10 % at the top of the chart, whatever its size.
TEST(DiagramArea, FilterEditItemsInTheirSubmenusAndTheChartMargins) {
  vkplatform::ReportCapture reports;
  TOneChannel c;
  CTraceData* t = c.area.CreateDataTrace(&c.channel);
  c.area.RebuildListMenu();
  QMenu* menu = c.area.ListMenu();
  for (const auto& [submenu, item] : {std::pair{"FilterAccumulation", "FilterAveragingDegree"},
                                      std::pair{"FilterSmoothing", "FilterSmoothingWindow"}}) {
    auto* sub = menu->findChild<QMenu*>(submenu);
    ASSERT_NE(sub, nullptr) << submenu;
    auto owns = [&](QMenu* m) {
      for (QAction* a : m->actions())
        if (a->objectName() == item) return true;
      return false;
    };
    EXPECT_TRUE(owns(sub)) << item;
    EXPECT_FALSE(owns(menu)) << item;
  }
  menu->popup(QPoint(10, 10));
  auto* averaging = menu->findChild<QMenu*>("FilterAccumulation");
  averaging->popup(QPoint(200, 10));
  ASSERT_TRUE(menu->isVisible() && averaging->isVisible());
  auto* degree = averaging->findChild<QLineEdit*>("FilterAveragingDegreeEdit");
  ASSERT_NE(degree, nullptr);
  degree->setText("3");
  emit degree->returnPressed();
  EXPECT_FALSE(averaging->isVisible());
  EXPECT_FALSE(menu->isVisible());
  EXPECT_EQ(FilterTags(t->Filters()), "    Ср3");
  // A degree no int holds is refused like any other outside 1..32.
  degree->setText("1e300");
  emit degree->returnPressed();
  EXPECT_EQ(reports.CountText("Степень усреднения должна быть"), 1u);
  EXPECT_EQ(FilterTags(t->Filters()), "    Ср3");

  QCustomPlot* chart = c.area.Chart();
  for (const QSize size : {QSize(700, 400), QSize(1234, 567)}) {
    c.host.resize(size);
    c.area.Panel()->resize(size);
    QApplication::processEvents();
    const int w = chart->width(), h = chart->height();
    ASSERT_GT(h, 100);
    EXPECT_EQ(chart->plotLayout()->margins(), QMargins(w / 100, h / 10, w / 100, h / 100)) << w << "x" << h;
  }
  EXPECT_EQ(reports.Count(), 1u);
}
