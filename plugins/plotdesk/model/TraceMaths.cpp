#include "model/TraceMaths.h"

#include <algorithm>
#include <cmath>

namespace plotdesk {

TDisplayRange RangeFromReference(double reference, double scale, double position) {
  const double s = scale < kMinScale || std::isnan(scale) ? kMinScale : scale;
  return {reference - (kDivisions - position) * s, reference + position * s};
}

TDisplayRange WidenRange(TDisplayRange range) {
  if (!(range.top - range.bottom >= kMinSpan)) {
    const double centre = (range.bottom + range.top) / 2;
    range = {centre - kMinSpan / 2, centre + kMinSpan / 2};
  }
  return range;
}

double ReferenceLevel(const TDisplayRange& range, double position) {
  return range.top - (range.top - range.bottom) * position * 0.1;
}

double ScalePerDivision(const TDisplayRange& range) { return (range.top - range.bottom) * 0.1; }

int ClampPosition(double position) {
  if (std::isnan(position)) return kDivisions / 2;
  return static_cast<int>(std::clamp(std::trunc(position), 0.0, static_cast<double>(kDivisions)));
}

std::optional<TReferenceScale> AutoScale(double lo, double hi, double position) {
  if (!std::isfinite(lo) || !std::isfinite(hi)) return std::nullopt;
  double step = 1, centre = 0;
  if (!(lo == -1000 && hi == -1000)) {
    step = (hi - lo) * 0.1;
    step += step * 0.04;
    if (step < 0.001) step = 0.001;
    double p = std::pow(10.0, std::trunc(std::log10(step)));
    step = p * std::ceil(step / p);
    centre = (lo + hi) / 2;
    if (centre != 0) {
      int k = static_cast<int>(std::trunc(std::log10(std::fabs(centre))));
      auto acceptable = [&](double c) { return hi - 5 * step <= c && c <= lo + 5 * step; };
      double up = 0, down = 1;
      // Each round tries a finer power of ten; the centre itself is always
      // acceptable, so the rounds end (bounded anyway against rounding).
      for (int round = 0; !acceptable(up) && !acceptable(down) && round < 400; ++round, --k) {
        p = std::pow(10.0, k);
        up = p * std::ceil(centre / p);
        down = p * std::floor(centre / p);
      }
      centre = acceptable(up) ? up : acceptable(down) ? down : centre;
    }
  }
  return TReferenceScale{centre + (kDivisions / 2 - position) * step, step};
}

bool TakeSweepPart(TSweepState& state, std::vector<TPoint>& raw, size_t arraySize, size_t offset, size_t& count,
                   const double* x, const double* y, bool changed) {
  // Another size is another sweep.
  if (raw.size() != arraySize) {
    raw.resize(arraySize);
    changed = true;
  }
  if (offset >= raw.size()) {
    count = 0;
    return changed;
  }
  count = std::min(count, raw.size() - offset);
  if (changed || state.start == -1 || offset != state.expected) {
    changed = true;
    state.start = static_cast<long long>(offset);
    state.expected = offset;
    state.received = 0;
  }
  state.expected = (offset + count) % raw.size();
  for (size_t i = 0; i < count; ++i) raw[offset + i] = {x[i], y[i]};
  if (state.received < arraySize) {
    state.received = std::min(arraySize, state.received + count);
    if (state.received == arraySize) state.start = static_cast<long long>(state.expected);
  }
  return changed;
}

std::string NextTraceName(const std::string& prefix, const std::vector<std::string>& names) {
  for (size_t n = 1;; ++n) {
    const std::string candidate = prefix + std::to_string(n);
    const bool taken = std::any_of(names.begin(), names.end(),
                                   [&](const std::string& name) { return name.rfind(candidate, 0) == 0; });
    if (!taken) return candidate;
  }
}

const char* MathOperationText(int operation) {
  static const char* const kTexts[kMathOperationCount] = {"Трасса1 - Трасса2", "Трасса1 + Трасса2",
                                                         "(Трасса1 + Трасса2)/2", "Трасса1 / Трасса2",
                                                         "Трасса1 * Трасса2"};
  return operation >= 0 && operation < kMathOperationCount ? kTexts[operation] : "";
}

double ApplyMathOperation(int operation, double a, double b) {
  switch (static_cast<EMathOperation>(operation)) {
    case EMathOperation::Difference: return a - b;
    case EMathOperation::Sum: return a + b;
    case EMathOperation::Mean: return (a + b) * 0.5;
    case EMathOperation::Ratio: return a / b;
    case EMathOperation::Product: return a * b;
  }
  return a;
}

}  // namespace plotdesk
