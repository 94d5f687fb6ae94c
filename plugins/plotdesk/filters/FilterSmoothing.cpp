#include "filters/FilterSmoothing.h"

#include <QMenu>

#include <algorithm>
#include <cmath>

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
  AddRadioMenu(menu, QStringLiteral("FilterSmoothing"), QStringLiteral("С&глаживание"),
               {QStringLiteral("Выключено"), QStringLiteral("Включено")}, on_ ? 1 : 0,
               [this](int item) { SetOn(item == 1); });
  AddEditItem(menu, QStringLiteral("FilterSmoothingWindow"), QStringLiteral("Окно, %"), QString::number(percent_), 12,
              [this](const QString& text) {
                if (const auto p = ParseNumber(text)) SetPercent(*p);
                else
                  vkplatform::MessageBox("Окно сглаживания задаётся числом процентов от 0 до 30.", "Сглаживание",
                                         vkplatform::MsgIcon::Warning);
              });
}

std::string CFilterSmoothing::MakeTag() const {
  return on_ ? "Сгл" + QString::number(percent_).toStdString() : std::string();
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
  sum_ = 0;
  outPos_ = 0;
}

void CFilterSmoothing::Push(double x, double y) {
  const size_t at = (head_ + size_) % qx_.size();
  qx_[at] = x;
  qy_[at] = y;
  ++size_;
  sum_ += y;
}

void CFilterSmoothing::PopFront() {
  sum_ -= qy_[head_];
  head_ = (head_ + 1) % qx_.size();
  --size_;
  // A value that is no number spoils the running sum only while it is in
  // the window.
  if (!std::isfinite(sum_)) {
    sum_ = 0;
    for (size_t i = 0; i < size_; ++i) sum_ += qy_[(head_ + i) % qy_.size()];
  }
}

void CFilterSmoothing::Emit() {
  VK_ASSERT_TEXT(size_ > 0, "Buffer.size()>0");
  outX_.push_back(qx_[(head_ + outPos_) % qx_.size()]);
  outY_.push_back(sum_ / static_cast<double>(size_));
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
