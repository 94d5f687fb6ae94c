#include "filters/FilterStat.h"

#include <QMenu>

#include <algorithm>
#include <cmath>

#include "Diagnostics.h"
#include "model/Trace.h"
#include "ui/MenuItems.h"

namespace plotdesk {

void CFilterStat::BuildMenu(QMenu* menu) {
  // A memory trace has no sweeps to compare.
  if (dynamic_cast<CTraceStatic*>(trace_)) return;
  AddRadioMenu(menu, QStringLiteral("FilterStat"), QStringLiteral("&Статистика"),
               {QStringLiteral("Выключено"), QStringLiteral("СКО")}, mode_, [this](int mode) { SetMode(mode); });
}

void CFilterStat::SetMode(int mode) {
  if (mode != Off && mode != Deviation) return;
  mode_ = mode;
  mean_.clear();
  squares_.clear();
  wideSquares_.clear();
  wide_ = false;
  if (mode_ == Deviation) n_ = 0;
  SettingChanged(mode_ == Deviation ? "СКО" : "");
}

namespace {
// The deviations whose squares a double holds well.
constexpr double kSafe = 1e150, kTiny = 1e-150;
}  // namespace

void CFilterStat::Widen() {
  wideSquares_.assign(squares_.begin(), squares_.end());
  wide_ = true;
}

void CFilterStat::Apply(TTraceUpdate& u) {
  if (mode_ == Off || u.count == 0) return;
  bool started = false;
  if (mean_.size() != u.arraySize || u.changed) {
    restart_ = true;
    restartOffset_ = u.offset;
    started = true;
    if (mean_.size() != u.arraySize) {
      mean_.resize(u.arraySize);
      squares_.resize(u.arraySize);
      if (wide_) wideSquares_.resize(u.arraySize);
      n_ = 0;
    }
  }
  if (!started && u.offset == restartOffset_) restart_ = false;
  const size_t n = u.offset < mean_.size() ? std::min(u.count, mean_.size() - u.offset) : 0;
  double* m = mean_.data() + u.offset;
  if (restart_) {
    // The first sweep seeds the means; nothing is shown until the second.
    std::copy(u.y, u.y + n, m);
    if (wide_) std::fill(wideSquares_.begin() + static_cast<std::ptrdiff_t>(u.offset),
                         wideSquares_.begin() + static_cast<std::ptrdiff_t>(u.offset + n), 0.0L);
    else std::fill(squares_.begin() + static_cast<std::ptrdiff_t>(u.offset),
                   squares_.begin() + static_cast<std::ptrdiff_t>(u.offset + n), 0.0);
    n_ = 1;
    u.count = 0;
    u.changed = true;
    return;
  }
  if (u.offset == restartOffset_) ++n_;
  VK_ASSERT_TEXT(n_ > 1, "N>1");
  if (n_ < 2) return;
  const double toMean = 1.0 / n_, toVariance = 1.0 / (n_ - 1);
  out_.resize(u.count);
  size_t i = 0;
  if (!wide_) {
    double* q = squares_.data() + u.offset;
    for (; i < n; ++i) {
      const double y = u.y[i], d = y - m[i];
      if (std::fabs(d) > kSafe || (d != 0 && std::fabs(d) < kTiny)) break;
      m[i] += d * toMean;
      q[i] += d * (y - m[i]);
      out_[i] = std::sqrt(std::fabs(q[i] * toVariance));
    }
    if (i < n) Widen();
  }
  if (wide_) {
    long double* q = wideSquares_.data() + u.offset;
    const long double toWideVariance = 1.0L / (n_ - 1);
    for (; i < n; ++i) {
      const long double y = u.y[i], d = y - m[i];
      m[i] += static_cast<double>(d * toMean);
      q[i] += d * (y - m[i]);
      const long double variance = std::fabs(q[i] * toWideVariance);
      const double v = static_cast<double>(variance);
      // A deviation whose square lies beyond a double's range still is one.
      out_[i] = std::isnormal(v) || variance == 0 ? std::sqrt(v) : static_cast<double>(std::sqrt(variance));
    }
  }
  std::fill(out_.begin() + static_cast<std::ptrdiff_t>(n), out_.end(), 0.0);
  u.y = out_.data();
}

}  // namespace plotdesk
