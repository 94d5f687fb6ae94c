#pragma once
// A picture button: image `ImageIndex` (resource 101 + index) normally, image
// `ImageHotIndex` under the mouse and, drawn 2 pixels inside its frame, while
// pressed. It comes to the front when the mouse enters it.
#include <QPixmap>
#include <QWidget>

class TCoolButton : public QWidget {
  Q_OBJECT
 public:
  explicit TCoolButton(QWidget* parent = nullptr);
  int ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int index);
  int ImageHotIndex() const { return hotIndex_; }
  void SetImageHotIndex(int index) { hotIndex_ = index; }
  // The index of the image shown now.
  int Shown() const { return shown_; }
  bool Pressed() const { return pressed_; }
  QSize sizeHint() const override { return QSize(16, 16); }

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QPixmap Image(int index) const;
  void Show(int index);
  int imageIndex_ = 0;
  int hotIndex_ = 1;
  int shown_ = 0;
  bool pressed_ = false;
};
