#include "CoolButton.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

#include "GuiPlugin.h"

TCoolButton::TCoolButton(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TranslucentBackground);
  setCursor(Qt::PointingHandCursor);
  resize(16, 16);
}

void TCoolButton::SetImageIndex(int index) {
  imageIndex_ = index;
  Show(index);
}

QPixmap TCoolButton::Image(int index) const {
  // The drawings are resources 101 and 102 (ours, in SVG).
  return vkgui::SvgPixmap(QStringLiteral(":/constpanel/%1.svg").arg(101 + index), width(), height());
}

void TCoolButton::Show(int index) {
  shown_ = index;
  update();
}

void TCoolButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (pressed_) {
    // Pressed: the hot picture, 2 pixels inside the frame.
    const QRect inner = rect().adjusted(2, 2, -2, -2);
    painter.drawPixmap(inner, Image(hotIndex_));
    return;
  }
  painter.drawPixmap(0, 0, Image(shown_));
}

void TCoolButton::enterEvent(QEnterEvent*) {
  raise();
  Show(hotIndex_);
}

void TCoolButton::leaveEvent(QEvent*) { Show(imageIndex_); }

void TCoolButton::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  pressed_ = true;
  update();
}

void TCoolButton::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !pressed_) return;
  pressed_ = false;
  Show(imageIndex_);
  if (rect().contains(event->position().toPoint())) emit clicked();
}
