#include "KorPageControl.h"

#include <QTabBar>

TKorPageControl::TKorPageControl(QWidget* parent) : QTabWidget(parent) {
  setDocumentMode(false);
  setUsesScrollButtons(true);
  tabBar()->setExpanding(false);
}
