#pragma once
// A page control in the look of the desktop's current style.
#include <QTabWidget>

class TKorPageControl : public QTabWidget {
  Q_OBJECT
 public:
  explicit TKorPageControl(QWidget* parent = nullptr);
};
