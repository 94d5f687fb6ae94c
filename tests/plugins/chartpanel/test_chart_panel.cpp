// The chart panel: which curves come with which wires, sweeps arriving in
// parts (filling, replacing, starting again, the bottom axis spanning the
// sweep), frames that do not fit together, the memories and their menu,
// the parameters, marker templates and the report; the plug-in's thread
// against a busy window and a stop; and a scheme with the simulated
// instrument whose sweeps the chart holds whole.
#include <gtest/gtest.h>

#include <QDialog>
#include <QMainWindow>
#include <QMenu>
#include <QTest>
#include <QDir>
#include <QFileInfo>
#include <QToolButton>

#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "ChartPanel.h"
#include "GuiPlugin.h"
#include "PacketQueue.h"
#include "PluginFeed.h"
#include "SchemeRunner.h"
#include "Screenshot.h"
#include "TestApp.h"
#include "TestHome.h"
#include "VKPaths.h"
#include "VKXml.h"
#include "chart/KorChart.h"
#include "chart/MarkersManager.h"
#include "markers/MarksManager.h"
#include "markers/Metka.h"
#include "platform/Report.h"
#include "qcustomplot.h"

namespace fs = std::filesystem;

namespace {

enum { F, A, B, R };

// A chart panel fed through its four inputs.
struct TPanel : TPluginFeed<TChartPanel, 4> {
  explicit TPanel(const std::set<int>& wired, const std::string& parameters = "<parameters/>")
      : TPluginFeed(wired, parameters, "chart", QSize(900, 560)) {}
  // A part of a sweep of `full` points: arguments 100 + i and the values
  // given by `value`, on the inputs listed.
  template <class Value>
  void SendPart(unsigned full, unsigned offset, unsigned size, const std::set<int>& inputs, Value value) {
    for (int input : inputs) {
      auto* p = new CDoubleVectorPart(size, full, offset);
      for (unsigned i = 0; i < size; ++i) (*p)[i] = input == F ? 100.0 + offset + i : value(input, offset + i);
      Send(input, p);
    }
  }
  int Count(int series) const { return chart.Series(series)->data()->size(); }
  double Value(int series, int i) const { return (chart.Series(series)->data()->constBegin() + i)->value; }

  TChartPanel& chart = plugin;
};

double Level(int input, unsigned i) { return input == A ? -10.0 - i * 0.01 : -20.0 + i * 0.01; }

}  // namespace

TEST(ChartPanel, CurvesFollowTheirWiresAndFramesNeedEveryWiredInput) {
  vkplatform::ReportCapture reports;
  TPanel p({F, B});
  EXPECT_FALSE(p.chart.Series(0)->visible());
  EXPECT_TRUE(p.chart.Series(1)->visible());
  EXPECT_FALSE(p.chart.Series(2)->visible());
  auto* f = new CDoubleVector(3);
  for (unsigned i = 0; i < 3; ++i) (*f)[i] = 10.0 * (i + 1);
  p.Send(F, f);
  p.RunUntil([] { return false; }, 50);
  EXPECT_EQ(p.Count(1), 0);  // "B" has nothing yet
  auto* b = new CDoubleVector(3);
  for (unsigned i = 0; i < 3; ++i) (*b)[i] = -1.0 * i;
  p.Send(B, b);
  ASSERT_TRUE(p.RunUntil([&] { return p.Count(1) == 3; }));
  EXPECT_DOUBLE_EQ(p.Value(1, 2), -2);
  EXPECT_TRUE(p.Drained());
  // The same sweep again replaces the values; it does not add points.
  auto* f2 = new CDoubleVector(3);
  for (unsigned i = 0; i < 3; ++i) (*f2)[i] = 10.0 * (i + 1);
  auto* b2 = new CDoubleVector(3);
  for (unsigned i = 0; i < 3; ++i) (*b2)[i] = 5;
  p.Send(F, f2);
  p.Send(B, b2);
  ASSERT_TRUE(p.RunUntil([&] { return p.Value(1, 0) == 5; }));
  EXPECT_EQ(p.Count(1), 3);
  // A "Правый" read for the reports (the presets file is missing here).
  EXPECT_EQ(reports.CountText("Невозможно открыть файл предустановок связных маркеров"), 1u);
}

TEST(ChartPanel, SweepsInPartsFillReplaceAndStartAgain) {
  TPanel p({F, A});
  const std::set<int> inputs{F, A};
  p.SendPart(400, 0, 100, inputs, Level);
  ASSERT_TRUE(p.RunUntil([&] { return p.Count(0) == 100; }));
  // While it fills, the bottom axis spans the whole sweep: 100 .. 499.
  EXPECT_DOUBLE_EQ(p.chart.Chart()->xAxis->range().lower, 100);
  EXPECT_DOUBLE_EQ(p.chart.Chart()->xAxis->range().upper, 499);
  p.SendPart(400, 100, 100, inputs, Level);
  ASSERT_TRUE(p.RunUntil([&] { return p.Count(0) == 200; }));
  EXPECT_DOUBLE_EQ((p.chart.Series(0)->data()->constBegin() + 150)->key, 250);
  p.SendPart(400, 200, 200, inputs, Level);
  ASSERT_TRUE(p.RunUntil([&] { return p.Count(0) == 400; }));
  // The next sweep's first part replaces values only.
  p.SendPart(400, 0, 100, inputs, [](int, unsigned) { return 1.5; });
  ASSERT_TRUE(p.RunUntil([&] { return p.Value(0, 50) == 1.5; }));
  EXPECT_EQ(p.Count(0), 400);
  EXPECT_DOUBLE_EQ(p.Value(0, 150), Level(A, 150));
  // Other arguments: the curve starts again from them.
  auto* f = new CDoubleVectorPart(100, 400, 0);
  auto* a = new CDoubleVectorPart(100, 400, 0);
  for (unsigned i = 0; i < 100; ++i) {
    (*f)[i] = 1000.0 + i;
    (*a)[i] = 7;
  }
  p.Send(F, f);
  p.Send(A, a);
  ASSERT_TRUE(p.RunUntil([&] { return p.Count(0) == 100; }));
  EXPECT_DOUBLE_EQ(p.chart.Series(0)->data()->constBegin()->key, 1000);
  // A new sweep size cuts back to the part's offset.
  p.SendPart(800, 50, 10, inputs, Level);
  ASSERT_TRUE(p.RunUntil([&] { return p.Count(0) == 60; }));
}

// Automation's "sweeps" (what *OPC? waits for) count sweeps taken whole:
// a sweep whose first parts were missed is none.
TEST(ChartPanel, OnlyWholeSweepsCount) {
  TPanel p({F, A});
  const std::set<int> inputs{F, A};
  auto sweeps = [&] {
    AnsiString answer;
    EXPECT_EQ(p.chart.Query("sweeps", answer), VKT_OK);
    return answer;
  };
  auto part = [&](unsigned offset, unsigned size) {
    p.SendPart(400, offset, size, inputs, Level);
    ASSERT_TRUE(p.RunUntil([&] { return p.Drained(); }));
  };
  part(0, 200);
  part(200, 200);
  EXPECT_EQ(sweeps(), "1");
  part(0, 100);
  part(200, 200);  // its points 100..199 never came
  EXPECT_EQ(sweeps(), "1");
  part(0, 400);
  EXPECT_EQ(sweeps(), "2");
}

// Automation's "sweeps marked" (what *OPC? waits for) count a sweep only
// once the markers have been placed on it: a marker read then reads that
// sweep, however soon the sweeps follow one another.
TEST(ChartPanel, MarkedSweepsAreTheOnesTheMarkersRead) {
  TPanel p({F, A});
  korchart::MarksManager* marks = p.chart.Chart()->Markers()->GetMarksManager();
  ASSERT_NE(marks, nullptr);
  marks->Mark(0)->Activate();
  marks->Mark(0)->SetOnFreq(150);
  auto ask = [&](const std::string& question) {
    AnsiString answer;
    EXPECT_EQ(p.chart.Query(question, answer), VKT_OK) << answer;
    return std::string(answer);
  };
  for (int sweep = 1; sweep <= 6; ++sweep) {
    SCOPED_TRACE(sweep);
    const double level = -10.0 * sweep;
    p.SendPart(100, 0, 60, {F, A}, [&](int, unsigned) { return level; });
    p.SendPart(100, 60, 40, {F, A}, [&](int, unsigned) { return level; });
    ASSERT_TRUE(p.RunUntil([&] { return ask("sweeps marked") == std::to_string(sweep); }));
    const std::string reading = ask("marker 0");
    ASSERT_EQ(reading.substr(0, 4), "150,") << reading;
    EXPECT_DOUBLE_EQ(std::stod(reading.substr(4)), level) << reading;
  }
  EXPECT_EQ(ask("sweeps"), "6");
  AnsiString answer;
  EXPECT_EQ(p.chart.Query("sweeps drawn", answer), VKT_ERROR);
}

TEST(ChartPanel, FramesThatDoNotFitAreSaidOnceAndReleased) {
  vkplatform::ReportCapture reports;
  TPanel p({F, A, B});
  for (int round = 0; round < 3; ++round) {
    p.Send(F, new CDoubleVector(4));
    p.Send(A, new CDoubleVector(4));
    p.Send(B, new CDoubleVector(3));  // one short
  }
  ASSERT_TRUE(p.RunUntil([&] { return p.Drained(); }));
  p.RunUntil([] { return false; }, 30);
  EXPECT_EQ(reports.CountExpression("AB[i]==NULL || nSize==AB[i]->Size()"), 1u);
  EXPECT_EQ(p.Count(0), 0);
  // Parts that disagree on their place in the sweep.
  p.Send(F, new CDoubleVectorPart(4, 8, 0));
  p.Send(A, new CDoubleVectorPart(4, 8, 4));
  p.Send(B, new CDoubleVectorPart(4, 8, 0));
  ASSERT_TRUE(p.RunUntil([&] { return reports.CountExpression("nOffset==VP[i]->Offset()") == 1; }));
  // A part beyond what the curve holds.
  p.SendPart(8, 4, 4, {F, A, B}, Level);
  ASSERT_TRUE(p.RunUntil([&] { return reports.CountExpression("nOffset<=chart->Series[0]->Count()") == 1; }));
  EXPECT_TRUE(p.Drained());
  EXPECT_EQ(p.Count(0), 0);
}

TEST(ChartPanel, MemoriesTheirButtonsAndMenu) {
  TPanel p({F, A, B});
  p.SendPart(50, 0, 50, {F, A, B}, Level);
  ASSERT_TRUE(p.RunUntil([&] { return p.Count(0) == 50; }));
  QToolButton* first = p.chart.MemoryButton(0);
  EXPECT_TRUE(first->isVisible());
  EXPECT_FALSE(p.chart.MemoryButton(1)->isVisible());
  first->click();
  QCPGraph* memory = p.chart.Series(TChartPanel::kCurveCount);
  EXPECT_EQ(memory->name(), "Память1");
  EXPECT_TRUE(memory->visible());
  EXPECT_EQ(memory->data()->size(), 50);
  EXPECT_EQ(memory->valueAxis(), p.chart.Chart()->yAxis);
  EXPECT_TRUE(p.chart.MemoryButton(1)->isVisible());
  // The second memory remembers "Правый", on the right axis.
  p.chart.MemoButtonMouseDown(1, Qt::RightButton);
  QMenu* menu = p.chart.MemoryMenu();
  ASSERT_TRUE(menu->isVisible());
  EXPECT_FALSE(menu->findChild<QAction*>("ShowMemoMenuItem")->isChecked());
  menu->findChild<QAction*>("MemoSource1")->trigger();
  menu->close();
  EXPECT_EQ(p.chart.MemorySource(1), 1);
  p.chart.MemoryButton(1)->click();
  EXPECT_EQ(p.chart.Series(TChartPanel::kCurveCount + 1)->valueAxis(), p.chart.Chart()->yAxis2);
  // "Отобразить" hides the memory again.
  p.chart.MemoButtonMouseDown(1, Qt::RightButton);
  EXPECT_TRUE(menu->findChild<QAction*>("ShowMemoMenuItem")->isChecked());
  menu->findChild<QAction*>("ShowMemoMenuItem")->trigger();
  menu->close();
  EXPECT_FALSE(p.chart.Series(TChartPanel::kCurveCount + 1)->visible());
  p.RunUntil([] { return false; }, 20);
  MaybeScreenshot(&p.host, "chart_panel_memories");
}

TEST(ChartPanel, ParametersPlaceAndTitleTheChart) {
  vkplatform::ReportCapture reports;
  TPanel p({F, A},
           R"(<parameters><position left="10" top="0" width="50" height="x"/>
               <titles left_axis="КП, дБ" right_axis="Фаза" bottom_axis="Частота, МГц" caption="Фильтр"/>
               <axes left_min="-60" left_max="0" right_min="180" right_max="-180"/></parameters>)");
  EXPECT_EQ(reports.CountText("Неверное число: \"x\""), 1u);
  korchart::TKorChart* chart = p.chart.Chart();
  const QSize area = p.host.centralWidget()->contentsRect().size();
  EXPECT_EQ(chart->x(), area.width() * 10 / 100);
  EXPECT_EQ(chart->height(), area.height());  // the height's default: 100 %
  EXPECT_EQ(chart->yAxis->label(), "КП, дБ");
  EXPECT_EQ(chart->yAxis->range(), QCPRange(-60, 0));
  EXPECT_EQ(chart->yAxis2->range(), QCPRange(-180, 180));  // turned the right way
  EXPECT_EQ(chart->xAxis->range(), QCPRange(10, 20000));
  EXPECT_EQ(chart->yAxis->labelColor(), p.chart.Series(0)->pen().color());
  // The units of the titles go with the markers' numbers.
  EXPECT_EQ(chart->xAxis->property("units").toString(), "МГц");
  EXPECT_EQ(p.chart.Series(0)->property("units").toString(), "дБ");
  EXPECT_EQ(p.chart.Series(1)->property("units").toString(), "");
  // The host panel resized: the chart follows.
  p.host.resize(1000, 700);
  QApplication::processEvents();
  EXPECT_EQ(chart->width(), p.host.centralWidget()->contentsRect().width() * 50 / 100);
}

TEST(ChartPanel, MarkerTemplatesAndTheReport) {
  vkplatform::ReportCapture reports;
  TPanel p({F, A}, "<parameters><titles left_axis=\"КП, дБ\" bottom_axis=\"Частота, МГц\"/></parameters>");
  p.SendPart(100, 0, 100, {F, A}, Level);
  ASSERT_TRUE(p.RunUntil([&] { return p.Count(0) == 100; }));
  korchart::MarksManager* marks = p.chart.Chart()->Markers()->GetMarksManager();
  ASSERT_NE(marks, nullptr);
  marks->Mark(0)->Activate();
  marks->Mark(0)->SetOnFreq(150);
  std::vector<TFileDialogRequest> asked;
  const std::string file = TestHome() + "/set.mrk";
  const TFileDialogHook previous = SetFileDialogHook([&](const TFileDialogRequest& r) {
    asked.push_back(r);
    return QString::fromStdString(file);
  });
  QToolButton* save = p.chart.Chart()->findChild<QToolButton*>("ButtonSaveMarkers");
  save->click();
  ASSERT_TRUE(fs::exists(file));
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].title, "Сохранить шаблон маркеров");
  EXPECT_EQ(asked[0].filter, "Файлы шаблонов маркеров (*.mrk)");
  EXPECT_EQ(asked[0].directory.toStdString(), GetVKDir(dirMarkers));
  marks->Mark(0)->Deactivate();
  p.chart.Chart()->findChild<QToolButton*>("ButtonLoadMarkers")->click();
  EXPECT_TRUE(p.chart.Chart()->Markers()->GetMarksManager()->Mark(0)->GetActivated());
  EXPECT_EQ(reports.CountText("Ошибка при открытии файла"), 0u);
  SetFileDialogHook([](const TFileDialogRequest&) { return QString("/no/such/dir/x.mrk"); });
  p.chart.Chart()->findChild<QToolButton*>("ButtonLoadMarkers")->click();
  EXPECT_EQ(reports.CountText("Ошибка при открытии файла"), 1u);
  SetFileDialogHook(previous);
  int shown = 0;
  const TModalDialogHook modal = SetModalDialogHook([&](QDialog* d) {
    ++shown;
    EXPECT_EQ(d->windowTitle(), "Менеждер отчётов");
    return int(QDialog::Rejected);
  });
  p.chart.Chart()->findChild<QToolButton*>("ButtonReport")->click();
  SetModalDialogHook(modal);
  EXPECT_EQ(shown, 1);

  // "Сохранить как CSV...": the argument and the shown curve, a row a point,
  // the curve named after its axis's quantity; the dialog proposes a file
  // in a folder that exists (not the name of a missing documents folder).
  const std::string csv = TestHome() + "/chart.csv";
  QString proposed;
  const TFileDialogHook answerCsv = SetFileDialogHook([&](const TFileDialogRequest& r) {
    proposed = r.directory;
    return QString::fromStdString(csv);
  });
  p.chart.Chart()->findChild<QToolButton*>("ButtonCsv")->click();
  SetFileDialogHook(answerCsv);
  EXPECT_TRUE(proposed.endsWith(".csv") && QFileInfo(proposed).dir().exists()) << proposed.toStdString();
  std::ifstream in(csv);
  std::string header;
  std::getline(in, header);
  EXPECT_EQ(header.rfind("\"Частота, МГц\",\"КП, дБ\"", 0), 0u) << header;
  int rows = 0;
  for (std::string line; std::getline(in, line);) ++rows;
  EXPECT_EQ(rows, 100);
}

// The plug-in's thread against a window that is busy: frames that pile up
// are read together when the window comes back, and a stop never waits for
// the window.
TEST(ChartPanelThreads, BusyWindowReadsFramesTogetherAndStopNeverWaits) {
  auto p = std::make_unique<TPanel>(std::set<int>{F, A});
  // The window is busy (nothing is processed) while three sweeps arrive.
  for (int sweep = 0; sweep < 3; ++sweep) p->SendPart(40, 0, 40, {F, A}, [sweep](int, unsigned) { return sweep; });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  // One notification is on its way however many frames wait, and it reads
  // them all.
  QApplication::processEvents();
  EXPECT_TRUE(p->Drained());
  EXPECT_DOUBLE_EQ(p->Value(0, 0), 2);  // the last sweep drawn
  // A producer of its own, and a stop while frames are on their way and the
  // window does not look.
  std::atomic<bool> go{true};
  std::thread producer([&] {
    for (unsigned sweep = 0; go && sweep < 2000; ++sweep)
      for (unsigned offset = 0; offset < 40 && go; offset += 10) {
        for (int input : {F, A}) {
          auto* part = new CDoubleVectorPart(10, 40, offset);
          for (unsigned i = 0; i < 10; ++i) (*part)[i] = input == F ? 100.0 + offset + i : sweep;
          CPacketQueue& queue = p->queues[static_cast<size_t>(input)];
          while (part && queue.AddPacket(part) != 0) {
            if (!go) {
              delete part;  // not taken: still ours
              part = nullptr;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
          }
          queue.NotifySubscribers();
        }
      }
  });
  EXPECT_TRUE(p->RunUntil([&] { return p->Count(0) == 40 && p->Value(0, 0) > 50; }, 10000));
  const auto before = std::chrono::steady_clock::now();
  p->chart.DoFinalize();
  const auto stopped = std::chrono::steady_clock::now() - before;
  go = false;
  producer.join();
  QApplication::processEvents();  // a notification for the chart that is gone
  EXPECT_LT(stopped, std::chrono::seconds(2));
  for (auto& q : p->queues) q.Reset();
  p.reset();
}

namespace {
std::string PluginsDir() {
  static const std::string dir = InstalledPackages(VK_PLUGINS_DIR, {"ChartPanel.so", "InstrumentLink.so", "RunGuide.so"},
                                                   {"libKorvanComponents.so", "libKorChartLib.so"}, TestHome());
  return dir;
}
}  // namespace

// With the simulated instrument: a run's sweeps arrive in parts and the
// chart holds the whole sweep, on both axes.
TEST(ChartPanelScheme, TheChartHoldsTheSimulatorsSweeps) {
  TAppFirst app;
  vkplatform::ReportCapture reports;
  const std::string file = TestHome() + "/chart.vms";
  std::ofstream(file) << R"(<scheme name="chart">
    <node name="run" class="TRunGuide"><parameters caption="Измерение"/>
      <output name="command"><link node="link" linkpoint="command" queue="8"/></output></node>
    <node name="chart" class="TChartPanel"><parameters><titles left_axis="КП, дБ" right_axis="КО, дБ"/></parameters></node>
    <node name="link" class="TInstrumentLink"><parameters address="sim" simrate="50" simpart="401"/>
      <output name="command"><link node="run" linkpoint="command" queue="16"/></output>
      <output name="F"><link node="chart" linkpoint="F" queue="64"/></output>
      <output name="A"><link node="chart" linkpoint="A" queue="64"/></output>
      <output name="B"><link node="chart" linkpoint="B" queue="64"/></output></node>
  </scheme>)";
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(file), 0) << (reports.Count() ? reports.Reports().back().text : "");
  fs::remove(runner.Scheme().DefaultProfileFileName());
  ASSERT_EQ(runner.Start(), 0);
  auto* chart = runner.Host()->findChild<korchart::TKorChart*>("chart");
  ASSERT_NE(chart, nullptr);
  auto* start = runner.Host()->findChild<QAction*>("ActionStart");
  ASSERT_TRUE(runner.RunUntil([&] { return start->isEnabled(); }, 5000));
  start->trigger();
  ASSERT_TRUE(runner.RunUntil([&] { return chart->graph(0)->data()->size() == 1601 && chart->graph(1)->data()->size() == 1601; },
                              10000));
  const QCPRange bottom = chart->xAxis->range();
  EXPECT_DOUBLE_EQ(bottom.lower, chart->graph(0)->data()->constBegin()->key);
  EXPECT_DOUBLE_EQ(bottom.upper, (chart->graph(0)->data()->constEnd() - 1)->key);
  runner.RunFor(300);
  EXPECT_EQ(chart->graph(0)->data()->size(), 1601);  // later sweeps replace, never add
  MaybeScreenshot(runner.Host(), "chart_panel_scheme");
  runner.Stop();
  EXPECT_EQ(reports.CountText("предустановок"), reports.Count());  // nothing but the missing presets
}
