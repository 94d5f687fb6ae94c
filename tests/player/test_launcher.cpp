// The launcher's main window: start-up, schemes, profiles, bad input.
#include <gtest/gtest.h>

#include <QAction>
#include <QDockWidget>
#include <QMenuBar>
#include <QTextEdit>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QElapsedTimer>
#include <QTimer>
#include <QRegularExpression>

#include <filesystem>
#include <fstream>

#include "AboutForm.h"
#include "GuiPlugin.h"
#include "MainForm.h"
#include "Screenshot.h"
#include "Startup.h"
#include "TestApp.h"
#include "TestHome.h"
#include "VKPaths.h"
#include "interpreter/KorvanInterpreter.h"
#include "platform/Com.h"
#include "platform/ComRegistry.h"
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
  EXPECT_TRUE(fs::exists(GetVKDir(dirConfig) + "/RelationPreset.xml"));
  EXPECT_TRUE(form.TimerOpenFile.isActive());    // no scheme given: the dialog follows
  form.TimerOpenFile.stop();
  EXPECT_EQ(form.windowTitle(), "Vektra Launcher");
  EXPECT_FALSE(form.ActionClose->isEnabled());
  // Arial's metric twin at 11 pixels.
  EXPECT_EQ(form.font().pixelSize(), 11);
  EXPECT_EQ(QFontInfo(form.font()).family(), "Liberation Sans");

  // The menu bar, in order, and the named docks; "&О программе..." is the
  // About action itself.
  EXPECT_TRUE(form.menuBar()->actions().last()->menu()->actions().contains(form.ActionAbout));
  EXPECT_EQ(form.ActionAbout->text(), "&О программе...");
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
  EXPECT_EQ(TMainForm::ApplicationTitle(), "Цепочка (chain) - Vektra Launcher");
  // Only the main window carries the caption: a display name would be added
  // to the title of every dialog and message box.
  EXPECT_EQ(QGuiApplication::applicationDisplayName(), QCoreApplication::applicationName());
  EXPECT_TRUE(form.ActionClose->isEnabled());
  ASSERT_NE(form.Scheme(), nullptr);
  EXPECT_TRUE(form.Scheme()->Started());

  // Opening a second scheme closes the first, which saves its default profile.
  answer = Scheme("fanout.vms");
  form.FileOpen->trigger();
  EXPECT_TRUE(fs::exists(chainProfile));
  EXPECT_EQ(form.windowTitle(), "Веер (fanout) - Vektra Launcher");

  // A profile of another scheme is refused, in a box captioned with the
  // application's title, which is the scheme's caption now.
  answer = QString::fromStdString(chainProfile);
  form.ActionProfileOpen->trigger();
  EXPECT_EQ(asked.back().title, "Открытие профиля");
  ASSERT_EQ(cap.CountText("Ошибка при открытии профиля"), 1u);
  EXPECT_EQ(cap.Reports().back().caption, "Веер (fanout) - Vektra Launcher");

  form.ActionClose->trigger();
  EXPECT_EQ(form.Scheme(), nullptr);
  EXPECT_FALSE(form.ActionClose->isEnabled());
  EXPECT_EQ(form.windowTitle(), "Vektra Launcher");
  EXPECT_EQ(TMainForm::ApplicationTitle(), "Vektra Launcher");
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
  QTimer asker;
  QObject::connect(&asker, &QTimer::timeout, [&] {
    if (!form.Scheme() || !form.Scheme()->Busy()) return;
    asker.stop();
    busyWhenAsked = true;
    form.ActionClose->trigger();
    openAfterAsking = form.Scheme() != nullptr;
  });
  asker.start(5);
  QElapsedTimer t;
  t.start();
  while (form.Scheme() && t.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_TRUE(busyWhenAsked);
  EXPECT_TRUE(openAfterAsking);
  EXPECT_EQ(form.Scheme(), nullptr);
  EXPECT_FALSE(form.ActionClose->isEnabled());
}

// On a fresh account the profile dialogs open in the profiles folder, which
// must exist by then (a dialog on a missing folder falls back to its parent
// with the folder's name typed in as the file name).
TEST(Launcher, ProfileDialogsOpenInAnExistingProfilesFolder) {
  TestApp();
  vkplatform::ReportCapture cap;
  fs::remove_all(GetVKDir(dirConfig));
  TMainForm form(Options());
  form.TimerOpenFile.stop();
  ASSERT_EQ(form.OpenScheme(Scheme("chain.vms")), 0);
  std::vector<bool> existed;
  TMainForm::SetFileDialogHook([&](const TFileDialogRequest& r) {
    EXPECT_EQ(r.directory.toStdString(), GetVKDir(dirProfiles));
    existed.push_back(QFileInfo(r.directory).isDir());
    return QString();
  });
  form.ActionProfileSave->trigger();
  fs::remove_all(GetVKDir(dirProfiles));
  form.ActionProfileOpen->trigger();
  TMainForm::SetFileDialogHook(nullptr);
  EXPECT_EQ(existed, std::vector<bool>({true, true}));
}

// Qt's own texts (dialogs, buttons, edit menus) are Russian.
TEST(Launcher, QtTextsAreRussian) {
  TestApp();
  ASSERT_TRUE(vklauncher::InstallRussianTranslations(*QCoreApplication::instance()));
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), "Перейти к:");
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Отмена");
  EXPECT_EQ(QLineEdit::tr("&Paste"), "В&ставить");
}

namespace {

struct TRun {
  int status = -1;
  QString out, err;
};

// A program of the installation run in a terminal without a display.
TRun Program(const char* program, const QStringList& arguments, const QString& platform = QString(),
             const QString& display = QString()) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("DISPLAY");
  env.remove("WAYLAND_DISPLAY");
  env.remove("QT_QPA_PLATFORM");
  if (!platform.isEmpty()) env.insert("QT_QPA_PLATFORM", platform);
  if (!display.isEmpty()) env.insert("DISPLAY", display);
  env.insert("HOME", QString::fromStdString(TestHome()));
  env.insert("XDG_CONFIG_HOME", QString::fromStdString(TestHome() + "/.config"));
  p.setProcessEnvironment(env);
  p.start(QString(VK_BIN_DIR) + "/" + program, arguments);
  TRun r;
  if (!p.waitForFinished(30000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
  r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
  r.err = QString::fromLocal8Bit(p.readAllStandardError());
  return r;
}

TRun Player(const QStringList& arguments, const QString& platform = QString()) {
  return Program("Player", arguments, platform);
}

}  // namespace

// Help and version need no display; a missing scheme or no display at all
// are said plainly (no abort); options it does not know are passed over
// with a warning; an exception at start-up is shown before the end.
TEST(Launcher, CommandLineWithoutADisplay) {
  TestApp();
  TRun help = Player({"--help"});
  EXPECT_EQ(help.status, 0) << help.err.toStdString();
  EXPECT_TRUE(help.out.contains("--quit-after")) << help.out.toStdString();
  EXPECT_TRUE(help.out.contains("scheme.vms")) << help.out.toStdString();
  TRun version = Player({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.startsWith("Vektra Launcher ")) << version.out.toStdString();

  TRun missing = Player({"/nowhere/missing.vms"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(missing.err.contains("/nowhere/missing.vms")) << missing.err.toStdString();
  TRun noScreen = Player({});
  EXPECT_EQ(noScreen.status, 1);
  EXPECT_TRUE(noScreen.err.contains("QT_QPA_PLATFORM=offscreen")) << noScreen.err.toStdString();
  // A display that is named but does not answer (a broken forwarding, a
  // server that has gone) is said the same way, not ended by an abort.
  for (const char* unreachable : {"localhost:99", ":97"}) {
    TRun gone = Program("Player", {}, QString(), unreachable);
    EXPECT_EQ(gone.status, 1) << unreachable;
    EXPECT_TRUE(gone.err.contains(QString::fromUtf8("дисплей %1 недоступен").arg(unreachable)))
        << gone.err.toStdString();
  }

  const QString demo = QString(VK_BIN_DIR) + "/schemes/demo.vms";
  TRun bogus = Player({demo, "--bogus", "extra.vms", "--quit-after", "0.3"}, "offscreen");
  EXPECT_EQ(bogus.status, 0) << bogus.err.toStdString();
  EXPECT_TRUE(bogus.err.contains("--bogus") || bogus.err.contains("bogus")) << bogus.err.toStdString();
  EXPECT_TRUE(bogus.err.contains("extra.vms")) << bogus.err.toStdString();

  const std::string failing = TestHome() + "/failing-init.vms";
  std::ofstream(failing) << "<scheme name=\"Сбой\"><node name=\"src\" class=\"TTestSource\">"
                            "<parameters throw=\"initialize\"/></node></scheme>";
  TRun thrown = Player({QString::fromStdString(failing), "--quit-after", "0.3"}, "offscreen");
  EXPECT_EQ(thrown.status, 1);
  EXPECT_TRUE(thrown.err.contains("[Сбой (failing-init) - Vektra Launcher] test failure in Initialize"))
      << thrown.err.toStdString();
}

// The headless runner: a scheme runs for the time asked and stops (0); a
// scheme that cannot be opened (1), wrong arguments (2) and a module that
// reports an error while running (3) end it with the message.
TEST(RunScheme, RunsForAWhileAndEndsOnErrors) {
  TestApp();
  const QString demo = QString(VK_BIN_DIR) + "/schemes/demo.vms";
  TRun ok = Program("vk-run-scheme", {demo, "--for", "0.5"});
  EXPECT_EQ(ok.status, 0) << ok.err.toStdString();
  EXPECT_TRUE(ok.err.contains("запущена")) << ok.err.toStdString();
  EXPECT_TRUE(ok.err.contains("остановлена")) << ok.err.toStdString();

  TRun missing = Program("vk-run-scheme", {"/nowhere/missing.vms"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(missing.err.contains("/nowhere/missing.vms")) << missing.err.toStdString();
  const std::string broken = TestHome() + "/broken.vms";
  std::ofstream(broken) << "<scheme name=\"x\"><node";
  TRun bad = Program("vk-run-scheme", {QString::fromStdString(broken), "--for", "5"});
  EXPECT_EQ(bad.status, 1) << bad.err.toStdString();
  EXPECT_TRUE(bad.err.contains("ошибка")) << bad.err.toStdString();
  EXPECT_EQ(Program("vk-run-scheme", {demo, "--for", "soon"}).status, 2);
  EXPECT_EQ(Program("vk-run-scheme", {}).status, 2);

  const std::string failing = TestHome() + "/failing-sink.vms";
  std::ofstream(failing) << "<scheme name=\"Сбой\"><node name=\"src\" class=\"TTestSource\">"
                            "<output name=\"out\"><link node=\"sink\" linkpoint=\"in\" queue=\"4\"/></output></node>"
                            "<node name=\"sink\" class=\"TTestSink\"><parameters throw=\"3\"/></node></scheme>";
  TRun thrown = Program("vk-run-scheme", {QString::fromStdString(failing), "--for", "20"});
  EXPECT_EQ(thrown.status, 3) << thrown.err.toStdString();
  EXPECT_TRUE(thrown.err.contains("sink failure")) << thrown.err.toStdString();
}

namespace {

// The shipped logging scheme, connecting to `address` and recording into
// `folder`.
std::string LoggingScheme(const std::string& name, const std::string& address, const std::string& folder) {
  std::ifstream in(std::string(VK_BIN_DIR) + "/schemes/logging.vms");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (auto [from, to] : {std::pair<std::string, std::string>{"address=\"sim\"", "address=\"" + address + "\""},
                          {"folder=\"[user]/records\"", "folder=\"" + folder + "\""}}) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
  }
  const std::string file = TestHome() + "/" + name;
  std::ofstream(file) << text;
  return file;
}

// Reads `p`'s standard error into `err` until it holds `text` (at most
// `timeoutMs`).
bool WaitForError(QProcess& p, QString& err, const QString& text, int timeoutMs) {
  QElapsedTimer t;
  t.start();
  while (!err.contains(text) && t.elapsed() < timeoutMs && p.state() != QProcess::NotRunning) {
    p.waitForReadyRead(100);
    err += QString::fromLocal8Bit(p.readAllStandardError());
  }
  err += QString::fromLocal8Bit(p.readAllStandardError());
  return err.contains(text);
}

}  // namespace

// Options it does not know, or without their value, are wrong arguments (2);
// an instrument that never answered, or was lost and did not come back by the
// end, is said (the link's own words reach the log through the logging
// scheme's wiring) and ends the run with 4.
TEST(RunScheme, WrongOptionsAndAMissingInstrument) {
  TestApp();
  const QString demo = QString(VK_BIN_DIR) + "/schemes/demo.vms";
  TRun unknown = Program("vk-run-scheme", {demo, "--bogus"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_TRUE(unknown.err.contains("bogus")) << unknown.err.toStdString();
  EXPECT_EQ(Program("vk-run-scheme", {demo, "--for"}).status, 2);
  TRun help = Program("vk-run-scheme", {"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.out.contains(QString::fromUtf8("4 — "))) << help.out.toStdString();

  const std::string never = LoggingScheme("never.vms", "127.0.0.1:1", TestHome() + "/rec-never");
  TRun unreached = Program("vk-run-scheme", {QString::fromStdString(never), "--for", "1.5"});
  EXPECT_EQ(unreached.status, 4) << unreached.err.toStdString();
  EXPECT_TRUE(unreached.err.contains(QString::fromUtf8("Невозможно подключиться"))) << unreached.err.toStdString();
  EXPECT_TRUE(unreached.err.contains(QString::fromUtf8("прибор так и не ответил"))) << unreached.err.toStdString();

  // Lost for good: the instrument goes while the run records, and the run
  // is ended by a signal.
  QProcess sim;
  sim.start(QString(VK_BIN_DIR) + "/vk-instrument-sim", {"--port", "0", "--rate", "50"});
  ASSERT_TRUE(sim.waitForReadyRead(10000));
  const auto match = QRegularExpression("127\\.0\\.0\\.1:(\\d+)").match(QString::fromLatin1(sim.readLine()));
  ASSERT_TRUE(match.hasMatch());
  const std::string folder = TestHome() + "/rec-lost";
  fs::remove_all(folder);
  const std::string lost = LoggingScheme("lost.vms", "127.0.0.1:" + match.captured(1).toStdString(), folder);
  QProcess run;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.remove("DISPLAY");
  env.insert("HOME", QString::fromStdString(TestHome()));
  env.insert("XDG_CONFIG_HOME", QString::fromStdString(TestHome() + "/.config"));
  run.setProcessEnvironment(env);
  run.start(QString(VK_BIN_DIR) + "/vk-run-scheme", {QString::fromStdString(lost)});
  auto recording = [&] {  // a file with sweeps in it, not only its header
    if (fs::exists(folder))
      for (const auto& e : fs::directory_iterator(folder))
        if (e.is_regular_file() && fs::file_size(e.path()) > 1000) return true;
    return false;
  };
  QElapsedTimer t;
  t.start();
  while (!recording() && t.elapsed() < 20000 && run.state() != QProcess::NotRunning) run.waitForFinished(100);
  EXPECT_TRUE(recording());
  sim.kill();
  sim.waitForFinished(5000);
  QString err;
  EXPECT_TRUE(WaitForError(run, err, QString::fromUtf8("связь потеряна"), 10000)) << err.toStdString();
  run.terminate();
  ASSERT_TRUE(run.waitForFinished(20000));
  err += QString::fromLocal8Bit(run.readAllStandardError());
  EXPECT_EQ(run.exitCode(), 4) << err.toStdString();
  EXPECT_TRUE(err.contains(QString::fromUtf8("Не удалось прочитать из ethernet'a"))) << err.toStdString();
  EXPECT_TRUE(err.contains(QString::fromUtf8("связь с прибором потеряна и не восстановлена"))) << err.toStdString();
}

// The component registry is the user's: the launcher registers the
// interpreter it brings when the user has none registered, or one whose file
// is gone, and leaves a registration that works alone.
TEST(Launcher, RegistersTheInterpreterItBrings) {
  const std::string key = "CLSID/" + vkplatform::GuidToString(CLSID_Interpreter) + "/InprocServer32";
  {
    vkplatform::ComRegistry registry;
    registry.RemoveKey("CLSID/" + vkplatform::GuidToString(CLSID_Interpreter));
  }
  EXPECT_FALSE(vklauncher::RegisterBundledComponents(QString::fromStdString(TestHome())));  // none to bring
  ASSERT_TRUE(vklauncher::RegisterBundledComponents(VK_BIN_DIR));
  const std::string path = vkplatform::ComRegistry().Value(key);
  EXPECT_EQ(fs::path(path), fs::path(VK_BIN_DIR) / "KorvanInterpreter.so");
  // Registered and there: nothing changes, even from another folder.
  EXPECT_TRUE(vklauncher::RegisterBundledComponents(QString::fromStdString(TestHome())));
  EXPECT_EQ(vkplatform::ComRegistry().Value(key), path);
}
