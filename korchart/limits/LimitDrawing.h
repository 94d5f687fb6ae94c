#pragma once
// The limit lines of one trace on a chart: the upper and the lower limit as
// dashed lines, the points of the last judged sweep that broke a limit as
// red dots over the trace, and the trace's verdict as a label in the axis
// rect's top right corner. It reads a verdict, it does not judge: the
// display judges each whole sweep (JudgeTrace) and hands over the result.
// Nothing here replots; the display does when it draws.
#include <QColor>
#include <QPointer>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "limits/LimitLines.h"
#include "markers/BuildVariant.h"

class QCPAxis;
class QCPAxisRect;
class QCPCurve;
class QCPGraph;
class QCPItemText;
class QCustomPlot;

namespace korchart {
KORCHART_VARIANT_BEGIN

// What a verdict label says.
inline constexpr const char* kPassText = "ГОДЕН";
inline constexpr const char* kFailText = "БРАК";
inline constexpr const char* kNotJudgedText = "НЕ ПРОВЕРЕНО";
const QColor& PassColor();
const QColor& FailColor();
// The colour of limit lines drawn for a trace of colour `trace`.
QColor LimitColor(const QColor& trace);

// A verdict in a framed label at the top right of an axis rect; labels of
// different indices stand one under the other (index 0 at the top).
class TVerdictLabel {
 public:
  TVerdictLabel(QCustomPlot* plot, QCPAxisRect* rect, int index);
  ~TVerdictLabel();
  TVerdictLabel(const TVerdictLabel&) = delete;
  TVerdictLabel& operator=(const TVerdictLabel&) = delete;

  // Shows "<prefix>: ГОДЕН" (or БРАК; НЕ ПРОВЕРЕНО for a verdict that
  // judged nothing), coloured by the verdict.
  void Show(const TLimitVerdict& verdict, const QString& prefix = QString());
  void Hide();
  QCPItemText* Item() const;

 private:
  QPointer<QCustomPlot> plot_;
  QCPItemText* item_ = nullptr;  // owned by the plot; valid while plot_ is
};

class TLimitDrawing {
 public:
  // `labelIndex` places the trace's verdict label (0 is the top one).
  TLimitDrawing(QCustomPlot* plot, QCPAxis* keyAxis, QCPAxis* valueAxis, const QColor& traceColor,
                const QString& traceName, int labelIndex);
  ~TLimitDrawing();
  TLimitDrawing(const TLimitDrawing&) = delete;
  TLimitDrawing& operator=(const TLimitDrawing&) = delete;

  // Draws the lines of `limits` (none while they are off); the verdict
  // shown until then goes.
  void SetLimits(const TLimitLines& limits);
  // The verdict of a sweep of `n` points, and `mask` (a flag per point,
  // as JudgeTrace gives it): the flagged points are drawn as failing.
  void Show(const double* x, const double* y, size_t n, const std::vector<uint8_t>& mask,
            const TLimitVerdict& verdict);
  // No verdict (no sweep judged).
  void ClearVerdict();
  // Everything hidden (the trace is not shown), or shown again as it was.
  void SetVisible(bool visible);

  QCPCurve* Upper() const { return upper_; }
  QCPCurve* Lower() const { return lower_; }
  QCPGraph* Failing() const { return failing_; }
  TVerdictLabel& Label() { return label_; }

 private:
  void Apply();

  QPointer<QCustomPlot> plot_;
  QCPCurve* upper_ = nullptr;  // owned by the plot; valid while plot_ is
  QCPCurve* lower_ = nullptr;
  QCPGraph* failing_ = nullptr;
  TVerdictLabel label_;
  QString name_;
  TLimitLines limits_;
  TLimitVerdict verdict_;
  bool hasVerdict_ = false;
  bool visible_ = true;
};

KORCHART_VARIANT_END
}  // namespace korchart
