#include "filters/FilterSmoothing.h"

#include <QMenu>

#include <algorithm>
#include <cmath>
#include <limits>

#include "Diagnostics.h"
#include "model/Trace.h"
#include "platform/Report.h"
#include "ui/MenuItems.h"

namespace plotdesk {

size_t SmoothingWindow(size_t arraySize, double percent) {
  auto w = static_cast<size_t>(std::trunc(static_cast<double>(arraySize) * percent * 0.01));
  if (w % 2 == 0) ++w;
  return w;
}

void CFilterSmoothing::BuildMenu(QMenu* menu) {
  QMenu* sub = AddRadioMenu(menu, QStringLiteral("FilterSmoothing"), QStringLiteral("С&глаживание"),
                            {QStringLiteral("Выключено"), QStringLiteral("Включено")}, on_ ? 1 : 0,
                            [this](int item) { SetOn(item == 1); });
  AddEditItem(sub, QStringLiteral("FilterSmoothingWindow"), QStringLiteral("Окно, %"), QString::number(percent_), 12,
              [this](const QString& text) {
                if (const auto p = ParseNumber(text)) SetPercent(*p);
                else
                  vkplatform::MessageBox("Окно сглаживания задаётся числом процентов от 0 до 30.", "Сглаживание",
                                         vkplatform::MsgIcon::Warning);
              });
}

std::string CFilterSmoothing::MakeTag() const {
  if (!on_) return {};
  // In decimals, without trailing zeros.
  QString p = QString::number(percent_, 'f', 6);
  while (p.endsWith(QLatin1Char('0'))) p.chop(1);
  if (p.endsWith(QLatin1Char('.'))) p.chop(1);
  return "Сгл" + p.toStdString();
}

void CFilterSmoothing::SetOn(bool on) {
  on_ = on;
  Clear();
  startOffset_ = 0;
  SettingChanged(MakeTag());
}

void CFilterSmoothing::SetPercent(double percent) {
  percent_ = std::clamp(percent, 0.0, kMaxPercent);
  on_ = true;
  Clear();
  startOffset_ = 0;
  SettingChanged(MakeTag());
}

void CFilterSmoothing::Reset() {
  Clear();
  startOffset_ = 0;
}

void CFilterSmoothing::Clear() {
  head_ = size_ = 0;
  sum_ = magnitude_ = peak_ = 0;
  nans_ = plusInf_ = minusInf_ = 0;
  outPos_ = 0;
}

namespace {
// How far the magnitude in the window may fall below the largest it had
// since the sums were last counted before they are counted again. Each
// step of a running sum errs by a part of the largest sum it went through;
// within this ratio the error stays near a double's precision.
constexpr double kDrift = 16;
constexpr double kLargest = std::numeric_limits<double>::max();
}  // namespace

void CFilterSmoothing::Count(double y, bool in) {
  // Values that are no finite number are counted, not summed: the sum of
  // the others stays exact when they leave the window.
  if (std::isfinite(y)) {
    if (in) {
      sum_ += y;
      magnitude_ += std::fabs(y);
      if (magnitude_ > peak_) peak_ = magnitude_;
    } else {
      sum_ -= y;
      magnitude_ -= std::fabs(y);
    }
    return;
  }
  size_t& counter = std::isnan(y) ? nans_ : y > 0 ? plusInf_ : minusInf_;
  counter = in ? counter + 1 : counter - 1;
}

void CFilterSmoothing::Recount() {
  sum_ = magnitude_ = 0;
  for (size_t i = 0, at = head_; i < size_; ++i, at = at + 1 == qy_.size() ? 0 : at + 1) {
    const double y = qy_[at];
    if (!std::isfinite(y)) continue;
    sum_ += y;
    magnitude_ += std::fabs(y);
  }
  peak_ = magnitude_;
}

double CFilterSmoothing::Mean() const {
  if (nans_ || (plusInf_ && minusInf_)) return std::numeric_limits<double>::quiet_NaN();
  if (plusInf_) return std::numeric_limits<double>::infinity();
  if (minusInf_) return -std::numeric_limits<double>::infinity();
  if (magnitude_ <= kLargest) return sum_ / static_cast<double>(size_);
  return WideMean();
}

double CFilterSmoothing::WideMean() const {
  // Finite values whose sum no double holds (near 1e308): summed in
  // extended precision, whose range no such sum leaves.
  long double sum = 0;
  for (size_t i = 0, at = head_; i < size_; ++i, at = at + 1 == qy_.size() ? 0 : at + 1)
    if (std::isfinite(qy_[at])) sum += qy_[at];
  return static_cast<double>(sum / static_cast<long double>(size_));
}

void CFilterSmoothing::Push(double x, double y) {
  const size_t at = (head_ + size_) % qx_.size();
  qx_[at] = x;
  qy_[at] = y;
  ++size_;
  Count(y, true);
}

void CFilterSmoothing::PopFront() {
  Count(qy_[head_], false);
  head_ = (head_ + 1) % qx_.size();
  --size_;
  if (peak_ > kDrift * magnitude_ || !(magnitude_ <= kLargest)) Recount();
}

void CFilterSmoothing::Emit() {
  VK_ASSERT_TEXT(size_ > 0, "Buffer.size()>0");
  outX_.push_back(qx_[(head_ + outPos_) % qx_.size()]);
  outY_.push_back(Mean());
}

void CFilterSmoothing::Apply(TTraceUpdate& u) {
  if (!on_) return;
  const size_t w = SmoothingWindow(u.arraySize, percent_), h = (w - 1) / 2;
  if (qx_.size() != w) {
    // Another window: the queue starts again.
    qx_.assign(w, 0);
    qy_.assign(w, 0);
    Clear();
  }
  if (u.changed || u.offset == 0) {
    Clear();
    startOffset_ = u.offset;
  }
  if (size_ == 0 && u.offset != 0) {
    outPos_ = 0;
    startOffset_ = u.offset;
  }
  outX_.clear();
  outY_.clear();
  for (size_t i = 0; i < u.count; ++i) {
    Push(u.x[i], u.y[i]);
    if (size_ > h) {
      Emit();
      if (size_ == w) PopFront();
      else ++outPos_;
    }
  }
  if (u.offset + u.count == u.arraySize) {
    // The sweep ends here: the last points with their shrinking windows.
    while (size_ > 0 && size_ > outPos_) {
      Emit();
      PopFront();
    }
  }
  u.x = outX_.data();
  u.y = outY_.data();
  u.count = outX_.size();
  u.offset = startOffset_;
  if (!(u.changed && u.count == u.arraySize)) {
    startOffset_ += u.count;
    if (startOffset_ >= u.arraySize) startOffset_ = 0;
  }
}

}  // namespace plotdesk
