// Running schemes: delivery in both threads, exceptions, stop/start cycles,
// profiles, and stopping while the worker waits for the GUI thread.
#include <gtest/gtest.h>

#include <QDockWidget>
#include <QMainWindow>
#include <QMetaObject>
#include <QSettings>
#include <QThread>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "SchemeTestSupport.h"
#include "VKPaths.h"
#include "platform/Report.h"

using namespace schemetest;

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void RemoveDefaultProfile(CSchemeRunner& runner) {
  std::filesystem::remove(runner.Scheme().DefaultProfileFileName());
}

}  // namespace

TEST(SchemeRun, ChainDeliversEveryValueInOrderInTheWorkerThread) {
  App();
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(SchemeFile("chain.vms")), VKT_OK);
  RemoveDefaultProfile(runner);
  ASSERT_EQ(runner.Start(), VKT_OK);
  EXPECT_TRUE(runner.RunUntil([&] { return runner.ModuleValue("sink", "received") >= 100; }, 10000));
  runner.RunFor(20);
  EXPECT_EQ(runner.ModuleValue("sink", "received"), 100);
  EXPECT_EQ(runner.ModuleValue("sink", "sum"), 5050);
  EXPECT_EQ(runner.ModuleValue("sink", "last"), 100);
  EXPECT_EQ(runner.ModuleValue("sink", "guiThreadCalls"), 0);
  runner.Stop();
  for (unsigned i = 0; i < runner.Scheme().GetQueueCount(); ++i)
    EXPECT_EQ(runner.Scheme().GetQueue(i)->QueueLen(), 0u);
}

TEST(SchemeRun, WindowedInputsAreServedInTheGuiThread) {
  App();
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(SchemeFile("fanout.vms")), VKT_OK);
  RemoveDefaultProfile(runner);
  runner.Start();
  EXPECT_TRUE(runner.RunUntil(
      [&] {
        return runner.ModuleValue("gui", "received") >= 50 &&
               runner.ModuleValue("worker", "received") >= 50;
      },
      10000));
  EXPECT_EQ(runner.ModuleValue("gui", "received"), 50);
  EXPECT_EQ(runner.ModuleValue("gui", "guiThreadCalls"), 50);
  EXPECT_EQ(runner.ModuleValue("worker", "received"), 50);
  EXPECT_EQ(runner.ModuleValue("worker", "guiThreadCalls"), 0);
}

TEST(SchemeRun, ProcessExceptionsAreShownAndTheSchemeGoesOn) {
  App();
  vkplatform::ReportCapture cap;
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(SchemeFile("throwing.vms")), VKT_OK);
  RemoveDefaultProfile(runner);
  runner.Start();
  EXPECT_TRUE(runner.RunUntil([&] { return runner.ModuleValue("sink", "received") >= 20; }, 10000));
  runner.Stop();
  ASSERT_EQ(cap.Count(), 1u);
  EXPECT_EQ(cap.Reports()[0].text,
            "Исключение в модуле \"src\" класса \"TTestSource\":\r\ntest failure in Process");
}

TEST(SchemeRun, ZeroSizedQueueRefusesEverything) {
  App();
  CSchemeRunner runner(PluginsDir());
  const std::string file = WriteScheme("zero.vms", R"(<scheme name="z">
    <node name="src" class="TTestSource"><output name="out"><link node="sink" linkpoint="in" queue="0"/></output></node>
    <node name="sink" class="TTestSink"/></scheme>)");
  ASSERT_EQ(runner.Open(file), VKT_OK);
  RemoveDefaultProfile(runner);
  runner.Start();
  runner.RunFor(30);
  EXPECT_EQ(runner.ModuleValue("sink", "received"), 0);
  EXPECT_EQ(runner.ModuleValue("src", "next"), 1);  // every packet was refused
}

// Many short runs with traffic: after every stop the queues are empty, and
// nothing leaks (checked by the ASan build).
TEST(SchemeRun, StopStartCyclesLeaveNoStrayPackets) {
  App();
  CSchemeRunner runner(PluginsDir());
  const std::string file = WriteScheme("cycles.vms", R"(<scheme name="c">
    <node name="src" class="TTestSource"><output name="out"><link node="sink" linkpoint="in" queue="16"/>
      <link node="pass" linkpoint="in" queue="16"/></output></node>
    <node name="pass" class="TTestPass"/>
    <node name="sink" class="TTestSink"><parameters window="true"/></node></scheme>)");
  ASSERT_EQ(runner.Open(file), VKT_OK);
  double sent = 0;
  for (int cycle = 0; cycle < 200; ++cycle) {
    ASSERT_EQ(runner.Start(), VKT_OK);
    runner.RunFor(2);
    sent = runner.ModuleValue("src", "next");
    ASSERT_EQ(runner.Stop(), VKT_OK);
    for (unsigned i = 0; i < runner.Scheme().GetQueueCount(); ++i)
      ASSERT_EQ(runner.Scheme().GetQueue(i)->QueueLen(), 0u) << "cycle " << cycle;
  }
  EXPECT_GT(sent, 1);  // it did run
}

TEST(SchemeProfiles, DefaultProfileIsSavedOnStopAndAppliedOnStart) {
  App();
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(SchemeFile("chain.vms")), VKT_OK);
  const std::string profile = runner.Scheme().DefaultProfileFileName();
  EXPECT_EQ(profile, GetVKDir(dirDefProfiles) + "/chain.vpr");
  RemoveDefaultProfile(runner);

  // Never started: nothing initialised, so only the root is written.
  const std::string blank = TestHome() + "/blank.vpr";
  ASSERT_EQ(runner.Scheme().SaveProfile(blank.c_str()), VKT_OK);
  EXPECT_NE(ReadAll(blank).find("<profile scheme=\"chain\"/>"), std::string::npos);

  runner.Start();
  ASSERT_TRUE(runner.RunUntil([&] { return runner.ModuleValue("sink", "received") >= 100; }, 10000));
  runner.Stop();
  const std::string text = ReadAll(profile);
  EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"windows-1251\"?>", 0), 0u);
  EXPECT_NE(text.find("<parameters nodeName=\"src\" next=\"101\" count=\"100\"/>"), std::string::npos);

  // The next start applies the profile after DoInitialize: the source goes
  // on from 101 and, with count 100, sends nothing more (the sink's count
  // stays where the first run left it).
  runner.Start();
  runner.RunFor(30);
  EXPECT_EQ(runner.ModuleValue("src", "next"), 101);
  EXPECT_EQ(runner.ModuleValue("sink", "received"), 100);

  // RestoreProfile goes back to the scheme file's parameters.
  runner.Scheme().RestoreProfile();
  EXPECT_EQ(runner.ModuleValue("src", "count"), 100);
  runner.Stop();
}

TEST(SchemeProfiles, ForeignAndBrokenProfilesChangeNothing) {
  App();
  vkplatform::ReportCapture cap;
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(SchemeFile("chain.vms")), VKT_OK);
  RemoveDefaultProfile(runner);
  runner.Start();
  runner.RunFor(5);
  const double next = runner.ModuleValue("src", "next");
  const std::string dir = TestHome();
  std::ofstream(dir + "/other.vpr") << R"(<profile scheme="other"><parameters nodeName="src" next="7"/></profile>)";
  std::ofstream(dir + "/broken.vpr") << R"(<profile scheme="chain"><parameters nodeName="src" next=)";
  std::ofstream(dir + "/partial.vpr") << R"(<profile scheme="chain"><parameters next="7"/>)"
                                         R"(<parameters nodeName="ghost" next="7"/></profile>)";
  runner.Stop();
  EXPECT_EQ(runner.Scheme().OpenProfile((dir + "/other.vpr").c_str()), VKT_ERROR);
  EXPECT_EQ(runner.Scheme().OpenProfile((dir + "/broken.vpr").c_str()), VKT_ERROR);
  EXPECT_EQ(cap.CountExpression("success\r\n(Ошибка при открытии XML)"), 1u);
  runner.Start();
  EXPECT_EQ(runner.Scheme().OpenProfile((dir + "/partial.vpr").c_str()), VKT_OK);
  EXPECT_EQ(cap.CountExpression("sNodeName != \"\"\r\n(Не определено имя модуля в профиле)"), 1u);
  EXPECT_EQ(cap.CountExpression(
                "GetPlugin(pPlugin, sNodeName.c_str())==VKT_OK\r\n(Модуль профиля отсутствует в схеме)"),
            1u);
  EXPECT_GE(runner.ModuleValue("src", "next"), next);
  runner.Stop();
}

TEST(SchemeProfiles, AProfileThatCannotBeWrittenIsReportedAndTheOldOneKept) {
  App();
  vkplatform::ReportCapture cap;
  CSchemeRunner runner(PluginsDir());
  ASSERT_EQ(runner.Open(SchemeFile("chain.vms")), VKT_OK);
  const std::string dir = TestHome() + "/locked";
  std::filesystem::create_directories(dir + "/sub.vpr");  // a folder where the file should go
  EXPECT_EQ(runner.Scheme().SaveProfile((dir + "/sub.vpr").c_str()), VKT_ERROR);
  ASSERT_EQ(cap.Count(), 1u);
  EXPECT_EQ(cap.Reports()[0].text, "Невозможно сохранить профиль \"" + dir + "/sub.vpr\".");
  EXPECT_TRUE(std::filesystem::is_directory(dir + "/sub.vpr"));
}

// A worker thread that waits for the GUI thread (as a message box from the
// worker does) while the GUI thread stops the scheme: Stop must not hang.
TEST(SchemeRun, StopWhileTheWorkerWaitsForTheGuiThread) {
  App();
  int blockingCalls = 0;
  vkplatform::ReportHook previous = vkplatform::SetReportHook([&](const vkplatform::Report& r) {
    if (QThread::currentThread() != QCoreApplication::instance()->thread())
      vkplatform::RunInGuiThread([&] { ++blockingCalls; });
    return r.defaultAnswer;
  });
  {
    CSchemeRunner runner(PluginsDir());
    ASSERT_EQ(runner.Open(SchemeFile("failing.vms")), VKT_OK);
    runner.Start();
    QThread::msleep(20);  // the worker is now waiting for this thread
    EXPECT_EQ(runner.Stop(), VKT_OK);
  }
  vkplatform::SetReportHook(previous);
  EXPECT_GE(blockingCalls, 1);
}

// The layout of the host window's tool windows is kept per scheme.
TEST(SchemeRun, ToolLayoutIsSavedOnStopAndRestoredOnStart) {
  App();
  CSchemeRunner runner(PluginsDir());
  auto* dock = new QDockWidget("tool", runner.Host());
  dock->setObjectName("TestTool");
  runner.Host()->addDockWidget(Qt::LeftDockWidgetArea, dock);
  ASSERT_EQ(runner.Open(SchemeFile("chain.vms")), VKT_OK);
  runner.Start();
  runner.Host()->addDockWidget(Qt::RightDockWidgetArea, dock);
  runner.Stop();
  EXPECT_TRUE(QSettings("Korvan", "Vektra").contains("ToolsState/chain"));
  runner.Host()->addDockWidget(Qt::LeftDockWidgetArea, dock);
  runner.Start();
  EXPECT_EQ(runner.Host()->dockWidgetArea(dock), Qt::RightDockWidgetArea);
  runner.Stop();
}
