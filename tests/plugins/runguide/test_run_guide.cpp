// The run wizard: its pages and actions with a fake clock, and with the
// simulated instrument a simple run and a three-page calibration.
#include <gtest/gtest.h>

#include <QAction>
#include <QDockWidget>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QToolBar>

#include <deque>
#include <filesystem>
#include <fstream>

#include "DevCommand.h"
#include "Diagnostics.h"
#include "GuiPlugin.h"
#include "PacketQueue.h"
#include "RunGuide.h"
#include "RunWizardForm.h"
#include "SchemeRunner.h"
#include "Screenshot.h"
#include "TestApp.h"
#include "TestHome.h"
#include "platform/Report.h"

namespace fs = std::filesystem;

namespace {

struct TAppFirst {
  TAppFirst() { TestApp(); }
};

// A wizard on a host window; its outputs are read and its inputs fed by the
// test.
struct TGuide : TAppFirst {
  explicit TGuide(const std::string& parameters, bool indexWired = true) {
    auto* bar = new QMenuBar(&host);
    bar->setObjectName("MainMenu");
    host.setMenuBar(bar);
    bar->addMenu(QString::fromUtf8("&Файл"));
    new TDockArea(&host, "DockTop", Qt::TopDockWidgetArea);
    guide.SetName("guide");
    guide.Register();
    guide.GetOutLinkPoint(AnsiString("command"))->SetDispatcher(&commands);
    commandReader.AddSubscription(&commands);
    if (indexWired) {
      guide.GetOutLinkPoint(AnsiString("index"))->SetDispatcher(&indexes);
      indexReader.AddSubscription(&indexes);
    }
    for (auto* in : {"vector", "command", "index"}) guide.GetInLinkPoint(AnsiString(in))->AddSubscription(&Input(in));
    guide.SetClock([this] { return now; });
    doc.OpenFromText(parameters);
    guide.DoInitialize(&host, doc.Root());
  }
  ~TGuide() { guide.DoFinalize(); }
  CPacketQueue& Input(const std::string& name) {
    return name == "vector" ? vectors : name == "command" ? deviceCommands : echoes;
  }
  void Feed(const char* input, CBasePacket* p) {
    Input(input).AddPacket(p);
    Input(input).NotifySubscribers();
  }
  void Part(unsigned offset, unsigned size, unsigned full) { Feed("vector", new CDoubleVectorPart(size, full, offset)); }
  std::unique_ptr<CDevCommand> Command() {
    return std::unique_ptr<CDevCommand>(dynamic_cast<CDevCommand*>(commandReader.GetPacketCopyAndRelease()));
  }
  double Index() {
    std::unique_ptr<CBasePacket> p(indexReader.GetPacketCopyAndRelease());
    auto* d = dynamic_cast<CDoublePacket*>(p.get());
    return d ? d->GetValue() : -100;
  }
  TFrmRunWizard& Form() { return *guide.Form(); }

  QMainWindow host;
  CPacketQueue commands{16}, indexes{16};
  CInLinkPoint commandReader{"c", {MetaClassOf<CDevCommand>()}, lptDefault};
  CInLinkPoint indexReader{"i", {MetaClassOf<CDoublePacket>()}, lptDefault};
  CPacketQueue vectors{16}, deviceCommands{16}, echoes{16};
  VKCore::CXMLDocument doc{false};
  double now = 0;
  TRunGuide guide;
};

const char* kCalibration = R"(<parameters caption="Калибровка" startCaption="Пуск">
  <steps>
    <step caption="Подготовка" text="Подключите нагрузку.\r\nЗатем нажмите Далее." name="PrepareDock"/>
    <step caption="Измерение 1" text="Идёт измерение" index="1"/>
    <step caption="Измерение 2" text="Идёт измерение" index="2" picture="[application]/nowhere.png"/>
    <step caption="Итог" text="Калибровка завершена"/>
  </steps></parameters>)";

}  // namespace

TEST(RunGuide, WizardPagesIndexHandshakeAndProgress) {
  TGuide g(kCalibration);
  vkplatform::ReportCapture cap;
  std::vector<AnsiString> log;
  LogHook previous = SetLogHook([&](const AnsiString& m, bool) { log.push_back(m); });
  // A panel placed into the first page's dock.
  auto* panel = new QDockWidget("Нагрузка", &g.host);
  EXPECT_TRUE(PlaceToolWindow(panel, &g.host, "PrepareDock"));

  QAction* wizard = g.Form().ActionWizard;
  EXPECT_EQ(wizard->text(), "Пуск");
  EXPECT_FALSE(wizard->isEnabled());
  g.Feed("command", new CDevCommand(MI_RESET));
  EXPECT_TRUE(wizard->isEnabled());
  EXPECT_TRUE(g.guide.ToolBar()->actions().contains(wizard));
  wizard->trigger();
  EXPECT_TRUE(g.Form().isVisible());
  EXPECT_EQ(g.Form().windowTitle(), "Калибровка");
  EXPECT_EQ(g.Form().LabelText->text(), "Подключите нагрузку.\r\nЗатем нажмите Далее.");
  EXPECT_FALSE(g.Form().ActionBack->isEnabled());
  EXPECT_TRUE(g.Form().ActionNext->isEnabled());
  EXPECT_EQ(panel->parentWidget()->parentWidget(), g.Form().PanelDock);
  EXPECT_NE(panel->titleBarWidget(), nullptr);  // part of the page: no grip
  MaybeScreenshot(&g.Form(), "runguide-information");

  g.Form().ButtonForward->click();
  EXPECT_EQ(g.guide.CurStep(), 1);
  EXPECT_FALSE(g.Form().ActionNext->isEnabled());
  EXPECT_FALSE(g.Form().ActionBack->isEnabled());
  EXPECT_FALSE(g.Form().PanelProgress->isHidden());
  EXPECT_EQ(g.Index(), 1);
  EXPECT_FALSE(g.Command());  // no run before the echo
  g.Feed("index", new CDoublePacket(1));
  g.Feed("index", new CDoublePacket(1));  // a second echo is ignored
  auto run = g.Command();
  ASSERT_TRUE(run);
  EXPECT_EQ(run->Command(), MI_RUN);
  EXPECT_EQ(run->FlagA(), 2);
  EXPECT_EQ(run->FlagB(), 128);
  EXPECT_EQ(run->Id(), 1u);
  EXPECT_FALSE(g.Command());

  // The tail of an older sweep is not this run's; then the run's parts.
  g.Part(50, 50, 100);
  EXPECT_EQ(g.guide.CurStep(), 1);
  g.now = 6000;
  g.Part(0, 25, 100);
  EXPECT_EQ(g.Form().ProgressBar->value(), 25);
  EXPECT_EQ(g.Form().LabelProgress->text(), "До завершения осталось 18 сек.");
  g.now = 60000;
  g.Part(25, 25, 100);
  EXPECT_EQ(g.Form().LabelProgress->text(), "До завершения осталось 1 мин. 0 сек.");
  MaybeScreenshot(&g.Form(), "runguide-measuring");
  g.Part(50, 50, 100);
  EXPECT_EQ(g.guide.CurStep(), 2);  // on at the end of the sweep
  g.Part(0, 100, 100);               // before its own run: not this page's
  EXPECT_EQ(g.guide.CurStep(), 2);
  EXPECT_EQ(g.Index(), 2);
  ASSERT_EQ(log.size(), 1u);  // its picture could not be read: logged, page shown
  EXPECT_NE(log[0].find("nowhere.png"), AnsiString::npos);
  g.Feed("index", new CDoublePacket(2));
  g.Command();
  g.Part(0, 100, 100);  // one part covering the sweep
  EXPECT_EQ(g.guide.CurStep(), 3);
  g.Part(0, 100, 100);  // the instrument sweeps on: an informational page stays
  EXPECT_EQ(g.guide.CurStep(), 3);
  EXPECT_EQ(g.Form().ActionNext->text(), "Готово");
  EXPECT_FALSE(g.Form().ActionCancel->isEnabled());
  g.Form().ActionBack->trigger();  // back to the nearest informational page
  EXPECT_EQ(g.guide.CurStep(), 0);
  g.Form().ButtonForward->click();  // a measuring page again
  g.Feed("index", new CDoublePacket(1));
  g.Command();
  g.Part(0, 100, 100);
  g.Feed("index", new CDoublePacket(2));
  g.Command();
  g.Part(0, 100, 100);
  g.Form().ButtonForward->click();  // "Готово"
  EXPECT_FALSE(g.Form().isVisible());
  auto reset = g.Command();
  ASSERT_TRUE(reset);
  EXPECT_EQ(reset->Command(), MI_RESET);
  EXPECT_FALSE(g.guide.Running());
  SetLogHook(previous);
  EXPECT_EQ(cap.Count(), 0u);
}

TEST(RunGuide, SimpleRunsAndMeasurementsStartedElsewhere) {
  TGuide g("<parameters index=\"-1\"/>", false);
  QAction* start = g.Form().ActionStart;
  QAction* stop = g.Form().ActionStop;
  EXPECT_TRUE(g.guide.ToolBar()->actions().contains(start));
  EXPECT_FALSE(start->isEnabled());
  g.Feed("command", new CDevCommand(MI_RESET));
  EXPECT_TRUE(start->isEnabled());
  g.Feed("command", new CDevCommand(MI_RUN));  // somebody else measures
  EXPECT_FALSE(start->isEnabled());
  g.Feed("command", new CDevCommand(MI_RESET));
  start->trigger();
  EXPECT_FALSE(start->isEnabled());
  EXPECT_TRUE(stop->isEnabled());
  auto run = g.Command();
  ASSERT_TRUE(run);
  EXPECT_EQ(run->Command(), MI_RUN);
  EXPECT_EQ(run->Id(), 0u);
  stop->trigger();
  auto stopped = g.Command();
  ASSERT_TRUE(stopped);
  EXPECT_EQ(stopped->Command(), MI_RESET);
  EXPECT_TRUE(start->isEnabled());

  // A bench that starts measuring as soon as the instrument greets it, once.
  TGuide a("<parameters autostart=\"true\"/>", false);
  a.Feed("command", new CDevCommand(MI_RESET));
  QApplication::processEvents();
  auto first = a.Command();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Command(), MI_RUN);
  EXPECT_TRUE(a.Form().ActionStop->isEnabled());
  a.Feed("command", new CDevCommand(MI_RESET));
  QApplication::processEvents();
  EXPECT_FALSE(a.Command());

  // A measuring page whose "index" goes nowhere starts at once.
  TGuide w("<parameters><steps><step index=\"3\"/></steps></parameters>", false);
  w.Form().ActionWizard->setEnabled(true);
  w.Form().ActionWizard->trigger();
  auto at = w.Command();
  ASSERT_TRUE(at);
  EXPECT_EQ(at->Command(), MI_RUN);
  EXPECT_EQ(at->Id(), 1u);
  // The only page is the last: no Cancel, but the window's close button
  // ends the run as well.
  EXPECT_FALSE(w.Form().ActionCancel->isEnabled());
  w.Form().close();
  auto reset = w.Command();
  ASSERT_TRUE(reset);
  EXPECT_EQ(reset->Command(), MI_RESET);
}

// Stop and Start pressed in any order and at any moment between the
// instrument's answers (back to back, doubled, a start while the stop's
// answer is still to come): once the answers are in, the instrument does
// what the last press asked, and Start, Stop and the wizard say so.
TEST(RunGuide, StopAndStartInAnyOrderAndTiming) {
  for (int length = 1; length <= 4; ++length) {
    TGuide g("<parameters/>", false);
    QAction* start = g.Form().ActionStart;
    QAction* stop = g.Form().ActionStop;
    QAction* wizard = g.Form().ActionWizard;
    // An instrument that answers every command in order.
    std::deque<short> answers;
    bool sweeping = false;
    auto take = [&] {
      while (auto c = g.Command()) {
        sweeping = c->Command() == MI_RUN ? true : c->Command() == MI_RESET ? false : sweeping;
        answers.push_back(c->Command());
      }
    };
    auto answer = [&] {
      take();
      if (answers.empty()) return;
      g.Feed("command", new CDevCommand(answers.front()));
      answers.pop_front();
    };
    g.Feed("command", new CDevCommand(MI_RESET));  // the greeting
    for (int presses = 0; presses < (1 << length); ++presses)
      // Which steps press the next button (the others let one answer in).
      for (int when = 0; when < (1 << (2 * length)); ++when) {
        if (__builtin_popcount(static_cast<unsigned>(when)) != length) continue;
        std::string trace;
        int pressed = 0;
        bool lastStart = false;
        for (int step = 0; step < 2 * length; ++step) {
          if (when & (1 << step)) {
            lastStart = presses & (1 << pressed++);
            (lastStart ? start : stop)->trigger();
            trace += lastStart ? "Start " : "Stop ";
          } else {
            trace += answers.empty() ? "- " : "answer ";
            answer();
          }
          take();
        }
        while (take(), !answers.empty()) answer();
        SCOPED_TRACE(trace);
        ASSERT_EQ(sweeping, lastStart);
        ASSERT_EQ(start->isEnabled(), !sweeping);
        ASSERT_EQ(wizard->isEnabled(), !sweeping);
        ASSERT_EQ(stop->isEnabled(), sweeping);
      }
  }
}

namespace {

std::string PluginsDir() {
  static const std::string dir = [] {
    // Laid out as an installation: the packages find the libraries they
    // need one folder up.
    const fs::path d = fs::path(TestHome()) / "bin" / "Plugins";
    fs::create_directories(d);
    fs::create_symlink(fs::path(VK_PLUGINS_DIR).parent_path() / "libKorvanComponents.so",
                       d.parent_path() / "libKorvanComponents.so");
    for (const char* p : {"RunGuide.so", "InstrumentLink.so", "ConstPanel.so"})
      fs::copy_file(fs::path(VK_PLUGINS_DIR) / p, d / p, fs::copy_options::overwrite_existing);
    fs::copy_file(fs::path(VK_TEST_PLUGINS_DIR) / "TestProbe.so", d / "TestProbe.so",
                  fs::copy_options::overwrite_existing);
    return d.string();
  }();
  return dir;
}

}  // namespace

// With the simulated instrument: a calibration of an informational page
// (with a parameter panel docked in it) and two measuring pages runs through
// to "Готово" and ends with MI_RESET.
TEST(RunGuideScheme, CalibrationRunsThroughWithTheSimulator) {
  TAppFirst app;
  vkplatform::ReportCapture cap;
  const std::string file = TestHome() + "/calibration.vms";
  std::ofstream(file) << R"(<scheme name="cal">
    <node name="guide" class="TRunGuide"><parameters caption="Калибровка"><steps>
      <step caption="Подготовка" text="Подключите нагрузку" name="PrepareDock"/>
      <step caption="Нагрузка" index="1"/><step caption="Короткое замыкание" index="2"/>
      <step caption="Готово" text="Калибровка завершена"/></steps></parameters>
      <output name="command"><link node="link" linkpoint="command" queue="8"/></output>
      <output name="index"><link node="link" linkpoint="index" queue="8"/></output></node>
    <node name="avg" class="TConstPanel"><parameters type="parameter" control="true" dock="PrepareDock"
      parameter="P_AVERAGING" base="4"><element caption="Усреднение" value="2"/></parameters>
      <output name="command"><link node="link" linkpoint="command" queue="8"/></output></node>
    <node name="probe" class="TTestProbe"/>
    <node name="link" class="TInstrumentLink"><parameters address="sim" simrate="50" simpart="401"/>
      <output name="command"><link node="guide" linkpoint="command" queue="16"/>
        <link node="avg" linkpoint="command" queue="16"/><link node="probe" linkpoint="command" queue="256"/></output>
      <output name="index"><link node="guide" linkpoint="index" queue="8"/></output>
      <output name="A"><link node="guide" linkpoint="vector" queue="64"/></output></node>
  </scheme>)";
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(file), 0) << (cap.Count() ? cap.Reports().back().text : "");
  fs::remove(runner.Scheme().DefaultProfileFileName());
  ASSERT_EQ(runner.Start(), 0);
  auto* form = runner.Host()->findChild<QDialog*>("FrmRunWizard");
  ASSERT_NE(form, nullptr);
  auto* wizard = form->findChild<QAction*>("ActionWizard");
  auto* caption = form->findChild<QLabel*>("LabelCaption");
  auto* forward = form->findChild<QPushButton*>("ButtonForward");
  ASSERT_TRUE(runner.RunUntil([&] { return wizard->isEnabled(); }, 5000));
  wizard->trigger();
  EXPECT_TRUE(form->isVisible());
  EXPECT_NE(form->findChild<QDockWidget*>("avg"), nullptr);  // the panel is on the first page
  forward->click();
  EXPECT_TRUE(runner.RunUntil([&] { return caption->text() == "Готово"; }, 10000)) << caption->text().toStdString();
  forward->click();
  EXPECT_FALSE(form->isVisible());
  CInLinkPoint* answers = nullptr;
  runner.Scheme().GetInput(answers, "probe", "command");
  int resets = 0;
  EXPECT_TRUE(runner.RunUntil([&] {
    while (CBasePacket* p = answers->GetPacketCopyAndRelease()) {
      std::unique_ptr<CBasePacket> owned(p);
      if (static_cast<CDevCommand*>(p)->Command() == MI_RESET) ++resets;
    }
    return resets >= 2;  // the greeting, and the answer to the end of the calibration
  }, 5000));
  runner.Stop();
  EXPECT_EQ(cap.Count(), 0u);
}

// A simple run starts and stops the simulated instrument's sweeping.
TEST(RunGuideScheme, StartAndStopASimpleRun) {
  TAppFirst app;
  const std::string file = TestHome() + "/simple.vms";
  std::ofstream(file) << R"(<scheme name="simple">
    <node name="run" class="TRunGuide"><output name="command"><link node="link" linkpoint="command"/></output></node>
    <node name="probe" class="TTestProbe"/>
    <node name="link" class="TInstrumentLink"><parameters address="sim" simrate="100" simpart="401"/>
      <output name="command"><link node="run" linkpoint="command" queue="16"/>
        <link node="probe" linkpoint="command" queue="64"/></output>
      <output name="F"><link node="probe" linkpoint="F" queue="64"/></output></node></scheme>)";
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(file), 0);
  fs::remove(runner.Scheme().DefaultProfileFileName());
  ASSERT_EQ(runner.Start(), 0);
  auto* form = runner.Host()->findChild<QDialog*>("FrmRunWizard");
  auto* start = form->findChild<QAction*>("ActionStart");
  auto* stop = form->findChild<QAction*>("ActionStop");
  CInLinkPoint *parts = nullptr, *answers = nullptr;
  runner.Scheme().GetInput(parts, "probe", "F");
  runner.Scheme().GetInput(answers, "probe", "command");
  auto drain = [](CInLinkPoint* in, short command = -1) {
    int n = 0;
    while (CBasePacket* p = in->GetPacketCopyAndRelease()) {
      if (command < 0 || static_cast<CDevCommand*>(p)->Command() == command) ++n;
      delete p;
    }
    return n;
  };
  ASSERT_TRUE(runner.RunUntil([&] { return start->isEnabled(); }, 5000));
  EXPECT_EQ(drain(parts), 0);
  start->trigger();
  int received = 0;
  EXPECT_TRUE(runner.RunUntil([&] { return (received += drain(parts)) >= 8; }, 5000));
  drain(answers);  // the greeting and the run's answer
  stop->trigger();
  ASSERT_TRUE(runner.RunUntil([&] { return drain(answers, MI_RESET) > 0; }, 5000));
  drain(parts);  // what was on its way
  runner.RunFor(100);
  EXPECT_EQ(drain(parts), 0);
  runner.Stop();
}
