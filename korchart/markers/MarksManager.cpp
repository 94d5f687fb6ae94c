#include "markers/MarksManager.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

#include "interpreter/InterpreterClient.h"
#include "markers/LinkMarker.h"
#include "markers/MarkItems.h"
#include "markers/MarkerFile.h"
#include "markers/Metka.h"
#include "platform/Report.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

static_assert(sizeof(QCPGraphData) == 2 * sizeof(double), "the searches read key/value pairs");

namespace {
constexpr int kDragThreshold = 3;
constexpr double kNearSeries = 6;
std::u16string Wide(const std::string& s) { return QString::fromStdString(s).toStdU16String(); }
}  // namespace

class MarksManager::TEventFilter : public QObject {
 public:
  explicit TEventFilter(MarksManager* owner) : owner_(owner) {}
  bool eventFilter(QObject* watched, QEvent* event) override { return owner_->HandleEvent(watched, event); }

 private:
  MarksManager* owner_;
};

MarksManager::MarksManager(QCustomPlot* chart, double minArg, double maxArg)
    : chart_(chart), minArg_(minArg), maxArg_(maxArg) {
  layer_ = MarkersLayer(chart);
  ApplyMarginForIndicators(true);
  for (int i = 0; i < kMarkerCount; ++i) marks_[static_cast<size_t>(i)] = std::make_unique<Metka>(this, i, minArg, maxArg);
  for (int i = 0; i < kLinkMarkerCount; ++i) links_[static_cast<size_t>(i)] = std::make_unique<LinkMarker>(this, i);
  filter_ = new TEventFilter(this);
  chart->installEventFilter(filter_);
}

MarksManager::~MarksManager() {
  *alive_ = false;
  // The filter and the menu may be on the stack that destroys us (a menu
  // item whose dialog saw the series change): they go later.
  if (chart_) chart_->removeEventFilter(filter_);
  filter_->deleteLater();
  if (lastMenu_) {
    lastMenu_->hide();
    lastMenu_->deleteLater();
  }
  for (auto& link : links_) link.reset();
  for (auto& mark : marks_) mark.reset();
  if (chart_) {
    if (connectorLine_) chart_->removeItem(connectorLine_.data());
    ApplyMarginForIndicators(false);
  }
}

void MarksManager::ApplyMarginForIndicators(bool on) {
  QCPAxisRect* rect = chart_->axisRect();
  if (!rect) return;
  QMargins m = rect->minimumMargins();
  if (on) {
    savedTopMargin_ = m.top();
    m.setTop(std::max(m.top(), kIndicatorMargin + 4));
  } else {
    m.setTop(savedTopMargin_);
  }
  rect->setMinimumMargins(m);
}

// ---- series ----

void MarksManager::SetSeries(const std::vector<QCPGraph*>& series) {
  series_.assign(series.begin(), series.end());
  order_.clear();
  spans_.clear();
  const std::vector<std::string> titles = SeriesTitles();
  for (auto& link : links_) link->DeclareSeries(titles);
}

int MarksManager::SeriesCount() const { return std::min(static_cast<int>(series_.size()), kMaxSeries); }

QCPGraph* MarksManager::Series(int number) const {
  if (number < 1 || number > SeriesCount()) return nullptr;
  return series_[static_cast<size_t>(number - 1)].data();
}

TSeriesInfo MarksManager::SeriesInfo(int number) const {
  TSeriesInfo info;
  QCPGraph* g = Series(number);
  if (!g) return info;
  info.title = g->name().toStdString();
  info.color = g->pen().color().rgb() & 0xFFFFFFu;
  info.units = g->property("units").toString().toStdString();
  info.active = g->visible();
  return info;
}

std::vector<TSeriesInfo> MarksManager::SeriesInfos() const {
  std::vector<TSeriesInfo> out;
  for (int n = 1; n <= SeriesCount(); ++n) out.push_back(SeriesInfo(n));
  return out;
}

std::vector<std::string> MarksManager::SeriesTitles() const {
  std::vector<std::string> out;
  for (int n = 1; n <= SeriesCount(); ++n) {
    QCPGraph* g = Series(n);
    out.push_back(g ? g->name().toStdString() : std::string());
  }
  return out;
}

TSeriesView MarksManager::SeriesView(int number) const {
  QCPGraph* g = Series(number);
  if (!g || g->data()->isEmpty()) return TSeriesView();
  const QCPGraphData* first = &*g->data()->constBegin();
  TSeriesView view{&first->key, &first->value, static_cast<size_t>(g->data()->size()), 2};
  if (order_.size() < static_cast<size_t>(SeriesCount())) order_.resize(static_cast<size_t>(SeriesCount()));
  TOrder& order = order_[static_cast<size_t>(number - 1)];
  if (order.data != first || order.size != g->data()->size())
    order = TOrder{first, g->data()->size(), Ascending(view)};
  view.sorted = order.ascending;
  return view;
}

int MarksManager::SeriesNumber(const std::string& title) const {
  if (title.empty()) return 0;
  for (int n = 1; n <= SeriesCount(); ++n)
    if (QCPGraph* g = Series(n); g && g->name().toStdString() == title) return n;
  return 0;
}

std::string MarksManager::ArgumentUnits() const {
  return chart_ ? chart_->xAxis->property("units").toString().toStdString() : std::string();
}

Metka* MarksManager::Mark(int index) const {
  return index >= 0 && index < kMarkerCount ? marks_[static_cast<size_t>(index)].get() : nullptr;
}

LinkMarker* MarksManager::Link(int index) const {
  return index >= 0 && index < kLinkMarkerCount ? links_[static_cast<size_t>(index)].get() : nullptr;
}

// ---- updates ----

int MarksManager::Update() {
  order_.clear();  // a new frame: the data may have changed in place
  updating_ = true;
  if (SweepRangeChanged()) ClearStatistics();
  for (auto& mark : marks_) mark->Update(true);
  UpdateLinks(true);
  updating_ = false;
  return 0;
}

int MarksManager::UpdateMarksOnly() {
  order_.clear();
  updating_ = true;
  if (SweepRangeChanged()) ClearStatistics();
  for (auto& mark : marks_) {
    mark->UpdateList(true);
    mark->UpdateMarkerIcon();
  }
  UpdateLinks(true);
  updating_ = false;
  return 0;
}

void MarksManager::UpdateLinks(bool sample) {
  for (auto& link : links_) link->Update(sample);
}

int MarksManager::Repaint() {
  ReplotMarkers();
  return 0;
}

void MarksManager::ClearStatistics() {
  for (auto& mark : marks_) mark->ResetStatistics();
  for (auto& link : links_) link->ResetStatistics();
}

int MarksManager::ResetStatistics() {
  ClearStatistics();
  // Inside an update the frame shows it anyway.
  if (chart_ && !updating_) {
    for (auto& mark : marks_) mark->UpdateList(false);
    ReplotMarkers();
  }
  return 0;
}

bool MarksManager::SweepRangeChanged() {
  auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
  const int count = SeriesCount();
  spans_.resize(static_cast<size_t>(count));
  bool changed = false;
  for (int n = 1; n <= count; ++n) {
    TArgumentSpan& was = spans_[static_cast<size_t>(n - 1)];
    TArgumentSpan now;
    const QCPGraph* g = Series(n);
    if (g && g->data()->size() >= 2) {
      now.count = g->data()->size();
      now.first = g->data()->constBegin()->key;
      now.last = (g->data()->constEnd() - 1)->key;
    }
    // A series that is empty, or was, starts (or ends) nothing.
    if (now.count >= 2 && was.count >= 2) {
      const bool kept = now.count == was.count && same(now.first, was.first) && same(now.last, was.last);
      const bool grown = now.count > was.count && same(now.first, was.first) &&
                         same((g->data()->constBegin() + (was.count - 1))->key, was.last);
      if (!kept && !grown) changed = true;
    }
    was = now;
  }
  return changed;
}

int MarksManager::SetLabelState(int series, bool visible) {
  if (series < 1 || series > kMaxSeries) return -1;
  for (auto& mark : marks_) {
    SMarkParams p = mark->GetParams();
    p.shownSeries[static_cast<size_t>(series - 1)] = visible;
    mark->SetParams(p);
  }
  ReplotMarkers();
  return 0;
}

void MarksManager::SetActivated(bool activated) {
  activated_ = activated;
  for (auto& mark : marks_) {
    mark->SetStandby(!activated);
    mark->Update();
  }
  if (!activated) focused_ = -1;
  ReplotMarkers();
}

void MarksManager::ReplotMarkers() {
  // Inside an update the frame that follows draws the markers anyway.
  if (!chart_ || updating_) return;
  UpdateLinks(false);
  layer_->replot();
}

// ---- the marker set ----

TMarkerSet MarksManager::GetMarkerSet() const {
  TMarkerSet set;
  set.knowsSeries = true;
  set.knownSeries = SeriesTitles();
  for (int i = 0; i < kMarkerCount; ++i) {
    SMarkParams p = marks_[static_cast<size_t>(i)]->GetParams();
    // A marker put aside by Activated = false is an active marker all the same.
    p.enabled = p.enabled || marks_[static_cast<size_t>(i)]->GetStandby();
    set.markers[static_cast<size_t>(i)] = p;
    set.linkTitles[static_cast<size_t>(i)] = SeriesInfo(p.linkTrace).title;
    set.deltaTitles[static_cast<size_t>(i)] = SeriesInfo(p.deltaTrace).title;
    for (int n = 1; n <= SeriesCount(); ++n)
      if (p.shownSeries[static_cast<size_t>(n - 1)])
        set.lineTitles[static_cast<size_t>(i)].emplace_back(SeriesInfo(n).title, p.valueDigits);
    set.linesListed[static_cast<size_t>(i)] = true;
  }
  for (int j = 0; j < kLinkMarkerCount; ++j) set.links[static_cast<size_t>(j)] = links_[static_cast<size_t>(j)]->GetParams();
  return set;
}

void MarksManager::SetMarkerSet(const TMarkerSet& set, bool reportFormulas) {
  for (int i = 0; i < kMarkerCount; ++i) {
    const size_t k = static_cast<size_t>(i);
    SMarkParams p = set.markers[k];
    p.linkTrace = SeriesNumber(set.linkTitles[k]);
    p.deltaTrace = SeriesNumber(set.deltaTitles[k]);
    if (p.linkTrace == 0) {
      p.action = EMarkAction::Free;
      p.extremeMode = false;
    }
    if (p.deltaTrace == 0) p.deltaMeasure = false;
    if (set.linesListed[k] || !set.lineTitles[k].empty()) {
      p.shownSeries.fill(false);
      for (const auto& line : set.lineTitles[k])
        if (const int n = SeriesNumber(line.first); n > 0) p.shownSeries[static_cast<size_t>(n - 1)] = true;
      if (set.knowsSeries)
        for (int n = 1; n <= SeriesCount(); ++n) {
          const std::string title = SeriesInfo(n).title;
          if (std::find(set.knownSeries.begin(), set.knownSeries.end(), title) == set.knownSeries.end())
            p.shownSeries[static_cast<size_t>(n - 1)] = true;
        }
    }
    marks_[k]->SetParams(p);
  }
  for (int j = 0; j < kLinkMarkerCount; ++j) links_[static_cast<size_t>(j)]->SetParams(set.links[static_cast<size_t>(j)], reportFormulas);
  // While the markers are put aside, those that come active wait with them.
  if (!activated_) SetActivated(false);
  ReplotMarkers();
}

int MarksManager::SaveToFile(const std::string& name) const { return SaveMarkerFile(name, GetMarkerSet()); }

int MarksManager::LoadFromFile(const std::string& name) {
  TMarkerSet set;
  const int result = LoadMarkerFile(name, set);
  if (result == kMarkerFileOk) SetMarkerSet(set);
  return result;
}

int MarksManager::WriteMarksToXMLNode(xmlNode* node) const { return korchart::WriteMarksToXMLNode(node, GetMarkerSet()); }

int MarksManager::ReadMarksFromXMLNode(xmlNode* node, bool reportFormulas) {
  TMarkerSet set;
  const int result = korchart::ReadMarksFromXMLNode(node, set);
  if (result == kMarkerFileOk) SetMarkerSet(set, reportFormulas);
  return result;
}

// ---- link markers ----

int MarksManager::SetLinkMarkPresetFileName(const std::string& name) {
  presetFile_ = name;
  return LoadRelationPresets(name, presets_);
}

LinkMarker* MarksManager::CreateLink(int a, int b) {
  if (a == b || !Mark(a) || !Mark(b)) return nullptr;
  for (auto& link : links_) {
    if (link->Used()) continue;
    SLinkParams p;
    p.used = true;
    p.markerA = a;
    p.markerB = b;
    link->SetParams(p);
    ReplotMarkers();
    return link.get();
  }
  return nullptr;
}

IInterpreter* MarksManager::CreateInterpreterObject() {
  if (interpreterMissing_) return nullptr;
  IInterpreter* interpreter = nullptr;
  if (FAILED(CoCreateInstance(CLSID_Interpreter, nullptr, CLSCTX_INPROC_SERVER, IID_IInterpreter,
                              reinterpret_cast<void**>(&interpreter))) ||
      !interpreter) {
    // Said once: ten link markers would say it ten times.
    interpreterMissing_ = true;
    vkplatform::MessageBox(kInterpreterNotRegisteredText, "Ошибка", vkplatform::MsgIcon::Warning);
    return nullptr;
  }
  for (const std::string& name : {std::string("а.арг"), std::string("б.арг")})
    interpreter->DeclareVariable(Wide(name).c_str());
  for (int k = 0; k < kMarkerCount; ++k)
    interpreter->DeclareVariable(Wide("м" + std::to_string(k) + ".арг").c_str());
  return interpreter;
}

bool MarksManager::CheckExpression(const std::string& expression) {
  IInterpreter* interpreter = CreateInterpreterObject();
  if (!interpreter) return false;
  for (const std::string& title : SeriesTitles()) {
    if (title.empty()) continue;
    interpreter->DeclareVariable(Wide("а." + title).c_str());
    interpreter->DeclareVariable(Wide("б." + title).c_str());
    for (int k = 0; k < kMarkerCount; ++k)
      interpreter->DeclareVariable(Wide("м" + std::to_string(k) + "." + title).c_str());
  }
  const QString limited = QString::fromStdString(expression).left(static_cast<qsizetype>(kExpressionLimit));
  const bool ok = SUCCEEDED(interpreter->SetExpression(limited.toStdU16String().c_str()));
  interpreter->Release();
  return ok;
}

// ---- mouse and keyboard ----

void MarksManager::SetFocusedMark(int index) {
  if (index == focused_) return;
  focused_ = Mark(index) ? index : -1;
  if (Metka* m = Mark(focused_)) m->BringToFront();
  ReplotMarkers();
}

int MarksManager::MarkAtIndicator(const QPoint& point) const {
  int strip = -1;
  // The focused marker is on top; then the others, placed ones before tabs.
  auto test = [&](int i) {
    const TMarkItemLayout l = marks_[static_cast<size_t>(i)]->Layout();
    if (!l.drawn || !l.indicator.contains(point)) return false;
    if (l.placed) return true;
    if (strip < 0) strip = i;
    return false;
  };
  if (focused_ >= 0 && test(focused_)) return focused_;
  for (int i = 0; i < kMarkerCount; ++i)
    if (i != focused_ && test(i)) return i;
  return strip;
}

int MarksManager::MarkAtLabel(const QPoint& point) const {
  if (focused_ >= 0) {
    const TMarkItemLayout l = marks_[static_cast<size_t>(focused_)]->Layout();
    if (l.placed && l.label.contains(point)) return focused_;
  }
  for (int i = kMarkerCount - 1; i >= 0; --i) {
    const TMarkItemLayout l = marks_[static_cast<size_t>(i)]->Layout();
    if (l.placed && l.label.contains(point)) return i;
  }
  return -1;
}

int MarksManager::MarkAtConnector(const QPoint& point) const {
  for (int i = 0; i < kMarkerCount; ++i) {
    const TMarkItemLayout l = marks_[static_cast<size_t>(i)]->Layout();
    if (l.placed && !l.connector.isEmpty() && l.connector.adjusted(-2, -2, 2, 2).contains(point)) return i;
  }
  return -1;
}

int MarksManager::LinkAt(const QPoint& point) const {
  for (int j = 0; j < kLinkMarkerCount; ++j)
    if (links_[static_cast<size_t>(j)]->LabelRect().contains(point)) return j;
  return -1;
}

int MarksManager::SeriesNear(const QPoint& point) const {
  int best = 0;
  double bestDistance = kNearSeries;
  for (int n = 1; n <= SeriesCount(); ++n) {
    QCPGraph* g = Series(n);
    if (!g || !g->visible()) continue;
    const double d = g->selectTest(point, false);
    if (d >= 0 && d < bestDistance) {
      bestDistance = d;
      best = n;
    }
  }
  return best;
}

int MarksManager::SeriesAtLabelRow(int mark, const QPoint& point) const {
  const Metka* m = Mark(mark);
  if (!m) return 0;
  const TMarkItemLayout l = m->Layout();
  if (!l.placed || !l.label.contains(point) || l.rowHeight <= 0) return 0;
  const double row = std::floor((point.y() - l.argumentRow.top()) / l.rowHeight);
  const std::vector<TLabelRow>& rows = m->LabelRows();
  if (row < 0 || row >= static_cast<double>(rows.size())) return 0;
  return rows[static_cast<size_t>(row)].series;
}

void MarksManager::OpenMenu(int mark, const QPoint& at, int series) {
  delete lastMenu_.data();
  QMenu* menu = Mark(mark)->CreateMenu(chart_, series);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  lastMenu_ = menu;
  menu->popup(at);
}

void MarksManager::OpenLinkMenu(int link, const QPoint& at) {
  delete lastMenu_.data();
  auto* menu = new QMenu(chart_);
  menu->setObjectName(QStringLiteral("LinkMenu%1").arg(link));
  LinkMarker* l = Link(link);
  QAction* properties = menu->addAction(QStringLiteral("Свойства..."));
  properties->setObjectName(QStringLiteral("MenuLinkProperties"));
  QObject::connect(properties, &QAction::triggered, menu, [l] { l->ShowProperties(); });
  QAction* reset = menu->addAction(QStringLiteral("Сбросить статистику"));
  reset->setObjectName(QStringLiteral("MenuLinkResetStatistics"));
  reset->setEnabled(l->GetParams().WantsStatistics());
  QObject::connect(reset, &QAction::triggered, menu, [this, l] {
    l->ResetStatistics();
    ReplotMarkers();
  });
  QAction* remove = menu->addAction(QStringLiteral("Удалить связь"));
  remove->setObjectName(QStringLiteral("MenuLinkDelete"));
  QObject::connect(remove, &QAction::triggered, menu, [this, l] {
    l->Release();
    ReplotMarkers();
  });
  menu->setAttribute(Qt::WA_DeleteOnClose);
  lastMenu_ = menu;
  menu->popup(at);
}

void MarksManager::EndDrag() {
  drag_ = EDrag::None;
  if (connectorLine_ && connectorLine_->visible()) {
    connectorLine_->setVisible(false);
    layer_->replot();
  }
}

bool MarksManager::HandleEvent(QObject* /*watched*/, QEvent* event) {
  if (!chart_) return false;
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* e = static_cast<QMouseEvent*>(event);
      const QPoint pos = e->position().toPoint();
      if (e->button() == Qt::LeftButton) {
        if (const int m = MarkAtConnector(pos); m >= 0) {
          drag_ = EDrag::Connector;
          dragMark_ = m;
          if (!connectorLine_) {
            connectorLine_ = new QCPItemLine(chart_);
            connectorLine_->setLayer(layer_);
            connectorLine_->setClipToAxisRect(false);
            connectorLine_->setPen(QPen(QColor(0x00, 0x60, 0x60), 1, Qt::DashLine));
            connectorLine_->start->setType(QCPItemPosition::ptAbsolute);
            connectorLine_->end->setType(QCPItemPosition::ptAbsolute);
          }
          const QRectF c = Mark(m)->Layout().connector;
          connectorLine_->start->setCoords(c.center());
          connectorLine_->end->setCoords(pos);
          connectorLine_->setVisible(true);
          return true;
        }
        if (const int m = MarkAtIndicator(pos); m >= 0) {
          drag_ = EDrag::Marker;
          dragMark_ = m;
          dragMoved_ = false;
          pressX_ = pos.x();
          pressY_ = pos.y();
          SetFocusedMark(m);
          chart_->setFocus();
          return true;
        }
        if (const int m = MarkAtLabel(pos); m >= 0) {
          SetFocusedMark(m);
          Mark(m)->ActivateEdit();
          return true;
        }
        return LinkAt(pos) >= 0;
      }
      if (e->button() == Qt::RightButton) {
        EndDrag();
        int m = MarkAtIndicator(pos);
        int series = 0;
        if (m < 0) {
          m = MarkAtLabel(pos);
          series = SeriesAtLabelRow(m, pos);
        }
        if (m < 0) {
          // The cursor itself, over a curve.
          for (int i = 0; i < kMarkerCount && m < 0; ++i) {
            const TMarkItemLayout l = Mark(i)->Layout();
            if (l.placed && std::abs(l.x - pos.x()) <= 3) m = i;
          }
          if (m >= 0) series = SeriesNear(pos);
        }
        if (m >= 0) {
          SetFocusedMark(m);
          OpenMenu(m, e->globalPosition().toPoint(), series);
          return true;
        }
        if (const int l = LinkAt(pos); l >= 0) {
          OpenLinkMenu(l, e->globalPosition().toPoint());
          return true;
        }
      }
      return false;
    }
    case QEvent::MouseMove: {
      if (drag_ == EDrag::None) return false;
      auto* e = static_cast<QMouseEvent*>(event);
      // A release that never came (a menu or a box took the mouse): the drag is over.
      if (!(e->buttons() & Qt::LeftButton)) {
        EndDrag();
        return false;
      }
      const QPoint pos = e->position().toPoint();
      if (drag_ == EDrag::Connector) {
        connectorLine_->end->setCoords(pos);
        layer_->replot();
        return true;
      }
      if (!dragMoved_ && std::abs(pos.x() - pressX_) + std::abs(pos.y() - pressY_) < kDragThreshold) return true;
      dragMoved_ = true;
      Metka* m = Mark(dragMark_);
      if (!m->GetActivated() || m->GetParams().parked) {
        // A tab dragged out of the strip comes onto the plot active.
        SMarkParams p = m->GetParams();
        p.enabled = true;
        p.parked = false;
        m->SetParams(p);
      }
      m->Lock();
      const QRect r = chart_->axisRect()->rect();
      m->Move(std::clamp(pos.x(), r.left(), r.right()), pos.y(), true);
      m->Unlock();
      return true;
    }
    case QEvent::MouseButtonRelease: {
      if (drag_ == EDrag::None) return false;
      auto* e = static_cast<QMouseEvent*>(event);
      const EDrag drag = drag_;
      drag_ = EDrag::None;
      if (drag == EDrag::Connector) {
        connectorLine_->setVisible(false);
        const int target = MarkAtIndicator(e->position().toPoint());
        if (target >= 0 && target != dragMark_) CreateLink(dragMark_, target);
        ReplotMarkers();
        return true;
      }
      Metka* m = Mark(dragMark_);
      if (!dragMoved_) {
        // A click: on or off.
        if (m->GetActivated()) m->Deactivate();
        else m->Activate();
      }
      return true;
    }
    case QEvent::MouseButtonDblClick: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (const int l = LinkAt(e->position().toPoint()); l >= 0) {
        Link(l)->ShowProperties();
        return true;
      }
      return MarkAtIndicator(e->position().toPoint()) >= 0 || MarkAtLabel(e->position().toPoint()) >= 0;
    }
    case QEvent::ShortcutOverride: {
      // The marker's keys before the window's short cuts.
      Metka* m = Mark(focused_);
      auto* e = static_cast<QKeyEvent*>(event);
      if (m && m->Visible() && Metka::TakesKey(e->key(), e->modifiers())) {
        e->accept();
        return true;
      }
      return false;
    }
    case QEvent::KeyPress: {
      Metka* m = Mark(focused_);
      if (!m || !m->Visible()) return false;
      auto* e = static_cast<QKeyEvent*>(event);
      return m->KeyPress(e->key(), e->modifiers());
    }
    case QEvent::ContextMenu: {
      // Over a marker the marker's own menu has opened already.
      const QPoint pos = static_cast<QContextMenuEvent*>(event)->pos();
      return MarkAtIndicator(pos) >= 0 || MarkAtLabel(pos) >= 0 || LinkAt(pos) >= 0;
    }
    default:
      return false;
  }
}

KORCHART_VARIANT_END
}  // namespace korchart
