// The numeric spin edit: stepping, value lists, typing and the step pop-up.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QTimer>
#include <QTranslator>
#include <QVBoxLayout>
#include <QLineEdit>
#include <QSignalSpy>
#include <QToolButton>
#include <QWheelEvent>

#include "KorSpinEdit.h"
#include "Screenshot.h"
#include "TestApp.h"

namespace {

void Key(QWidget* w, int key, const QString& text = QString()) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(w, &press);
}

void Type(QWidget* w, const QString& text) {
  for (QChar c : text) Key(w, c.toUpper().unicode(), QString(c));
}

}  // namespace

TEST(SpinEdit, StepsClampsAndFormats) {
  TestApp();
  TKorSpinEdit e;
  EXPECT_EQ(e.text(), "0");
  QSignalSpy validated(&e, &TKorSpinEdit::validated);
  e.SetIncrement(0.5);
  e.Step(3);
  EXPECT_DOUBLE_EQ(e.GetValue(), 1.5);
  EXPECT_EQ(validated.count(), 1);
  e.SetValue(1e9);  // MinValue == MaxValue: no clamping
  EXPECT_DOUBLE_EQ(e.GetValue(), 1e9);
  e.SetMinValue(1);
  e.SetMaxValue(9);
  e.SetValue(12);
  EXPECT_DOUBLE_EQ(e.GetValue(), 9);
  e.SetFormat(2);
  e.SetPrecision(3);
  EXPECT_EQ(e.text(), "9.000");
  e.SetFormat(1);
  EXPECT_EQ(e.text(), "9.000e+00");
  e.Buttons()->UpButton()->click();
  EXPECT_DOUBLE_EQ(e.GetValue(), 9);  // clamped at the top
}

TEST(SpinEdit, ValuesListStepping) {
  TestApp();
  TKorSpinEdit e;
  e.SetValuesList("1 2 5 10 x 20");
  EXPECT_EQ(e.GetValuesList(), "1 2 5 10");  // reading stops at the first non-number
  e.SetMinValue(0);
  e.SetMaxValue(4);  // not used with a list
  e.SetValue(3);
  EXPECT_DOUBLE_EQ(e.GetValue(), 3);  // typed values are not clamped
  e.Step(1);
  EXPECT_DOUBLE_EQ(e.GetValue(), 5);  // nearest 2, one up
  e.SetValue(3);
  e.Step(-1);
  EXPECT_DOUBLE_EQ(e.GetValue(), 1);
  e.Step(-5);
  EXPECT_DOUBLE_EQ(e.GetValue(), 1);  // stays at the end
  e.Step(10);
  EXPECT_DOUBLE_EQ(e.GetValue(), 10);
  EXPECT_EQ(e.GetNearestValueListIndex(3.5), 1);  // tie: the first entry wins
}

TEST(SpinEdit, TypingCommaEnterAndWheel) {
  TestApp();
  TKorSpinEdit e;
  QSignalSpy validated(&e, &TKorSpinEdit::validated);
  QSignalSpy beeped(&e, &TKorSpinEdit::beeped);
  e.clear();
  Type(&e, "2,5");
  Key(&e, Qt::Key_A, "a");  // not part of a number: dropped with a beep
  EXPECT_EQ(e.text(), "2,5");
  EXPECT_EQ(beeped.count(), 1);
  Key(&e, Qt::Key_Return);
  EXPECT_EQ(e.text(), "2.5");
  EXPECT_EQ(validated.count(), 1);

  // Enter on a text that is no number gives MinValue.
  e.SetMinValue(1);
  e.SetMaxValue(9);
  e.setText("--");
  Key(&e, Qt::Key_Enter);
  EXPECT_DOUBLE_EQ(e.GetValue(), 1);
  EXPECT_EQ(validated.count(), 2);

  // Two notches of the wheel step twice the increment in one go.
  QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 240), Qt::NoButton,
                    Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(&e, &wheel);
  EXPECT_DOUBLE_EQ(e.GetValue(), 3);
  EXPECT_EQ(validated.count(), 3);
  Key(&e, Qt::Key_Down);
  EXPECT_DOUBLE_EQ(e.GetValue(), 2);
}

// Only the digits 0-9 make a number here: digits of other scripts look
// like numbers to the operator but read as none (Enter would give MinValue),
// whether typed as keys or composed by an input method.
TEST(SpinEdit, TakesOnlyTheDigitsZeroToNine) {
  TestApp();
  TKorSpinEdit e;
  QSignalSpy beeped(&e, &TKorSpinEdit::beeped);
  e.clear();
  Type(&e, "-1.5");
  const QString others[] = {QString(QChar(0x0663)), QString(QChar(0x06F4)), QString(QChar(0xFF15)),
                            QString(QChar(0x0968)), QStringLiteral("7") + QChar(0x0662)};
  for (const QString& text : others) Key(&e, Qt::Key_unknown, text);
  EXPECT_EQ(e.text(), "-1.5");
  EXPECT_EQ(beeped.count(), 5);
  QInputMethodEvent composed(QString(), {});
  composed.setCommitString(QString(QChar(0x0664)));
  QApplication::sendEvent(&e, &composed);
  EXPECT_EQ(e.text(), "-1.5");
  EXPECT_EQ(beeped.count(), 6);
  QInputMethodEvent digits(QString(), {});
  digits.setCommitString(QStringLiteral("25"));
  QApplication::sendEvent(&e, &digits);
  EXPECT_EQ(e.text(), "-1.525");
  EXPECT_EQ(beeped.count(), 6);
}

TEST(SpinEdit, ReadOnlyAndDisabledEditorOnlyBeep) {
  TestApp();
  TKorSpinEdit e;
  QSignalSpy beeped(&e, &TKorSpinEdit::beeped);
  QSignalSpy validated(&e, &TKorSpinEdit::validated);
  e.setReadOnly(true);
  e.Buttons()->UpButton()->click();
  Key(&e, Qt::Key_Up);
  EXPECT_EQ(e.GetValue(), 0);
  EXPECT_EQ(beeped.count(), 2);
  EXPECT_EQ(validated.count(), 0);
  e.setReadOnly(false);
  e.SetEditorEnabled(false);
  Key(&e, Qt::Key_1, "1");
  EXPECT_EQ(e.text(), "0");
  Key(&e, Qt::Key_Up);  // stepping still works
  EXPECT_DOUBLE_EQ(e.GetValue(), 1);
}

TEST(SpinEdit, OneStepPopupAtATimeSetsTheIncrement) {
  TestApp();
  TKorSpinEdit a, b;
  a.SetAllowStepChange(true);
  b.SetAllowStepChange(true);
  EXPECT_FALSE(a.Buttons()->StepButton()->isHidden());
  a.show();
  b.show();
  a.StepClick();
  QPointer<QWidget> first = TKorSpinEdit::OpenStepPopup();
  ASSERT_TRUE(first);
  b.StepClick();
  QApplication::processEvents();
  EXPECT_TRUE(first.isNull() || !first->isVisible());
  QWidget* popup = TKorSpinEdit::OpenStepPopup();
  ASSERT_NE(popup, nullptr);
  auto* edit = popup->findChild<QLineEdit*>("StepEdit");
  ASSERT_NE(edit, nullptr);
  EXPECT_EQ(edit->text(), "1");
  edit->setText("0,25");
  Key(edit, Qt::Key_Return);
  EXPECT_DOUBLE_EQ(b.Increment(), 0.25);
  b.Step(1);
  EXPECT_DOUBLE_EQ(b.GetValue(), 0.25);
}

// With the step button the strip keeps its layout at any size asked for:
// the arrow pair in the upper half, the step button beneath, none of them
// squeezed out of sight.
TEST(SpinEdit, TheStepButtonKeepsItsRoom) {
  TestApp();
  QWidget host;
  auto* layout = new QVBoxLayout(&host);
  auto* e = new TKorSpinEdit(&host);
  layout->addWidget(e);
  e->SetAllowStepChange(true);
  host.show();
  for (int asked : {22, 10, 60}) {
    e->resize(120, asked);
    QApplication::processEvents();
    EXPECT_GE(e->height(), e->GetMinHeight()) << asked;
    TKorSpinButton* strip = e->Buttons();
    EXPECT_GE(strip->height(), 32) << asked;
    const QRect up = strip->UpButton()->geometry(), down = strip->DownButton()->geometry(),
                step = strip->StepButton()->geometry();
    EXPECT_EQ(up.top(), 0);
    EXPECT_LE(down.bottom(), strip->height() / 2) << asked;
    EXPECT_GE(step.top(), strip->height() / 2 - 1) << asked;
    EXPECT_GE(step.height(), 15) << asked;
    EXPECT_GE(up.height(), 7) << asked;
  }
  EXPECT_GE(e->sizeHint().height(), 34);
  auto* plain = new TKorSpinEdit(&host);
  layout->addWidget(plain);
  plain->SetValue(12.5);
  e->SetValue(3);
  host.resize(160, 90);
  MaybeScreenshot(&host, "spin-edit-step-button");
  e->SetAllowStepChange(false);
  EXPECT_LT(e->GetMinHeight(), 34);
}

// Text that is not typed does not get in either: a drop on an edit whose
// editor is disabled or that is read-only; the edit
// menu's entries that change the text are disabled by their roles, in
// whatever language they are.
TEST(SpinEdit, BlockedEditsTakeNoDropsPastesOrMenuEdits) {
  TestApp();
  QTranslator russian;
  ASSERT_TRUE(russian.load("qtbase_ru", QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
  QCoreApplication::installTranslator(&russian);
  for (const bool readOnly : {false, true}) {
    TKorSpinEdit e;
    e.show();
    if (readOnly) e.setReadOnly(true);
    else e.SetEditorEnabled(false);
    QMimeData mime;
    mime.setText("42");
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&e, &enter);
    EXPECT_FALSE(enter.isAccepted());
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&e, &drop);
    EXPECT_EQ(e.text(), "0") << readOnly;

    QStringList disabled, enabled;
    QTimer::singleShot(50, [&] {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!menu) return;
      for (QAction* a : menu->actions())
        if (!a->isSeparator())
          (a->isEnabled() ? enabled : disabled) << a->objectName() + "=" + a->text().remove('&');
      menu->close();
    });
    e.selectAll();
    QContextMenuEvent context(QContextMenuEvent::Mouse, QPoint(5, 5), e.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&e, &context);
    EXPECT_TRUE(disabled.filter("edit-paste=").size() == 1) << disabled.join(", ").toStdString();
    EXPECT_TRUE(disabled.filter("edit-cut=").size() == 1) << disabled.join(", ").toStdString();
    // The menu speaks Russian, and copying what is selected stays possible.
    EXPECT_FALSE(disabled.filter(QString::fromUtf8("edit-paste=Вставить")).isEmpty())
        << disabled.join(", ").toStdString();
    EXPECT_TRUE(enabled.filter("edit-copy=").size() == 1) << enabled.join(", ").toStdString();
  }
  QCoreApplication::removeTranslator(&russian);

  // An edit that may be typed in takes a drop.
  TKorSpinEdit open;
  QMimeData mime;
  mime.setText("42");
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&open, &enter);
  EXPECT_TRUE(enter.isAccepted());
}

// The middle button pastes the selection of another window only into an
// edit that takes typing. Run under an X server (the offscreen platform has
// no selection, where such a paste could never happen): an editable edit
// takes "77", one with its editor disabled or read-only keeps its text.
TEST(SpinEditUnderX, MiddleButtonPastesOnlyWhereTypingIsAllowed) {
  TestApp();
  if (!QApplication::clipboard()->supportsSelection())
    GTEST_SKIP() << "this platform has no selection clipboard (run under an X server)";
  QApplication::clipboard()->setText("77", QClipboard::Selection);
  for (const int mode : {0, 1, 2}) {
    TKorSpinEdit e;
    e.show();
    if (mode == 1) e.SetEditorEnabled(false);
    if (mode == 2) e.setReadOnly(true);
    e.setText("");
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QMouseEvent middle(type, QPointF(5, 5), e.mapToGlobal(QPointF(5, 5)), Qt::MiddleButton,
                         type == QEvent::MouseButtonPress ? Qt::MiddleButton : Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(&e, &middle);
    }
    EXPECT_EQ(e.text(), mode == 0 ? "77" : "") << mode;
  }
}
