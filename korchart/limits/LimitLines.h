#pragma once
// Limit lines: what a trace of a production test must stay between, and the
// verdict of a sweep against them. Plain data and maths over arrays; the
// dialog, the drawing and the displays' menus read it.
//
// A limit is a list of segments, each from a start to a stop argument with
// a level at either end and a straight line between (in the trace's
// displayed unit). An upper limit is broken by a point above it, a lower
// one by a point below it; a point exactly on the line passes. The margin
// of a point is how far inside it is (negative: how far outside); the
// verdict of a trace is its worst margin over every segment and the
// argument where it is. A point without a value (NaN) inside a segment's
// range fails it. Points outside every segment are not judged.
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "markers/BuildVariant.h"

#include <libxml/tree.h>

namespace korchart {
KORCHART_VARIANT_BEGIN

struct TLimitSegment {
  double start = 0, stop = 0;            // arguments
  double startLevel = 0, stopLevel = 0;  // levels at the start and at the stop
  bool operator==(const TLimitSegment& o) const {
    return start == o.start && stop == o.stop && startLevel == o.startLevel && stopLevel == o.stopLevel;
  }
};

struct TLimitLines {
  bool enabled = false;
  std::vector<TLimitSegment> upper, lower;
  bool Empty() const { return upper.empty() && lower.empty(); }
  bool Active() const { return enabled && !Empty(); }
  bool operator==(const TLimitLines& o) const {
    return enabled == o.enabled && upper == o.upper && lower == o.lower;
  }
};

// The verdict of one sweep of one trace (or of one reading).
struct TLimitVerdict {
  bool judged = false;  // some point (or the reading) lay inside a limit's range
  bool pass = true;
  double worstMargin = std::numeric_limits<double>::infinity();
  double argument = std::numeric_limits<double>::quiet_NaN();  // where the worst margin is
  size_t failing = 0;  // points that broke a limit
};

// The level of a segment at `x` (its start level for a segment of no width).
double LevelAt(const TLimitSegment& s, double x);

// Judges `n` points (`x`, `y`) against `limits` (whether enabled or not).
// When `failingMask` is given it gets one flag per point (1: the point broke
// a limit). Arguments may come in any order; ascending ones are found by
// bisection.
TLimitVerdict JudgeTrace(const double* x, const double* y, size_t n, const TLimitLines& limits,
                         std::vector<uint8_t>* failingMask = nullptr);

// A reading's minimum and maximum (either may be absent).
struct TValueLimits {
  bool enabled = false;
  bool hasMin = false, hasMax = false;
  double min = 0, max = 0;
  bool Active() const { return enabled && (hasMin || hasMax); }
  bool operator==(const TValueLimits& o) const {
    return enabled == o.enabled && hasMin == o.hasMin && hasMax == o.hasMax && (!hasMin || min == o.min) &&
           (!hasMax || max == o.max);
  }
};

// A tolerance typed into two fields: each bound a number with a point or a
// comma, or empty for no bound on that side. False when a bound is no
// finite number or the minimum is above the maximum (`limits` untouched).
bool ParseTolerance(bool enabled, const std::string& min, const std::string& max, TValueLimits& limits);
// The text of a bound for such a field ("" when there is none).
std::string BoundText(bool has, double value);

// Judges a reading; `hasValue` false (a marker that found nothing) fails.
TLimitVerdict JudgeValue(double value, bool hasValue, const TValueLimits& limits);

// Folds `part` into `whole` (a display's verdict from its traces').
void Combine(TLimitVerdict& whole, const TLimitVerdict& part);

// The limits in a CSV file: a header line, then one segment a line:
// "верхняя" or "нижняя", start, stop, start level, stop level. Fields are
// separated by commas (numbers with a decimal point) or by semicolons
// (numbers with a decimal point or comma). Reading returns false with the
// line and the reason in `error` and leaves `limits` as it was.
std::string LimitsToCsv(const TLimitLines& limits);
bool LimitsFromCsv(const std::string& text, TLimitLines& limits, std::string& error);

// Kept in a module's state: <limits enabled="..."><upper start=... stop=...
// startlevel=... stoplevel=.../>...<lower .../></limits> under `parent`
// (nothing is written for limits that are off and empty).
void SaveLimits(xmlNode* parent, const TLimitLines& limits);
// Reads the "limits" child of `parent`; false (and `limits` untouched) when
// there is none. Segments with a value that is no finite number are left
// out; at most kMaxSegments of each kind are taken.
bool LoadLimits(xmlNode* parent, TLimitLines& limits);
void SaveValueLimits(xmlNode* element, const TValueLimits& limits);  // attributes limitmin, limitmax, limits
void LoadValueLimits(xmlNode* element, TValueLimits& limits);

inline constexpr size_t kMaxSegments = 10000;

KORCHART_VARIANT_END
}  // namespace korchart
