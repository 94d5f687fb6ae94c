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

QCPLayer* MarkersLayer(QCustomPlot* plot) {
  if (QCPLayer* existing = plot->layer(QStringLiteral("markers"))) return existing;
  QCPLayer* below = plot->layer(QStringLiteral("legend"));
  if (!below) below = plot->layer(plot->layerCount() - 1);
  plot->addLayer(QStringLiteral("markers"), below, QCustomPlot::limAbove);
  QCPLayer* layer = plot->layer(QStringLiteral("markers"));
  layer->setMode(QCPLayer::lmBuffered);
  return layer;
}

QFont MarkerFont(const QCustomPlot* plot) {
  QFont f = plot->font();
  f.setPixelSize(11);
  return f;
}

TMarkItem::TMarkItem(QCustomPlot* plot, Metka* mark) : QCPAbstractItem(plot), mark_(mark) {
  setClipToAxisRect(false);
  setSelectable(false);
  // Straight lines on whole pixels: crisp, and far cheaper to draw.
  setAntialiased(false);
  number_ = QStaticText(QString::number(mark->Index()));
  number_.setTextFormat(Qt::PlainText);
  number_.prepare(QTransform(), MarkerFont(plot));
}

void TMarkItem::SetRows(const std::vector<TLabelRow>& rows) {
  const QFontMetricsF fm(MarkerFont(mParentPlot));
  const double rowHeight = std::ceil(fm.height());
  if (rows.size() == rows_.size() && rowHeight == rowHeight_ &&
      std::equal(rows.begin(), rows.end(), rows_.begin(), [](const TLabelRow& a, const TLabelRow& b) {
        return a.text == b.text && a.statistics == b.statistics && a.color == b.color;
      }))
    return;
  rows_ = rows;
  rowHeight_ = rowHeight;
  labelPicture_ = QPixmap();
  textWidth_ = statWidth_ = 0;
  swatches_ = false;
  texts_.clear();
  statistics_.clear();
  // Each text is laid out once, here; its size comes with the layout.
  const QFont font = MarkerFont(mParentPlot);
  auto prepared = [&font](const std::string& text) {
    QStaticText t(Q(text));
    t.setTextFormat(Qt::PlainText);
    t.prepare(QTransform(), font);
    return t;
  };
  for (const TLabelRow& row : rows_) {
    texts_.push_back(prepared(row.text));
    textWidth_ = std::max(textWidth_, texts_.back().size().width());
    statistics_.push_back(row.statistics.empty() ? QStaticText() : prepared(row.statistics));
    statWidth_ = std::max(statWidth_, statistics_.back().size().width());
    swatches_ = swatches_ || row.color >= 0;
  }
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

  l.rowHeight = rowHeight_;
  const double w = 2 * kPadding + (swatches_ ? kSwatch + kPadding : 0) + std::ceil(textWidth_) +
                   (statWidth_ > 0 ? 2 * kPadding + std::ceil(statWidth_) : 0);
  const double h = 2 * kPadding + rowHeight_ * static_cast<double>(rows_.size());
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
      painter->drawRect(QRectF(l.x - 3, y - 3, 6, 6));
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
  const QRectF face = l.indicator.adjusted(0, 0, 0, l.placed ? -3 : 0);
  painter->drawStaticText(face.center() - QPointF(number_.size().width(), number_.size().height()) / 2, number_);
  if (!l.connector.isEmpty()) {
    painter->setBrush(Qt::white);
    painter->setPen(QPen(kCursorColor, 1));
    painter->drawRect(l.connector.adjusted(0, 0, -1, -1));
    painter->drawLine(l.connector.center() - QPointF(2, 0), l.connector.center() + QPointF(2, 0));
  }
  if (!l.placed) return;

  // The label: drawn once into a picture of its own while its rows and look
  // stay the same, and only blitted with every frame (exports draw it afresh).
  const QSize size = l.label.size().toSize() + QSize(1, 1);
  if (painter->modes().testFlag(QCPPainter::pmNoCaching)) {
    DrawLabel(painter, l.label.topLeft(), lineColor);
    return;
  }
  const double ratio = mParentPlot->bufferDevicePixelRatio();
  if (labelPicture_.isNull() || labelColor_ != lineColor || labelPicture_.deviceIndependentSize().toSize() != size) {
    labelPicture_ = QPixmap(size * ratio);
    labelPicture_.setDevicePixelRatio(ratio);
    labelPicture_.fill(Qt::transparent);
    QPainter p(&labelPicture_);
    p.setFont(MarkerFont(plot));
    DrawLabel(&p, QPointF(0, 0), lineColor);
    labelColor_ = lineColor;
  }
  painter->drawPixmap(l.label.topLeft(), labelPicture_);
}

void TMarkItem::DrawLabel(QPainter* painter, const QPointF& at, const QColor& lineColor) const {
  const double w = 2 * kPadding + (swatches_ ? kSwatch + kPadding : 0) + std::ceil(textWidth_) +
                   (statWidth_ > 0 ? 2 * kPadding + std::ceil(statWidth_) : 0);
  const double h = 2 * kPadding + rowHeight_ * static_cast<double>(rows_.size());
  painter->setPen(QPen(lineColor, 1));
  painter->setBrush(Qt::white);
  painter->drawRect(QRectF(at, QSizeF(w, h)));
  double y = at.y() + kPadding;
  for (size_t i = 0; i < rows_.size(); ++i) {
    const TLabelRow& row = rows_[i];
    double x = at.x() + kPadding;
    if (row.color >= 0) {
      const QColor c(static_cast<QRgb>(row.color));
      painter->setPen(c.darker(130));
      painter->setBrush(c);
      painter->drawRect(QRectF(x, y + (rowHeight_ - kSwatch) / 2, kSwatch, kSwatch));
    }
    if (swatches_) x += kSwatch + kPadding;
    const double textTop = y + (rowHeight_ - texts_[i].size().height()) / 2;
    painter->setPen(Qt::black);
    painter->drawStaticText(QPointF(x, textTop), texts_[i]);
    if (!row.statistics.empty()) {
      painter->setPen(QColor(0x40, 0x40, 0x40));
      painter->drawStaticText(QPointF(x + std::ceil(textWidth_) + 2 * kPadding, textTop), statistics_[i]);
    }
    y += rowHeight_;
  }
}

// ---- link markers ----

TLinkItem::TLinkItem(QCustomPlot* plot, LinkMarker* link) : QCPAbstractItem(plot), link_(link) {
  setClipToAxisRect(false);
  setSelectable(false);
  setAntialiased(false);
}

void TLinkItem::SetText(const std::string& text) {
  if (text == text_ && !size_.isEmpty()) return;
  text_ = text;
  picture_ = QStaticText(Q(text_));
  picture_.setTextFormat(Qt::PlainText);
  picture_.prepare(QTransform(), MarkerFont(mParentPlot));
  size_ = picture_.size();
  boxPicture_ = QPixmap();
}

QRectF TLinkItem::LabelRect() const {
  if (!link_->Shown()) return QRectF();
  const SLinkParams& p = link_->GetParams();
  MarksManager* owner = link_->Owner();
  const TMarkItemLayout a = owner->Mark(p.markerA)->Layout();
  const TMarkItemLayout b = owner->Mark(p.markerB)->Layout();
  const double w = std::ceil(size_.width()) + 2 * kPadding + 2;
  const double h = std::ceil(size_.height()) + 2 * kPadding;
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
  const double xa = owner->Mark(p.markerA)->Layout().x;
  const double xb = owner->Mark(p.markerB)->Layout().x;
  const double y = box.bottom() + 4;
  painter->setPen(QPen(QColor(0x60, 0xA0, 0xA0), 1));
  painter->drawLine(QPointF(xa, y), QPointF(xb, y));
  painter->setPen(QPen(QColor(0x00, 0x60, 0x60), 1));
  painter->drawLine(QPointF(xa, y - 3), QPointF(xa, y + 3));
  painter->drawLine(QPointF(xb, y - 3), QPointF(xb, y + 3));
  auto drawBox = [this](QPainter* to, const QRectF& at) {
    to->setPen(QPen(QColor(0x00, 0x60, 0x60), 1));
    to->setBrush(kLinkFill);
    to->drawRect(at);
    to->setFont(MarkerFont(mParentPlot));
    to->setPen(Qt::black);
    to->drawStaticText(QPointF(at.left() + kPadding + 1, at.top() + kPadding), picture_);
  };
  if (painter->modes().testFlag(QCPPainter::pmNoCaching)) {
    drawBox(painter, box);
    return;
  }
  const QSize size = box.size().toSize() + QSize(1, 1);
  const double ratio = mParentPlot->bufferDevicePixelRatio();
  if (boxPicture_.isNull() || boxPicture_.deviceIndependentSize().toSize() != size) {
    boxPicture_ = QPixmap(size * ratio);
    boxPicture_.setDevicePixelRatio(ratio);
    boxPicture_.fill(Qt::transparent);
    QPainter to(&boxPicture_);
    drawBox(&to, QRectF(QPointF(0, 0), box.size()));
  }
  painter->drawPixmap(box.topLeft(), boxPicture_);
}

KORCHART_VARIANT_END
}  // namespace korchart
