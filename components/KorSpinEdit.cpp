#include "KorSpinEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMouseEvent>
#include <QResizeEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <cmath>
#include <locale>
#include <sstream>

namespace {

QPointer<QWidget> g_stepPopup;

// Reads a double from the start of `text` the way a stream does, with a
// comma read as the decimal point; false when no number starts there.
bool ReadNumber(QString text, double& value) {
  text.replace(QLatin1Char(','), QLatin1Char('.'));
  std::istringstream in(text.toStdString());
  in.imbue(std::locale::classic());
  double v = 0;
  if (!(in >> v)) return false;
  value = v;
  return true;
}

// The pop-up where the operator types a new step size.
class TStepPopup : public QFrame {
 public:
  explicit TStepPopup(TKorSpinEdit* owner) : QFrame(owner, Qt::Popup), owner_(owner) {
    setObjectName("StepPopup");
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::StyledPanel);
    setWindowOpacity(240.0 / 255.0);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(5, 5, 5, 5);
    auto* label = new QLabel(QString::fromUtf8("Величина шага:"), this);
    edit_ = new QLineEdit(this);
    edit_->setObjectName("StepEdit");
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text.precision(6);
    text << owner->Increment();
    edit_->setText(QString::fromStdString(text.str()));
    edit_->selectAll();
    layout->addWidget(label);
    layout->addWidget(edit_);
    edit_->installEventFilter(this);
  }
  QLineEdit* Edit() const { return edit_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == edit_ && event->type() == QEvent::KeyPress) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        double v;
        if (owner_ && ReadNumber(edit_->text(), v)) owner_->SetIncrement(v);
        close();
        return true;
      }
      if (key == Qt::Key_Tab || key == Qt::Key_Escape) {
        close();
        return true;
      }
    }
    return QFrame::eventFilter(watched, event);
  }

 private:
  QPointer<TKorSpinEdit> owner_;
  QLineEdit* edit_;
};

}  // namespace

// ---- TKorSpinButton ---------------------------------------------------------

TKorSpinButton::TKorSpinButton(TKorSpinEdit* owner) : QWidget(owner) {
  setObjectName("SpinButton");
  setCursor(Qt::ArrowCursor);
  auto make = [this](Qt::ArrowType arrow, const char* name) {
    auto* b = new QToolButton(this);
    b->setObjectName(name);
    b->setArrowType(arrow);
    b->setAutoRepeat(true);
    b->setFocusPolicy(Qt::NoFocus);
    b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    b->setIconSize(QSize(7, 7));
    return b;
  };
  up_ = make(Qt::UpArrow, "UpButton");
  down_ = make(Qt::DownArrow, "DownButton");
  step_ = make(Qt::NoArrow, "StepButton");
  step_->setAutoRepeat(false);
  step_->setText(QStringLiteral("…"));
  step_->setToolTip(QString::fromUtf8("Величина шага"));
  step_->setVisible(false);
  connect(up_, &QToolButton::clicked, this, &TKorSpinButton::upClicked);
  connect(down_, &QToolButton::clicked, this, &TKorSpinButton::downClicked);
  connect(step_, &QToolButton::clicked, this, &TKorSpinButton::stepClicked);
  resize(20, 25);
}

void TKorSpinButton::SetStepButtonVisible(bool visible) {
  step_->setVisible(visible);
  LayOut();
}

int TKorSpinButton::MinimumHeight() const { return step_->isVisibleTo(this) ? 32 : 16; }

void TKorSpinButton::resizeEvent(QResizeEvent*) { LayOut(); }

void TKorSpinButton::LayOut() {
  // The arrow pair fills the strip, or its upper half when the step button
  // takes the lower half; laid out from the top.
  const int w = width();
  const int h = height();
  const int arrows = step_->isVisibleTo(this) ? h / 2 : h;
  up_->setGeometry(0, 0, w, arrows / 2);
  down_->setGeometry(0, arrows / 2, w, arrows - arrows / 2);
  step_->setGeometry(0, arrows, w, h - arrows);
}

// ---- TKorSpinEdit -----------------------------------------------------------

TKorSpinEdit::TKorSpinEdit(QWidget* parent) : QLineEdit(parent), buttons_(new TKorSpinButton(this)) {
  connect(buttons_, &TKorSpinButton::upClicked, this, &TKorSpinEdit::UpClick);
  connect(buttons_, &TKorSpinButton::downClicked, this, &TKorSpinEdit::DownClick);
  connect(buttons_, &TKorSpinButton::stepClicked, this, &TKorSpinEdit::StepClick);
  setText(FormatValue(0));
  EnforceMinimumHeight();
  LayoutButtons();
}

TKorSpinEdit::~TKorSpinEdit() = default;

QString TKorSpinEdit::FormatValue(double x) const {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out.precision(precision_);
  if (format_ == 1) out << std::scientific;
  else if (format_ == 2) out << std::fixed;
  out << x;
  return QString::fromStdString(out.str());
}

bool TKorSpinEdit::TryGetValue(double& value) const { return ReadNumber(text(), value); }

double TKorSpinEdit::GetValue() const {
  double v = minValue_;
  TryGetValue(v);
  return v;
}

void TKorSpinEdit::SetValue(double x) { setText(FormatValue(CorrectValue(x))); }

double TKorSpinEdit::CorrectValue(double x) const {
  if (!values_.empty() || maxValue_ == minValue_) return x;
  return std::min(std::max(x, minValue_), maxValue_);
}

int TKorSpinEdit::GetNearestValueListIndex(double x) const {
  int best = -1;
  double bestDiff = 0;
  for (size_t i = 0; i < values_.size(); ++i) {
    const double d = std::fabs(values_[i] - x);
    if (best < 0 || d < bestDiff) {
      best = static_cast<int>(i);
      bestDiff = d;
    }
  }
  return best;
}

void TKorSpinEdit::Beep() {
  emit beeped();
  QApplication::beep();
}

void TKorSpinEdit::Step(int n) {
  if (isReadOnly() || n == 0) {
    Beep();
  } else {
    // A text that is no number steps from MinValue, as Enter would read it.
    if (values_.empty()) {
      SetValue(GetValue() + n * increment_);
    } else {
      int i = GetNearestValueListIndex(GetValue()) + n;
      i = std::max(0, std::min(i, static_cast<int>(values_.size()) - 1));
      SetValue(values_[static_cast<size_t>(i)]);
    }
    emit validated();
  }
  if (autoSelect_) selectAll();
}

void TKorSpinEdit::UpClick() {
  setFocus();
  Step(1);
}

void TKorSpinEdit::DownClick() {
  setFocus();
  Step(-1);
}

void TKorSpinEdit::StepClick() {
  setFocus();
  if (isReadOnly()) {
    Beep();
    return;
  }
  if (g_stepPopup) g_stepPopup->close();
  auto* popup = new TStepPopup(this);
  g_stepPopup = popup;
  popup->adjustSize();
  const QPoint bottomRight = buttons_->mapToGlobal(QPoint(buttons_->width(), buttons_->height()));
  popup->move(bottomRight.x() - popup->width(), bottomRight.y());
  popup->show();
  popup->Edit()->setFocus();
}

QWidget* TKorSpinEdit::OpenStepPopup() { return g_stepPopup.data(); }

void TKorSpinEdit::SetFormat(int f) {
  const double v = GetValue();
  format_ = f;
  SetValue(v);
}

void TKorSpinEdit::SetPrecision(int p) {
  const double v = GetValue();
  precision_ = p;
  SetValue(v);
}

QString TKorSpinEdit::GetValuesList() const {
  QStringList parts;
  for (double v : values_) parts << FormatValue(v);
  return parts.join(QLatin1Char(' '));
}

void TKorSpinEdit::SetValuesList(const QString& text) {
  values_.clear();
  std::istringstream in(text.toStdString());
  in.imbue(std::locale::classic());
  double v;
  while (in >> v) values_.push_back(v);
}

void TKorSpinEdit::SetAllowStepChange(bool allow) {
  allowStepChange_ = allow;
  buttons_->SetStepButtonVisible(allow);
  EnforceMinimumHeight();
  LayoutButtons();
}

void TKorSpinEdit::SetEnabled(bool enabled) {
  setEnabled(enabled);
  buttons_->setEnabled(enabled);
}

int TKorSpinEdit::GetMinHeight() const {
  const int font = fontMetrics().height();
  const int system = QFontMetrics(QApplication::font()).height();
  const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
  const int forText = font + std::min(font, system) / 4 + 4 * frame + 2;
  // The button strip must fit as well: 32 pixels with the step button.
  return std::max(forText, buttons_->MinimumHeight() + 2 * frame);
}

void TKorSpinEdit::EnforceMinimumHeight() {
  setMinimumHeight(GetMinHeight());
  if (height() < minimumHeight()) resize(width(), minimumHeight());
}

QSize TKorSpinEdit::sizeHint() const {
  QSize size = QLineEdit::sizeHint();
  size.setHeight(std::max(size.height(), GetMinHeight()));
  return size;
}

QSize TKorSpinEdit::minimumSizeHint() const {
  QSize size = QLineEdit::minimumSizeHint();
  size.setHeight(std::max(size.height(), GetMinHeight()));
  return size;
}

bool TKorSpinEdit::IsValidChar(QChar c) const {
  // The digits 0-9 only: other scripts' digits (Arabic-Indic, full-width)
  // are no number to the parser and would read as MinValue.
  const char16_t u = c.unicode();
  return (u >= u'0' && u <= u'9') || u == u'+' || u == u'-' || u == u'.' || u == u',';
}

bool TKorSpinEdit::IsValidText(const QString& text) const {
  for (QChar c : text)
    if (!IsValidChar(c)) return false;
  return true;
}

void TKorSpinEdit::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up:
      Step(1);
      return;
    case Qt::Key_Down:
      Step(-1);
      return;
    case Qt::Key_Space:
      if (allowStepChange_) StepClick();
      else Beep();
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
      double v;
      if (!TryGetValue(v)) {
        setText(FormatValue(minValue_));
        v = minValue_;
      }
      SetValue(v);
      emit validated();
      return;
    }
    default:
      break;
  }
  const bool editing = Editing();
  if (event->matches(QKeySequence::Paste) || event->matches(QKeySequence::Cut)) {
    if (editing) QLineEdit::keyPressEvent(event);
    return;
  }
  const QString typed = event->text();
  if (!typed.isEmpty() && typed.at(0).isPrint() && !(event->modifiers() & Qt::ControlModifier)) {
    // Only what a number is made of (every character of the key's text);
    // with the editor disabled, nothing.
    if (!editing || !IsValidText(typed)) {
      Beep();
      return;
    }
  }
  if (!editing && (event->key() == Qt::Key_Backspace || event->key() == Qt::Key_Delete)) {
    Beep();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void TKorSpinEdit::inputMethodEvent(QInputMethodEvent* event) {
  // Text composed by an input method arrives here, not as key presses: the
  // same characters are refused; the composition itself goes on.
  const QString commit = event->commitString();
  if (!commit.isEmpty() && (!Editing() || !IsValidText(commit))) {
    Beep();
    QInputMethodEvent kept(event->preeditString(), event->attributes());
    QLineEdit::inputMethodEvent(&kept);
    event->accept();
    return;
  }
  QLineEdit::inputMethodEvent(event);
}

void TKorSpinEdit::wheelEvent(QWheelEvent* event) {
  const int notches = event->angleDelta().y() / 120;
  if (notches != 0) Step(notches);
  selectAll();
  event->accept();
}

void TKorSpinEdit::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  if (autoSelect_) selectAll();
}

void TKorSpinEdit::focusOutEvent(QFocusEvent* event) {
  double v;
  if (TryGetValue(v) && CorrectValue(v) != v) SetValue(v);
  QLineEdit::focusOutEvent(event);
}

void TKorSpinEdit::resizeEvent(QResizeEvent* event) {
  QLineEdit::resizeEvent(event);
  // Never lower than the text and the button strip need.
  if (height() < GetMinHeight()) {
    EnforceMinimumHeight();
    return;  // the resize to come lays the buttons out
  }
  LayoutButtons();
}

void TKorSpinEdit::changeEvent(QEvent* event) {
  QLineEdit::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) EnforceMinimumHeight();
}

bool TKorSpinEdit::Editing() const { return !isReadOnly() && editorEnabled_; }

void TKorSpinEdit::mouseReleaseEvent(QMouseEvent* event) {
  // The middle button pastes the selection of another window.
  if (event->button() == Qt::MiddleButton && !Editing()) {
    event->accept();
    return;
  }
  QLineEdit::mouseReleaseEvent(event);
}

void TKorSpinEdit::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::MiddleButton && !Editing()) {
    event->accept();
    return;
  }
  QLineEdit::mousePressEvent(event);
}

void TKorSpinEdit::dragEnterEvent(QDragEnterEvent* event) {
  if (!Editing()) {
    event->ignore();
    return;
  }
  QLineEdit::dragEnterEvent(event);
}

void TKorSpinEdit::dropEvent(QDropEvent* event) {
  if (!Editing()) {
    event->ignore();
    return;
  }
  QLineEdit::dropEvent(event);
}

QMenu* TKorSpinEdit::CreateEditMenu() {
  // Built here rather than taken from QLineEdit, so that every entry has its
  // role as object name and its state follows whether the text may change;
  // the captions are QLineEdit's own, translated with Qt's texts.
  auto* menu = new QMenu(this);
  const bool editing = Editing();
  const bool selected = hasSelectedText();
  auto add = [&](const char* role, const char* caption, QKeySequence::StandardKey key, bool enabled,
                 auto slot) {
    QString text = QLineEdit::tr(caption);
    const QString shortcut = QKeySequence(key).toString(QKeySequence::NativeText);
    if (!shortcut.isEmpty()) text += QLatin1Char('\t') + shortcut;
    QAction* action = menu->addAction(text, this, slot);
    action->setObjectName(QLatin1String(role));
    action->setEnabled(enabled);
    return action;
  };
  add("edit-undo", "&Undo", QKeySequence::Undo, editing && isUndoAvailable(), &QLineEdit::undo);
  add("edit-redo", "&Redo", QKeySequence::Redo, editing && isRedoAvailable(), &QLineEdit::redo);
  menu->addSeparator();
  add("edit-cut", "Cu&t", QKeySequence::Cut, editing && selected, &QLineEdit::cut);
  add("edit-copy", "&Copy", QKeySequence::Copy, selected, &QLineEdit::copy);
  add("edit-paste", "&Paste", QKeySequence::Paste,
      editing && !QApplication::clipboard()->text().isEmpty(), &QLineEdit::paste);
  add("edit-delete", "Delete", QKeySequence::UnknownKey, editing && selected, [this] { del(); });
  menu->addSeparator();
  add("select-all", "Select All", QKeySequence::SelectAll,
      !text().isEmpty() && selectedText() != text(), &QLineEdit::selectAll);
  return menu;
}

void TKorSpinEdit::contextMenuEvent(QContextMenuEvent* event) {
  QMenu* menu = CreateEditMenu();
  menu->exec(event->globalPos());
  delete menu;
}

void TKorSpinEdit::LayoutButtons() {
  const int stripWidth = 18;
  const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
  buttons_->setGeometry(width() - stripWidth - frame, frame, stripWidth,
                        std::max(height() - 2 * frame, buttons_->MinimumHeight()));
  setTextMargins(0, 0, stripWidth, 0);
}

// ---- TKorLSpinEdit ------------------------------------------------------------

TKorLSpinEdit::TKorLSpinEdit(QWidget* parent)
    : QWidget(parent), label_(new QLabel(this)), edit_(new TKorSpinEdit(this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);
  layout->addWidget(label_);
  layout->addWidget(edit_);
  label_->setBuddy(edit_);
}

QString TKorLSpinEdit::Caption() const { return label_->text(); }

void TKorLSpinEdit::SetCaption(const QString& caption) { label_->setText(caption); }
