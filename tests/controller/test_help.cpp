// The help manager on the built help file.
#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTextBrowser>
#include <QWidget>

#include "HelpManager.h"
#include "Screenshot.h"
#include "TestApp.h"
#include "platform/Report.h"

namespace {

QApplication* App() { return TestApp(); }

const std::string kHelpFile = std::string(VK_BIN_DIR) + "/help/vektra.qch";

}  // namespace

TEST(HelpManager, TopicsContextsAndF1) {
  App();
  vkplatform::ReportCapture cap;
  CHelpManager help;
  EXPECT_EQ(CHelpManager::Current(), &help);
  ASSERT_EQ(help.SetHtmlHelpFile(kHelpFile), 0);
  EXPECT_EQ(cap.Count(), 0u);

  help.ShowTopic("about.html");
  EXPECT_EQ(help.LastShownUrl().toString(), "qthelp://korvan.vektra/doc/about.html");
  ASSERT_NE(help.HelpWindow(), nullptr);
  auto* browser = help.HelpWindow()->findChild<QTextBrowser*>("HelpBrowser");
  ASSERT_NE(browser, nullptr);
  EXPECT_TRUE(browser->toPlainText().contains(QString::fromUtf8("О программе Vektra")));
  MaybeScreenshot(help.HelpWindow(), "help-about");

  help.ShowContext(1004);
  EXPECT_TRUE(help.LastShownUrl().toString().endsWith("diagram.html"));
  EXPECT_TRUE(browser->toPlainText().contains(QString::fromUtf8("Область диаграмм")));
  // The pages of the plug-ins' windows.
  help.ShowContext(1101);
  EXPECT_TRUE(help.LastShownUrl().toString().endsWith("constpanel.html"));
  help.ShowContext(1102);
  EXPECT_TRUE(help.LastShownUrl().toString().endsWith("linkdialog.html"));
  help.ShowContext(1103);
  EXPECT_TRUE(help.LastShownUrl().toString().endsWith("runguide.html"));
  help.ShowContext(1104);
  EXPECT_TRUE(help.LastShownUrl().toString().endsWith("matrixvault.html"));

  bool callHelp = true;
  EXPECT_TRUE(help.OnHelpEvent(CHelpManager::HELP_CONTEXT, 1002, callHelp));
  EXPECT_FALSE(callHelp);
  EXPECT_TRUE(help.LastShownUrl().toString().endsWith("mainwindow.html"));

  // F1 on a widget inside a window with a help context opens that context.
  help.ShowTopic("index.html");
  QWidget window;
  window.setProperty(CHelpManager::kHelpContextProperty, 1004);
  auto* child = new QWidget(&window);
  QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier);
  QApplication::sendEvent(child, &f1);
  EXPECT_TRUE(help.LastShownUrl().toString().endsWith("diagram.html"));
}

TEST(HelpManager, MissingFileAndHandlerRestore) {
  App();
  vkplatform::ReportCapture cap;
  CHelpManager outer;
  {
    CHelpManager inner;
    EXPECT_EQ(CHelpManager::Current(), &inner);
    EXPECT_EQ(inner.SetHtmlHelpFile("/nonexistent/vektra.qch"), -1);
    ASSERT_EQ(cap.Count(), 1u);
    EXPECT_EQ(cap.Reports()[0].text, "Не найден файл справки\n/nonexistent/vektra.qch");
    inner.ShowTopic("about.html");  // shows nothing, fails nothing
    EXPECT_TRUE(inner.LastShownUrl().isEmpty());
  }
  EXPECT_EQ(CHelpManager::Current(), &outer);
}
