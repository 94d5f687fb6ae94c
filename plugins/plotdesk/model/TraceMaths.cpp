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

namespace {

int Sign(double d) { return d > 0 ? 1 : d < 0 ? -1 : 0; }

// The order of keys a..b of a series that is in order (0: one argument).
int OrderOf(const TSeriesKeys& s, size_t a, size_t b) { return a < b ? Sign(s[b] - s[a]) : 0; }

}  // namespace

size_t OrderBreak(const TSeriesKeys& series, size_t offset, size_t count, const double* x) {
  if (count == 0) return kInOrder;
  // The points that stay: those before the part and those after it.
  const size_t before = std::min(offset, series.n);
  const size_t after = std::min(offset + count, series.n);
  // A step against the order of the points before breaks it; the part
  // starts again at the last break, so that what follows keeps one order.
  int order = before >= 2 ? OrderOf(series, 0, before - 1) : 0;
  double previous = before > 0 ? series[before - 1] : std::nan("");
  size_t cut = kInOrder;
  for (size_t i = 0; i < count; ++i) {
    const int step = Sign(x[i] - previous);  // 0 for a NaN too
    if (step != 0 && order != 0 && step != order) {
      cut = i;
      order = 0;
    } else if (step != 0) {
      order = step;
    }
    if (!std::isnan(x[i])) previous = x[i];
  }
  if (cut != kInOrder || after >= series.n) return cut;
  // The points after the part are an earlier sweep's: a part that runs
  // the other way starts again whole; else it starts again at its first
  // point beyond the next point (the points before it fit in: they are
  // the old sweep's).
  const int rest = OrderOf(series, after, series.n - 1);
  if (order != 0 && rest != 0 && order != rest) return 0;
  const int way = order != 0 ? order : rest;
  for (size_t i = 0; i < count && way != 0; ++i)
    if (Sign(series[after] - x[i]) == -way) return i;
  return kInOrder;
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

namespace {

const char* const kRatioDb = "дБ";
const char* const kTimes = "раз";

// "дБм", "дБВт", "дБмВ", "дБВ": a level in decibels against a unit.
bool AbsoluteDb(const std::string& u) { return u.size() > std::string(kRatioDb).size() && u.rfind(kRatioDb, 0) == 0; }
bool Db(const std::string& u) { return u == kRatioDb || AbsoluteDb(u); }
bool Plain(const std::string& u) { return u.empty() || u == kTimes; }

}  // namespace

std::string MathResultUnit(int operation, const std::string& u1, const std::string& u2) {
  if (u1.empty() && u2.empty()) return std::string();
  switch (static_cast<EMathOperation>(operation)) {
    case EMathOperation::Difference:
      if (Db(u1) && Db(u2)) return AbsoluteDb(u1) && u2 == kRatioDb ? u1 : kRatioDb;
      return u1;
    case EMathOperation::Sum:
      if (AbsoluteDb(u1) && u2 == kRatioDb) return u1;
      if (u1 == kRatioDb && AbsoluteDb(u2)) return u2;
      return u1;
    case EMathOperation::Mean: return u1;
    case EMathOperation::Ratio:
      if (u1 == u2) return kTimes;
      if (Plain(u2)) return u1;
      return (u1.empty() ? std::string("1") : u1) + "/" + u2;
    case EMathOperation::Product:
      if (Plain(u1)) return u2.empty() ? u1 : u2;
      if (Plain(u2)) return u1;
      return u1 + "·" + u2;
  }
  return u1;
}

}  // namespace plotdesk
