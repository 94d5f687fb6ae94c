#pragma once
// Traces: what the diagram draws. A trace follows at most one channel,
// keeps the raw points of the sweep it is in, passes every update through
// its filter chain and draws the result as one series of the chart.
//
// Each trace's series is drawn against a value axis of its own, hidden and
// spanning the trace's display range, so that every trace fills the ten
// divisions after its own reference level and scale while the series keeps
// the trace's real values (the markers read them). The selected trace is
// drawn against the visible left axis, which then shows its range.
//
// A new kind of trace derives from CTrace (or CTraceMathSource when it may
// be an operand of a math trace), names its kind and adds its menu items.
#include <QColor>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "filters/FilterBase.h"
#include "limits/LimitLines.h"
#include "model/Channel.h"
#include "model/TraceMaths.h"

class QCPAxis;
class QCPGraph;
class QMenu;

namespace plotdesk {

class CDiagramArea;

class CTrace : public CChannelSubscriber {
 public:
  CTrace(CDiagramArea* area, const std::string& name, const QColor& color);
  ~CTrace() override;

  CDiagramArea* Area() const { return area_; }
  QCPGraph* Series() const { return series_; }
  QCPAxis* OwnAxis() const { return axis_; }
  // The channel the trace follows (the first it is subscribed to).
  CChannel* Channel() const { return Channels().empty() ? nullptr : Channels().front(); }
  // Clears the trace and follows `channel` from now on.
  void AttachToChannel(CChannel* channel);
  // Every filter starts again for the trace's channel and units.
  void ResetFilters();
  // The trace takes values as `source` shows them: in its displayed unit,
  // converted no further.
  void TakeValuesShownBy(const CTrace& source);
  // The trace takes values that are in `unit` already: shown as they come.
  void TakeValuesIn(const std::string& unit);

  std::string Name() const;
  void SetName(const std::string& name);
  QColor Color() const;
  void SetColor(const QColor& color);

  // The display range and what it means at the reference position.
  const TDisplayRange& Range() const { return range_; }
  void SetDisplayRange(double bottom, double top);
  void SetReferenceScale(double reference, double scale);
  double ReferenceLevel() const { return plotdesk::ReferenceLevel(range_, position_); }
  double Scale() const { return ScalePerDivision(range_); }
  double Position() const { return position_; }
  // Keeps the reference level and the scale.
  void SetReferencePosition(int position);
  void AutoScale();

  // The unit of the values as they come (the channel's, unless replaced)
  // and as they are shown (after a unit conversion).
  std::string SourceUnit() const;
  std::string DisplayedUnit() const;
  void SetSourceUnitOverride(const std::string& unit);
  void SetDisplayedUnitOverride(const std::string& unit);

  virtual std::string KindText() const = 0;
  virtual bool IsVisible() const;
  virtual void SetVisible(bool visible);
  // Drawn against the left axis (which takes the trace's range) or its own.
  virtual void MakeSelected();
  virtual void MakeUnselected();
  bool Selected() const { return selected_; }
  // The trace's items of the trace list's menu.
  virtual void BuildMenu(QMenu* menu);

  // Takes `count` points from `offset` on (steps of a sweep of arraySize
  // points) through the filters onto the series.
  void ProcessUpdate(bool changed, size_t arraySize, size_t offset, size_t count, const double* x, const double* y);
  // Runs the stored sweep through the filters again, oldest points first
  // (after a filter setting changed); without `reprocess` only resets the
  // filters' accumulated state.
  void Refilter(bool reprocess = true);
  // Clears the series and the raw points.
  void Clear();

  // The drawn points: their count, arguments and values (NaN for a point
  // not yet measured).
  size_t PointCount() const;
  double PointX(size_t index) const;
  double PointValue(size_t index) const;
  bool HasPoints() const { return PointCount() > 0; }
  const std::vector<TPoint>& Raw() const { return raw_; }
  const TSweepState& Sweep() const { return sweep_; }
  const std::vector<std::unique_ptr<CFilterBase>>& Filters() const { return filters_; }
  CFilterBase* Filter(size_t index) const;

  // Limit lines, in the unit the trace shows; judged on the drawn points
  // (after the filters) when a sweep is whole. Changing them judges again
  // what is drawn.
  const korchart::TLimitLines& Limits() const { return limits_; }
  void SetLimits(const korchart::TLimitLines& limits);
  void JudgeLimits();
  // The last judgement (nothing judged while the limits are off or empty)
  // and, for each drawn point, whether it broke a limit.
  const korchart::TLimitVerdict& Verdict() const { return verdict_; }
  const std::vector<uint8_t>& FailingPoints() const { return failing_; }
  // The points the last judgement read (arguments, values).
  const std::vector<double>& JudgedX() const { return judgedX_; }
  const std::vector<double>& JudgedY() const { return judgedY_; }

 protected:
  // The sweep goes back to before the part [offset, offset + count) that
  // was taken last, so that the same part may be taken again in its place.
  void RewindPart(size_t offset, size_t count);
  // After an update was drawn (operands tell their math traces).
  virtual void Updated(const TTraceUpdate& update);
  void RowChanged();

 private:
  void ApplyRange();

  CDiagramArea* area_;
  QCPGraph* series_ = nullptr;
  QCPAxis* axis_ = nullptr;
  std::vector<std::unique_ptr<CFilterBase>> filters_;
  std::vector<TPoint> raw_;
  TSweepState sweep_;
  TDisplayRange range_{-50, 50};
  double position_ = 5;
  std::string sourceUnit_, displayedUnit_;
  bool selected_ = false;
  korchart::TLimitLines limits_;
  korchart::TLimitVerdict verdict_;
  std::vector<uint8_t> failing_;
  std::vector<double> judgedX_, judgedY_;  // scratch: the drawn points
};

// A trace that can be an operand of a math trace.
class CTraceMathSource : public CTrace {
 public:
  using CTrace::CTrace;

 protected:
  void Updated(const TTraceUpdate& update) override;
};

// A data trace: follows its channel's sweeps.
class CTraceData : public CTraceMathSource {
 public:
  using CTraceMathSource::CTraceMathSource;
  std::string KindText() const override { return "Измерит."; }
  void ChannelChanged(CChannel* channel) override;
  void ChannelData(CChannel* channel, size_t offset, size_t count, const double* x, const double* y) override;
};

// A memory trace: a frozen copy of another trace, or points from a file.
class CTraceStatic : public CTraceMathSource {
 public:
  using CTraceMathSource::CTraceMathSource;
  std::string KindText() const override { return "Память"; }
  void BuildMenu(QMenu* menu) override;
  // The source's drawn points, as one update from offset 0.
  void CopyFrom(const CTrace& source);
  // Points as one update with the sweep started again.
  void SetPoints(const std::vector<double>& x, const std::vector<double>& y);
  // A two-column matrix file: x and value, as a trace showed them (after
  // its filters, in its displayed unit); loaded, they are shown as they
  // are, in the unit the trace shows. Non-zero (and the points kept) on
  // failure; a file of another column count is said in a box.
  int LoadFromFile(const std::string& file);
  // The drawn points (null points are not drawn, nor saved).
  int SaveToFile(const std::string& file) const;
  void LoadDialog();
  void SaveDialog();
};

}  // namespace plotdesk
