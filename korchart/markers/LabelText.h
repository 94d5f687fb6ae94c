#pragma once
// The texts the markers show: numbers in fixed notation with a decimal
// comma, the rows of a marker's label and a link marker's print template.
// Plain functions over plain data; the drawing items only lay them out.
#include <string>
#include <vector>

#include "markers/BuildVariant.h"
#include "markers/Searches.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

// `value` in fixed notation with `digits` fraction digits (0..15) and a
// decimal comma: FormatFixed(-1000, 2) == "-1000,00".
std::string FormatFixed(double value, int digits);

// What a reading without a value shows, whatever its digits and without a
// unit: a series with no value at the marker, a marker that found nothing,
// a link marker whose formula reads either. The instrument's own "no value"
// number, so that a column of readings stays a column of numbers.
inline constexpr char kNoValueText[] = "-1000,00";

// One row of a marker's label: the text, the colour of its swatch (0xRRGGBB,
// or -1 for none) and, when statistics are shown, the statistics columns.
struct TLabelRow {
  std::string text;
  long color = -1;
  std::string statistics;
  int series = 0;  // the series number of a series row, 0 for the others
};

// The statistics columns of a row: minimum, mean, maximum, deviation; an
// undefined one shows "-".
std::string StatisticsText(const TStatistics& s, int digits);

// What a marker's label reads for one series.
struct TLabelSeries {
  int number = 0;
  std::string title;
  std::string units;
  unsigned color = 0;
  double value = kNoValue;
  TStatistics* statistics = nullptr;  // added to when statistics are shown
};

// The label rows of a marker at argument `arg`: the argument with the
// bottom axis's unit, one row per series, and with delta measure the row
// "d " + |a - b| (the units only when the two series' agree). With
// `statistics` every value is first added to its statistics. A series
// without a value (kNoValue) reads kNoValueText, and so does the difference
// when either side has none.
struct TLabelInput {
  double arg = 0;
  std::string argUnits;
  int argDigits = 3;
  int valueDigits = 2;
  bool statistics = false;
  TStatistics* argStatistics = nullptr;
  std::vector<TLabelSeries> series;
  bool delta = false;
  TLabelSeries deltaA, deltaB;
};
std::vector<TLabelRow> MakeLabelRows(const TLabelInput& in);

// A link marker's text: with an empty template the value with three
// fraction digits; otherwise the template with "%зн" replaced by the value
// and, with statistics, "%мин", "%макс", "%ср", "%ско" and "%выб" by
// minimum, maximum, mean, deviation and count. Without a value
// (`hasValue` false) the value reads kNoValueText.
std::string LinkText(const std::string& print, double value, const TStatistics* statistics, bool hasValue = true);

// Whether a print template asks for statistics.
bool TemplateWantsStatistics(const std::string& print);

KORCHART_VARIANT_END
}  // namespace korchart
