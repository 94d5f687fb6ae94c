#pragma once
// Helpers through which plug-ins place their windows in the launcher's main
// window: find named widgets, keep the "&Вид" menu in step with the tool
// windows, add and remove menu commands, and lock the tool windows in place.
//
// Conventions of the main window: its menu bar is a QMenuBar named
// "MainMenu"; its tool windows are QDockWidgets. The named docks "DockTop",
// "DockLeft", "DockRight" and "DockBottom" are marker widgets (TDockArea) that
// stand for the dock areas of the main window; any other named container (a
// wizard page's dock) can hold tool windows too. PlaceToolWindow puts a tool
// window or a tool bar into either kind.
#include <QString>
#include <QWidget>

#include <functional>

#include "VKTypes.h"

class QAction;
class QIcon;
class QPixmap;
class QDialog;
class QMenu;
class QMainWindow;

// A named stand-in for one dock area of a main window.
class TDockArea : public QWidget {
  Q_OBJECT
 public:
  TDockArea(QMainWindow* mainWindow, const QString& name, Qt::DockWidgetArea area);
  Qt::DockWidgetArea Area() const { return area_; }
  QMainWindow* MainWindow() const;

 private:
  Qt::DockWidgetArea area_;
};

// Enables or disables the direct child widgets of `parent` (not theirs).
void EnableChildControls(QWidget* parent, bool enable);
// Depth first among the descendants of `parent` (each child before its own
// children): the first widget whose object name is `name`; null if none.
QWidget* FindWinControl(QWidget* parent, const AnsiString& name);
// Adds to the "&Вид" menu of the tool window's main window a check item that
// shows and hides the tool window and follows its visibility. Null when there
// is no main window or menu bar.
QAction* RegisterToolWindow(QWidget* toolWindow);
// Removes and destroys the first "&Вид" item of that tool window.
void UnregisterToolWindow(QWidget* toolWindow);
// A new item `itemCaption` in the top-level menu `menuCaption` (created at
// position 1, after the first menu, when missing). Null without a menu bar.
QAction* CreateMenuItem(QWidget* mainWindow, const AnsiString& menuCaption,
                        const AnsiString& itemCaption);
// The item `itemCaption` of the top-level menu `menuCaption` (what a plug-in
// created there), for automation; null when there is none.
QAction* FindMenuItem(QWidget* mainWindow, const AnsiString& menuCaption, const AnsiString& itemCaption);
// Destroys the item, and its menu when that has no items left.
void DestroyMenuItem(QAction* item);
// Appends `item` to `menu` (a QMenu, sub-menu or pop-up).
void AddMenuItem(QObject* menu, QAction* item);
// Locking takes the title bar (grip) and frame off every tool window of the
// "&Вид" menu and fixes it in place; unlocking gives them back. Each tool
// window is then told to lay out its contents again.
void LockToolBars(QWidget* mainWindow, bool lock);

// Puts a tool window (QDockWidget) or a tool bar (QToolBar) into `dock`: a
// TDockArea places it in that area of its main window; any other container
// takes it as a child in its layout. When `dock` is null the window goes to
// the right dock area (a tool bar to the top) of the main window it belongs
// to, and false is returned.
bool PlaceToolWindow(QWidget* toolWindow, QWidget* dock);
// The same with the dock found by name under `parent`; a name that is not
// found is logged (and said on standard error).
bool PlaceToolWindow(QWidget* toolWindow, QWidget* parent, const AnsiString& dockName);

// What a file dialog is asked for. `filter` is in Qt's syntax
// ("Схемы (*.vms);;Все файлы (*)").
struct TFileDialogRequest {
  QString title;
  QString filter;
  QString defaultSuffix;
  QString directory;
  bool save = false;
};
using TFileDialogHook = std::function<QString(const TFileDialogRequest&)>;
// Asks for a file name (an open or a save dialog, which asks before
// overwriting); "" when the dialog was cancelled. Tests and automation
// answer it with SetFileDialogHook instead.
QString ChooseFileName(QWidget* parent, const TFileDialogRequest& request);
// Installs `hook` for the whole process and returns the previous one.
TFileDialogHook SetFileDialogHook(TFileDialogHook hook);

// Runs a modal dialog of a plug-in (an entry editor, a confirmation form)
// and returns its result. Tests and automation install a hook that answers
// it instead (filling its fields by their object names); without one the
// dialog runs as usual.
using TModalDialogHook = std::function<int(QDialog* dialog)>;
int ExecModalDialog(QDialog* dialog);
// Installs `hook` for the whole process and returns the previous one.
TModalDialogHook SetModalDialogHook(TModalDialogHook hook);

namespace vkgui {
// An event filter that hands the events of what it watches to a function,
// which says whether it took them.
class TEventHook : public QObject {
 public:
  explicit TEventHook(std::function<bool(QObject*, QEvent*)> hook) : hook_(std::move(hook)) {}
  bool eventFilter(QObject* watched, QEvent* event) override { return hook_(watched, event); }

 private:
  std::function<bool(QObject*, QEvent*)> hook_;
};

// A file filter as schemes and the designs write it ("Текст|*.txt;*.csv",
// description and patterns in turn) in Qt's form ("Текст (*.txt *.csv)").
QString QtFilter(const QString& filter);

// One of our drawings (an SVG resource) as a picture or an icon of the given
// size; transparent where the drawing is not (or when it is missing).
QPixmap SvgPixmap(const QString& resource, int width, int height);
QIcon SvgIcon(const QString& resource, int size = 16);
// The "&Вид" menu's caption and the menu bar's name.
constexpr const char* kViewMenu = "&Вид";
constexpr const char* kMainMenu = "MainMenu";
// The main window that owns `widget` (walking up its parents), or null.
QMainWindow* OwnerMainWindow(QWidget* widget);
// The top-level menu captioned `caption`, created when `create` is set.
QMenu* FindTopMenu(QWidget* mainWindow, const QString& caption, bool create);
}  // namespace vkgui
