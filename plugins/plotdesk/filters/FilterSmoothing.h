#pragma once
// Smoothing along the sweep: a centred moving average over a window of W
// points (an odd number, W% of the sweep). The first and the last points of
// a sweep are averaged over a window that grows from, or shrinks to, one
// side; a sweep in parts is smoothed as it comes, each part giving the
// points whose window is complete.
#include <vector>

#include "filters/FilterBase.h"

namespace plotdesk {

// The window for a sweep of `arraySize` points at `percent` percent: the
// integer part, plus one when even (odd, at least 1).
size_t SmoothingWindow(size_t arraySize, double percent);

class CFilterSmoothing : public CFilterBase {
 public:
  static constexpr double kMaxPercent = 30;

  using CFilterBase::CFilterBase;
  void BuildMenu(QMenu* menu) override;
  void Apply(TTraceUpdate& update) override;
  void Reset() override;

  bool On() const { return on_; }
  double Percent() const { return percent_; }
  void SetOn(bool on);
  // Switches smoothing on with the percentage, kept within 0..30.
  void SetPercent(double percent);

 private:
  std::string MakeTag() const;
  void Clear();
  void Push(double x, double y);
  void PopFront();
  void Count(double y, bool in);
  void Recount();
  double Mean() const;
  double WideMean() const;
  void Emit();

  bool on_ = false;
  double percent_ = 5;
  // The queue of the window: a ring of W points, the sum of its finite
  // values (and of their magnitudes) and how many are not finite (NaN,
  // +inf, -inf). The sums are counted again from the window when the
  // magnitude in it has fallen far below the largest since they were last
  // counted (a large value that left would otherwise take the small ones'
  // digits with it) and while they are past a double's range.
  std::vector<double> qx_, qy_;
  size_t head_ = 0, size_ = 0;
  double sum_ = 0, magnitude_ = 0, peak_ = 0;
  size_t nans_ = 0, plusInf_ = 0, minusInf_ = 0;
  size_t outPos_ = 0, startOffset_ = 0;
  std::vector<double> outX_, outY_;
};

}  // namespace plotdesk
