#include "GuiPlugin.h"

#include <QAction>
#include <QCoreApplication>
#include <QDialog>
#include <QFileDialog>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QDockWidget>
#include <QFrame>
#include <QLayout>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QResizeEvent>
#include <QToolBar>
#include <QVBoxLayout>

#include <cstdio>

#include "Diagnostics.h"

namespace {

// Properties kept on the objects involved.
constexpr const char* kToolWindowProperty = "vkToolWindow";     // on a "&Вид" item
constexpr const char* kFeaturesProperty = "vkUnlockedFeatures";  // on a locked dock
constexpr const char* kFrameProperty = "vkUnlockedFrame";        // on a locked dock's frame

// The tool window of a "&Вид" item; null once the window is gone (the item
// itself goes a little later, with the next turn of the event loop).
QWidget* ToolWindowOf(QAction* action) {
  return action->property(kToolWindowProperty).value<QPointer<QWidget>>().data();
}

}  // namespace

namespace {
TModalDialogHook g_modalDialogHook;
TFileDialogHook g_fileDialogHook;
}  // namespace

QString ChooseFileName(QWidget* parent, const TFileDialogRequest& r) {
  if (g_fileDialogHook) return g_fileDialogHook(r);
  QFileDialog dialog(parent, r.title, r.directory, r.filter);
  dialog.setDefaultSuffix(r.defaultSuffix);
  if (r.save) {
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
  } else {
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
  return dialog.selectedFiles().first();
}

TFileDialogHook SetFileDialogHook(TFileDialogHook hook) {
  TFileDialogHook previous = std::move(g_fileDialogHook);
  g_fileDialogHook = std::move(hook);
  return previous;
}

namespace vkgui {

QString QtFilter(const QString& filter) {
  if (filter.isEmpty()) return QString();
  const QStringList parts = filter.split(QLatin1Char('|'));
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2)
    out << parts[i] + QStringLiteral(" (") + QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' ')) +
               QLatin1Char(')');
  if (parts.size() % 2 == 1 && out.isEmpty()) out << parts.last();  // a bare pattern
  return out.join(QStringLiteral(";;"));
}

}  // namespace vkgui

int ExecModalDialog(QDialog* dialog) {
  if (!dialog) return QDialog::Rejected;
  if (g_modalDialogHook) return g_modalDialogHook(dialog);
  return dialog->exec();
}

TModalDialogHook SetModalDialogHook(TModalDialogHook hook) {
  TModalDialogHook previous = std::move(g_modalDialogHook);
  g_modalDialogHook = std::move(hook);
  return previous;
}

TDockArea::TDockArea(QMainWindow* mainWindow, const QString& name, Qt::DockWidgetArea area)
    : QWidget(mainWindow), area_(area) {
  setObjectName(name);
  setVisible(false);
}

QMainWindow* TDockArea::MainWindow() const { return qobject_cast<QMainWindow*>(parentWidget()); }

void EnableChildControls(QWidget* parent, bool enable) {
  if (!parent) return;
  for (QObject* child : parent->children())
    if (auto* w = qobject_cast<QWidget*>(child)) w->setEnabled(enable);
}

QWidget* FindWinControl(QWidget* parent, const AnsiString& name) {
  if (!parent) return nullptr;
  const QString wanted = QString::fromStdString(name);
  for (QObject* child : parent->children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (!w) continue;
    if (w->objectName() == wanted) return w;
    if (QWidget* found = FindWinControl(w, name)) return found;
  }
  return nullptr;
}

namespace vkgui {

QPixmap SvgPixmap(const QString& resource, int width, int height) {
  QPixmap pixmap(std::max(1, width), std::max(1, height));
  pixmap.fill(Qt::transparent);
  QSvgRenderer svg(resource);
  if (svg.isValid()) {
    QPainter painter(&pixmap);
    svg.render(&painter);
  }
  return pixmap;
}

QIcon SvgIcon(const QString& resource, int size) { return QIcon(SvgPixmap(resource, size, size)); }

QMainWindow* OwnerMainWindow(QWidget* widget) {
  for (QWidget* w = widget; w; w = w->parentWidget())
    if (auto* main = qobject_cast<QMainWindow*>(w)) return main;
  return nullptr;
}

QMenu* FindTopMenu(QWidget* mainWindow, const QString& caption, bool create) {
  auto* bar = qobject_cast<QMenuBar*>(FindWinControl(mainWindow, kMainMenu));
  if (!bar) return nullptr;
  const QList<QAction*> items = bar->actions();
  for (QAction* a : items)
    if (a->text() == caption && a->menu()) return a->menu();
  if (!create) return nullptr;
  auto* menu = new QMenu(caption, bar);
  if (items.isEmpty()) bar->addMenu(menu);
  else if (items.size() == 1) bar->addMenu(menu);
  else bar->insertMenu(items.at(1), menu);
  return menu;
}

}  // namespace vkgui

QAction* RegisterToolWindow(QWidget* toolWindow) {
  QMainWindow* main = vkgui::OwnerMainWindow(toolWindow);
  if (!main) return nullptr;
  QMenu* view = vkgui::FindTopMenu(main, QString::fromUtf8(vkgui::kViewMenu), true);
  if (!view) return nullptr;
  auto* item = new QAction(toolWindow->windowTitle(), view);
  item->setCheckable(true);
  item->setChecked(!toolWindow->isHidden());
  item->setProperty(kToolWindowProperty, QVariant::fromValue(QPointer<QWidget>(toolWindow)));
  QObject::connect(item, &QAction::triggered, toolWindow, &QWidget::setVisible);
  if (auto* dock = qobject_cast<QDockWidget*>(toolWindow)) {
    QObject::connect(dock->toggleViewAction(), &QAction::toggled, item, &QAction::setChecked);
    QObject::connect(dock, &QDockWidget::windowTitleChanged, item, &QAction::setText);
  }
  // The item goes with its tool window.
  QObject::connect(toolWindow, &QObject::destroyed, item, &QObject::deleteLater);
  view->addAction(item);
  return item;
}

void UnregisterToolWindow(QWidget* toolWindow) {
  QMainWindow* main = vkgui::OwnerMainWindow(toolWindow);
  QMenu* view = main ? vkgui::FindTopMenu(main, QString::fromUtf8(vkgui::kViewMenu), false) : nullptr;
  if (!view) return;
  for (QAction* a : view->actions())
    if (ToolWindowOf(a) == toolWindow) {
      view->removeAction(a);
      delete a;
      return;
    }
}

QAction* CreateMenuItem(QWidget* mainWindow, const AnsiString& menuCaption,
                        const AnsiString& itemCaption) {
  QMenu* menu = vkgui::FindTopMenu(mainWindow, QString::fromStdString(menuCaption), true);
  if (!menu) return nullptr;
  auto* item = new QAction(QString::fromStdString(itemCaption), menu);
  menu->addAction(item);
  return item;
}

QAction* FindMenuItem(QWidget* mainWindow, const AnsiString& menuCaption, const AnsiString& itemCaption) {
  QMenu* menu = vkgui::FindTopMenu(mainWindow, QString::fromStdString(menuCaption), false);
  if (!menu) return nullptr;
  for (QAction* a : menu->actions())
    if (a->text() == QString::fromStdString(itemCaption)) return a;
  return nullptr;
}

void DestroyMenuItem(QAction* item) {
  if (!item) return;
  auto* menu = qobject_cast<QMenu*>(item->parent());
  VK_ASSERT_TEXT(menu != nullptr, "SubMenu!=NULL");
  delete item;
  if (menu && menu->actions().isEmpty()) delete menu;  // also leaves the menu bar
}

void AddMenuItem(QObject* menu, QAction* item) {
  auto* m = qobject_cast<QMenu*>(menu);
  VK_ASSERT_TEXT(m != nullptr, "PopupMenu != NULL");
  if (m && item) m->addAction(item);
}

void LockToolBars(QWidget* mainWindow, bool lock) {
  auto* bar = qobject_cast<QMenuBar*>(FindWinControl(mainWindow, vkgui::kMainMenu));
  if (!bar) return;
  // The same "&Вид" item that RegisterToolWindow fills: the first one.
  QAction* viewItem = nullptr;
  for (QAction* a : bar->actions())
    if (a->text() == QString::fromUtf8(vkgui::kViewMenu)) {
      viewItem = a;
      break;
    }
  if (!viewItem) return;
  QMenu* view = viewItem->menu();
  VK_ASSERT_TEXT(view != nullptr, "SubMenu");
  if (!view) return;
  QList<QDockWidget*> docks;
  for (QAction* a : view->actions())
    if (auto* dock = qobject_cast<QDockWidget*>(ToolWindowOf(a))) docks.append(dock);
  for (QDockWidget* dock : docks) {
    if (lock) {
      if (!dock->property(kFeaturesProperty).isValid())
        dock->setProperty(kFeaturesProperty, static_cast<int>(dock->features()));
      // An empty title bar: no grip, nothing to drag.
      if (!dock->titleBarWidget()) dock->setTitleBarWidget(new QWidget(dock));
      dock->setFeatures(QDockWidget::NoDockWidgetFeatures);
      if (auto* frame = qobject_cast<QFrame*>(dock->widget())) {
        if (!frame->property(kFrameProperty).isValid())
          frame->setProperty(kFrameProperty, frame->frameStyle());
        frame->setFrameShape(QFrame::NoFrame);
      }
    } else {
      if (QWidget* title = dock->titleBarWidget()) {
        dock->setTitleBarWidget(nullptr);
        delete title;
      }
      const QVariant features = dock->property(kFeaturesProperty);
      if (features.isValid()) {
        dock->setFeatures(static_cast<QDockWidget::DockWidgetFeatures>(features.toInt()));
        dock->setProperty(kFeaturesProperty, QVariant());
      }
      // Each window gets back exactly the frame it had.
      if (auto* frame = qobject_cast<QFrame*>(dock->widget())) {
        const QVariant style = frame->property(kFrameProperty);
        if (style.isValid()) {
          frame->setFrameStyle(style.toInt());
          frame->setProperty(kFrameProperty, QVariant());
        }
      }
    }
  }
  // Each tool window lays its contents out again after the frame change.
  for (QDockWidget* dock : docks) {
    QResizeEvent event(dock->size(), dock->size());
    QCoreApplication::sendEvent(dock, &event);
  }
}

bool PlaceToolWindow(QWidget* toolWindow, QWidget* parent, const AnsiString& dockName) {
  QWidget* dock = FindWinControl(parent, dockName);
  if (!dock && toolWindow) {
    const AnsiString text = "Панель размещения \"" + dockName + "\" не найдена: окно \"" +
                            toolWindow->windowTitle().toStdString() + "\" помещено справа";
    LogMessage(text, false);
    std::fprintf(stderr, "Vektra: %s\n", text.c_str());
  }
  return PlaceToolWindow(toolWindow, dock);
}

bool PlaceToolWindow(QWidget* toolWindow, QWidget* dock) {
  if (!toolWindow) return false;
  if (!dock) {
    // No such dock: the window goes to the right dock area of its main
    // window (tool bars to the top) rather than lie over the menu bar.
    QMainWindow* main = vkgui::OwnerMainWindow(toolWindow->parentWidget());
    if (!main) return false;
    if (auto* tool = qobject_cast<QDockWidget*>(toolWindow)) main->addDockWidget(Qt::RightDockWidgetArea, tool);
    else if (auto* bar = qobject_cast<QToolBar*>(toolWindow)) main->addToolBar(Qt::TopToolBarArea, bar);
    else return false;
    return false;
  }
  if (auto* area = qobject_cast<TDockArea*>(dock)) {
    QMainWindow* main = area->MainWindow();
    if (!main) return false;
    if (auto* tool = qobject_cast<QDockWidget*>(toolWindow)) {
      main->addDockWidget(area->Area(), tool);
      return true;
    }
    if (auto* bar = qobject_cast<QToolBar*>(toolWindow)) {
      Qt::ToolBarArea tba = Qt::TopToolBarArea;
      switch (area->Area()) {
        case Qt::LeftDockWidgetArea: tba = Qt::LeftToolBarArea; break;
        case Qt::RightDockWidgetArea: tba = Qt::RightToolBarArea; break;
        case Qt::BottomDockWidgetArea: tba = Qt::BottomToolBarArea; break;
        default: break;
      }
      main->addToolBar(tba, bar);
      return true;
    }
    return false;
  }
  // A plain container holds the tool window in its own layout.
  toolWindow->setParent(dock);
  if (!dock->layout()) {
    auto* layout = new QVBoxLayout(dock);
    layout->setContentsMargins(0, 0, 0, 0);
  }
  dock->layout()->addWidget(toolWindow);
  toolWindow->show();
  return true;
}
