#include "model/TraceMath.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <qcustomplot.h>

#include "ui/DiagramArea.h"

namespace plotdesk {

void CTraceMath::BuildMenu(QMenu* menu) {
  CTrace::BuildMenu(menu);
  menu->addSeparator();
  for (int number : {1, 2}) {
    QMenu* sub = menu->addMenu(QStringLiteral("Трасса&%1").arg(number));
    sub->setObjectName(QStringLiteral("MathOperand%1").arg(number));
    auto* group = new QActionGroup(sub);
    for (const auto& trace : Area()->Traces()) {
      auto* source = dynamic_cast<CTraceMathSource*>(trace.get());
      if (!source) continue;
      QAction* a = sub->addAction(QString::fromStdString(source->Name()));
      a->setCheckable(true);
      a->setChecked(source == Operand(number));
      group->addAction(a);
      QObject::connect(a, &QAction::triggered, menu, [this, number, source] { SetOperand(number, source); });
    }
  }
  QMenu* ops = menu->addMenu(QStringLiteral("Операция"));
  ops->setObjectName(QStringLiteral("MathOperation"));
  auto* group = new QActionGroup(ops);
  for (int op = 0; op < kMathOperationCount; ++op) {
    QAction* a = ops->addAction(QString::fromUtf8(MathOperationText(op)));
    a->setCheckable(true);
    a->setChecked(op == operation_);
    group->addAction(a);
    QObject::connect(a, &QAction::triggered, menu, [this, op] { SetOperation(op); });
  }
}

void CTraceMath::SetOperand(int number, CTraceMathSource* operand) {
  (number == 1 ? operand1_ : operand2_) = operand;
  if (operand1_ || operand2_) TakeValuesIn(ResultUnit());
  Recompute();
}

void CTraceMath::SetOperation(int operation) {
  if (operation < 0 || operation >= kMathOperationCount) return;
  operation_ = operation;
  if ((operand1_ || operand2_) && ResultUnit() != SourceUnit()) TakeValuesIn(ResultUnit());
  Recompute();
}

std::string CTraceMath::ResultUnit() const {
  // The result is in the unit its operation gives on what the operands
  // show, converted no further.
  const CTrace* first = operand1_ ? operand1_ : operand2_;
  const CTrace* second = operand2_ ? operand2_ : operand1_;
  if (!first) return SourceUnit();
  return MathResultUnit(operation_, first->DisplayedUnit(), second->DisplayedUnit());
}

void CTraceMath::Forget(const CTrace* trace) {
  if (trace != operand1_ && trace != operand2_) return;
  if (operand1_ == trace) operand1_ = nullptr;
  if (operand2_ == trace) operand2_ = nullptr;
  // A result without both operands is no result.
  Clear();
  RowChanged();
}

void CTraceMath::Recompute() {
  // The whole result from what both operands show now (a memory operand
  // never draws again by itself).
  if (operand1_ && operand2_ && operand1_->PointCount() == operand2_->PointCount() && operand1_->HasPoints()) {
    std::vector<double> x(operand1_->PointCount()), y(x.size());
    for (size_t i = 0; i < x.size(); ++i) {
      x[i] = operand1_->PointX(i);
      y[i] = operand1_->PointValue(i);
    }
    TTraceUpdate whole{true, x.size(), 0, x.size(), x.data(), y.data()};
    OperandUpdated(operand1_, whole);
  } else {
    // Nothing to combine: what was shown is no longer the result.
    Clear();
    Refilter(false);
  }
  Area()->Redraw();
}

void CTraceMath::OperandUpdated(const CTraceMathSource* source, const TTraceUpdate& u) {
  if (source != operand1_ && source != operand2_) return;
  if (!operand1_ || !operand2_) return;
  if (operand1_->PointCount() != operand2_->PointCount()) return;
  // An operand shown in another unit now gives the result another unit.
  if (const std::string unit = ResultUnit(); unit != SourceUnit()) TakeValuesIn(unit);
  // Operands on two channels draw the same part one after the other: the
  // second computes the part again, with both operands' new values, in
  // place of the first (it is not a sweep that starts again).
  if (!u.changed && lastCount_ == u.count && lastOffset_ == u.offset && u.count > 0) RewindPart(u.offset, u.count);
  lastOffset_ = u.offset;
  lastCount_ = u.count;
  const CTrace* other = source == operand1_ ? operand2_ : operand1_;
  const bool first = source == operand1_;
  x_.assign(u.x, u.x + u.count);
  y_.resize(u.count);
  for (size_t i = 0; i < u.count; ++i) {
    const double mine = u.y[i], theirs = other->PointValue(u.offset + i);
    y_[i] = first ? ApplyMathOperation(operation_, mine, theirs) : ApplyMathOperation(operation_, theirs, mine);
  }
  ProcessUpdate(u.changed, u.arraySize, u.offset, u.count, x_.data(), y_.data());
}

}  // namespace plotdesk
