#pragma once
// Widget tests save a picture of what they show when VK_SCREENSHOT_DIR is
// set (run them under xvfb-run with QT_QPA_PLATFORM=xcb to see real windows).
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QScreen>
#include <QWidget>

#include <cstdlib>

inline void MaybeScreenshot(QWidget* widget, const char* name) {
  const char* dir = std::getenv("VK_SCREENSHOT_DIR");
  if (!dir || !widget) return;
  QDir().mkpath(dir);
  for (int i = 0; i < 20; ++i) QApplication::processEvents();
  widget->grab().save(QString::fromUtf8(dir) + "/" + name + ".png");
}
