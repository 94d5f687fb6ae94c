#pragma once
// The numeric input field of the plug-ins' windows: a line edit with arrow
// buttons that step the value, an optional button that opens a pop-up for
// the step size, and an optional list of allowed values to step through.
#include <QLineEdit>
#include <QPointer>
#include <QString>

#include <vector>

class QMenu;
class QToolButton;
class TKorSpinEdit;

// The button strip on the right of a spin edit.
class TKorSpinButton : public QWidget {
  Q_OBJECT
 public:
  explicit TKorSpinButton(TKorSpinEdit* owner);
  void SetStepButtonVisible(bool visible);
  QToolButton* UpButton() const { return up_; }
  QToolButton* DownButton() const { return down_; }
  QToolButton* StepButton() const { return step_; }
  // 16, or 32 with the step button shown.
  int MinimumHeight() const;

 signals:
  void upClicked();
  void downClicked();
  void stepClicked();

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void LayOut();
  QToolButton* up_;
  QToolButton* down_;
  QToolButton* step_;
};

class TKorSpinEdit : public QLineEdit {
  Q_OBJECT
  Q_PROPERTY(double Value READ GetValue WRITE SetValue)
  Q_PROPERTY(double MinValue READ MinValue WRITE SetMinValue)
  Q_PROPERTY(double MaxValue READ MaxValue WRITE SetMaxValue)
  Q_PROPERTY(double Increment READ Increment WRITE SetIncrement)
  Q_PROPERTY(int Format READ Format WRITE SetFormat)
  Q_PROPERTY(int Precision READ Precision WRITE SetPrecision)
  Q_PROPERTY(int Digits READ Digits WRITE SetDigits)
  Q_PROPERTY(bool EditorEnabled READ EditorEnabled WRITE SetEditorEnabled)
  Q_PROPERTY(QString ValuesList READ GetValuesList WRITE SetValuesList)
  Q_PROPERTY(bool AllowStepChange READ AllowStepChange WRITE SetAllowStepChange)
  Q_PROPERTY(bool AutoSelect READ AutoSelect WRITE SetAutoSelect)

 public:
  explicit TKorSpinEdit(QWidget* parent = nullptr);
  ~TKorSpinEdit() override;

  // The number shown. An unreadable text reads as MinValue.
  double GetValue() const;
  // Shows CorrectValue(x).
  void SetValue(double x);
  // Whether the text reads as a number (a comma counts as the point).
  bool TryGetValue(double& value) const;
  double CorrectValue(double x) const;
  int GetNearestValueListIndex(double x) const;
  void Step(int n);
  void UpClick();
  void DownClick();
  // Opens the step-size pop-up (closing one that is open elsewhere).
  void StepClick();

  double MinValue() const { return minValue_; }
  void SetMinValue(double v) { minValue_ = v; }
  double MaxValue() const { return maxValue_; }
  void SetMaxValue(double v) { maxValue_ = v; }
  double Increment() const { return increment_; }
  void SetIncrement(double v) { increment_ = v; }
  // 0 general, 1 scientific, 2 fixed-point.
  int Format() const { return format_; }
  void SetFormat(int f);
  int Precision() const { return precision_; }
  void SetPrecision(int p);
  int Digits() const { return digits_; }
  void SetDigits(int d) { digits_ = d; }
  // With the editor disabled the value changes only by stepping.
  bool EditorEnabled() const { return editorEnabled_; }
  void SetEditorEnabled(bool e) { editorEnabled_ = e; }
  QString GetValuesList() const;
  void SetValuesList(const QString& text);
  const std::vector<double>& Values() const { return values_; }
  bool AllowStepChange() const { return allowStepChange_; }
  void SetAllowStepChange(bool allow);
  bool AutoSelect() const { return autoSelect_; }
  void SetAutoSelect(bool a) { autoSelect_ = a; }
  void SetEnabled(bool enabled);

  // The text of a value in this edit's format.
  QString FormatValue(double x) const;
  TKorSpinButton* Buttons() const { return buttons_; }
  // The step-size pop-up that is open now (of any spin edit), or null.
  static QWidget* OpenStepPopup();
  // The least height that shows the text and the button strip (the strip
  // needs 32 pixels with the step button); the edit never gets lower.
  int GetMinHeight() const;
  // The edit menu (undo, redo, cut, copy, paste, delete, select all), each
  // entry named by its role ("edit-paste", ...); entries that would change
  // the text are disabled while it may not be changed. The caller owns it.
  QMenu* CreateEditMenu();
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 signals:
  // Raised after a step and after Enter (the OnValidate event).
  void validated();
  // Raised when the edit refuses an input with a beep.
  void beeped();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void changeEvent(QEvent* event) override;
  // Middle-button paste and drops reach only an edit that may be typed in.
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // Whether the text may be changed by typing, pasting or dropping.
  bool Editing() const;
  void EnforceMinimumHeight();
  void Beep();
  void LayoutButtons();
  bool IsValidChar(QChar c) const;
  bool IsValidText(const QString& text) const;

  double minValue_ = 0;
  double maxValue_ = 0;
  double increment_ = 1.0;
  int format_ = 0;
  int precision_ = 10;
  int digits_ = 0;
  bool editorEnabled_ = true;
  bool allowStepChange_ = false;
  bool autoSelect_ = true;
  std::vector<double> values_;
  TKorSpinButton* buttons_;
};

// A spin edit with a caption above it.
class TKorLSpinEdit : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
 public:
  explicit TKorLSpinEdit(QWidget* parent = nullptr);
  QString Caption() const;
  void SetCaption(const QString& caption);
  TKorSpinEdit* Edit() const { return edit_; }

 private:
  class QLabel* label_;
  TKorSpinEdit* edit_;
};
