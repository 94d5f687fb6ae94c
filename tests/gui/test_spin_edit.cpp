// The numeric spin edit: stepping, value lists, typing and the step pop-up.
#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QToolButton>
#include <QWheelEvent>

#include "KorSpinEdit.h"
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
