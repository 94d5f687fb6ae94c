#pragma once
// Unit conversion of a trace's values: fourteen conversions between
// decibels, ratios, kelvins, milliwatts, watts and volts. A trace whose
// values come in "раз" is shown in "дБ", one in "мВт" in "дБм", unless the
// operator chooses otherwise.
#include <string>
#include <vector>

#include "filters/FilterBase.h"

namespace plotdesk {

struct TConversion {
  const char* from;
  const char* to;
  double (*apply)(double);
};

// The conversions by number (1..14); 0 is none.
constexpr int kConversionCount = 14;
const TConversion& Conversion(int number);
// The conversions from a unit, by number.
std::vector<int> ConversionsFrom(const std::string& unit);

class CFilterQuantity : public CFilterBase {
 public:
  using CFilterBase::CFilterBase;
  void BuildMenu(QMenu* menu) override;
  void Apply(TTraceUpdate& update) override;
  // Keeps a conversion that fits the trace's source unit, else takes the
  // default one for that unit.
  void Reset() override;

  int Number() const { return conversion_; }
  // Sets conversion `number` (0: none) and the trace's displayed unit.
  void SetConversion(int number);

 private:
  int conversion_ = 0;
  std::vector<double> out_;
};

}  // namespace plotdesk
