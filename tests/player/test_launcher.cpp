// The launcher's main window: start-up, schemes, profiles, bad input.
#include <gtest/gtest.h>

#include <QAction>
#include <QDockWidget>
#include <QMenuBar>
#include <QTextEdit>
#include <QLabel>
#include <QElapsedTimer>
#include <QTimer>

#include <filesystem>
#include <fstream>

#include "AboutForm.h"
#include "GuiPlugin.h"
#include "MainForm.h"
#include "Screenshot.h"
#include "TestApp.h"
#include "TestHome.h"
#include "VKPaths.h"
#include "platform/Report.h"

namespace fs = std::filesystem;

namespace {

TLauncherOptions Options() {
  static const std::string plugins = [] {
    const fs::path d = fs::path(TestHome()) / "plugins";
    fs::create_directories(d);
    for (const char* p : {"TestSource.so", "TestPass.so", "TestSink.so"})
      fs::copy_file(fs::path(VK_TEST_PLUGINS_DIR) / p, d / p, fs::copy_options::overwrite_existing);
    return d.string();
  }();
  TLauncherOptions o;
  o.pluginsDir = QString::fromStdString(plugins);
  o.helpFile = QString(VK_BIN_DIR) + "/help/vektra.qch";
  o.configDefault = QString(VK_SOURCE_DIR) + "/data/config.xml";
  return o;
}

QString Scheme(const char* name) {
  return QString(VK_SOURCE_DIR) + "/tests/data/schemes/" + name;
}

}  // namespace

TEST(Launcher, OpensAndClosesSchemesWithCaptionsAndProfiles) {
  TestApp();
  vkplatform::ReportCapture cap;
  fs::remove_all(GetVKDir(dirConfig));
  TMainForm form(Options());
  ASSERT_FALSE(form.TerminateRequested());
  EXPECT_TRUE(fs::exists(GetConfigFileName()));  // seeded on a fresh account
  EXPECT_TRUE(form.TimerOpenFile.isActive());    // no scheme given: the dialog follows
  form.TimerOpenFile.stop();
  EXPECT_EQ(form.windowTitle(), "Vektra Launcher");
  EXPECT_FALSE(form.ActionClose->isEnabled());

  // The menu bar, in order, and the named docks.
  QStringList menus;
  for (QAction* a : form.menuBar()->actions()) menus << a->text();
  EXPECT_EQ(menus, QStringList({"&Файл", "&Настройки", "&Вид", "&Помощь"}));
  for (const char* dock : {"DockTop", "DockLeft", "DockRight", "DockBottom", "MainPanel", "MainMenu"})
    EXPECT_NE(FindWinControl(&form, dock), nullptr) << dock;

  std::vector<TFileDialogRequest> asked;
  QString answer;
  TMainForm::SetFileDialogHook([&](const TFileDialogRequest& r) {
    asked.push_back(r);
    return answer;
  });
  const std::string chainProfile = GetVKDir(dirDefProfiles) + "/chain.vpr";
  fs::remove(chainProfile);
  answer = Scheme("chain.vms");
  form.FileOpen->trigger();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].title, "Открытие файла измерительной схемы Vektra");
  EXPECT_EQ(asked[0].defaultSuffix, "vms");
  EXPECT_EQ(asked[0].directory.toStdString(), GetVKDir(dirSchemes));
  EXPECT_EQ(form.windowTitle(), "Цепочка (chain) - Vektra Launcher");
  EXPECT_TRUE(form.ActionClose->isEnabled());
  ASSERT_NE(form.Scheme(), nullptr);
  EXPECT_TRUE(form.Scheme()->Started());

  // Opening a second scheme closes the first, which saves its default profile.
  answer = Scheme("fanout.vms");
  form.FileOpen->trigger();
  EXPECT_TRUE(fs::exists(chainProfile));
  EXPECT_EQ(form.windowTitle(), "Веер (fanout) - Vektra Launcher");

  // A profile of another scheme is refused.
  answer = QString::fromStdString(chainProfile);
  form.ActionProfileOpen->trigger();
  EXPECT_EQ(asked.back().title, "Открытие профиля");
  EXPECT_EQ(cap.CountText("Ошибка при открытии профиля"), 1u);

  form.ActionClose->trigger();
  EXPECT_EQ(form.Scheme(), nullptr);
  EXPECT_FALSE(form.ActionClose->isEnabled());
  EXPECT_EQ(form.windowTitle(), "Vektra Launcher");
  EXPECT_TRUE(fs::exists(GetVKDir(dirDefProfiles) + "/fanout.vpr"));

  // Profile actions without a scheme do nothing; a cancelled dialog neither.
  answer = QString();
  form.ActionProfileSave->trigger();
  form.FileOpen->trigger();
  EXPECT_EQ(form.Scheme(), nullptr);
  TMainForm::SetFileDialogHook(nullptr);
}

TEST(Launcher, BadSchemesAndBrokenConfiguration) {
  TestApp();
  vkplatform::ReportCapture cap;
  {
    TMainForm form(Options());
    form.TimerOpenFile.stop();
    EXPECT_EQ(form.OpenScheme(QString::fromStdString(TestHome() + "/nothing.vms")), -1);
    EXPECT_EQ(form.Scheme(), nullptr);
    EXPECT_EQ(cap.CountText("Невозможно открыть XML документ."), 1u);
    EXPECT_EQ(form.windowTitle(), "Vektra Launcher");
  }
  // From the command line a scheme that fails ends the program.
  TLauncherOptions withScheme = Options();
  withScheme.schemeFile = QString::fromStdString(TestHome() + "/nothing.vms");
  {
    TMainForm form(withScheme);
    EXPECT_TRUE(form.TerminateRequested());
  }
  // A configuration file that is no XML: the box, then termination.
  fs::create_directories(GetVKDir(dirConfig));
  std::ofstream(GetConfigFileName()) << "<Vektra><AddressList>";
  cap.Clear();
  {
    TMainForm form(Options());
    EXPECT_TRUE(form.TerminateRequested());
    ASSERT_EQ(cap.Count(), 1u);
    EXPECT_EQ(cap.Reports()[0].caption, "Ошибка при загрузке файла конфигурации");
    EXPECT_EQ(cap.Reports()[0].text.rfind("Невозможно открыть файл конфигурации\r\n\"", 0), 0u);
  }
  fs::remove(GetConfigFileName());
}

TEST(Launcher, DemoToolWindowDocksRightAndTheAboutBoxListsPackages) {
  TestApp();
  TLauncherOptions o = Options();
  o.schemeFile = QString(VK_SOURCE_DIR) + "/schemes/demo.vms";
  TMainForm form(o);
  ASSERT_FALSE(form.TerminateRequested());
  form.show();
  auto* tool = form.findChild<QDockWidget*>(QString::fromUtf8("TestSinkTool_Приёмник"));
  ASSERT_NE(tool, nullptr);
  EXPECT_EQ(form.dockWidgetArea(tool), Qt::RightDockWidgetArea);
  MaybeScreenshot(&form, "player-demo");

  // The tool window has its item in "&Вид"; locking the panels takes its grip.
  form.ActionLockToolbars->setChecked(true);
  EXPECT_NE(tool->titleBarWidget(), nullptr);
  form.ActionLockToolbars->setChecked(false);
  EXPECT_EQ(tool->titleBarWidget(), nullptr);

  TfrmAbout about(form.Plugins(), &form);
  const QString list = about.Packages->toPlainText();
  EXPECT_TRUE(list.startsWith(QString::fromUtf8("TestPass.so, вер. ")));
  EXPECT_TRUE(list.contains(QString::fromUtf8("TestSink.so, вер. ")));
  EXPECT_TRUE(list.contains(QString::fromUtf8("(Тестовый пакет TestSource)")));
  about.show();
  MaybeScreenshot(&about, "player-about");
}

// Closing the scheme, or the launcher, while a plug-in's windowed handler
// runs its own event loop waits for the handler instead of freeing its
// module under it.
TEST(Launcher, CloseWaitsForARunningWindowedHandler) {
  TestApp();
  vkplatform::ReportCapture cap;
  const std::string file = TestHome() + "/nested.vms";
  std::ofstream(file) << "<scheme name=\"n\"><node name=\"src\" class=\"TTestSource\">"
                         "<parameters count=\"1\"/><output name=\"out\"><link node=\"sink\" linkpoint=\"in\"/>"
                         "</output></node><node name=\"sink\" class=\"TTestSink\">"
                         "<parameters window=\"true\" nested=\"300\"/></node></scheme>";
  TMainForm form(Options());
  form.TimerOpenFile.stop();
  ASSERT_EQ(form.OpenScheme(QString::fromStdString(file)), 0);
  form.ActionClose->setEnabled(true);
  bool busyWhenAsked = false, openAfterAsking = false;
  QTimer::singleShot(100, [&] {
    busyWhenAsked = form.Scheme() && form.Scheme()->Busy();
    form.ActionClose->trigger();
    openAfterAsking = form.Scheme() != nullptr;
  });
  QElapsedTimer t;
  t.start();
  while (form.Scheme() && t.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_TRUE(busyWhenAsked);
  EXPECT_TRUE(openAfterAsking);
  EXPECT_EQ(form.Scheme(), nullptr);
  EXPECT_GE(t.elapsed(), 250);
  EXPECT_FALSE(form.ActionClose->isEnabled());
}
