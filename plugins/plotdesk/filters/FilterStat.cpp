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
  sum_.clear();
  sumSq_.clear();
  if (mode_ == Deviation) n_ = 0;
  SettingChanged(mode_ == Deviation ? "СКО" : "");
}

void CFilterStat::Apply(TTraceUpdate& u) {
  if (mode_ == Off || u.count == 0) return;
  bool started = false;
  if (sum_.size() != u.arraySize || u.changed) {
    restart_ = true;
    restartOffset_ = u.offset;
    started = true;
    if (sum_.size() != u.arraySize) {
      sum_.resize(u.arraySize);
      sumSq_.resize(u.arraySize);
      n_ = 0;
    }
  }
  if (!started && u.offset == restartOffset_) restart_ = false;
  const size_t n = u.offset < sum_.size() ? std::min(u.count, sum_.size() - u.offset) : 0;
  double* s = sum_.data() + u.offset;
  double* q = sumSq_.data() + u.offset;
  if (restart_) {
    // The first sweep seeds the sums; nothing is shown until the second.
    for (size_t i = 0; i < n; ++i) {
      s[i] = u.y[i];
      q[i] = u.y[i] * u.y[i];
    }
    n_ = 1;
    u.count = 0;
    u.changed = true;
    return;
  }
  if (u.offset == restartOffset_) ++n_;
  VK_ASSERT_TEXT(n_ > 1, "N>1");
  if (n_ < 2) return;
  const double count = n_;
  out_.resize(u.count);
  for (size_t i = 0; i < n; ++i) {
    s[i] += u.y[i];
    q[i] += u.y[i] * u.y[i];
    out_[i] = std::sqrt(std::fabs((q[i] - s[i] * s[i] / count) / (count - 1)));
  }
  std::fill(out_.begin() + static_cast<std::ptrdiff_t>(n), out_.end(), 0.0);
  u.y = out_.data();
}

}  // namespace plotdesk
