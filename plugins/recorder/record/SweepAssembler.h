#pragma once
// Puts sweeps together from what arrives on several inputs: whole vectors,
// or parts of a longer vector (offset, size, full size). A sweep is complete
// on an input when its parts have come one after another from its first
// (offset 0) to its last, none missing; the whole record is complete when
// every input holds a complete sweep. Plain arithmetic over arrays.
#include <cstddef>
#include <vector>

namespace recorder {

class CSweepAssembler {
 public:
  // The longest sweep taken (points); longer ones are refused.
  static constexpr unsigned kMaxPoints = 16777216;

  explicit CSweepAssembler(size_t inputs) : inputs_(inputs) {}

  // Values `values[0..size)` at `offset` of a sweep of `fullSize` points on
  // `input` (a whole vector: offset 0, fullSize == size). False when the
  // part cannot belong to a sweep (outside its array, or too long): it is
  // left out, and that input waits for the next sweep's first part.
  bool Take(size_t input, const double* values, unsigned size, unsigned fullSize, unsigned offset);
  // Whether every input holds a complete sweep.
  bool Complete() const;
  // The complete sweep of `input`.
  const std::vector<double>& Values(size_t input) const { return inputs_[input].values; }
  // The record has been taken: every input waits for its next sweep.
  void Consume();
  size_t Inputs() const { return inputs_.size(); }

 private:
  struct TInput {
    std::vector<double> values;
    unsigned filled = 0;   // points filled, one part after another, since the first
    bool started = false;  // a first part came
    bool complete = false;
  };
  std::vector<TInput> inputs_;
};

}  // namespace recorder
