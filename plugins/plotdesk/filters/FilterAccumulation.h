#pragma once
// Accumulation over sweeps: minimum hold, maximum hold or exponential
// averaging with the factor K = 2^(n-1) of the degree n. After a restart
// (another sweep size, or a sweep that starts again) the first sweep passes
// unchanged and seeds the buffers; holding and averaging begin when the data
// come back to where the restart began.
#include <vector>

#include "filters/FilterBase.h"

namespace plotdesk {

class CFilterAccumulation : public CFilterBase {
 public:
  enum EMode { Off = 0, Minimum = 1, Maximum = 2, Averaging = 3 };
  // The degrees an operator may enter: K = 2^(n-1) from 1 to 2^31.
  static constexpr int kMinDegree = 1, kMaxDegree = 32;

  using CFilterBase::CFilterBase;
  void BuildMenu(QMenu* menu) override;
  void Apply(TTraceUpdate& update) override;

  int Mode() const { return mode_; }
  int Degree() const { return degree_; }
  double Factor() const { return factor_; }
  // Mode 0 empties the buffers; a mode outside 0..3 is refused (reported).
  void SetMode(int mode);
  // Sets averaging with this degree; false (and nothing changes) for a
  // degree outside 1..32.
  bool SetDegree(int degree);

 private:
  std::string MakeTag() const;

  int mode_ = Off;
  int degree_ = 5;
  double factor_ = 16;
  std::vector<double> bufX_, bufY_, out_;
  bool restart_ = false;
  size_t restartOffset_ = 0;
};

}  // namespace plotdesk
