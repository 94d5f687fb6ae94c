#include "markers/Metka.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "GuiPlugin.h"
#include "markers/LinkMarker.h"
#include "markers/MarkCheck.h"
#include "markers/MarkItems.h"
#include "markers/MarkProperties.h"
#include "markers/MarksManager.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

namespace {

// The auto search's pointers: light yellow with a dark rim.
const QColor kPointerFill(0xFF, 0xFF, 0x80);

QCPGraph* MakePointerSeries(QCPGraph* trace, QCPLayer* layer, QCPScatterStyle::ScatterShape shape) {
  QCustomPlot* plot = trace->parentPlot();
  QCPGraph* g = plot->addGraph(trace->keyAxis(), trace->valueAxis());
  g->setLayer(layer);
  g->setName(QString());  // untitled: not a series of the markers
  g->setLineStyle(QCPGraph::lsNone);
  g->setScatterStyle(QCPScatterStyle(shape, QColor(0x80, 0x80, 0x00), kPointerFill, 9));
  g->removeFromLegend();
  return g;
}

// The editor takes digits, the comma and the keys that act.
bool EditorAccepts(const QKeyEvent* e) {
  switch (e->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
      return true;
    default:
      break;
  }
  const QString t = e->text();
  return t.size() == 1 && (t[0].isDigit() || t[0] == QLatin1Char(','));
}

}  // namespace

Metka::Metka(MarksManager* owner, int index, double minArg, double maxArg) : owner_(owner), index_(index) {
  p_.limitMin = minArg;
  p_.limitMax = maxArg;
  EnsureItem();
}

void Metka::EnsureItem() {
  // The chart's owner may have cleared its items: the drawing comes back.
  if (item_ || !owner_->Chart()) return;
  item_ = new TMarkItem(owner_->Chart(), this);
  item_->setLayer(owner_->Layer());
}

TMarkItem* Metka::Item() const { return item_.data(); }

TMarkItemLayout Metka::Layout() const { return item_ ? item_->Layout() : TMarkItemLayout(); }

double Metka::ReadValue(int series) const {
  if (series < 1 || series > static_cast<int>(values_.size())) return kNoValue;
  return values_[static_cast<size_t>(series - 1)];
}

Metka::~Metka() {
  AutoSearchAbort();
  delete editor_.data();
  if (QCustomPlot* plot = owner_->Chart(); plot && item_) plot->removeItem(item_.data());
}

bool Metka::Focused() const { return owner_->FocusedMark() == index_; }

const TStatistics& Metka::GetStat(int series) const {
  static const TStatistics kNone;
  if (series < 1 || series > kMaxSeries) return kNone;
  return stats_[static_cast<size_t>(series - 1)];
}

std::string Metka::GetSeriesTitle(int series) const { return owner_->SeriesInfo(series).title; }
unsigned Metka::GetSeriesColor(int series) const { return owner_->SeriesInfo(series).color; }
std::string Metka::GetSeriesUnits(int series) const { return owner_->SeriesInfo(series).units; }

double Metka::CalcYValue(double x, int series, std::string* error) const {
  if (!p_.enabled || x == kNotFound) return kNoValue;
  QCPGraph* g = owner_->Series(series);
  if (!g || !g->visible()) return kNoValue;
  const TSeriesView view = owner_->SeriesView(series);
  if (view.n < 2) return kNoValue;  // no curve yet: simply no value
  std::string fault;
  const double y = ValueAt(view, x, &fault);
  if (!fault.empty()) {
    if (error) *error = fault;
    // Reported once per marker (the same data come back with every frame),
    // and after the frame: a box must not open in the middle of a drawing.
    if (!reported_) {
      reported_ = true;
      QMetaObject::invokeMethod(
          QCoreApplication::instance(), [fault] { KORCHART_CHECK_TEXT(false, fault.c_str()); },
          Qt::QueuedConnection);
    }
  }
  return y;
}

void Metka::SetParams(const SMarkParams& params) {
  SMarkParams p = params;
  const int count = owner_->SeriesCount();
  if (p.linkTrace < 0 || p.linkTrace > count) p.linkTrace = 0;
  if (p.deltaTrace < 0 || p.deltaTrace > count) p.deltaTrace = 0;
  if (static_cast<int>(p.action) < 0 || static_cast<int>(p.action) > 3) p.action = EMarkAction::Free;
  p.argumentDigits = std::clamp(p.argumentDigits, 0, 15);
  p.valueDigits = std::clamp(p.valueDigits, 0, 15);
  const bool extremeWas = p_.extremeMode;
  p_ = p;
  if (p_.extremeMode && !extremeWas)
    AutoSearchStart();
  else if (!p_.extremeMode && extremeWas)
    AutoSearchAbort();
  Update();
}

void Metka::DropMissingSeries() {
  auto gone = [this](int number) {
    QCPGraph* g = owner_->Series(number);
    return !g || !g->visible();
  };
  if (p_.linkTrace > 0 && gone(p_.linkTrace)) {
    p_.linkTrace = 0;
    p_.action = EMarkAction::Free;
    p_.deltaMeasure = false;
    AutoSearchAbort();
  }
  if (p_.deltaTrace > 0 && gone(p_.deltaTrace)) {
    p_.deltaTrace = 0;
    p_.deltaMeasure = false;
  }
}

void Metka::Search() {
  if (p_.linkTrace == 0 || p_.action == EMarkAction::Free) return;
  const TSeriesView trace = owner_->SeriesView(p_.linkTrace);
  if (trace.n == 0) return;
  TSeriesView second;
  const bool delta = p_.deltaMeasure && p_.deltaTrace > 0;
  if (delta) second = owner_->SeriesView(p_.deltaTrace);
  const TLevelView v{trace, delta ? &second : nullptr};
  const TSearchSpan span{p_.limitMin, p_.limitMax};
  switch (p_.action) {
    case EMarkAction::Fixed:
      p_.position = SearchLevel(v, span, p_.divergence);
      break;
    case EMarkAction::Minimum:
    case EMarkAction::Maximum:
      p_.position = SearchExtremum(v, span, p_.action == EMarkAction::Maximum, p_.divergence,
                                   p_.divergenceRight ? 1 : -1);
      break;
    case EMarkAction::Free:
      break;
  }
  // Without tracking the marker stays where this search put it.
  if (!p_.tracking) {
    p_.action = EMarkAction::Free;
    p_.deltaMeasure = false;
  }
}

int Metka::Update(bool sample) {
  EnsureItem();
  UpdateRangeLine();
  if (p_.extremeMode && p_.enabled) AutoSearchUpdate();
  DropMissingSeries();
  if (editor_ && editor_->isVisible()) {
    const QCPRange r = owner_->Chart()->xAxis->range();
    if (r.lower != editorRangeLower_ || r.upper != editorRangeUpper_) DeactivateEdit();
  }
  if (p_.enabled && !Locked()) Search();
  UpdateList(sample);
  UpdateMarkerIcon();
  return 0;
}

void Metka::UpdateList(bool sample) {
  TLabelInput in;
  in.arg = p_.position;
  in.argUnits = owner_->ArgumentUnits();
  in.argDigits = p_.argumentDigits;
  in.valueDigits = p_.valueDigits;
  // The values shown go into the statistics once per frame (`sample`);
  // between frames the label shows the statistics as if they had, on copies.
  in.statistics = p_.showStatistics && p_.enabled && p_.position != kNotFound;
  TStatistics argCopy = freqStat_;
  std::array<TStatistics, kMaxSeries> copies;
  if (in.statistics && !sample) copies = stats_;
  in.argStatistics = sample ? &freqStat_ : &argCopy;
  dots_.clear();
  const int count = std::min(owner_->SeriesCount(), kMaxSeries);
  values_.assign(static_cast<size_t>(count), kNoValue);
  for (int n = 1; n <= count; ++n) {
    if (!owner_->Series(n)) continue;  // a series that was deleted
    const double value = CalcYValue(p_.position, n);
    const size_t k = static_cast<size_t>(n - 1);
    values_[k] = value;
    if (!p_.shownSeries[k]) continue;
    const TSeriesInfo info = owner_->SeriesInfo(n);
    TLabelSeries s;
    s.number = n;
    s.title = info.title;
    s.units = info.units;
    s.color = info.color;
    s.value = value;
    s.statistics = sample ? &stats_[k] : &copies[k];
    in.series.push_back(s);
    dots_.emplace_back(n, s.value);
  }
  if (p_.deltaMeasure && p_.linkTrace > 0 && p_.deltaTrace > 0) {
    in.delta = true;
    in.deltaA.value = ReadValue(p_.linkTrace);
    in.deltaA.units = GetSeriesUnits(p_.linkTrace);
    in.deltaB.value = ReadValue(p_.deltaTrace);
    in.deltaB.units = GetSeriesUnits(p_.deltaTrace);
  }
  rows_ = MakeLabelRows(in);
  if (item_) item_->SetRows(rows_);
}

void Metka::UpdateRangeLine() {
  // Drawn by the item from the limits; nothing is kept apart.
}

void Metka::UpdateMarkerIcon() {
  if (item_) item_->setVisible(Visible());
  UpdatePointers();
}

void Metka::UpdatePointers() {
  const bool shown = Visible() && p_.enabled && p_.extremeMode;
  for (QCPGraph* g : {minima_.data(), maxima_.data()})
    if (g) g->setVisible(shown);
}

void Metka::Draw() { Repaint(); }

void Metka::Repaint() {
  UpdateConnectors();
  owner_->ReplotMarkers();
}

void Metka::ResetStatistics() {
  freqStat_.Reset();
  for (TStatistics& s : stats_) s.Reset();
}

void Metka::Reset() {
  AutoSearchAbort();
  DeactivateEdit();
  SMarkParams fresh;
  fresh.limitMin = owner_->MinArg();
  fresh.limitMax = owner_->MaxArg();
  fresh.position = p_.position;
  p_ = fresh;
  ResetStatistics();
  Update();
}

void Metka::PlaceInView() {
  const QCPRange r = owner_->Chart()->xAxis->range();
  if (p_.position == kNotFound || !(p_.position >= r.lower && p_.position <= r.upper))
    p_.position = r.center();
}

void Metka::Activate() {
  p_.enabled = true;
  p_.parked = false;
  if (p_.action == EMarkAction::Free) PlaceInView();
  Update();
  Repaint();
}

void Metka::Deactivate() {
  p_.enabled = false;
  DeactivateEdit();
  Update();
  Repaint();
}

void Metka::Show() { SetHided(false); }
void Metka::Hide() { SetHided(true); }

void Metka::SetHided(bool hidden) {
  p_.visible = !hidden;
  if (hidden) DeactivateEdit();
  UpdateMarkerIcon();
  Repaint();
}

void Metka::SetStandby(bool standby) {
  if (standby && p_.enabled && !standby_) {
    standby_ = true;
    p_.enabled = false;
    DeactivateEdit();
  } else if (!standby && standby_) {
    standby_ = false;
    p_.enabled = true;
  }
  UpdateMarkerIcon();
}

bool Metka::Placed() const {
  if (!Visible() || !p_.enabled || p_.parked || p_.position == kNotFound) return false;
  const QCPRange r = owner_->Chart()->xAxis->range();
  return p_.position >= r.lower && p_.position <= r.upper;
}

double Metka::GetXPos() const { return owner_->Chart()->xAxis->coordToPixel(p_.position); }
int Metka::GetLeft() const { return static_cast<int>(std::lround(GetXPos())); }
double Metka::ConvertPosToFreq(double pixelX) const { return owner_->Chart()->xAxis->pixelToCoord(pixelX); }

void Metka::SetOnFreq(double x) {
  if (!std::isfinite(x)) return;
  SetAction(EMarkAction::Free);
  p_.position = x;
  UpdateList();
  Repaint();
}

void Metka::Move(double x, double /*y*/, bool redraw) {
  SetAction(EMarkAction::Free);
  p_.position = ConvertPosToFreq(x);
  UpdateList();
  if (redraw) Repaint();
}

void Metka::SetAction(EMarkAction action) {
  p_.action = action;
  if (action == EMarkAction::Free) p_.deltaMeasure = false;
}

bool Metka::PointBelongToMark(double x, double y) const {
  const TMarkItemLayout l = Layout();
  return l.drawn && l.indicator.contains(QPointF(x, y));
}

void Metka::BringToFront() {
  // Setting the layer again puts the item last on it: drawn last, on top.
  if (item_) item_->setLayer(owner_->Layer());
}

// ---- link markers ----

void Metka::Connect(LinkMarker* connector, int side) {
  Disconnect(connector);
  connectors_.emplace_back(connector, side);
}

void Metka::Disconnect(int side) {
  connectors_.erase(std::remove_if(connectors_.begin(), connectors_.end(),
                                   [side](const auto& c) { return c.second == side; }),
                    connectors_.end());
}

void Metka::Disconnect(LinkMarker* connector) {
  connectors_.erase(std::remove_if(connectors_.begin(), connectors_.end(),
                                   [connector](const auto& c) { return c.first == connector; }),
                    connectors_.end());
}

void Metka::UpdateConnectors() {
  for (const auto& c : connectors_) c.first->Update(false);
}

void Metka::RepaintConnectors() {
  UpdateConnectors();
  owner_->ReplotMarkers();
}

// ---- auto search ----

void Metka::AutoSearchStart() {
  p_.extremeMode = true;
  AutoSearchUpdate();
}

void Metka::AutoSearchUpdate() {
  QCPGraph* trace = owner_->Series(p_.linkTrace);
  const TSeriesView v = owner_->SeriesView(p_.linkTrace);
  if (!trace || v.n < 4) {
    candidates_ = TCandidates();
    if (minima_) minima_->data()->clear();
    if (maxima_) maxima_->data()->clear();
    return;
  }
  candidates_ = AutoSearchCandidates(v);
  // The pointers stand on the link trace's axes, which change with the trace.
  if (minima_ && (minima_->keyAxis() != trace->keyAxis() || minima_->valueAxis() != trace->valueAxis()))
    RemovePointers();
  if (!minima_) minima_ = MakePointerSeries(trace, owner_->Layer(), QCPScatterStyle::ssTriangleInverted);
  if (!maxima_) maxima_ = MakePointerSeries(trace, owner_->Layer(), QCPScatterStyle::ssTriangle);
  UpdatePointers();
  auto fill = [&v](QCPGraph* g, const std::vector<size_t>& indices) {
    QVector<QCPGraphData> points;
    points.reserve(static_cast<int>(indices.size()));
    for (size_t k : indices) points.append(QCPGraphData(v.X(k), v.Y(k)));
    std::sort(points.begin(), points.end(), qcpLessThanSortKey<QCPGraphData>);
    g->data()->set(points, true);
  };
  fill(minima_, candidates_.minima);
  fill(maxima_, candidates_.maxima);
}

void Metka::AutoSearchFinish() {
  p_.extremeMode = false;
  const TSeriesView v = owner_->SeriesView(p_.linkTrace);
  if (v.n >= 4 && (!candidates_.minima.empty() || !candidates_.maxima.empty())) {
    // The candidate nearest the marker decides the search.
    double bestDistance = INFINITY;
    size_t best = 0;
    bool bestIsMaximum = false;
    for (bool maximum : {false, true})
      for (size_t k : maximum ? candidates_.maxima : candidates_.minima) {
        if (k >= v.n) continue;
        const double d = std::fabs(v.X(k) - p_.position);
        if (d < bestDistance) {
          bestDistance = d;
          best = k;
          bestIsMaximum = maximum;
        }
      }
    if (std::isfinite(bestDistance)) {
      const double x = v.X(best);
      const QCPRange r = owner_->Chart()->xAxis->range();
      double left = r.lower, right = r.upper;
      double leftDistance = INFINITY, rightDistance = INFINITY;
      for (size_t k : bestIsMaximum ? candidates_.minima : candidates_.maxima) {
        if (k >= v.n) continue;
        const double ck = v.X(k);
        if (ck < x && x - ck < leftDistance) {
          leftDistance = x - ck;
          left = ck;
        } else if (ck > x && ck - x < rightDistance) {
          rightDistance = ck - x;
          right = ck;
        }
      }
      p_.action = bestIsMaximum ? EMarkAction::Maximum : EMarkAction::Minimum;
      p_.limitMin = left;
      p_.limitMax = right;
      p_.position = x;
    }
  }
  AutoSearchAbort();
  Update();
}

void Metka::AutoSearchAbort() {
  candidates_ = TCandidates();
  RemovePointers();
}

void Metka::RemovePointers() {
  QCustomPlot* plot = owner_->Chart();
  for (QPointer<QCPGraph>* g : {&minima_, &maxima_}) {
    if (*g && plot) plot->removeGraph(g->data());
    *g = nullptr;
  }
}

// ---- the argument editor ----

namespace {
class TEditFilter : public QObject {
 public:
  explicit TEditFilter(Metka* mark) : QObject(nullptr), mark_(mark) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      if (!EditorAccepts(key)) return true;  // swallowed
      return mark_->EditKeyPress(key);
    }
    if (event->type() == QEvent::FocusOut) mark_->EditExit();
    return false;
  }

 private:
  Metka* mark_;
};
}  // namespace

void Metka::ActivateEdit() {
  const TMarkItemLayout l = Layout();
  if (!l.placed) return;
  QCustomPlot* plot = owner_->Chart();
  if (!editor_) {
    editor_ = new QLineEdit(plot);
    editor_->setObjectName(QStringLiteral("MarkEdit%1").arg(index_));
    editor_->setFrame(true);
    editor_->setContextMenuPolicy(Qt::NoContextMenu);
    auto* filter = new TEditFilter(this);
    filter->setParent(editor_);
    editor_->installEventFilter(filter);
  }
  editor_->setFont(MarkerFont(plot));
  editor_->setText(QString::fromStdString(FormatFixed(p_.position, p_.argumentDigits)));
  editor_->setGeometry(l.argumentRow.toAlignedRect().adjusted(0, -2, 0, 2));
  SetEditNormal();
  editorRangeLower_ = plot->xAxis->range().lower;
  editorRangeUpper_ = plot->xAxis->range().upper;
  editor_->show();
  editor_->setFocus();
  editor_->selectAll();
}

void Metka::DeactivateEdit() {
  if (!editor_ || !editor_->isVisible()) return;
  editor_->hide();
  if (QCustomPlot* plot = owner_->Chart()) plot->setFocus();
}

bool Metka::DispatchEditText() {
  if (!editor_) return false;
  QString text = editor_->text().trimmed();
  text.replace(QLatin1Char(','), QLatin1Char('.'));
  bool ok = false;
  const double x = text.toDouble(&ok);
  if (!ok || !std::isfinite(x)) {
    SetEditError();
    return false;
  }
  DeactivateEdit();
  SetOnFreq(x);
  return true;
}

void Metka::SetEditError() {
  if (editor_) editor_->setStyleSheet(QStringLiteral("QLineEdit { background: #ffc0c0; color: #800000; }"));
}

void Metka::SetEditNormal() {
  if (editor_) editor_->setStyleSheet(QString());
}

bool Metka::EditKeyPress(QKeyEvent* event) {
  if (!EditorAccepts(event)) return true;
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      DispatchEditText();
      return true;
    case Qt::Key_Escape:
      DeactivateEdit();
      return true;
    default:
      SetEditNormal();
      return false;  // the editor types it
  }
}

void Metka::EditExit() {
  if (editor_ && editor_->isVisible()) editor_->hide();
}

// ---- menu and keys ----

QMenu* Metka::CreateMenu(QWidget* parent, int seriesUnderMouse) {
  auto* menu = new QMenu(parent);
  menu->setObjectName(QStringLiteral("MarkMenu%1").arg(index_));
  auto add = [&](const QString& caption, const char* name, auto fn) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    QObject::connect(a, &QAction::triggered, menu, fn);
    return a;
  };
  add(QStringLiteral("Свойства..."), "MenuProperties", [this] { ShowProperties(); });
  QAction* active = add(QStringLiteral("Активный"), "MenuActive", [this] {
    if (p_.enabled) Deactivate();
    else Activate();
  });
  active->setCheckable(true);
  active->setChecked(p_.enabled);
  if (seriesUnderMouse > 0 && seriesUnderMouse <= owner_->SeriesCount()) {
    const QString caption = QStringLiteral("Не отображать трассу \"%1\"")
                                .arg(QString::fromStdString(GetSeriesTitle(seriesUnderMouse)));
    add(caption, "MenuHideTrace", [this, seriesUnderMouse] {
      p_.shownSeries[static_cast<size_t>(seriesUnderMouse - 1)] = false;
      UpdateList();
      Repaint();
    });
  } else {
    add(QStringLiteral("Не отображать трассу"), "MenuHideTrace", [] {})->setEnabled(false);
  }
  QMenu* traces = menu->addMenu(QStringLiteral("Отображаемые трассы"));
  traces->setObjectName(QStringLiteral("MenuShownTraces"));
  const int count = std::min(owner_->SeriesCount(), kMaxSeries);
  for (int n = 1; n <= count; ++n) {
    QAction* a = traces->addAction(QString::fromStdString(GetSeriesTitle(n)));
    a->setObjectName(QStringLiteral("MenuTrace%1").arg(n));
    a->setCheckable(true);
    a->setChecked(p_.shownSeries[static_cast<size_t>(n - 1)]);
    QObject::connect(a, &QAction::triggered, menu, [this, n](bool on) {
      p_.shownSeries[static_cast<size_t>(n - 1)] = on;
      UpdateList();
      Repaint();
    });
  }
  traces->addSeparator();
  QAction* all = traces->addAction(QStringLiteral("Отобразить все трассы"));
  all->setObjectName(QStringLiteral("MenuShowAllTraces"));
  QObject::connect(all, &QAction::triggered, menu, [this] {
    p_.shownSeries.fill(true);
    UpdateList();
    Repaint();
  });
  QAction* extreme = add(QStringLiteral("Автопоиск"), "MenuAutoSearch", [this] {
    KeyPress(Qt::Key_A, Qt::NoModifier);
  });
  extreme->setCheckable(true);
  extreme->setChecked(p_.extremeMode);
  QAction* tracking = add(QStringLiteral("Слежение"), "MenuTracking", [this] {
    KeyPress(Qt::Key_T, Qt::NoModifier);
  });
  tracking->setCheckable(true);
  tracking->setChecked(p_.tracking);
  menu->addSeparator();
  auto* modes = new QActionGroup(menu);
  const struct {
    const char* caption;
    const char* name;
    EMarkAction action;
  } kModes[] = {{"Свободное положение", "MenuFree", EMarkAction::Free},
                {"Минимальное значение", "MenuMinimum", EMarkAction::Minimum},
                {"Максимальное значение", "MenuMaximum", EMarkAction::Maximum},
                {"Фиксированное значение", "MenuFixed", EMarkAction::Fixed}};
  for (const auto& m : kModes) {
    const EMarkAction action = m.action;
    QAction* a = add(QString::fromUtf8(m.caption), m.name, [this, action] {
      SetAction(action);
      // A search needs a trace: the first series when none is linked yet.
      if (action != EMarkAction::Free && p_.linkTrace == 0 && owner_->SeriesCount() > 0) p_.linkTrace = 1;
      Update();
      Repaint();
    });
    a->setCheckable(true);
    a->setChecked(p_.action == action);
    modes->addAction(a);
  }
  menu->addSeparator();
  add(QStringLiteral("Сбросить все маркеры"), "MenuResetAll", [this] {
    for (int i = 0; i < kMarkerCount; ++i) owner_->Mark(i)->Reset();
    owner_->ReplotMarkers();
  });
  return menu;
}

namespace {
// The letter keys by their place on the keyboard: Latin, or the Russian
// letter on the same key (Qt gives its capital's code).
int LetterKey(int key) {
  switch (key) {
    case 0x0424: return Qt::Key_A;  // Ф
    case 0x0415: return Qt::Key_T;  // Е
    case 0x041C: return Qt::Key_V;  // М
    default: return key;
  }
}
}  // namespace

bool Metka::TakesKey(int key, Qt::KeyboardModifiers modifiers) {
  if (modifiers & Qt::ControlModifier) return key >= Qt::Key_1 && key <= Qt::Key_9;
  switch (LetterKey(key)) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_A:
    case Qt::Key_T:
    case Qt::Key_V:
      return true;
    default:
      return false;
  }
}

bool Metka::KeyPress(int key, Qt::KeyboardModifiers modifiers) {
  if (!TakesKey(key, modifiers)) return false;
  if (modifiers & Qt::ControlModifier) {
    const int series = key - Qt::Key_0;
    if (series > owner_->SeriesCount()) return true;
    p_.linkTrace = series;
  } else {
    switch (LetterKey(key)) {
      case Qt::Key_Left:
      case Qt::Key_Right:
        if (!p_.enabled) return false;
        p_.position = key == Qt::Key_Left ? p_.limitMin : p_.limitMax;
        break;
      case Qt::Key_A:
        if (p_.extremeMode)
          AutoSearchFinish();
        else
          AutoSearchStart();
        break;
      case Qt::Key_T:
        p_.tracking = !p_.tracking;
        break;
      case Qt::Key_V:
        if (p_.enabled) Deactivate();
        else Activate();
        return true;
      default:
        return false;
    }
  }
  Update();
  Repaint();
  return true;
}

int Metka::ShowProperties() {
  QCustomPlot* plot = owner_->Chart();
  TMarkProperties dialog(plot ? plot->window() : nullptr, p_, owner_->SeriesInfos());
  const std::shared_ptr<bool> alive = owner_->AliveToken();
  const int answer = ExecModalDialog(&dialog);
  // The markers may have gone while the dialog was open (new series).
  if (!*alive) return QDialog::Rejected;
  if (answer == QDialog::Accepted) {
    SetParams(dialog.Params());
    Repaint();
  }
  return answer;
}

KORCHART_VARIANT_END
}  // namespace korchart
