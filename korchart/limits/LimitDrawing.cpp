#include "limits/LimitDrawing.h"

#include <qcustomplot.h>

#include <cmath>
#include <limits>

namespace korchart {
KORCHART_VARIANT_BEGIN

namespace {

constexpr int kLabelMargin = 6;  // pixels from the axis rect's corner
constexpr int kLabelGap = 3;     // between stacked labels

// A text item that places itself at the top right of its axis rect, under
// the labels of lower indices, each time it is drawn (the rect is laid out
// by then).
class TStackedText : public QCPItemText {
 public:
  TStackedText(QCustomPlot* plot, QCPAxisRect* rect, int index) : QCPItemText(plot), index_(index) {
    setClipAxisRect(rect);
    setClipToAxisRect(true);
    position->setType(QCPItemPosition::ptAbsolute);
    setPositionAlignment(Qt::AlignRight | Qt::AlignTop);
    setPadding(QMargins(5, 2, 5, 2));
    QFont f = font();
    f.setBold(true);
    setFont(f);
    setSelectable(false);
  }

 protected:
  void draw(QCPPainter* painter) override {
    if (const QCPAxisRect* rect = clipAxisRect()) {
      const int step = QFontMetrics(font()).height() + padding().top() + padding().bottom() + kLabelGap;
      position->setCoords(rect->right() - kLabelMargin, rect->top() + kLabelMargin + index_ * step);
    }
    QCPItemText::draw(painter);
  }

 private:
  int index_;
};

QCPLayer* LabelLayer(QCustomPlot* plot) {
  QCPLayer* layer = plot->layer(QStringLiteral("legend"));
  return layer ? layer : plot->currentLayer();
}

void SetSegments(QCPCurve* curve, const std::vector<TLimitSegment>& segments) {
  // One line a segment; a point without a value between them breaks the line.
  const double nan = std::numeric_limits<double>::quiet_NaN();
  QVector<QCPCurveData> points;
  points.reserve(static_cast<int>(segments.size() * 3));
  double t = 0;
  for (const TLimitSegment& s : segments) {
    if (!points.isEmpty()) points.append(QCPCurveData(t++, nan, nan));
    points.append(QCPCurveData(t++, s.start, s.startLevel));
    points.append(QCPCurveData(t++, s.stop, s.stopLevel));
  }
  curve->data()->set(points, true);
}

}  // namespace

const QColor& PassColor() {
  static const QColor c(0x00, 0x90, 0x00);
  return c;
}

const QColor& FailColor() {
  static const QColor c(0xE0, 0x00, 0x00);
  return c;
}

QColor LimitColor(const QColor& trace) {
  // The trace's hue, darker and fully saturated, so that the line reads as
  // the trace's limit and stands apart from the trace itself.
  if (!trace.isValid()) return QColor(0x70, 0x70, 0x70);
  QColor c = trace.toHsv();
  const int hue = c.hsvHue() < 0 ? 0 : c.hsvHue();
  const int saturation = c.hsvSaturation() < 40 ? 0 : 255;
  return QColor::fromHsv(hue, saturation, 110);
}

// ---- TVerdictLabel ----

TVerdictLabel::TVerdictLabel(QCustomPlot* plot, QCPAxisRect* rect, int index) : plot_(plot) {
  if (!plot || !rect) return;
  item_ = new TStackedText(plot, rect, index);
  item_->setLayer(LabelLayer(plot));
  item_->setObjectName(QStringLiteral("VerdictLabel%1").arg(index));
  item_->setVisible(false);
}

TVerdictLabel::~TVerdictLabel() {
  if (plot_ && item_ && plot_->hasItem(item_)) plot_->removeItem(item_);
}

QCPItemText* TVerdictLabel::Item() const { return plot_ && item_ && plot_->hasItem(item_) ? item_ : nullptr; }

void TVerdictLabel::Show(const TLimitVerdict& verdict, const QString& prefix) {
  QCPItemText* item = Item();
  if (!item) return;
  const QString word = QString::fromUtf8(!verdict.judged ? kNotJudgedText : verdict.pass ? kPassText : kFailText);
  const QColor colour = !verdict.judged ? QColor(0x70, 0x70, 0x70) : verdict.pass ? PassColor() : FailColor();
  item->setText(prefix.isEmpty() ? word : prefix + QStringLiteral(": ") + word);
  item->setColor(colour);
  item->setPen(QPen(colour, 1.5));
  item->setBrush(QBrush(QColor(255, 255, 255, 225)));
  item->setVisible(true);
}

void TVerdictLabel::Hide() {
  if (QCPItemText* item = Item()) item->setVisible(false);
}

// ---- TLimitDrawing ----

TLimitDrawing::TLimitDrawing(QCustomPlot* plot, QCPAxis* keyAxis, QCPAxis* valueAxis, const QColor& traceColor,
                             const QString& traceName, int labelIndex)
    : plot_(plot), label_(plot, keyAxis ? keyAxis->axisRect() : nullptr, labelIndex), name_(traceName) {
  if (!plot || !keyAxis || !valueAxis) return;
  const QColor colour = LimitColor(traceColor);
  const auto line = [&](const char* name) {
    auto* c = new QCPCurve(keyAxis, valueAxis);
    c->setObjectName(QString::fromLatin1(name));
    c->setName(traceName);
    c->setPen(QPen(colour, 1.5, Qt::DashLine));
    c->setSelectable(QCP::stNone);
    c->setVisible(false);
    return c;
  };
  upper_ = line("LimitUpper");
  lower_ = line("LimitLower");
  failing_ = new QCPGraph(keyAxis, valueAxis);
  failing_->setObjectName(QStringLiteral("LimitFailing"));
  // No name: the markers and the reports take every named graph for a trace.
  failing_->setLineStyle(QCPGraph::lsNone);
  failing_->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssDisc, FailColor(), FailColor(), 5));
  failing_->setSelectable(QCP::stNone);
  failing_->setVisible(false);
}

TLimitDrawing::~TLimitDrawing() {
  if (!plot_) return;
  for (QCPAbstractPlottable* p : {static_cast<QCPAbstractPlottable*>(upper_), static_cast<QCPAbstractPlottable*>(lower_),
                                  static_cast<QCPAbstractPlottable*>(failing_)})
    if (p && plot_->hasPlottable(p)) plot_->removePlottable(p);
}

void TLimitDrawing::SetLimits(const TLimitLines& limits) {
  limits_ = limits;
  hasVerdict_ = false;
  if (plot_ && upper_ && lower_ && plot_->hasPlottable(upper_) && plot_->hasPlottable(lower_)) {
    SetSegments(upper_, limits.upper);
    SetSegments(lower_, limits.lower);
  }
  if (plot_ && failing_ && plot_->hasPlottable(failing_)) failing_->data()->clear();
  Apply();
}

void TLimitDrawing::Show(const double* x, const double* y, size_t n, const std::vector<uint8_t>& mask,
                         const TLimitVerdict& verdict) {
  verdict_ = verdict;
  hasVerdict_ = true;
  if (plot_ && failing_ && plot_->hasPlottable(failing_)) {
    QVector<QCPGraphData> points;
    const size_t count = std::min(n, mask.size());
    for (size_t i = 0; i < count; ++i)
      if (mask[i]) points.append(QCPGraphData(x[i], y[i]));
    // Arguments may come in any order; the graph keeps its points sorted.
    failing_->data()->set(points, false);
  }
  Apply();
}

void TLimitDrawing::ClearVerdict() {
  hasVerdict_ = false;
  if (plot_ && failing_ && plot_->hasPlottable(failing_)) failing_->data()->clear();
  Apply();
}

void TLimitDrawing::SetVisible(bool visible) {
  visible_ = visible;
  Apply();
}

void TLimitDrawing::Apply() {
  if (!plot_) return;
  const bool on = visible_ && limits_.enabled;
  if (upper_ && plot_->hasPlottable(upper_)) upper_->setVisible(on && !limits_.upper.empty());
  if (lower_ && plot_->hasPlottable(lower_)) lower_->setVisible(on && !limits_.lower.empty());
  if (failing_ && plot_->hasPlottable(failing_)) failing_->setVisible(on && hasVerdict_);
  if (on && hasVerdict_ && limits_.Active())
    label_.Show(verdict_, name_);
  else
    label_.Hide();
}

KORCHART_VARIANT_END
}  // namespace korchart
