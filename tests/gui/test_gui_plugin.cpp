// Window helpers of the plug-ins on a real main window.
#include <gtest/gtest.h>

#include <QAction>
#include <QDockWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QVBoxLayout>

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

TEST(GuiPlugin, LockThenUnlockRestoresGrips) {
  Host h;
  QDockWidget* one = h.Tool("Первое");
  QDockWidget* two = h.Tool("Второе");
  RegisterToolWindow(one);
  RegisterToolWindow(two);
  const auto features = one->features();
  LockToolBars(&h.main, true);
  for (QDockWidget* d : {one, two}) {
    EXPECT_NE(d->titleBarWidget(), nullptr);
    EXPECT_EQ(d->features(), QDockWidget::NoDockWidgetFeatures);
  }
  LockToolBars(&h.main, true);  // twice is harmless
  LockToolBars(&h.main, false);
  for (QDockWidget* d : {one, two}) {
    EXPECT_EQ(d->titleBarWidget(), nullptr);
    EXPECT_EQ(d->features(), features);
  }
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
