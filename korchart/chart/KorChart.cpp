#include "chart/KorChart.h"

#include <QMenu>
#include <QMouseEvent>
#include <QRubberBand>

#include <cmath>

#include "chart/MarkersManager.h"
#include "markers/MarkItems.h"

namespace korchart {

namespace {

// A dotted line across the plot at an axis's reference level: one pixel
// high, in the colour of the series on that axis, over the bottom axis's
// range (the right axis's line starts one pixel further right).
class TRefLineItem : public QCPAbstractItem {
 public:
  TRefLineItem(TKorChart* chart, EAxis axis) : QCPAbstractItem(chart), chart_(chart), axis_(axis) {
    setClipToAxisRect(true);
  }
  double level = 0;

  QRect Geometry() const {
    QCPAxis* bottom = chart_->Axis(EAxis::Bottom);
    QCPAxis* value = chart_->Axis(axis_);
    const QCPRange r = bottom->range();
    int left = static_cast<int>(std::lround(bottom->coordToPixel(r.lower)));
    const int right = static_cast<int>(std::lround(bottom->coordToPixel(r.upper)));
    if (axis_ == EAxis::Right) ++left;
    const double top = value->coordToPixel(level);
    if (!std::isfinite(top)) return QRect();
    return QRect(left, static_cast<int>(std::lround(top)), std::max(0, right - left), 1);
  }
  QColor Color() const {
    QCPGraph* series = chart_->SeriesOn(axis_);
    return series ? series->pen().color() : QColor(Qt::gray);
  }

  double selectTest(const QPointF&, bool, QVariant*) const override { return -1; }

 protected:
  void draw(QCPPainter* painter) override {
    const QRect g = Geometry();
    if (!g.isValid()) return;
    QPen pen(Color());
    pen.setStyle(Qt::DotLine);
    pen.setWidth(1);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawLine(QPointF(g.left(), g.top()), QPointF(g.left() + g.width(), g.top()));
  }

 private:
  TKorChart* chart_;
  EAxis axis_;
};

constexpr int kRubberBandMinimum = 4;

}  // namespace

TKorChart::TKorChart(QWidget* parent) : QCustomPlot(parent) {
  setFocusPolicy(Qt::ClickFocus);
  // The markers draw on a buffered layer of their own above the data.
  markersLayer_ = korchart::MarkersLayer(this);
  for (int i = 0; i < 4; ++i) accepted_[i] = Axis(static_cast<EAxis>(i))->range();
  connect(this, &QCustomPlot::beforeReplot, this, [this] { BeforeDraw(); });
  connect(this, &QCustomPlot::afterReplot, this, [this] { emit OnAfterDraw(); });
  markers_ = std::make_unique<TMarkersManager>(this);
}

TKorChart::~TKorChart() {
  // The markers' items belong to the plot: the markers go first.
  markers_.reset();
}

QCPAxis* TKorChart::Axis(EAxis axis) const {
  switch (axis) {
    case EAxis::Left: return yAxis;
    case EAxis::Right: return yAxis2;
    case EAxis::Bottom: return xAxis;
    case EAxis::Top: return xAxis2;
  }
  return xAxis;
}

QCPGraph* TKorChart::SeriesOn(EAxis axis) const {
  QCPAxis* a = Axis(axis);
  for (int i = 0; i < graphCount(); ++i) {
    QCPGraph* g = graph(i);
    if (g->valueAxis() == a && !g->name().isEmpty()) return g;
  }
  return nullptr;
}

void TKorChart::SetMinMax(EAxis axis, double min, double max) {
  accepted_[static_cast<int>(axis)] = QCPRange(min, max);
  // Set while zoomed in: it is also where undoing the zoom comes back to.
  if (zoomed_) beforeZoom_[static_cast<int>(axis)] = QCPRange(min, max);
  Axis(axis)->setRange(min, max);
  if (axis == EAxis::Left || axis == EAxis::Right) ApplyTicker(axis);
}

void TKorChart::RememberRanges() {
  for (int i = 0; i < 4; ++i) accepted_[i] = Axis(static_cast<EAxis>(i))->range();
}

void TKorChart::ZoomTo(const std::array<QCPRange, 4>& ranges) {
  RememberRanges();
  if (!zoomed_) {
    beforeZoom_ = accepted_;
    zoomed_ = true;
  }
  for (int i = 0; i < 4; ++i) Axis(static_cast<EAxis>(i))->setRange(ranges[i]);
  Zoom();
}

void TKorChart::Zoom() {
  repaintMarkers_ = true;
  for (int i = 0; i < 4; ++i) {
    const QCPRange r = Axis(static_cast<EAxis>(i))->range();
    if (r.upper - r.lower > limit_[i]) accepted_[i] = r;
  }
  for (int i = 0; i < 4; ++i) Axis(static_cast<EAxis>(i))->setRange(accepted_[i]);
  emit OnZoom();
  replot();
}

void TKorChart::UndoZoom() {
  repaintMarkers_ = true;
  if (zoomed_) {
    zoomed_ = false;
    accepted_ = beforeZoom_;
    for (int i = 0; i < 4; ++i) Axis(static_cast<EAxis>(i))->setRange(accepted_[i]);
  }
  emit OnUndoZoom();
  replot();
}

bool TKorChart::AllowScroll(EAxis axis, double min, double max) {
  if (divisions_ > 2) return false;
  return OnAllowScroll ? OnAllowScroll(axis, min, max) : true;
}

void TKorChart::ScrollBy(double dx, double dy) {
  bool moved = false;
  for (int i = 0; i < 4; ++i) {
    const EAxis axis = static_cast<EAxis>(i);
    QCPAxis* a = Axis(axis);
    const double d = a->orientation() == Qt::Horizontal ? dx : dy;
    if (d == 0) continue;
    const double p0 = a->coordToPixel(a->range().lower);
    const double shift = a->pixelToCoord(p0 - d) - a->range().lower;
    const QCPRange next(a->range().lower + shift, a->range().upper + shift);
    if (!std::isfinite(shift) || !AllowScroll(axis, next.lower, next.upper)) continue;
    a->setRange(next);
    accepted_[i] = next;
    moved = true;
  }
  if (!moved) return;
  repaintMarkers_ = true;
  emit OnScroll();
  replot();
}

void TKorChart::resizeEvent(QResizeEvent* event) {
  repaintMarkers_ = true;
  QCustomPlot::resizeEvent(event);
  emit OnResize();
}

void TKorChart::mousePressEvent(QMouseEvent* event) {
  QCustomPlot::mousePressEvent(event);
  pressAt_ = lastAt_ = event->pos();
  if (event->button() == Qt::LeftButton) {
    gesture_ = EGesture::Zoom;
    if (!band_) band_ = new QRubberBand(QRubberBand::Rectangle, this);
    band_->setGeometry(QRect(pressAt_, QSize()));
    band_->show();
  } else if (event->button() == Qt::RightButton) {
    gesture_ = EGesture::Scroll;
  }
}

void TKorChart::mouseMoveEvent(QMouseEvent* event) {
  QCustomPlot::mouseMoveEvent(event);
  if (gesture_ == EGesture::Zoom && band_) {
    band_->setGeometry(QRect(pressAt_, event->pos()).normalized());
  } else if (gesture_ == EGesture::Scroll) {
    const QPoint d = event->pos() - lastAt_;
    lastAt_ = event->pos();
    ScrollBy(d.x(), d.y());
  }
}

void TKorChart::mouseReleaseEvent(QMouseEvent* event) {
  QCustomPlot::mouseReleaseEvent(event);
  const EGesture gesture = gesture_;
  gesture_ = EGesture::None;
  if (band_) band_->hide();
  if (gesture == EGesture::Scroll && event->button() == Qt::RightButton &&
      (event->pos() - pressAt_).manhattanLength() < kRubberBandMinimum) {
    ChartMenu()->popup(event->globalPosition().toPoint());
    return;
  }
  if (gesture != EGesture::Zoom) return;
  const QPoint end = event->pos();
  if (end.x() < pressAt_.x() - kRubberBandMinimum || end.y() < pressAt_.y() - kRubberBandMinimum) {
    UndoZoom();
    return;
  }
  if (end.x() - pressAt_.x() < kRubberBandMinimum || end.y() - pressAt_.y() < kRubberBandMinimum) return;
  std::array<QCPRange, 4> ranges;
  for (int i = 0; i < 4; ++i) {
    QCPAxis* a = Axis(static_cast<EAxis>(i));
    const bool horizontal = a->orientation() == Qt::Horizontal;
    const double c1 = a->pixelToCoord(horizontal ? pressAt_.x() : pressAt_.y());
    const double c2 = a->pixelToCoord(horizontal ? end.x() : end.y());
    ranges[i] = QCPRange(std::min(c1, c2), std::max(c1, c2));
  }
  ZoomTo(ranges);
}

QMenu* TKorChart::ChartMenu() {
  if (chartMenu_) return chartMenu_;
  chartMenu_ = new QMenu(this);
  chartMenu_->setObjectName(QStringLiteral("ChartMenu"));
  QAction* reset = chartMenu_->addAction(QStringLiteral("Сбросить статистику"));
  reset->setObjectName(QStringLiteral("MenuResetStatistics"));
  connect(reset, &QAction::triggered, this, [this] { markers_->ResetStatistics(); });
  connect(chartMenu_.data(), &QMenu::aboutToShow, this, [this, reset] { reset->setEnabled(markers_->GetEnabled()); });
  return chartMenu_;
}

void TKorChart::BeforeDraw() {
  // The markers are placed just before the frame is drawn, so that the frame
  // shows them where the new data put them (the frame repaints their layer
  // too: a zoom or a scroll needs nothing more).
  if (markers_) {
    if (markers_->GetAutoUpdate())
      markers_->Update();
    else
      markers_->UpdateMarksOnly();
  }
  repaintMarkers_ = false;
  UpdateTickDensity(EAxis::Left);
  UpdateTickDensity(EAxis::Right);
  UpdateRefLines();
}

// ---- divisions ----

void TKorChart::ApplyTicker(EAxis axis) {
  SVertical& v = vertical_[VIndex(axis)];
  QCPAxis* a = Axis(axis);
  if (v.increment > 0 && std::isfinite(v.increment)) {
    if (!v.own) v.own = QSharedPointer<QCPAxisTickerFixed>::create();
    if (a->ticker() != v.own) {
      v.before = a->ticker();
      a->setTicker(v.own);
    }
    v.own->setTickStep(v.increment);
    double origin = 0;
    if (divisions_ > 2 && v.referenced) origin = v.level;
    else if (!v.roundFirstLabel) origin = a->range().lower;
    v.own->setTickOrigin(origin);
    UpdateTickDensity(axis);
  } else if (v.own && a->ticker() == v.own) {
    // Only a ticker of our own is taken back.
    a->setTicker(v.before ? v.before : QSharedPointer<QCPAxisTicker>::create());
    v.before.reset();
  }
}

void TKorChart::UpdateTickDensity(EAxis axis) {
  const SVertical& v = vertical_[VIndex(axis)];
  QCPAxis* a = Axis(axis);
  if (!v.own || a->ticker() != v.own) return;
  // A step far too fine for the range would make millions of ticks; then
  // multiples of it are taken.
  const double count = a->range().size() / v.own->tickStep();
  v.own->setScaleStrategy(count <= 200 ? QCPAxisTickerFixed::ssNone : QCPAxisTickerFixed::ssMultiples);
}

void TKorChart::SetRoundFirstLabel(EAxis axis, bool round) {
  vertical_[VIndex(axis)].roundFirstLabel = round;
  ApplyTicker(axis);
}

void TKorChart::SetDesiredIncrement(EAxis axis, double increment) {
  vertical_[VIndex(axis)].increment = increment;
  ApplyTicker(axis);
}

void TKorChart::SetDivisions(int n) {
  if (n == divisions_) return;
  if (n < 3) {
    if (divisions_ == 0) return;
    divisions_ = 0;
    for (EAxis axis : {EAxis::Left, EAxis::Right}) {
      SVertical& v = vertical_[VIndex(axis)];
      v.roundFirstLabel = v.savedRound;
      v.increment = v.savedIncrement;
      v.referenced = false;
      SetMinMax(axis, v.savedRange.lower, v.savedRange.upper);
    }
    for (QPointer<QCPAbstractItem>& line : refLines_) {
      if (line) removeItem(line.data());
      line = nullptr;
    }
    replot();
    return;
  }
  const bool wasOff = divisions_ == 0;
  divisions_ = n;
  for (EAxis axis : {EAxis::Left, EAxis::Right}) {
    SVertical& v = vertical_[VIndex(axis)];
    if (wasOff) {
      v.savedRound = v.roundFirstLabel;
      v.savedIncrement = v.increment;
      v.savedRange = Axis(axis)->range();
    }
    v.roundFirstLabel = false;
    // Without a reference level yet, the axis's present range is divided.
    if (!v.referenced) {
      const QCPRange r = Axis(axis)->range();
      v.step = r.size() / n;
      v.level = r.lower;
      v.division = 0;
      v.referenced = v.step > 0 && std::isfinite(v.step);
    }
    if (v.referenced) ApplyRefLevel(axis);
    int index = VIndex(axis);
    if (!refLines_[index]) {
      auto* line = new TRefLineItem(this, axis);
      line->setLayer(markersLayer_);
      refLines_[index] = line;
    }
  }
  UpdateRefLines();
  replot();
}

void TKorChart::SetRefLevelLeft(double step, double level, double division) {
  SetRefLevel(EAxis::Left, step, level, division);
}

void TKorChart::SetRefLevelRight(double step, double level, double division) {
  SetRefLevel(EAxis::Right, step, level, division);
}

void TKorChart::SetRefLevel(EAxis axis, double step, double level, double division) {
  if (divisions_ <= 2) return;
  // A step that is not a positive number would collapse the axis.
  if (!(step > 0) || !std::isfinite(step) || !std::isfinite(level) || !std::isfinite(division)) return;
  SVertical& v = vertical_[VIndex(axis)];
  v.step = step;
  v.level = level;
  v.division = division;
  v.referenced = true;
  ApplyRefLevel(axis);
  UpdateRefLines();
  replot();
}

void TKorChart::ApplyRefLevel(EAxis axis) {
  SVertical& v = vertical_[VIndex(axis)];
  v.increment = v.step;
  const double min = v.level - v.division * v.step;
  const double max = (divisions_ - v.division) * v.step + v.level;
  SetMinMax(axis, min, max);
}

void TKorChart::UpdateRefLines() {
  for (EAxis axis : {EAxis::Left, EAxis::Right}) {
    auto* line = static_cast<TRefLineItem*>(refLines_[VIndex(axis)].data());
    if (!line) continue;
    QCPGraph* series = SeriesOn(axis);
    line->setVisible(series && series->visible());
    line->level = vertical_[VIndex(axis)].level;
  }
}

QCPAbstractItem* TKorChart::RefLine(EAxis axis) const { return refLines_[VIndex(axis)].data(); }

QRect TKorChart::RefLineRect(EAxis axis) const {
  auto* line = static_cast<TRefLineItem*>(refLines_[VIndex(axis)].data());
  if (!line || !line->visible()) return QRect();
  return line->Geometry();
}

}  // namespace korchart
