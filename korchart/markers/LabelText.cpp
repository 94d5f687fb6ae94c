#include "markers/LabelText.h"

#include "markers/MarkerModel.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace korchart {
KORCHART_VARIANT_BEGIN

namespace {

void ReplaceAll(std::string& text, const std::string& what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
}

const char* const kStatisticsTags[] = {"%мин", "%макс", "%ср", "%ско", "%выб"};

}  // namespace

std::string FormatFixed(double value, int digits) {
  digits = std::clamp(digits, 0, 15);
  if (!std::isfinite(value)) return std::isnan(value) ? "NaN" : (value > 0 ? "INF" : "-INF");
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.*f", digits, value);
  std::string out = buffer;
  std::replace(out.begin(), out.end(), '.', ',');
  return out;
}

std::string StatisticsText(const TStatistics& s, int digits) {
  const std::string none = "-";
  const std::string min = s.HasValues() ? FormatFixed(s.min, digits) : none;
  const std::string mean = s.HasValues() ? FormatFixed(s.Mean(), digits) : none;
  const std::string max = s.HasValues() ? FormatFixed(s.max, digits) : none;
  const std::string dev = s.HasDeviation() ? FormatFixed(s.Deviation(), digits) : none;
  return min + " / " + mean + " / " + max + " / " + dev;
}

std::vector<TLabelRow> MakeLabelRows(const TLabelInput& in) {
  std::vector<TLabelRow> rows;
  TLabelRow argRow;
  argRow.text = FormatFixed(in.arg, in.argDigits);
  if (!in.argUnits.empty()) argRow.text += " " + in.argUnits;
  if (in.statistics && in.argStatistics) {
    in.argStatistics->Add(in.arg);
    argRow.statistics = StatisticsText(*in.argStatistics, in.argDigits);
  }
  rows.push_back(argRow);
  for (const TLabelSeries& s : in.series) {
    TLabelRow row;
    row.series = s.number;
    row.color = static_cast<long>(s.color);
    const bool known = s.value != kNoValue;
    row.text = known ? FormatFixed(s.value, in.valueDigits) : std::string(kNoValueText);
    if (known && !s.units.empty()) row.text += " " + s.units;
    // A series without a value there is not taken into its statistics.
    if (in.statistics && s.statistics) {
      if (s.value != kNoValue) s.statistics->Add(s.value);
      row.statistics = StatisticsText(*s.statistics, in.valueDigits);
    }
    rows.push_back(row);
  }
  if (in.delta) {
    TLabelRow row;
    const bool known = in.deltaA.value != kNoValue && in.deltaB.value != kNoValue;
    row.text = "d " + (known ? FormatFixed(std::fabs(in.deltaA.value - in.deltaB.value), in.valueDigits)
                             : std::string(kNoValueText));
    if (known && in.deltaA.units == in.deltaB.units && !in.deltaA.units.empty()) row.text += " " + in.deltaA.units;
    rows.push_back(row);
  }
  return rows;
}

bool TemplateWantsStatistics(const std::string& print) {
  for (const char* tag : kStatisticsTags)
    if (print.find(tag) != std::string::npos) return true;
  return false;
}

bool SLinkParams::WantsStatistics() const { return TemplateWantsStatistics(print); }

std::string LinkText(const std::string& print, double value, const TStatistics* statistics, bool hasValue) {
  const std::string shown = hasValue ? FormatFixed(value, 3) : std::string(kNoValueText);
  if (print.empty()) return shown;
  std::string text = print;
  ReplaceAll(text, "%зн", shown);
  if (statistics) {
    const std::string none = "-";
    ReplaceAll(text, "%мин", statistics->HasValues() ? FormatFixed(statistics->min, 3) : none);
    ReplaceAll(text, "%макс", statistics->HasValues() ? FormatFixed(statistics->max, 3) : none);
    ReplaceAll(text, "%ср", statistics->HasValues() ? FormatFixed(statistics->Mean(), 3) : none);
    ReplaceAll(text, "%ско", statistics->HasDeviation() ? FormatFixed(statistics->Deviation(), 3) : none);
    ReplaceAll(text, "%выб", FormatFixed(static_cast<double>(statistics->n), 3));
  }
  return text;
}

KORCHART_VARIANT_END
}  // namespace korchart
