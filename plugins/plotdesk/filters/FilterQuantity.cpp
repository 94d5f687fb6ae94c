#include "filters/FilterQuantity.h"

#include <QMenu>
#include <QStringList>

#include <algorithm>
#include <cmath>

#include "Diagnostics.h"
#include "VectorState.h"
#include "model/Trace.h"
#include "ui/MenuItems.h"

namespace plotdesk {

namespace {

constexpr double kInverse290 = 0.0034482758620689655;  // 1/290, as a multiplier

double Volts(double mw) { return 0.1 * std::sqrt(std::max(0.001 * mw, 1e-100)); }

const TConversion kConversions[kConversionCount + 1] = {
    {"", "", [](double v) { return v; }},
    {"дБ", "раз", [](double v) { return std::pow(10.0, 0.1 * v); }},
    {"дБ", "К", [](double v) { return (std::pow(10.0, 0.1 * v) - 1) * 290; }},
    {"раз", "дБ", [](double v) { return 10 * std::log10(std::max(std::fabs(v), 1e-100)); }},
    {"раз", "К", [](double v) { return (v - 1) * 290; }},
    {"К", "раз", [](double v) { return v * kInverse290 + 1; }},
    {"К", "дБ", [](double v) { return 10 * std::log10(std::max(v * kInverse290 + 1, 1e-11)); }},
    {"дБм", "мВт", [](double v) { return std::pow(10.0, 0.1 * v); }},
    {"мВт", "дБм", [](double v) { return 10 * std::log10(v); }},
    {"мВт", "дБВт", [](double v) { return 10 * std::log10(v) - 30; }},
    {"мВт", "дБмВ", [](double v) { return 20 * std::log10(Volts(v)) + 60; }},
    {"мВт", "дБВ", [](double v) { return 20 * std::log10(Volts(v)); }},
    {"мВт", "Вт", [](double v) { return 0.001 * v; }},
    {"мВт", "В", [](double v) { return Volts(v); }},
    {"мВт", "мВ", [](double v) { return 1000 * Volts(v); }},
};

}  // namespace

const TConversion& Conversion(int number) {
  return kConversions[number >= 0 && number <= kConversionCount ? number : 0];
}

std::vector<int> ConversionsFrom(const std::string& unit) {
  std::vector<int> numbers;
  for (int c = 1; c <= kConversionCount; ++c)
    if (unit == kConversions[c].from) numbers.push_back(c);
  return numbers;
}

void CFilterQuantity::BuildMenu(QMenu* menu) {
  if (!trace_) return;
  const std::string source = trace_->SourceUnit();
  const std::vector<int> numbers = ConversionsFrom(source);
  QStringList items{QString::fromStdString(source)};
  int checked = 0;
  for (size_t i = 0; i < numbers.size(); ++i) {
    items << QString::fromUtf8(kConversions[numbers[i]].to);
    if (numbers[i] == conversion_) checked = static_cast<int>(i) + 1;
  }
  AddRadioMenu(menu, QStringLiteral("FilterQuantity"), QStringLiteral("&Единицы измерения"), items, checked,
               [this, numbers](int item) { SetConversion(item == 0 ? 0 : numbers[static_cast<size_t>(item - 1)]); });
}

void CFilterQuantity::SetConversion(int number) {
  if (number < 0 || number > kConversionCount) return;
  conversion_ = number;
  if (trace_) trace_->SetDisplayedUnitOverride(number ? kConversions[number].to : "");
  SettingChanged(tag_);  // no tag of its own
}

void CFilterQuantity::Reset() {
  const std::string source = trace_ ? trace_->SourceUnit() : std::string();
  if (conversion_ && source == kConversions[conversion_].from) return;
  SetConversion(source == "раз" ? 3 : source == "мВт" ? 8 : 0);
}

void CFilterQuantity::Apply(TTraceUpdate& u) {
  VK_ASSERT_TEXT(conversion_ >= 0 && conversion_ <= kConversionCount, "!Mode");
  if (conversion_ <= 0 || conversion_ > kConversionCount) return;
  const auto convert = kConversions[conversion_].apply;
  out_.resize(u.count);
  // pow and log10 per point: slow after a paint left the vector registers'
  // upper halves in use (a re-filter comes straight from a menu).
  vkcore::ClearVectorUpperState();
  for (size_t i = 0; i < u.count; ++i) out_[i] = convert(u.y[i]);
  u.y = out_.data();
}

}  // namespace plotdesk
