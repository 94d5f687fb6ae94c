#include "filters/FilterAccumulation.h"

#include <QMenu>

#include <algorithm>
#include <cmath>

#include "Diagnostics.h"
#include "model/Trace.h"
#include "platform/Report.h"
#include "ui/MenuItems.h"

namespace plotdesk {

void CFilterAccumulation::BuildMenu(QMenu* menu) {
  // A memory trace has no sweeps to accumulate.
  if (dynamic_cast<CTraceStatic*>(trace_)) return;
  QMenu* sub = AddRadioMenu(menu, QStringLiteral("FilterAccumulation"), QStringLiteral("&Накопление"),
                            {QStringLiteral("&Выключено"), QStringLiteral("Ми&нимум"), QStringLiteral("Ма&ксимум"),
                             QStringLiteral("&Усреднение")},
                            mode_, [this](int mode) { SetMode(mode); });
  AddEditItem(sub, QStringLiteral("FilterAveragingDegree"), QStringLiteral("Степень у&среднения"),
              QString::number(degree_), 30, [this](const QString& text) {
                const auto n = ParseNumber(text);
                // Within the degrees before it becomes an int.
                if (!n || *n != std::trunc(*n) || *n < kMinDegree || *n > kMaxDegree ||
                    !SetDegree(static_cast<int>(*n)))
                  vkplatform::MessageBox("Степень усреднения должна быть целым числом от 1 до 32.", "Накопление",
                                         vkplatform::MsgIcon::Warning);
              });
}

std::string CFilterAccumulation::MakeTag() const {
  switch (mode_) {
    case Minimum: return "Мин";
    case Maximum: return "Мкс";
    case Averaging: return "Ср" + std::to_string(degree_);
    default: return {};
  }
}

void CFilterAccumulation::SetMode(int mode) {
  VK_ASSERT_TEXT(mode >= Off && mode <= Averaging, "Mode >=0 && Mode<=3");
  if (mode < Off || mode > Averaging) return;
  mode_ = mode;
  if (mode_ == Off) {
    bufX_.clear();
    bufY_.clear();
  }
  SettingChanged(MakeTag());
}

bool CFilterAccumulation::SetDegree(int degree) {
  // The factor doubles with every degree; past 32 it would be a shift by 32
  // or more places, which is no number.
  if (degree < kMinDegree || degree > kMaxDegree) return false;
  degree_ = degree;
  factor_ = std::ldexp(1.0, degree - 1);
  mode_ = Averaging;
  SettingChanged(MakeTag());
  return true;
}

void CFilterAccumulation::Apply(TTraceUpdate& u) {
  if (mode_ == Off) return;
  bool started = false;
  if (bufY_.size() != u.arraySize || u.changed) {
    restart_ = true;
    restartOffset_ = u.offset;
    started = true;
    if (bufY_.size() != u.arraySize) {
      bufX_.resize(u.arraySize);
      bufY_.resize(u.arraySize);
    }
  }
  if (!started && u.offset == restartOffset_) restart_ = false;
  // The part never reaches past the array (the trace cuts it).
  const size_t n = u.offset < bufY_.size() ? std::min(u.count, bufY_.size() - u.offset) : 0;
  double* bx = bufX_.data() + u.offset;
  double* by = bufY_.data() + u.offset;
  if (restart_) {
    std::copy(u.x, u.x + n, bx);
    std::copy(u.y, u.y + n, by);
    return;
  }
  out_.resize(u.count);
  for (size_t i = 0; i < n; ++i) {
    const double y = u.y[i], b = by[i];
    double v;
    switch (mode_) {
      case Minimum: v = y <= b ? y : b; break;
      case Maximum: v = b <= y ? y : b; break;
      default: v = ((factor_ - 1) * b + y) / factor_; break;
    }
    by[i] = v;
    out_[i] = v;
  }
  std::copy(u.y + n, u.y + u.count, out_.begin() + static_cast<std::ptrdiff_t>(n));
  u.y = out_.data();
}

}  // namespace plotdesk
