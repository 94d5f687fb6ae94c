#pragma once
// TKorChart: the chart every display of the system draws on. A QCustomPlot
// with
//  * zoom limits per axis: a zoom that would make an axis narrower than its
//    limit leaves that axis where it was;
//  * the mouse gestures of an instrument chart: drag down-right with the
//    left button to zoom into the rectangle, drag up-left to undo the zoom,
//    drag with the right button to scroll;
//  * "divisions" mode: the left and right axes split into a fixed number of
//    divisions around a reference level, with a dotted reference line each;
//  * the markers manager (TMarkersManager), whose markers are drawn on the
//    layer "markers" above the data, so that moving a marker repaints that
//    layer only.
// Axes: left = yAxis, right = yAxis2, bottom = xAxis, top = xAxis2. Series
// are the graphs; a series' title is its name(), its units the graph's
// property "units" (the bottom axis's unit is xAxis' property "units").
#include <qcustomplot.h>

#include <QPointer>

#include <array>
#include <functional>
#include <memory>

class QMenu;

namespace korchart {

class TMarkersManager;

enum class EAxis { Left = 0, Right = 1, Bottom = 2, Top = 3 };

class TKorChart : public QCustomPlot {
  Q_OBJECT
 public:
  explicit TKorChart(QWidget* parent = nullptr);
  ~TKorChart() override;

  TMarkersManager* Markers() const { return markers_.get(); }
  TMarkersManager* GetMarkers() const { return markers_.get(); }
  QCPAxis* Axis(EAxis axis) const;
  // The layer of the markers and reference lines.
  QCPLayer* MarkersLayer() const { return markersLayer_; }

  // The smallest span a zoom may give each axis (0: no limit).
  double LimitLeft() const { return limit_[0]; }
  double LimitRight() const { return limit_[1]; }
  double LimitBottom() const { return limit_[2]; }
  double LimitTop() const { return limit_[3]; }
  void SetLimitLeft(double v) { limit_[0] = v; }
  void SetLimitRight(double v) { limit_[1] = v; }
  void SetLimitBottom(double v) { limit_[2] = v; }
  void SetLimitTop(double v) { limit_[3] = v; }
  void SetLimit(EAxis axis, double v) { limit_[static_cast<int>(axis)] = v; }
  // The last accepted range of an axis.
  QCPRange Accepted(EAxis axis) const { return accepted_[static_cast<int>(axis)]; }

  // Store the accepted range of an axis and set it.
  void SetMinMaxLeft(double min, double max) { SetMinMax(EAxis::Left, min, max); }
  void SetMinMaxRight(double min, double max) { SetMinMax(EAxis::Right, min, max); }
  void SetMinMaxBottom(double min, double max) { SetMinMax(EAxis::Bottom, min, max); }
  void SetMinMaxTop(double min, double max) { SetMinMax(EAxis::Top, min, max); }
  void SetMinMax(EAxis axis, double min, double max);

  // Zooms to the given ranges, one per axis (left, right, bottom, top), as
  // the mouse does: each axis whose new span exceeds its limit takes it, the
  // others keep their range. Then Zoom() runs.
  void ZoomTo(const std::array<QCPRange, 4>& ranges);
  // The zoom rule on the ranges the axes hold now (the previous accepted
  // ranges stand for axes zoomed too narrow); emits OnZoom.
  void Zoom();
  // Back to the ranges before the first zoom; emits OnUndoZoom.
  void UndoZoom();
  bool Zoomed() const { return zoomed_; }
  // Moves every axis by the given pixel distances, unless AllowScroll
  // refuses an axis; emits OnScroll when anything moved.
  void ScrollBy(double dx, double dy);
  // Whether an axis may scroll to [min, max]: never in divisions mode;
  // otherwise the user's OnAllowScroll decides (allowed when there is none).
  bool AllowScroll(EAxis axis, double min, double max);
  std::function<bool(EAxis axis, double min, double max)> OnAllowScroll;

  // Divisions mode (0: off; values below 3 switch it off).
  void SetDivisions(int n);
  int GetDivisions() const { return divisions_; }
  int Divisions() const { return divisions_; }
  void SetRefLevelLeft(double step, double level, double division);
  void SetRefLevelRight(double step, double level, double division);
  // Shows each reference line while the series on its axis is visible and
  // places it at the axis's reference level.
  void UpdateRefLines();
  // The reference line of an axis (Left or Right), null outside divisions mode.
  QCPAbstractItem* RefLine(EAxis axis) const;
  // Where the reference line of an axis is drawn, in pixels (left, top,
  // width; height 1); empty when it is hidden or absent.
  QRect RefLineRect(EAxis axis) const;
  double RefLevel(EAxis axis) const { return vertical_[VIndex(axis)].level; }
  double RefStep(EAxis axis) const { return vertical_[VIndex(axis)].step; }

  // The tick settings of the vertical axes that divisions mode saves and
  // restores: labels start at a multiple of the increment ("round first
  // label") and the desired increment (0: automatic).
  void SetRoundFirstLabel(EAxis axis, bool round);
  bool RoundFirstLabel(EAxis axis) const { return vertical_[VIndex(axis)].roundFirstLabel; }
  void SetDesiredIncrement(EAxis axis, double increment);
  double DesiredIncrement(EAxis axis) const { return vertical_[VIndex(axis)].increment; }

  // The first graph drawn against an axis (the series of that axis), or null.
  QCPGraph* SeriesOn(EAxis axis) const;

  // The chart's menu, opened by a right click that does not scroll (over a
  // marker the marker's own opens instead): "Сбросить статистику" starts the
  // markers' statistics again. Owners may add items of their own.
  QMenu* ChartMenu();

  // Set by zoom, undo zoom, scroll and resize; cleared by the next draw,
  // which then repaints the markers.
  bool RepaintPending() const { return repaintMarkers_; }

 signals:
  void OnAfterDraw();
  void OnZoom();
  void OnUndoZoom();
  void OnScroll();
  void OnResize();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct SVertical {
    double step = 0, level = 0, division = 0;
    bool referenced = false;  // a reference level was given
    bool roundFirstLabel = true;
    double increment = 0;
    // Saved when divisions mode is switched on.
    bool savedRound = true;
    double savedIncrement = 0;
    QCPRange savedRange;
    // The fixed-step ticker the chart puts on the axis for an increment,
    // and the one the axis had before (given back without an increment).
    QSharedPointer<QCPAxisTickerFixed> own;
    QSharedPointer<QCPAxisTicker> before;
  };
  static int VIndex(EAxis axis) { return axis == EAxis::Right ? 1 : 0; }
  void BeforeDraw();
  void ApplyTicker(EAxis axis);
  void UpdateTickDensity(EAxis axis);
  void SetRefLevel(EAxis axis, double step, double level, double division);
  void ApplyRefLevel(EAxis axis);
  void RememberRanges();

  std::unique_ptr<TMarkersManager> markers_;
  QCPLayer* markersLayer_ = nullptr;
  std::array<double, 4> limit_{};
  std::array<QCPRange, 4> accepted_;
  std::array<QCPRange, 4> beforeZoom_;
  bool zoomed_ = false;
  int divisions_ = 0;
  std::array<SVertical, 2> vertical_;
  std::array<QPointer<QCPAbstractItem>, 2> refLines_;
  bool repaintMarkers_ = false;
  // Mouse gestures.
  enum class EGesture { None, Zoom, Scroll } gesture_ = EGesture::None;
  QPoint pressAt_, lastAt_;
  QRubberBand* band_ = nullptr;
  QPointer<QMenu> chartMenu_;
};

}  // namespace korchart
