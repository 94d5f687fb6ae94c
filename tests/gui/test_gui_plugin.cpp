// Window helpers of the plug-ins on a real main window.
#include <gtest/gtest.h>

#include <QAction>
#include <QDockWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>

#include <QFrame>

#include <vector>

#include "Diagnostics.h"
#include "GuiPlugin.h"
#include "TestApp.h"
#include "platform/Report.h"

namespace {

// The application exists before any member widget is built.
struct AppFirst {
  AppFirst() { TestApp(); }
};

// A main window with a "MainMenu" bar holding only "&Файл".
struct Host : AppFirst {
  Host() {
    auto* bar = new QMenuBar(&main);
    bar->setObjectName("MainMenu");
    main.setMenuBar(bar);
    bar->addMenu(QString::fromUtf8("&Файл"));
    right = new TDockArea(&main, "DockRight", Qt::RightDockWidgetArea);
  }
  QMenuBar* Bar() { return main.menuBar(); }
  QStringList Menus() {
    QStringList titles;
    for (QAction* a : Bar()->actions()) titles << a->text();
    return titles;
  }
  QDockWidget* Tool(const char* title) {
    auto* dock = new QDockWidget(QString::fromUtf8(title), &main);
    PlaceToolWindow(dock, FindWinControl(&main, "DockRight"));
    return dock;
  }
  QMainWindow main;
  TDockArea* right;
};

}  // namespace

TEST(GuiPlugin, FindWinControlIsDepthFirst) {
  TestApp();
  QWidget root;
  auto* a = new QWidget(&root);
  auto* b = new QWidget(a);
  auto* deep = new QWidget(b);
  deep->setObjectName("Target");
  auto* later = new QWidget(&root);
  later->setObjectName("Target");
  EXPECT_EQ(FindWinControl(&root, "Target"), deep);  // met first, three levels down
  EXPECT_EQ(FindWinControl(&root, "target"), nullptr);
  EXPECT_EQ(FindWinControl(nullptr, "Target"), nullptr);

  auto* c1 = new QWidget(b);
  EnableChildControls(a, false);
  EXPECT_FALSE(b->isEnabled());
  EXPECT_TRUE(b->testAttribute(Qt::WA_ForceDisabled));
  EXPECT_FALSE(c1->testAttribute(Qt::WA_ForceDisabled));  // only direct children
}

TEST(GuiPlugin, ToolWindowsShareOneViewMenuAfterTheFirstMenu) {
  Host h;
  QDockWidget* one = h.Tool("Первое");
  QDockWidget* two = h.Tool("Второе");
  EXPECT_EQ(h.main.dockWidgetArea(one), Qt::RightDockWidgetArea);
  QAction* i1 = RegisterToolWindow(one);
  QAction* i2 = RegisterToolWindow(two);
  ASSERT_NE(i1, nullptr);
  ASSERT_NE(i2, nullptr);
  EXPECT_EQ(h.Menus(), QStringList({QString::fromUtf8("&Файл"), QString::fromUtf8("&Вид")}));
  QMenu* view = h.Bar()->actions().at(1)->menu();
  ASSERT_EQ(view->actions().size(), 2);
  EXPECT_EQ(view->actions().at(0)->text(), QString::fromUtf8("Первое"));

  // The item follows the window both ways.
  h.main.show();
  i1->trigger();
  EXPECT_TRUE(one->isHidden());
  one->show();
  EXPECT_TRUE(i1->isChecked());

  UnregisterToolWindow(one);
  EXPECT_EQ(view->actions().size(), 1);
  UnregisterToolWindow(two);
  EXPECT_EQ(h.Menus().size(), 2);  // the menu stays when empty
}

// Lock then unlock gives every tool window back exactly its look: grips,
// features, and the frame its content had (whatever it was).
TEST(GuiPlugin, LockThenUnlockRestoresEachWindow) {
  Host h;
  QDockWidget* one = h.Tool("Первое");
  QDockWidget* two = h.Tool("Второе");
  auto* boxed = new QFrame;
  boxed->setFrameStyle(QFrame::Box | QFrame::Sunken);
  one->setWidget(boxed);
  auto* plain = new QFrame;
  plain->setFrameStyle(QFrame::NoFrame);
  two->setWidget(plain);
  two->setFeatures(QDockWidget::DockWidgetClosable);
  RegisterToolWindow(one);
  RegisterToolWindow(two);
  const auto features = one->features();
  LockToolBars(&h.main, true);
  for (QDockWidget* d : {one, two}) {
    EXPECT_NE(d->titleBarWidget(), nullptr);
    EXPECT_EQ(d->features(), QDockWidget::NoDockWidgetFeatures);
    EXPECT_EQ(static_cast<QFrame*>(d->widget())->frameShape(), QFrame::NoFrame);
  }
  LockToolBars(&h.main, true);  // twice is harmless
  LockToolBars(&h.main, false);
  for (QDockWidget* d : {one, two}) EXPECT_EQ(d->titleBarWidget(), nullptr);
  EXPECT_EQ(one->features(), features);
  EXPECT_EQ(two->features(), QDockWidget::DockWidgetClosable);
  EXPECT_EQ(boxed->frameStyle(), QFrame::Box | QFrame::Sunken);
  EXPECT_EQ(plain->frameStyle(), QFrame::NoFrame);
}

// Between a tool window's end and the removal of its "&Вид" item (which
// follows with the event loop), locking must not touch the window.
TEST(GuiPlugin, LockingSkipsToolWindowsThatAreGone) {
  Host h;
  QDockWidget* gone = h.Tool("Ушедшее");
  QDockWidget* kept = h.Tool("Оставшееся");
  RegisterToolWindow(gone);
  RegisterToolWindow(kept);
  delete gone;
  LockToolBars(&h.main, true);
  EXPECT_EQ(kept->features(), QDockWidget::NoDockWidgetFeatures);
  LockToolBars(&h.main, false);
}

// Registering and locking agree on which "&Вид" menu is meant: the first.
TEST(GuiPlugin, RegisteringAndLockingUseTheSameViewMenu) {
  Host h;
  QDockWidget* tool = h.Tool("Окно");
  RegisterToolWindow(tool);
  h.Bar()->addMenu(QString::fromUtf8("&Вид"))->addAction("stray");
  LockToolBars(&h.main, true);
  EXPECT_EQ(tool->features(), QDockWidget::NoDockWidgetFeatures);
  LockToolBars(&h.main, false);
  EXPECT_NE(tool->features(), QDockWidget::NoDockWidgetFeatures);
}

// A tool window whose dock does not exist goes to the right dock area
// instead of lying over the menu bar, and the name is logged.
TEST(GuiPlugin, AnUnknownDockNameIsLoggedAndTheWindowDocked) {
  Host h;
  std::vector<AnsiString> log;
  LogHook previous = SetLogHook([&](const AnsiString& m, bool) { log.push_back(m); });
  auto* tool = new QDockWidget(QString::fromUtf8("Панель"), &h.main);
  EXPECT_FALSE(PlaceToolWindow(tool, &h.main, "DockNowhere"));
  SetLogHook(previous);
  EXPECT_EQ(h.main.dockWidgetArea(tool), Qt::RightDockWidgetArea);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("DockNowhere"), AnsiString::npos);
  auto* known = new QDockWidget("known", &h.main);
  EXPECT_TRUE(PlaceToolWindow(known, &h.main, "DockRight"));
}

TEST(GuiPlugin, MenuItemsAndTheirMenus) {
  Host h;
  vkplatform::ReportCapture cap;
  QAction* connect = CreateMenuItem(&h.main, "Управление", "Подключение к прибору");
  QAction* second = CreateMenuItem(&h.main, "Управление", "Второй пункт");
  ASSERT_NE(connect, nullptr);
  EXPECT_EQ(h.Menus().at(1), QString::fromUtf8("Управление"));
  DestroyMenuItem(second);
  EXPECT_EQ(h.Menus().size(), 2);
  DestroyMenuItem(connect);  // the last item takes its menu along
  EXPECT_EQ(h.Menus(), QStringList({QString::fromUtf8("&Файл")}));

  QMenu popup;
  auto* item = new QAction("x", &popup);
  AddMenuItem(&popup, item);
  EXPECT_EQ(popup.actions().size(), 1);
  AddMenuItem(&h.main, item);
  EXPECT_EQ(cap.CountExpression("PopupMenu != NULL"), 1u);

  // A window without a menu bar gets nothing.
  QMainWindow bare;
  EXPECT_EQ(CreateMenuItem(&bare, "Управление", "x"), nullptr);
  auto* lone = new QDockWidget("lone", &bare);
  EXPECT_EQ(RegisterToolWindow(lone), nullptr);
}

TEST(GuiPlugin, PlainContainersHoldToolWindows) {
  TestApp();
  QWidget page;
  auto* dock = new QWidget(&page);
  dock->setObjectName("StepDock");
  auto* tool = new QWidget;
  EXPECT_TRUE(PlaceToolWindow(tool, FindWinControl(&page, "StepDock")));
  EXPECT_EQ(tool->parentWidget(), dock);
  EXPECT_FALSE(PlaceToolWindow(tool, nullptr));
}

TEST(GuiPlugin, FiltersOfSchemesBecomeQtFilters) {
  EXPECT_EQ(vkgui::QtFilter("Текст|*.txt;*.csv|Все|*.*"), "Текст (*.txt *.csv);;Все (*.*)");
  EXPECT_EQ(vkgui::QtFilter("HTML files|*.html"), "HTML files (*.html)");
  EXPECT_EQ(vkgui::QtFilter("*.mrk"), "*.mrk");
  EXPECT_EQ(vkgui::QtFilter(""), "");
}
