#pragma once
// What the markers compute, as plain functions over series data: the value
// of a series at an argument, the searches of a marker (a fixed level, a
// minimum or maximum with a divergence), the candidate extrema of the auto
// search and running statistics. No Qt here: tests and benchmarks call them
// directly, and the markers call them on the data already in the chart.
#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "markers/BuildVariant.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

// A series as it is read: n points with ascending arguments, `stride`
// doubles from one point to the next (1 for separate arrays, 2 for the
// chart's key/value pairs).
struct TSeriesView {
  const double* x = nullptr;
  const double* y = nullptr;
  size_t n = 0;
  size_t stride = 1;
  // The caller knows the arguments ascend (the chart keeps its data sorted):
  // the searches may then find their places by bisection. The results are
  // those of the scans.
  bool sorted = false;
  double X(size_t i) const { return x[i * stride]; }
  double Y(size_t i) const { return y[i * stride]; }
  // The first index whose argument is not below `arg` (sorted views only).
  size_t LowerBound(double arg) const;
  // The first index whose argument is above `arg` (sorted views only).
  size_t UpperBound(double arg) const;
};

// Whether the arguments of a view never descend.
bool Ascending(const TSeriesView& s);

// A marker's search reads a series, or (delta measure) its difference from a
// second series point by point; the shorter of the two sets the length.
struct TLevelView {
  TSeriesView trace;
  const TSeriesView* minus = nullptr;
  size_t Size() const { return minus ? std::min(trace.n, minus->n) : trace.n; }
  // The points [First, Last) that can lie in a span: all of them, or on a
  // sorted trace the span's own.
  size_t First(double minArg) const { return trace.sorted ? std::min(trace.LowerBound(minArg), Size()) : 0; }
  size_t Last(double maxArg) const { return trace.sorted ? std::min(trace.UpperBound(maxArg), Size()) : Size(); }
  double X(size_t i) const { return trace.X(i); }
  double V(size_t i) const { return minus ? trace.Y(i) - minus->Y(i) : trace.Y(i); }
};

// "No value" of a series at an argument.
constexpr double kNoValue = -1000;
// "Not found" of a search.
constexpr double kNotFound = -1;

// The value of `s` at `arg`: the point's value where an argument matches,
// linear interpolation between the two points around it. kNoValue when there are fewer than two points or `arg` is
// outside the series; then `error` (when given) says why when the data are
// at fault: "find_nearest_val_indexes: vector<T> не упорядочен" (arguments
// not ascending) or "...длинна vector'а равна нулю" (no points).
double ValueAt(const TSeriesView& s, double arg, std::string* error = nullptr);

// The search range of a marker: only points with minArg <= x <= maxArg.
struct TSearchSpan {
  double minArg = 0;
  double maxArg = 20000;
  bool Contains(double x) const { return x >= minArg && x <= maxArg; }
};

// The argument where v first crosses `level` (either direction), from the
// left, interpolated; kNotFound when it never does.
double SearchLevel(const TLevelView& v, const TSearchSpan& span, double level);

// The argument of the least (maximum false) or greatest value. With a
// divergence d != 0 the search walks from there in `direction` (-1 left,
// +1 right) to the first point where the value has left the extremum by d
// (v >= min + d, or v <= max - d) and interpolates the crossing with the
// point before; kNotFound when it runs out of the series or the range.
double SearchExtremum(const TLevelView& v, const TSearchSpan& span, bool maximum, double divergence,
                      int direction);

// The candidate extrema of the auto search (indices into the series); see
// AutoSearchCandidates in Searches.cpp for the rule. Needs n >= 4.
struct TCandidates {
  std::vector<size_t> minima;
  std::vector<size_t> maxima;
};
TCandidates AutoSearchCandidates(const TSeriesView& s);

// Running statistics of the values a marker or a link marker has shown.
struct TStatistics {
  double min = 0, max = 0, sum = 0, sumSquares = 0;
  long n = 0;
  void Add(double v);
  void Reset() { *this = TStatistics(); }
  bool HasValues() const { return n > 0; }
  bool HasDeviation() const { return n > 1; }
  double Mean() const { return n > 0 ? sum / n : 0; }
  // sqrt(|(sum of squares - sum^2 / n) / (n - 1)|)
  double Deviation() const;
};

KORCHART_VARIANT_END
}  // namespace korchart
