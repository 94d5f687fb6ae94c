#pragma once
// The launcher's main window: menus, tool bars, the docks and the panel that
// the plug-ins fill, and the sequence of opening, running and closing one
// scheme at a time.
#include <QMainWindow>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

#include "GuiPlugin.h"
#include "HelpManager.h"
#include "PluginManager.h"
#include "SchemeManager.h"

class QAction;
class QToolBar;
class TDockArea;
class TfrmAbout;

// Where the launcher finds its parts; empty fields take the installation's
// folders (next to the executable).
struct TLauncherOptions {
  QString schemeFile;  // opened at start; empty: the scheme dialog opens after 100 ms
  QString pluginsDir;
  QString helpFile;
  QString configDefault;  // the default configuration that seeds a fresh account
};


class TMainForm : public QMainWindow {
  Q_OBJECT

 public:
  explicit TMainForm(const TLauncherOptions& options);
  ~TMainForm() override;

  // Whether start-up asked the program to end (configuration missing, or the
  // scheme of the command line failed to open).
  bool TerminateRequested() const { return terminateRequested; }
  // 0, or -1 when the scheme could not be opened (its message was shown).
  int OpenScheme(const QString& fileName);
  void CloseScheme();
  CSchemeManager* Scheme() const { return schemeManager.get(); }
  CPluginsManager* Plugins() const { return pluginsManager.get(); }
  CHelpManager& Help() { return help; }

  QAction* FileOpen = nullptr;
  QAction* ActionClose = nullptr;
  QAction* FileExit = nullptr;
  QAction* ActionProfileOpen = nullptr;
  QAction* ActionProfileSave = nullptr;
  QAction* ActionProfileRestore = nullptr;
  QAction* ActionLockToolbars = nullptr;
  QAction* ActionAbout = nullptr;
  QAction* ActionHelp = nullptr;
  QTimer TimerOpenFile;

  // Replaces the file dialogs (tests); an empty hook restores them.
  static void SetFileDialogHook(TFileDialogHook hook);
  // The application's title: the main window's caption ("Vektra Launcher",
  // or the open scheme's caption). Messages that speak for the application
  // carry it.
  static std::string ApplicationTitle();

 private:
  void BuildWindow();
  void BuildActions();
  void SetCaption(const QString& caption);
  void SetSchemeControlsVisible(bool visible);
  QString ChooseFile(const TFileDialogRequest& request);
  bool CheckConfiguration();
  // While a plug-in's windowed handler runs (it may have a menu or a
  // progress dialog open, inside which the operator asks for this), the
  // scheme cannot be stopped or closed: `action` is tried again once the
  // handler has returned. True when it was put off.
  bool PutOffWhileBusy(const std::function<void()>& action);
  void closeEvent(QCloseEvent* event) override;

  void OnFileOpen();
  void OnClose();
  void OnProfileOpen();
  void OnProfileSave();
  void OnProfileRestore();
  void OnLockToolbars(bool lock);
  void OnHelp();
  void OnAbout();

  TLauncherOptions options;
  // Destroyed last: it unhooks help after everything else has gone.
  CHelpManager help;
  std::unique_ptr<CPluginsManager> pluginsManager;
  std::unique_ptr<CSchemeManager> schemeManager;
  bool terminateRequested = false;

  QWidget* MainPanel = nullptr;
  TDockArea* DockTop = nullptr;
  TDockArea* DockLeft = nullptr;
  TDockArea* DockRight = nullptr;
  TDockArea* DockBottom = nullptr;
  QToolBar* TBToolbarFile = nullptr;
  QToolBar* TBToolbarProfile = nullptr;
  QToolBar* TBToolbarHelp = nullptr;
  QString schemeDirectory;
  QString profileDirectory;
};
