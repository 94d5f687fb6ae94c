#include "record/SweepAssembler.h"

#include <algorithm>

namespace recorder {

bool CSweepAssembler::Take(size_t input, const double* values, unsigned size, unsigned fullSize, unsigned offset) {
  if (input >= inputs_.size()) return false;
  TInput& in = inputs_[input];
  if (fullSize == 0) fullSize = size;
  const bool fits = size > 0 && fullSize <= kMaxPoints && offset <= fullSize && size <= fullSize - offset;
  if (!fits) {
    in.started = false;
    in.complete = false;
    return false;
  }
  if (offset == 0) {
    // A new sweep; the one before, complete or not, is over.
    in.values.assign(fullSize, 0.0);
    in.filled = 0;
    in.started = true;
    in.complete = false;
  } else if (!in.started || in.values.size() != fullSize || offset != in.filled) {
    // The tail of a sweep whose first part did not come, of another
    // length, or after a part that went missing: nothing sound to put it
    // into (a gap would be written as measured zeros).
    in.started = false;
    in.complete = false;
    return false;
  }
  std::copy(values, values + size, in.values.begin() + offset);
  in.filled += size;
  if (in.filled == fullSize) {
    in.complete = true;
    in.started = false;
  }
  return true;
}

bool CSweepAssembler::Complete() const {
  if (inputs_.empty()) return false;
  for (const TInput& in : inputs_)
    if (!in.complete) return false;
  return true;
}

void CSweepAssembler::Consume() {
  for (TInput& in : inputs_) in.complete = false;
}

}  // namespace recorder
