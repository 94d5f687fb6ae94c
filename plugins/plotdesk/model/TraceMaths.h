#pragma once
// The diagram's arithmetic over plain numbers and arrays: display ranges
// and their reference level and scale, auto scale, the sweep bookkeeping of
// a trace, new trace names and the math traces' operations. No Qt here:
// tests and benchmarks call these directly.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace plotdesk {

// The screen shows ten divisions; a trace's display range spans them.
constexpr int kDivisions = 10;
// The smallest scale per division.
constexpr double kMinScale = 0.01;
// The narrowest display range.
constexpr double kMinSpan = 0.1;

struct TDisplayRange {
  double bottom = 0;
  double top = 0;
  bool operator==(const TDisplayRange& o) const { return bottom == o.bottom && top == o.top; }
};

// The range that puts `reference` at division `position` (from the top)
// with `scale` units per division (at least kMinScale).
TDisplayRange RangeFromReference(double reference, double scale, double position);
// A range narrower than kMinSpan becomes kMinSpan wide around its centre.
TDisplayRange WidenRange(TDisplayRange range);
// The value drawn at division `position` from the top.
double ReferenceLevel(const TDisplayRange& range, double position);
double ScalePerDivision(const TDisplayRange& range);
// Reference positions are whole divisions from 0 (top) to 10 (bottom).
int ClampPosition(double position);

struct TReferenceScale {
  double reference = 0;
  double scale = 1;
};

// Auto scale of values between lo and hi at reference position `position`:
// a round step per division and a round centre that keeps lo and hi on
// the screen. Nothing when lo or hi is not a number (a trace without
// points keeps its range).
std::optional<TReferenceScale> AutoScale(double lo, double hi, double position);

// Where a trace stands in its sweep. `start` is the index at which the
// oldest complete sweep begins (-1 while none is complete), `expected` the
// offset the next part should have, `received` the points taken since the
// sweep last started again (at most the array size).
struct TSweepState {
  long long start = -1;
  size_t expected = 0;
  size_t received = 0;
};

struct TPoint {
  double x = 0;
  double y = 0;
};

// Takes a part of a sweep into the raw points: resizes them to
// `arraySize` (new points are zero), starts the sweep again when `changed`
// is set, the size changed, no sweep has started or the part is not where
// the last one ended,
// stores the part and counts it. Returns whether the sweep started again
// (the caller clears what it shows). A part is cut where the array ends.
bool TakeSweepPart(TSweepState& state, std::vector<TPoint>& raw, size_t arraySize, size_t offset, size_t& count,
                   const double* x, const double* y, bool changed);

// The arguments of the points a series shows, in their order: n keys,
// `stride` doubles apart.
struct TSeriesKeys {
  const double* key = nullptr;
  size_t n = 0;
  size_t stride = 1;
  double operator[](size_t i) const { return key[i * stride]; }
};

// "The part keeps the series in order" of OrderBreak.
constexpr size_t kInOrder = static_cast<size_t>(-1);

// A series is drawn in the order of its arguments, ascending or descending.
// Where the arguments of a part that takes the points [offset, offset +
// count) of `series` (the points before and after it stay) turn against
// that order, the sweep has new arguments: the index in the part from
// which it starts again (0 when the points around the part are those that
// disagree), or kInOrder. From that index on the part keeps one order.
size_t OrderBreak(const TSeriesKeys& series, size_t offset, size_t count, const double* x);

// The smallest n from 1 such that no name begins with prefix + n.
std::string NextTraceName(const std::string& prefix, const std::vector<std::string>& names);

// The math traces' operations, in menu order.
enum class EMathOperation { Difference, Sum, Mean, Ratio, Product };
constexpr int kMathOperationCount = 5;
const char* MathOperationText(int operation);
double ApplyMathOperation(int operation, double a, double b);
// The unit of an operation's result on operands shown in u1 and u2:
// - the difference of two levels in decibels is a ratio in "дБ", save an
//   absolute level less a ratio (дБм − дБ = дБм); otherwise u1;
// - the sum of an absolute level and a ratio in decibels is that level
//   (дБм + дБ = дБм), of two ratios "дБ"; otherwise u1;
// - the mean is in u1;
// - the ratio of two values in one unit has none ("раз"), a value by a
//   plain number keeps its unit, else "u1/u2";
// - the product by a plain number keeps the other unit, else "u1·u2".
// Units are compared as texts; two empty units give an empty one.
std::string MathResultUnit(int operation, const std::string& u1, const std::string& u2);

}  // namespace plotdesk
