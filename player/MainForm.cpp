#include "MainForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QStyle>
#include <QToolBar>

#include "../platform/LongOperation.h"
#include "../platform/Report.h"
#include "AboutForm.h"
#include "GuiPlugin.h"
#include "Startup.h"
#include "PacketTypes.h"
#include "VKPaths.h"
#include "VKXml.h"

namespace {

// The application's title: the main window's caption, which every message
// that speaks for the application as a whole carries.
std::string g_applicationTitle = "Vektra Launcher";

QString Qs(const std::string& s) { return QString::fromStdString(s); }
std::string Ss(const QString& s) { return s.toStdString(); }

const char* kCaption = "Vektra Launcher";

}  // namespace

void TMainForm::SetFileDialogHook(TFileDialogHook hook) { ::SetFileDialogHook(std::move(hook)); }

std::string TMainForm::ApplicationTitle() { return g_applicationTitle; }

TMainForm::TMainForm(const TLauncherOptions& opts) : options(opts) {
  setObjectName("MainForm");
  BuildActions();
  BuildWindow();

  // Start-up, in order: help is hooked already (member); the packages.
  const QString pluginsDir =
      options.pluginsDir.isEmpty() ? Qs(GetVKDir(dirPlugins)) : options.pluginsDir;
  pluginsManager = std::make_unique<CPluginsManager>(Ss(pluginsDir).c_str());
  for (const AnsiString& error : pluginsManager->ScanErrors())
    std::fprintf(stderr, "Vektra: skipped %s\n", error.c_str());

  const QString helpFile = options.helpFile.isEmpty()
                               ? Qs(GetVKDir(dirApplication) + "/help/vektra.qch")
                               : options.helpFile;
  help.SetHtmlHelpFile(Ss(helpFile));

  schemeDirectory = Qs(GetVKDir(dirSchemes));
  profileDirectory = Qs(GetVKDir(dirProfiles));

  if (!CheckConfiguration()) terminateRequested = true;
  RegisterPacketTypes();

  connect(&TimerOpenFile, &QTimer::timeout, this, [this] {
    TimerOpenFile.stop();
    FileOpen->trigger();
  });
  if (terminateRequested) return;
  if (options.schemeFile.isEmpty()) {
    TimerOpenFile.start();
  } else {
    TfrmAbout splash(pluginsManager.get());
    splash.show();
    splash.repaint();
    QApplication::processEvents();
    if (OpenScheme(options.schemeFile) != 0) terminateRequested = true;
    else ActionClose->setEnabled(true);
    splash.hide();
  }
}

TMainForm::~TMainForm() {
  CloseScheme();
  pluginsManager.reset();
  // The help manager, a member, goes last.
}

bool TMainForm::CheckConfiguration() {
  const QString config = Qs(GetConfigFileName());
  const QString seed = options.configDefault.isEmpty() ? Qs(GetVKDir(dirApplication) + "/data/config.xml")
                                                       : options.configDefault;
  if (!QFileInfo::exists(config)) {
    // A fresh account gets the configuration the installation brings.
    QDir().mkpath(QFileInfo(config).absolutePath());
    QFile::copy(seed, config);
    QFile(config).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                 QFileDevice::ReadGroup | QFileDevice::ReadOther);
  }
  // The link-marker formula library beside it, once: the operator's own
  // additions are never overwritten.
  const QString presets = Qs(GetVKDir(dirConfig) + "/RelationPreset.xml");
  if (!QFileInfo::exists(presets) &&
      QFile::copy(QFileInfo(seed).absolutePath() + "/RelationPreset.xml", presets))
    QFile(presets).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                  QFileDevice::ReadGroup | QFileDevice::ReadOther);
  VKCore::CXMLDocument doc(false);
  if (doc.Open(Ss(config).c_str(), VKCore::kSettingsFileLimit) == 0) return true;
  vkplatform::MessageBox(
      "Невозможно открыть файл конфигурации\r\n\"" + Ss(config) +
          "\"\r\nСистема Vektra установлена не полностью, или повреждена.\r\nДля устранения "
          "проблемы переустановите программу.",
      "Ошибка при загрузке файла конфигурации", vkplatform::MsgIcon::Error);
  return false;
}

void TMainForm::BuildActions() {
  auto make = [this](const char* name, const char* caption) {
    auto* a = new QAction(QString::fromUtf8(caption), this);
    a->setObjectName(name);
    return a;
  };
  FileOpen = make("FileOpen", "&Открыть схему...");
  FileOpen->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
  FileOpen->setStatusTip(QString::fromUtf8("Открытие файла измерительной схемы"));
  FileOpen->setToolTip(QString::fromUtf8("Открыть"));
  FileOpen->setIcon(style()->standardIcon(QStyle::SP_DialogOpenButton));
  ActionClose = make("ActionClose", "&Закрыть схему");
  ActionClose->setEnabled(false);
  FileExit = make("FileExit", "&Выход");
  FileExit->setToolTip("Exit");
  FileExit->setStatusTip("Quits the application");
  ActionProfileOpen = make("ActionProfileOpen", "&Открыть профиль...");
  ActionProfileOpen->setShortcut(QKeySequence(Qt::Key_F3));
  ActionProfileOpen->setToolTip(QString::fromUtf8("Открыть профиль"));
  ActionProfileOpen->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
  ActionProfileSave = make("ActionProfileSave", "&Сохранить профиль...");
  ActionProfileSave->setShortcut(QKeySequence(Qt::Key_F4));
  ActionProfileSave->setToolTip(QString::fromUtf8("Сохранить профиль"));
  ActionProfileSave->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  ActionProfileRestore = make("ActionProfileRestore", "&Восстановить начальные параметры");
  ActionProfileRestore->setToolTip(QString::fromUtf8("Восстановить начальные параметры"));
  ActionProfileRestore->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
  ActionLockToolbars = make("ActionLockToolbars", "Закрепить панели");
  ActionLockToolbars->setCheckable(true);
  ActionLockToolbars->setEnabled(false);
  // One action for the menu item "&О программе..." and the tool button.
  ActionAbout = make("ActionAbout", "&О программе...");
  ActionAbout->setIconText(QString::fromUtf8("О программе..."));
  ActionAbout->setToolTip(QString::fromUtf8("Информация о программе Vektra Launcher"));
  ActionAbout->setStatusTip(QString::fromUtf8("Информация о программе Vektra Launcher"));
  ActionAbout->setIcon(style()->standardIcon(QStyle::SP_MessageBoxInformation));
  ActionHelp = make("ActionHelp", "&Справка");
  ActionHelp->setIcon(style()->standardIcon(QStyle::SP_DialogHelpButton));

  connect(FileOpen, &QAction::triggered, this, &TMainForm::OnFileOpen);
  connect(ActionClose, &QAction::triggered, this, &TMainForm::OnClose);
  connect(FileExit, &QAction::triggered, this, &QWidget::close);
  connect(ActionProfileOpen, &QAction::triggered, this, &TMainForm::OnProfileOpen);
  connect(ActionProfileSave, &QAction::triggered, this, &TMainForm::OnProfileSave);
  connect(ActionProfileRestore, &QAction::triggered, this, &TMainForm::OnProfileRestore);
  connect(ActionLockToolbars, &QAction::toggled, this, &TMainForm::OnLockToolbars);
  connect(ActionHelp, &QAction::triggered, this, &TMainForm::OnHelp);
  connect(ActionAbout, &QAction::triggered, this, &TMainForm::OnAbout);
}

void TMainForm::BuildWindow() {
  SetCaption(kCaption);
  setFont(vklauncher::LauncherFont());
  setProperty(CHelpManager::kHelpContextProperty, 1002);
  resize(688, 543);
  if (QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks);

  auto* bar = new QMenuBar(this);
  bar->setObjectName(vkgui::kMainMenu);
  bar->setWindowTitle(QString::fromUtf8("Главное меню"));
  setMenuBar(bar);
  QMenu* file = bar->addMenu(QString::fromUtf8("&Файл"));
  file->addAction(FileOpen);
  file->addAction(ActionClose);
  file->addSeparator();
  file->addAction(FileExit);
  QMenu* settings = bar->addMenu(QString::fromUtf8("&Настройки"));
  settings->addAction(ActionProfileOpen);
  settings->addAction(ActionProfileSave);
  settings->addAction(ActionProfileRestore);

  auto makeBar = [this](const char* name, const char* title) {
    auto* tb = new QToolBar(QString::fromUtf8(title), this);
    tb->setObjectName(name);
    tb->setToolButtonStyle(Qt::ToolButtonIconOnly);
    addToolBar(Qt::TopToolBarArea, tb);
    return tb;
  };
  TBToolbarFile = makeBar("TBToolbarFile", "Файл");
  TBToolbarFile->addAction(FileOpen);
  TBToolbarProfile = makeBar("TBToolbarProfile", "Профили");
  TBToolbarProfile->addAction(ActionProfileOpen);
  TBToolbarProfile->addAction(ActionProfileSave);
  TBToolbarProfile->addAction(ActionProfileRestore);
  TBToolbarHelp = makeBar("TBToolbarHelp", "Помощь");
  TBToolbarHelp->addAction(ActionHelp);
  TBToolbarHelp->addAction(ActionAbout);

  QMenu* view = bar->addMenu(QString::fromUtf8(vkgui::kViewMenu));
  QMenu* toolbars = view->addMenu(QString::fromUtf8("&Панели инструментов"));
  toolbars->setObjectName("ToolbarsMenu");
  for (QToolBar* tb : {TBToolbarFile, TBToolbarProfile, TBToolbarHelp}) {
    QAction* toggle = tb->toggleViewAction();
    toggle->setText(tb->windowTitle());
    toolbars->addAction(toggle);
  }
  view->addAction(ActionLockToolbars);
  QMenu* helpMenu = bar->addMenu(QString::fromUtf8("&Помощь"));
  helpMenu->addAction(ActionHelp);
  helpMenu->addAction(ActionAbout);

  DockTop = new TDockArea(this, "DockTop", Qt::TopDockWidgetArea);
  DockLeft = new TDockArea(this, "DockLeft", Qt::LeftDockWidgetArea);
  DockRight = new TDockArea(this, "DockRight", Qt::RightDockWidgetArea);
  DockBottom = new TDockArea(this, "DockBottom", Qt::BottomDockWidgetArea);
  MainPanel = new QWidget(this);
  MainPanel->setObjectName("MainPanel");
  setCentralWidget(MainPanel);

  TimerOpenFile.setInterval(100);
  TimerOpenFile.setSingleShot(true);
}

void TMainForm::SetCaption(const QString& caption) {
  // Only the main window carries it: Qt would add an application display
  // name to the title of every dialog and message box.
  setWindowTitle(caption);
  g_applicationTitle = caption.toStdString();
}

void TMainForm::SetSchemeControlsVisible(bool visible) {
  // The plug-ins build their windows while the window does not repaint, so
  // the operator does not watch them assemble.
  MainPanel->setVisible(visible);
  setUpdatesEnabled(visible);
}

int TMainForm::OpenScheme(const QString& fileName) {
  CloseScheme();
  schemeManager = std::make_unique<CSchemeManager>(pluginsManager.get());
  SetSchemeControlsVisible(false);
  AnsiString schemeName;
  if (schemeManager->Open(Ss(fileName), schemeName) != 0) {
    schemeManager.reset();
    SetSchemeControlsVisible(true);
    return -1;
  }
  SetCaption(Qs(schemeName) + " (" + Qs(ExExtractFileName(Ss(fileName).c_str())) + ")" +
             " - " + kCaption);
  schemeManager->Start(this);
  SetSchemeControlsVisible(true);
  ActionLockToolbars->setEnabled(true);
  return 0;
}

void TMainForm::CloseScheme() {
  SetSchemeControlsVisible(false);
  if (ActionLockToolbars->isChecked()) ActionLockToolbars->setChecked(false);
  schemeManager.reset();
  SetCaption(kCaption);
  ActionLockToolbars->setEnabled(false);
  SetSchemeControlsVisible(true);
}

QString TMainForm::ChooseFile(const TFileDialogRequest& r) { return ChooseFileName(this, r); }

void TMainForm::OnFileOpen() {
  const QString file = ChooseFile({QString::fromUtf8("Открытие файла измерительной схемы Vektra"),
                                   QString::fromUtf8("Файлы измерительных схем Vektra (*.vms *.xml)"),
                                   "vms", schemeDirectory, false});
  if (file.isEmpty()) return;
  schemeDirectory = QFileInfo(file).absolutePath();
  if (!QFileInfo::exists(file)) {
    vkplatform::MessageBox("Файл \"" + Ss(file) + "\" не найден.", "Ошибка",
                           vkplatform::MsgIcon::Error);
    return;
  }
  auto open = [this, file] {
    // A scheme that failed to open leaves nothing to close.
    ActionClose->setEnabled(OpenScheme(file) == 0);
  };
  if (!PutOffWhileBusy(open)) open();
}

bool TMainForm::PutOffWhileBusy(const std::function<void()>& action) {
  // A long operation (a large profile being opened) finishes first.
  if (!vkplatform::LongOperationRunning() && (!schemeManager || !schemeManager->Busy())) return false;
  QTimer::singleShot(20, this, [this, action] {
    if (!PutOffWhileBusy(action)) action();
  });
  return true;
}

void TMainForm::closeEvent(QCloseEvent* event) {
  if (PutOffWhileBusy([this] { close(); })) {
    event->ignore();
    return;
  }
  QMainWindow::closeEvent(event);
}

void TMainForm::OnClose() {
  if (PutOffWhileBusy([this] { OnClose(); })) return;
  CloseScheme();
  ActionClose->setEnabled(false);
}

void TMainForm::OnProfileOpen() {
  // The dialog opens in the profiles folder, which a fresh account has not
  // got yet.
  QDir().mkpath(profileDirectory);
  const QString file = ChooseFile({QString::fromUtf8("Открытие профиля"),
                                   QString::fromUtf8("Файлы профилей Vektra (*.vpr)"), "vpr",
                                   profileDirectory, false});
  if (file.isEmpty() || !schemeManager) return;
  if (schemeManager->OpenProfile(Ss(file).c_str()) != 0)
    vkplatform::MessageBox("Ошибка при открытии профиля", g_applicationTitle, vkplatform::MsgIcon::None);
}

void TMainForm::OnProfileSave() {
  QDir().mkpath(profileDirectory);
  const QString file = ChooseFile({QString::fromUtf8("Сохранение профиля"),
                                   QString::fromUtf8("Файлы профилей Vektra (*.vpr)"), "vpr",
                                   profileDirectory, true});
  if (file.isEmpty() || !schemeManager) return;
  schemeManager->SaveProfile(Ss(file).c_str());
}

void TMainForm::OnProfileRestore() {
  if (schemeManager) schemeManager->RestoreProfile();
}

void TMainForm::OnLockToolbars(bool lock) { LockToolBars(this, lock); }

void TMainForm::OnHelp() { help.ShowTopic("about.html"); }

void TMainForm::OnAbout() {
  TfrmAbout about(pluginsManager.get(), this);
  about.exec();
}
