#pragma once
// A math trace: two operand traces combined point by point by one of five
// operations. It follows its operands: whenever one of them draws an
// update, the same points of the result are computed and drawn.
#include "model/Trace.h"

namespace plotdesk {

class CTraceMath : public CTrace {
 public:
  using CTrace::CTrace;
  std::string KindText() const override { return "Матем."; }
  void BuildMenu(QMenu* menu) override;

  CTraceMathSource* Operand(int number) const { return number == 1 ? operand1_ : operand2_; }
  int Operation() const { return operation_; }
  // Choosing an operand or an operation computes the whole result again
  // from what the operands show.
  void SetOperand(int number, CTraceMathSource* operand);
  void SetOperation(int operation);
  // The unit of the result (MathResultUnit of what the operands show).
  std::string ResultUnit() const;
  // A trace that goes away stops being an operand.
  void Forget(const CTrace* trace);

  // An operand drew an update (after its filters).
  void OperandUpdated(const CTraceMathSource* source, const TTraceUpdate& update);

 private:
  void Recompute();

  CTraceMathSource* operand1_ = nullptr;
  CTraceMathSource* operand2_ = nullptr;
  int operation_ = 0;
  size_t lastOffset_ = 0, lastCount_ = 0;  // the part computed last
  std::vector<double> x_, y_;
};

}  // namespace plotdesk
