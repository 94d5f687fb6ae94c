#include "markers/MarkItems.h"

#include <algorithm>
#include <cmath>

#include "markers/LinkMarker.h"
#include "markers/MarksManager.h"
#include "markers/Metka.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

namespace {

constexpr int kPadding = 3;
constexpr int kSwatch = 8;
const QColor kCursorColor(0x00, 0x00, 0x80);
const QColor kFocusColor(0xC0, 0x00, 0x00);
const QColor kActiveTab(0xFF, 0xE0, 0x80);
const QColor kInactiveTab(0xD8, 0xD8, 0xD8);
const QColor kLinkFill(0xE0, 0xFF, 0xFF);

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

QFont MarkerFont(const QCustomPlot* plot) {
  QFont f = plot->font();
  f.setPixelSize(11);
  return f;
}

TMarkItem::TMarkItem(QCustomPlot* plot, Metka* mark) : QCPAbstractItem(plot), mark_(mark) {
  setClipToAxisRect(false);
  setSelectable(false);
}

TMarkItem::TLayout TMarkItem::Layout() const {
  TLayout l;
  if (!mark_->Visible()) return l;
  QCustomPlot* plot = mParentPlot;
  const QRect r = plot->axisRect()->rect();
  l.drawn = true;
  const double top = r.top() - kIndicatorMargin + 2;
  if (!mark_->Placed()) {
    // The parking strip: the tabs in index order at the right end above the plot.
    const double x0 = r.right() - (kMarkerCount - mark_->Index()) * (kIndicatorWidth + 2);
    l.indicator = QRectF(x0, top, kIndicatorWidth, kIndicatorHeight);
    return l;
  }
  l.placed = true;
  l.x = plot->xAxis->coordToPixel(mark_->GetFreq());
  l.indicator = QRectF(l.x - kIndicatorWidth / 2.0, top, kIndicatorWidth, kIndicatorHeight);
  if (mark_->GetActivated()) l.connector = QRectF(l.indicator.right() + 1, top + 4, 7, 7);

  const QFontMetricsF fm(MarkerFont(plot));
  l.rowHeight = std::ceil(fm.height());
  double textWidth = 0, statWidth = 0;
  bool swatches = false;
  for (const TLabelRow& row : mark_->LabelRows()) {
    textWidth = std::max(textWidth, fm.horizontalAdvance(Q(row.text)));
    if (!row.statistics.empty()) statWidth = std::max(statWidth, fm.horizontalAdvance(Q(row.statistics)));
    swatches = swatches || row.color >= 0;
  }
  const double w = 2 * kPadding + (swatches ? kSwatch + kPadding : 0) + std::ceil(textWidth) +
                   (statWidth > 0 ? 2 * kPadding + std::ceil(statWidth) : 0);
  const double h = 2 * kPadding + l.rowHeight * static_cast<double>(mark_->LabelRows().size());
  double lx = l.x + 6;
  if (lx + w > r.right()) lx = l.x - 6 - w;
  if (lx < r.left()) lx = r.left();
  double ly = r.top() + mark_->GetParams().framePos;
  ly = std::max<double>(r.top(), std::min<double>(ly, r.bottom() - h));
  l.label = QRectF(lx, ly, w, h);
  l.argumentRow = QRectF(lx, ly + kPadding, w, l.rowHeight);
  return l;
}

void TMarkItem::draw(QCPPainter* painter) {
  const TLayout l = Layout();
  if (!l.drawn) return;
  QCustomPlot* plot = mParentPlot;
  const QRect r = plot->axisRect()->rect();
  const bool active = mark_->GetActivated();
  const QColor lineColor = mark_->Focused() ? kFocusColor : kCursorColor;
  painter->setFont(MarkerFont(plot));

  if (l.placed) {
    // The search range, at the bottom of the plot.
    const SMarkParams p = mark_->GetParams();
    if (p.action != EMarkAction::Free && p.linkTrace > 0) {
      double a = plot->xAxis->coordToPixel(p.limitMin), b = plot->xAxis->coordToPixel(p.limitMax);
      if (a > b) std::swap(a, b);
      a = std::max<double>(a, r.left());
      b = std::min<double>(b, r.right());
      if (a < b) {
        const double y = r.bottom() - 4;
        painter->setPen(QPen(QColor(0x60, 0x60, 0x60), 1));
        painter->drawLine(QPointF(a, y), QPointF(b, y));
        painter->drawLine(QPointF(a, y - 3), QPointF(a, y + 3));
        painter->drawLine(QPointF(b, y - 3), QPointF(b, y + 3));
      }
    }
    painter->setPen(QPen(lineColor, 1, active ? Qt::SolidLine : Qt::DashLine));
    painter->drawLine(QPointF(l.x, r.top()), QPointF(l.x, r.bottom()));
    for (const auto& [number, value] : mark_->Dots()) {
      QCPGraph* g = mark_->Owner()->Series(number);
      if (!g || value == kNoValue) continue;
      const double y = g->valueAxis()->coordToPixel(value);
      if (y < r.top() || y > r.bottom()) continue;
      painter->setPen(QPen(g->pen().color().darker(130), 1));
      painter->setBrush(Qt::white);
      painter->drawEllipse(QPointF(l.x, y), 3, 3);
    }
  }

  // The indicator: a numbered tab, pointing at the plot when placed.
  painter->setPen(QPen(mark_->Focused() ? kFocusColor : QColor(Qt::black), 1));
  painter->setBrush(active ? kActiveTab : kInactiveTab);
  if (l.placed) {
    const QRectF& t = l.indicator;
    const QPointF shape[] = {t.topLeft(), t.topRight(), QPointF(t.right(), t.bottom() - 3),
                             QPointF(l.x, static_cast<double>(r.top())), QPointF(t.left(), t.bottom() - 3)};
    painter->drawPolygon(shape, 5);
  } else {
    painter->drawRect(l.indicator);
  }
  painter->setPen(Qt::black);
  painter->drawText(l.indicator.adjusted(0, 0, 0, l.placed ? -3 : 0), Qt::AlignCenter,
                    QString::number(mark_->Index()));
  if (!l.connector.isEmpty()) {
    painter->setBrush(Qt::white);
    painter->setPen(QPen(kCursorColor, 1));
    painter->drawEllipse(l.connector);
  }
  if (!l.placed) return;

  // The label.
  painter->setPen(QPen(lineColor, 1));
  painter->setBrush(QColor(255, 255, 255, 235));
  painter->drawRect(l.label);
  const QFontMetricsF fm(MarkerFont(plot));
  bool swatches = false;
  double textWidth = 0;
  for (const TLabelRow& row : mark_->LabelRows()) {
    swatches = swatches || row.color >= 0;
    textWidth = std::max(textWidth, fm.horizontalAdvance(Q(row.text)));
  }
  double y = l.label.top() + kPadding;
  for (const TLabelRow& row : mark_->LabelRows()) {
    double x = l.label.left() + kPadding;
    if (row.color >= 0) {
      const QColor c(static_cast<QRgb>(row.color));
      painter->setPen(c.darker(130));
      painter->setBrush(c);
      painter->drawRect(QRectF(x, y + (l.rowHeight - kSwatch) / 2, kSwatch, kSwatch));
    }
    if (swatches) x += kSwatch + kPadding;
    painter->setPen(Qt::black);
    painter->drawText(QRectF(x, y, std::ceil(textWidth) + 1, l.rowHeight), Qt::AlignLeft | Qt::AlignVCenter,
                      Q(row.text));
    if (!row.statistics.empty()) {
      painter->setPen(QColor(0x40, 0x40, 0x40));
      painter->drawText(QRectF(x + std::ceil(textWidth) + 2 * kPadding, y, l.label.right() - x, l.rowHeight),
                        Qt::AlignLeft | Qt::AlignVCenter, Q(row.statistics));
    }
    y += l.rowHeight;
  }
}

// ---- link markers ----

TLinkItem::TLinkItem(QCustomPlot* plot, LinkMarker* link) : QCPAbstractItem(plot), link_(link) {
  setClipToAxisRect(false);
  setSelectable(false);
}

QRectF TLinkItem::LabelRect() const {
  if (!link_->Shown()) return QRectF();
  const SLinkParams& p = link_->GetParams();
  MarksManager* owner = link_->Owner();
  const TMarkItem::TLayout a = owner->Mark(p.markerA)->Item()->Layout();
  const TMarkItem::TLayout b = owner->Mark(p.markerB)->Item()->Layout();
  const QFontMetricsF fm(MarkerFont(mParentPlot));
  const double w = std::ceil(fm.horizontalAdvance(Q(link_->Text()))) + 2 * kPadding + 2;
  const double h = std::ceil(fm.height()) + 2 * kPadding;
  double x = (a.x + b.x) / 2 - w / 2;
  double y = std::min(a.label.top(), b.label.top()) - h - 8;
  x = std::clamp(x, 0.0, std::max(0.0, mParentPlot->width() - w));
  y = std::clamp(y, 0.0, std::max(0.0, mParentPlot->height() - h));
  return QRectF(x, y, w, h);
}

void TLinkItem::draw(QCPPainter* painter) {
  const QRectF box = LabelRect();
  if (box.isEmpty()) return;
  const SLinkParams& p = link_->GetParams();
  MarksManager* owner = link_->Owner();
  const double xa = owner->Mark(p.markerA)->Item()->Layout().x;
  const double xb = owner->Mark(p.markerB)->Item()->Layout().x;
  const double y = box.bottom() + 4;
  painter->setPen(QPen(QColor(0x00, 0x60, 0x60), 1, Qt::DashLine));
  painter->drawLine(QPointF(xa, y), QPointF(xb, y));
  painter->setPen(QPen(QColor(0x00, 0x60, 0x60), 1));
  painter->drawLine(QPointF(xa, y - 3), QPointF(xa, y + 3));
  painter->drawLine(QPointF(xb, y - 3), QPointF(xb, y + 3));
  painter->setBrush(kLinkFill);
  painter->drawRect(box);
  painter->setFont(MarkerFont(mParentPlot));
  painter->setPen(Qt::black);
  painter->drawText(box, Qt::AlignCenter, Q(link_->Text()));
}

KORCHART_VARIANT_END
}  // namespace korchart
