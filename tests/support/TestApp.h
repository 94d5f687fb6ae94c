#pragma once
// One offscreen QApplication per test program, made on first use.
#include <QApplication>

inline QApplication* TestApp() {
  static int argc = 1;
  static char name[] = "vk_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return app;
}
