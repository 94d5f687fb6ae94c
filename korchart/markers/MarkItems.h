#pragma once
// The drawings of the markers: QCustomPlot items on the markers' layer.
// They draw what the markers computed and say where they drew it (for the
// mouse); they never search. Geometry is worked out from the axes at the
// moment it is asked for, so it always agrees with the frame being drawn.
#include <qcustomplot.h>

#include <QPixmap>
#include <QRectF>
#include <QStaticText>

#include <vector>

#include "markers/BuildVariant.h"
#include "markers/LabelText.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

class Metka;
class LinkMarker;

// Sizes of the drawings, in pixels.
constexpr int kIndicatorWidth = 16;
constexpr int kIndicatorHeight = 14;
// Room above the plot for the indicators and the parking strip.
constexpr int kIndicatorMargin = kIndicatorHeight + 6;

// Where a marker's parts are drawn, in widget pixels.
struct TMarkItemLayout {
  bool drawn = false;   // anything at all
  bool placed = false;  // the full cursor; otherwise a tab in the strip
  double x = 0;         // the cursor's pixel x
  QRectF indicator, connector, label, argumentRow;
  double rowHeight = 0;
};

// A marker: cursor, indicator (a numbered tab, with the connector handle
// from which a link marker is dragged), label table, search-range line and
// the dots where the cursor meets the series.
class TMarkItem : public QCPAbstractItem {
 public:
  TMarkItem(QCustomPlot* plot, Metka* mark);

  using TLayout = TMarkItemLayout;
  TLayout Layout() const;
  double selectTest(const QPointF&, bool, QVariant*) const override { return -1; }
  // The label's rows; laid out again only when they change.
  void SetRows(const std::vector<TLabelRow>& rows);

 protected:
  void draw(QCPPainter* painter) override;

 private:
  Metka* mark_;
  std::vector<TLabelRow> rows_;
  void DrawLabel(QPainter* painter, const QPointF& at, const QColor& lineColor) const;

  std::vector<QStaticText> texts_, statistics_;
  QStaticText number_;
  QPixmap labelPicture_;
  QColor labelColor_;
  double textWidth_ = 0, statWidth_ = 0, rowHeight_ = 0;
  bool swatches_ = false;
};

// A link marker's label, centred between its two markers above the upper
// of their labels, with a bracket over the two cursors.
class TLinkItem : public QCPAbstractItem {
 public:
  TLinkItem(QCustomPlot* plot, LinkMarker* link);
  QRectF LabelRect() const;
  double selectTest(const QPointF&, bool, QVariant*) const override { return -1; }
  void SetText(const std::string& text);

 protected:
  void draw(QCPPainter* painter) override;

 private:
  LinkMarker* link_;
  std::string text_;
  QStaticText picture_;
  QPixmap boxPicture_;
  QSizeF size_;
};

// The chart's layer "markers", made when missing: buffered, above the axes
// and the legend and below the overlay, so that a full frame draws three
// buffers (everything below, the markers, the overlay) and a marker that
// moves repaints its own only.
QCPLayer* MarkersLayer(QCustomPlot* plot);

// The font the markers write with.
QFont MarkerFont(const QCustomPlot* plot);

KORCHART_VARIANT_END
}  // namespace korchart
