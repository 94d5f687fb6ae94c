#include "model/Trace.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QMenu>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

#include "Diagnostics.h"
#include "GuiPlugin.h"
#include "PacketTypes.h"
#include "VKPaths.h"
#include "filters/FilterQuantity.h"
#include "model/TraceMath.h"
#include "platform/Report.h"
#include "ui/DiagramArea.h"
#include "ui/MenuItems.h"

namespace plotdesk {

namespace {

constexpr double kNull = std::numeric_limits<double>::quiet_NaN();

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Appends `block` after the points already there. A point's place in the
// series is its index in the sweep, whatever its argument: the container
// (which keeps its points in the order of their arguments) is only asked to
// append where that keeps the order; otherwise it is given the points in
// order.
void AppendInOrder(QCPGraphDataContainer& data, const QVector<QCPGraphData>& block) {
  if (block.isEmpty()) return;
  if (data.isEmpty()) {
    data.set(block, true);
    return;
  }
  const auto less = [](const QCPGraphData& a, const QCPGraphData& b) { return a.key < b.key; };
  if (std::is_sorted(block.begin(), block.end(), less) && less(*(data.constEnd() - 1), block.front()) &&
      less(*data.constBegin(), block.back())) {
    data.add(block, true);
    return;
  }
  QVector<QCPGraphData> all(data.constBegin(), data.constEnd());
  all += block;
  data.set(all, true);
}

// A trace's series. QCustomPlot's fast line (adaptive sampling) walks the
// points in the order of their arguments, one pixel column after the other;
// a sweep whose arguments descend is given to it in ascending order, so
// that it is drawn as fast and as true as any other (the series itself
// keeps the sweep's order: a point's place is its index).
class TSweepGraph : public QCPGraph {
 public:
  using QCPGraph::QCPGraph;

 protected:
  void getOptimizedLineData(QVector<QCPGraphData>* lineData, const QCPGraphDataContainer::const_iterator& begin,
                            const QCPGraphDataContainer::const_iterator& end) const override {
    if (!adaptiveSampling() || !Descends(*mDataContainer)) {
      QCPGraph::getOptimizedLineData(lineData, begin, end);
      return;
    }
    // The bounds found for a container sorted the other way are no bounds:
    // they are found again on the ascending copy.
    ascending_.set(QVector<QCPGraphData>(std::make_reverse_iterator(mDataContainer->constEnd()),
                                         std::make_reverse_iterator(mDataContainer->constBegin())),
                   true);
    const QCPRange range = keyAxis()->range();
    QCPGraph::getOptimizedLineData(lineData, ascending_.findBegin(range.lower), ascending_.findEnd(range.upper));
  }

 private:
  static bool Descends(const QCPGraphDataContainer& data) {
    if (data.size() < 2 || !(data.constBegin()->key > (data.constEnd() - 1)->key)) return false;
    for (auto it = data.constBegin() + 1; it != data.constEnd(); ++it)
      if ((it - 1)->key < it->key) return false;
    return true;
  }

  mutable QCPGraphDataContainer ascending_;
};

}  // namespace

// ---- CTrace ----

CTrace::CTrace(CDiagramArea* area, const std::string& name, const QColor& color) : area_(area) {
  QCustomPlot* chart = area->Chart();
  axis_ = chart->axisRect()->addAxis(QCPAxis::atRight);
  axis_->setVisible(false);
  series_ = new TSweepGraph(chart->xAxis, axis_);
  series_->setName(Q(name));
  // A fast line is a thin line (drawn without joins, several times faster
  // than a wide one) that leaves out points falling on one pixel column; an
  // ordinary line is two pixels wide and draws every point.
  series_->setPen(QPen(color, area->FastLine() ? 1 : 2));
  series_->setAdaptiveSampling(area->FastLine());
  filters_ = MakeFilterChain(this);
  ApplyRange();
}

CTrace::~CTrace() {
  if (QCustomPlot* chart = area_->Chart()) {
    chart->removeGraph(series_);
    chart->axisRect()->removeAxis(axis_);
  }
}

void CTrace::AttachToChannel(CChannel* channel) {
  Clear();
  UnsubscribeAll();
  Subscribe(channel);
  RowChanged();
  ResetFilters();
}

void CTrace::ResetFilters() {
  for (auto& f : filters_) f->Reset();
}

void CTrace::TakeValuesShownBy(const CTrace& source) { TakeValuesIn(source.DisplayedUnit()); }

void CTrace::TakeValuesIn(const std::string& unit) {
  if (unit != SourceUnit()) SetSourceUnitOverride(unit);
  ResetFilters();
  // Whatever the default for that unit, the values are converted already.
  for (auto& f : filters_)
    if (auto* quantity = dynamic_cast<CFilterQuantity*>(f.get())) quantity->SetConversion(0);
}

std::string CTrace::Name() const { return series_->name().toStdString(); }

void CTrace::SetName(const std::string& name) {
  series_->setName(Q(name));
  RowChanged();
}

QColor CTrace::Color() const { return series_->pen().color(); }

void CTrace::SetColor(const QColor& color) {
  QPen pen = series_->pen();
  pen.setColor(color);
  series_->setPen(pen);
  RowChanged();
}

void CTrace::ApplyRange() {
  axis_->setRange(range_.bottom, range_.top);
  if (selected_) area_->ShowRangeOnLeftAxis(range_);
}

void CTrace::SetDisplayRange(double bottom, double top) {
  if (!std::isfinite(bottom) || !std::isfinite(top)) return;
  const TDisplayRange widened = WidenRange({bottom, top});
  range_ = widened;
  ApplyRange();
  RowChanged();
}

void CTrace::SetReferenceScale(double reference, double scale) {
  const TDisplayRange r = RangeFromReference(reference, scale, position_);
  SetDisplayRange(r.bottom, r.top);
}

void CTrace::SetReferencePosition(int position) {
  const double reference = ReferenceLevel(), scale = Scale();
  position_ = ClampPosition(position);
  SetReferenceScale(reference, scale);
}

void CTrace::AutoScale() {
  double lo = std::numeric_limits<double>::infinity(), hi = -lo;
  for (size_t i = 0; i < PointCount(); ++i) {
    const double v = PointValue(i);
    if (std::isnan(v)) continue;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  if (const auto rs = plotdesk::AutoScale(lo, hi, position_)) SetReferenceScale(rs->reference, rs->scale);
}

std::string CTrace::SourceUnit() const {
  if (!sourceUnit_.empty()) return sourceUnit_;
  return Channel() ? Channel()->QuantityR() : std::string();
}

std::string CTrace::DisplayedUnit() const { return displayedUnit_.empty() ? SourceUnit() : displayedUnit_; }

void CTrace::SetSourceUnitOverride(const std::string& unit) {
  sourceUnit_ = unit;
  RowChanged();
}

void CTrace::SetDisplayedUnitOverride(const std::string& unit) {
  displayedUnit_ = unit;
  RowChanged();
}

bool CTrace::IsVisible() const { return series_->visible(); }

void CTrace::SetVisible(bool visible) {
  series_->setVisible(visible);
  RowChanged();
}

void CTrace::MakeSelected() {
  selected_ = true;
  series_->setValueAxis(area_->Chart()->yAxis);
  area_->ShowRangeOnLeftAxis(range_);
}

void CTrace::MakeUnselected() {
  selected_ = false;
  series_->setValueAxis(axis_);
}

void CTrace::BuildMenu(QMenu* menu) {
  menu->addSeparator();
  QAction* show = menu->addAction(QStringLiteral("&Отобразить"));
  show->setObjectName(QStringLiteral("TraceShow"));
  show->setCheckable(true);
  show->setChecked(IsVisible());
  QObject::connect(show, &QAction::triggered, menu, [this](bool on) {
    SetVisible(on);
    area_->Redraw();
  });
  QAction* autoScale = menu->addAction(QStringLiteral("&Автомасштаб"));
  autoScale->setObjectName(QStringLiteral("TraceAutoScale"));
  QObject::connect(autoScale, &QAction::triggered, menu, [this] {
    AutoScale();
    area_->Redraw();
  });

  QMenu* channels = menu->addMenu(QStringLiteral("&Канал"));
  channels->setObjectName(QStringLiteral("TraceChannel"));
  auto* group = new QActionGroup(channels);
  for (CChannel* channel : area_->Channels()) {
    QAction* a = channels->addAction(Q(channel->Name()));
    a->setCheckable(true);
    a->setChecked(channel == Channel());
    group->addAction(a);
    QObject::connect(a, &QAction::triggered, menu, [this, channel] {
      if (channel == Channel()) return;
      if (HasPoints() &&
          vkplatform::MessageBox("Данные трассы будут потеряны.\nВы уверены, что хотите изменить измерительный канал?",
                                 "Изменение измерительного канала", vkplatform::MsgIcon::Warning,
                                 vkplatform::MsgButtons::YesNo, vkplatform::MsgAnswer::No) != vkplatform::MsgAnswer::Yes)
        return;
      AttachToChannel(channel);
      area_->Redraw();
    });
  }

  const QString unit = Q(DisplayedUnit());
  AddEditItem(menu, QStringLiteral("TraceReference"), QStringLiteral("О&порн, ") + unit,
              QString::number(ReferenceLevel(), 'g', 10), 80, [this](const QString& text) {
                if (const auto v = ParseNumber(text)) {
                  SetReferenceScale(*v, Scale());
                  area_->Redraw();
                }
              });
  AddEditItem(menu, QStringLiteral("TraceScale"), QStringLiteral("Ед/&дел, ") + unit, QString::number(Scale(), 'g', 10),
              80, [this](const QString& text) {
                if (const auto v = ParseNumber(text)) {
                  SetReferenceScale(ReferenceLevel(), *v);
                  area_->Redraw();
                }
              });
  menu->addSeparator();
  for (auto& f : filters_) f->BuildMenu(menu);
}

void CTrace::ProcessUpdate(bool changed, size_t arraySize, size_t offset, size_t count, const double* x,
                           const double* y) {
  // In a sweep that goes on, arguments that turn against the order of the
  // points shown are a sweep on new arguments: it starts again where they
  // begin, and the points of the old arguments go. (Points given whole, a
  // file's or a copy's, are taken as they are.)
  const bool continues = !changed && raw_.size() == arraySize && sweep_.start != -1 && offset == sweep_.expected;
  const QCPGraphDataContainer& shown = *series_->data();
  TSeriesKeys keys;
  if (!shown.isEmpty()) keys = {&shown.constBegin()->key, static_cast<size_t>(shown.size()), 2};
  if (const size_t cut = continues ? OrderBreak(keys, offset, count, x) : kInOrder; cut != kInOrder) {
    changed = true;
    offset += cut;
    count -= cut;
    x += cut;
    y += cut;
  }
  // A restart clears the series; the points before the offset are filled
  // with null points below.
  changed = TakeSweepPart(sweep_, raw_, arraySize, offset, count, x, y, changed);
  TTraceUpdate u{changed, arraySize, offset, count, x, y};
  for (auto& f : filters_) f->Apply(u);

  QCPGraphDataContainer& data = *series_->data();
  if (u.changed) data.clear();
  if (u.count == 0) {
    Updated(u);
    return;
  }
  // The null points before the part take its first argument, so that the
  // series stays in the order of its arguments.
  if (static_cast<size_t>(data.size()) < u.offset) {
    QVector<QCPGraphData> nulls(static_cast<int>(u.offset - static_cast<size_t>(data.size())), QCPGraphData(u.x[0], kNull));
    AppendInOrder(data, nulls);
  }
  const size_t have = static_cast<size_t>(data.size());
  const size_t replace = u.offset < have ? std::min(u.count, have - u.offset) : 0;
  if (replace > 0) {
    auto it = data.begin() + static_cast<int>(u.offset);
    for (size_t i = 0; i < replace; ++i, ++it) {
      it->key = u.x[i];
      it->value = u.y[i];
    }
  }
  if (replace < u.count) {
    QVector<QCPGraphData> tail(static_cast<int>(u.count - replace));
    for (size_t i = replace; i < u.count; ++i) tail[static_cast<int>(i - replace)] = QCPGraphData(u.x[i], u.y[i]);
    AppendInOrder(data, tail);
  }
  Updated(u);
}

void CTrace::Updated(const TTraceUpdate&) {}

void CTrace::RewindPart(size_t offset, size_t count) {
  if (sweep_.start == -1 || raw_.empty() || sweep_.expected != (offset + count) % raw_.size()) return;
  sweep_.expected = offset;
  if (sweep_.received < raw_.size()) sweep_.received -= std::min(count, sweep_.received);
}

void CTrace::Refilter(bool reprocess) {
  if (!reprocess || sweep_.start == -1 || raw_.empty()) {
    TTraceUpdate reset{true, raw_.size(), 0, 0, nullptr, nullptr};
    for (auto& f : filters_) f->Apply(reset);
    RowChanged();
    return;
  }
  // The stored sweep, oldest points first: from its start to the end of the
  // array, then from 0 on.
  const size_t start = static_cast<size_t>(sweep_.start) % raw_.size();
  const size_t first = std::min(sweep_.received, raw_.size() - start);
  const size_t second = sweep_.received - first;
  std::vector<TPoint> stored = raw_;
  auto piece = [&](size_t from, size_t n, bool changed) {
    std::vector<double> x(n), y(n);
    for (size_t i = 0; i < n; ++i) {
      x[i] = stored[from + i].x;
      y[i] = stored[from + i].y;
    }
    ProcessUpdate(changed, stored.size(), from, n, x.data(), y.data());
  };
  piece(start, first, true);
  if (second > 0) piece(0, second, false);
  RowChanged();
}

void CTrace::Clear() {
  series_->data()->clear();
  raw_.clear();
  sweep_ = TSweepState();
}

size_t CTrace::PointCount() const { return static_cast<size_t>(series_->data()->size()); }

double CTrace::PointX(size_t index) const {
  return index < PointCount() ? (series_->data()->constBegin() + static_cast<int>(index))->key : kNull;
}

double CTrace::PointValue(size_t index) const {
  return index < PointCount() ? (series_->data()->constBegin() + static_cast<int>(index))->value : kNull;
}

void CTrace::SetLimits(const korchart::TLimitLines& limits) {
  limits_ = limits;
  JudgeLimits();
}

void CTrace::JudgeLimits() {
  if (!limits_.Active()) {
    verdict_ = korchart::TLimitVerdict();
    failing_.clear();
    return;
  }
  const QCPGraphDataContainer& data = *series_->data();
  judgedX_.resize(static_cast<size_t>(data.size()));
  judgedY_.resize(judgedX_.size());
  size_t i = 0;
  for (auto it = data.constBegin(); it != data.constEnd(); ++it, ++i) {
    judgedX_[i] = it->key;
    judgedY_[i] = it->value;
  }
  verdict_ = korchart::JudgeTrace(judgedX_.data(), judgedY_.data(), judgedX_.size(), limits_, &failing_);
}

CFilterBase* CTrace::Filter(size_t index) const {
  VK_ASSERT_TEXT(index < filters_.size(), "Index>=0 && Index<Filters.size()");
  return index < filters_.size() ? filters_[index].get() : nullptr;
}

void CTrace::RowChanged() {
  // The markers' labels read the unit from the series.
  series_->setProperty("units", QString::fromStdString(DisplayedUnit()));
  area_->RefreshRow(this);
}

// ---- operands, data and memory traces ----

void CTraceMathSource::Updated(const TTraceUpdate& update) { Area()->OperandUpdated(this, update); }

void CTraceData::ChannelChanged(CChannel*) {
  Clear();
  RowChanged();
}

void CTraceData::ChannelData(CChannel* channel, size_t offset, size_t count, const double* x, const double* y) {
  ProcessUpdate(false, channel->ArraySize(), offset, count, x, y);
}

void CTraceStatic::BuildMenu(QMenu* menu) {
  CTrace::BuildMenu(menu);
  menu->addSeparator();
  QAction* clear = menu->addAction(QStringLiteral("Очистить"));
  clear->setObjectName(QStringLiteral("MemoryClear"));
  QObject::connect(clear, &QAction::triggered, menu, [this] {
    Clear();
    RowChanged();
    Area()->Redraw();
  });
  QAction* load = menu->addAction(QStringLiteral("Загрузить данные..."));
  load->setObjectName(QStringLiteral("MemoryLoad"));
  QObject::connect(load, &QAction::triggered, menu, [this] { LoadDialog(); });
  QAction* save = menu->addAction(QStringLiteral("Сохранить данные..."));
  save->setObjectName(QStringLiteral("MemorySave"));
  QObject::connect(save, &QAction::triggered, menu, [this] { SaveDialog(); });
}

void CTraceStatic::CopyFrom(const CTrace& source) {
  std::vector<double> x(source.PointCount()), y(source.PointCount());
  for (size_t i = 0; i < x.size(); ++i) {
    x[i] = source.PointX(i);
    y[i] = source.PointValue(i);
  }
  ProcessUpdate(false, x.size(), 0, x.size(), x.data(), y.data());
}

void CTraceStatic::SetPoints(const std::vector<double>& x, const std::vector<double>& y) {
  const size_t n = std::min(x.size(), y.size());
  ProcessUpdate(true, n, 0, n, x.data(), y.data());
  RowChanged();
}

int CTraceStatic::LoadFromFile(const std::string& file) {
  CDoubleMatrix matrix;
  if (matrix.LoadFromFile(file) != 0) {
    // Missing, unreadable or not a table of numbers: said, the trace kept.
    vkplatform::MessageBox("Ошибка при открытии файла \"" + file + "\"", "Ошибка при открытии трассы",
                           vkplatform::MsgIcon::Warning);
    return -1;
  }
  if (matrix.Columns() != 2) {
    vkplatform::MessageBox("Таблица трассы должна содержать два столбца.", "Ошибка при открытии трассы",
                           vkplatform::MsgIcon::Warning);
    return -1;
  }
  const CDoubleVector* cx = matrix.Column(0);
  const CDoubleVector* cy = matrix.Column(1);
  // A trace file holds values as they were shown: converted no further.
  TakeValuesIn(DisplayedUnit());
  SetPoints(std::vector<double>(cx->Data(), cx->Data() + cx->Size()),
            std::vector<double>(cy->Data(), cy->Data() + cy->Size()));
  return 0;
}

int CTraceStatic::SaveToFile(const std::string& file) const {
  // What the trace shows: its points after its filters, in its displayed
  // unit. Loaded again, they are shown as they are.
  std::vector<double> xs, ys;
  for (size_t i = 0; i < PointCount(); ++i) {
    const double v = PointValue(i);
    if (std::isnan(v)) continue;
    xs.push_back(PointX(i));
    ys.push_back(v);
  }
  CDoubleMatrix matrix;
  auto* x = new CDoubleVector(static_cast<unsigned>(xs.size()));
  auto* y = new CDoubleVector(static_cast<unsigned>(ys.size()));
  for (unsigned i = 0; i < x->Size(); ++i) {
    (*x)[i] = xs[i];
    (*y)[i] = ys[i];
  }
  matrix.InsertColumn(x);
  matrix.InsertColumn(y);
  return matrix.SaveToFile(file);
}

namespace {
QString TraceFolder() {
  const QString dir = QString::fromStdString(GetVKDir(dirWork));
  QDir().mkpath(dir);
  return dir;
}
}  // namespace

void CTraceStatic::LoadDialog() {
  const QString file = ChooseFileName(Area()->Panel(), {QStringLiteral("Открыть трассу"),
                                                        vkgui::QtFilter(QStringLiteral("Файлы трасс|*.trc")),
                                                        QStringLiteral("trc"), TraceFolder(), false});
  if (file.isEmpty()) return;
  if (LoadFromFile(file.toStdString()) == 0) Area()->Redraw();
}

void CTraceStatic::SaveDialog() {
  const QString file = ChooseFileName(Area()->Panel(), {QStringLiteral("Сохранить трассу"),
                                                        vkgui::QtFilter(QStringLiteral("Файлы трасс|*.trc")),
                                                        QStringLiteral("trc"), TraceFolder(), true});
  if (file.isEmpty()) return;
  if (SaveToFile(file.toStdString()) != 0)
    vkplatform::MessageBox("Ошибка при сохранении файла", "Ошибка", vkplatform::MsgIcon::Warning);
}

}  // namespace plotdesk
