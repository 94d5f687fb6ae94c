#include "ChartPanel.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QMenu>
#include <QPainter>
#include <QResizeEvent>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cmath>
#include <string>

#include "Diagnostics.h"
#include "GuiPlugin.h"
#include "PluginClass.h"
#include "VKPaths.h"
#include "chart/KorChart.h"
#include "chart/MarkersManager.h"
#include "limits/LimitDialog.h"
#include "markers/MarkerTemplateDialog.h"
#include "platform/Report.h"
#include "report/CsvExport.h"
#include "report/DisplayQuery.h"
#include "report/ReportManager.h"

namespace {

const char* const kInputs[] = {"F", "A", "B", "R"};
const char* const kCurveTitles[] = {"Левый", "Правый", "Вспомогательный"};
const QColor kCurveColors[] = {QColor(0xC0, 0x00, 0x00), QColor(0x00, 0x00, 0xC0), QColor(0x00, 0x80, 0x00)};
// The nine memory colours: distinct from the curves and from each other.
const QColor kMemoryColors[] = {QColor(0xFF, 0x80, 0x00), QColor(0x80, 0x00, 0x80), QColor(0x00, 0x80, 0x80),
                                QColor(0x80, 0x40, 0x00), QColor(0xFF, 0x00, 0xFF), QColor(0x80, 0x80, 0x00),
                                QColor(0x00, 0x00, 0x80), QColor(0x60, 0x60, 0x60), QColor(0x00, 0xC0, 0x60)};
constexpr int kButtonSize = 22;
constexpr int kMemoryGap = 20;
constexpr int kHelpContext = 1106;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The unit of an axis title written "Quantity, unit" ("" without a comma):
// what the markers' labels show after their numbers.
QString UnitOf(const std::string& title) {
  const QString t = Q(title);
  const int comma = t.lastIndexOf(QLatin1Char(','));
  return comma < 0 ? QString() : t.mid(comma + 1).trimmed();
}

// The quantity of an axis title written "Quantity, unit".
QString QuantityOf(const std::string& title) {
  const QString t = Q(title);
  const int comma = t.lastIndexOf(QLatin1Char(','));
  return (comma < 0 ? t : t.left(comma)).trimmed();
}

const char* const kVerdictOutput = "verdict";

}  // namespace

TChartPanel::TChartPanel() : TFramePlugin(kDataReadyEvent) {}

TChartPanel::~TChartPanel() {
  if (Initialized) Finalize();
}

int TChartPanel::Register() {
  for (const char* name : kInputs)
    RegisterInLinkPoint(name, {MetaClassOf<CDoubleVector>(), MetaClassOf<CDoubleVectorPart>()}, lptDefault);
  RegisterOutLinkPoint(kVerdictOutput, {MetaClassOf<CStringPacket>()}, lptDefault);
  RegisterInLinkPoint(korchart::kReportInput, {MetaClassOf<CStringPacket>()}, lptDefault);
  return 0;
}

// ---- set-up ----

int TChartPanel::Initialize(QWidget* parent, xmlNode* node) {
  for (size_t i = 0; i < inputs_.size(); ++i) inputs_[i] = GetInLinkPoint(AnsiString(kInputs[i]));
  verdictOut_ = GetOutLinkPoint(AnsiString(kVerdictOutput));
  sweepSent_ = 0;
  VK_PASSERT_TEXT(parent, Name().c_str(), "AParent!=NULL");
  panel_ = parent ? FindWinControl(parent, "MainPanel") : nullptr;
  VK_PASSERT_TEXT(panel_, Name().c_str(), "Panel!=NULL");
  if (!panel_) return VKT_ERROR;
  settings_ = chartpanel::ReadChartSettings(node, Name());
  korchart::TakeReportRequests(GetInLinkPoint(AnsiString(korchart::kReportInput)), panel_, this);

  auto* chart = new korchart::TKorChart(panel_);
  chart_ = chart;
  chart->hide();
  chart->setObjectName(Q(Name()));
  chart->setProperty("helpContext", kHelpContext);
  WatchWindows(panel_, chart);

  // Axes: the titles in the colours of the curves they carry.
  chart->yAxis->setLabel(Q(settings_.leftTitle));
  chart->yAxis2->setLabel(Q(settings_.rightTitle));
  chart->xAxis->setLabel(Q(settings_.bottomTitle));
  chart->xAxis->setProperty("units", UnitOf(settings_.bottomTitle));
  chart->yAxis->setLabelColor(kCurveColors[0]);
  chart->yAxis2->setLabelColor(kCurveColors[1]);
  chart->yAxis2->setVisible(true);
  chart->yAxis2->setTickLabels(true);
  chart->SetMinMaxLeft(settings_.leftMin, settings_.leftMax);
  chart->SetMinMaxRight(settings_.rightMin, settings_.rightMax);
  chart->SetMinMaxBottom(10, 20000);
  chart->legend->setVisible(false);
  // Room under the bottom axis for the tool and memory buttons.
  chart->plotLayout()->setMargins(QMargins(0, 0, 0, kButtonSize + 2));
  if (!settings_.caption.empty()) {
    chart->plotLayout()->insertRow(0);
    chart->plotLayout()->addElement(0, 0, new QCPTextElement(chart, Q(settings_.caption)));
  }

  // The curves, each shown only when its input is wired; the memory series.
  for (int k = 0; k < kCurveCount; ++k) {
    QCPGraph* g = chart->addGraph(chart->xAxis, k == 1 ? chart->yAxis2 : chart->yAxis);
    g->setName(QString::fromUtf8(kCurveTitles[k]));
    g->setPen(QPen(kCurveColors[k], 1));
    g->setProperty("units", UnitOf(k == 1 ? settings_.rightTitle : settings_.leftTitle));
    // Tables (CSV, the remote trace data) name the two main curves after
    // the quantity of their axis ("Передача"), formulas by their names.
    if (k < 2) g->setProperty("title", QuantityOf(k == 1 ? settings_.rightTitle : settings_.leftTitle));
    series_[static_cast<size_t>(k)] = g;
  }
  for (int m = 0; m < kMemoryCount; ++m) {
    QCPGraph* g = chart->addGraph(chart->xAxis, chart->yAxis);
    g->setName(QStringLiteral("Память%1").arg(m + 1));
    g->setPen(QPen(kMemoryColors[m], 1, Qt::DashLine));
    g->setVisible(false);
    series_[static_cast<size_t>(kCurveCount + m)] = g;
  }

  // Limit lines over the curves and memories; the verdict labels at the
  // top right, the chart's first, then the wired curves' in turn.
  chartLabel_ = std::make_unique<korchart::TVerdictLabel>(chart, chart->axisRect(), 0);
  chartLabel_->Item()->setObjectName(QStringLiteral("ChartVerdict"));
  int labels = 1;
  for (int k = 0; k < kCurveCount; ++k) {
    QCPGraph* g = series_[static_cast<size_t>(k)];
    const bool wired = inputs_[static_cast<size_t>(k + 1)]->SubscriptionsCount() > 0;
    auto drawing = std::make_unique<korchart::TLimitDrawing>(chart, g->keyAxis(), g->valueAxis(), kCurveColors[k],
                                                             Q(CurveName(k)), wired ? labels++ : kCurveCount + 1);
    drawing->Label().Item()->setObjectName(QStringLiteral("CurveVerdict%1").arg(k));
    limitDrawings_[static_cast<size_t>(k)] = std::move(drawing);
  }
  limits_ = settings_.limits;
  for (int k = 0; k < kCurveCount; ++k) limitDrawings_[static_cast<size_t>(k)]->SetLimits(limits_[static_cast<size_t>(k)]);

  // The chart's menu: a curve's limit lines.
  QMenu* limitsMenu = chart->ChartMenu()->addMenu(QStringLiteral("Границы допуска"));
  limitsMenu->setObjectName(QStringLiteral("LimitsMenu"));
  for (int k = 0; k < kCurveCount; ++k) {
    QAction* a = limitsMenu->addAction(Q(CurveName(k)) + QStringLiteral("..."));
    a->setObjectName(QStringLiteral("ActionLimits%1").arg(k));
    QObject::connect(a, &QAction::triggered, chart, [this, k] { EditCurveLimits(k); });
  }
  QObject::connect(limitsMenu, &QMenu::aboutToShow, chart, [this, limitsMenu] {
    for (int k = 0; k < kCurveCount; ++k)
      limitsMenu->findChild<QAction*>(QStringLiteral("ActionLimits%1").arg(k))
          ->setVisible(series_[static_cast<size_t>(k)]->visible());
  });

  // The tool buttons and the memory buttons, on the chart's bottom left.
  const struct {
    const char* name;
    const char* icon;
    const char* hint;
    void (TChartPanel::*action)();
  } kTools[] = {{"ButtonLoadMarkers", ":/korchart/load_markers.svg", "Открыть шаблон маркеров", &TChartPanel::LoadMarkers},
                {"ButtonSaveMarkers", ":/korchart/save_markers.svg", "Сохранить шаблон маркеров", &TChartPanel::SaveMarkers},
                {"ButtonReport", ":/korchart/report.svg", "Менеджер отчётов", &TChartPanel::ShowReport},
                {"ButtonCsv", ":/korchart/csv.svg", "Сохранить как CSV...", &TChartPanel::SaveCsv}};
  for (size_t i = 0; i < tools_.size(); ++i) {
    auto* b = new QToolButton(chart);
    b->setObjectName(QString::fromLatin1(kTools[i].name));
    b->setToolTip(QString::fromUtf8(kTools[i].hint));
    b->setIcon(vkgui::SvgIcon(QString::fromLatin1(kTools[i].icon), 16));
    b->setAutoRaise(true);
    b->setFixedSize(kButtonSize, kButtonSize);
    const auto action = kTools[i].action;
    QObject::connect(b, &QToolButton::clicked, chart, [this, action] { (this->*action)(); });
    tools_[i] = b;
  }
  for (int m = 0; m < kMemoryCount; ++m) {
    auto* b = new QToolButton(chart);
    b->setObjectName(QStringLiteral("MemoButton%1").arg(m + 1));
    b->setToolTip(QStringLiteral("Память %1: запомнить кривую (правая кнопка — выбор кривой)").arg(m + 1));
    b->setFixedSize(kButtonSize, kButtonSize);
    b->setIconSize(QSize(kButtonSize - 4, kButtonSize - 4));
    b->setContextMenuPolicy(Qt::CustomContextMenu);
    b->setVisible(m == 0);
    QObject::connect(b, &QToolButton::clicked, chart, [this, m] { MemoButtonClick(m); });
    QObject::connect(b, &QToolButton::customContextMenuRequested, chart,
                     [this, m] { MemoButtonMouseDown(m, Qt::RightButton); });
    memoButtons_[static_cast<size_t>(m)] = b;
  }

  // The memory buttons' menu: show or hide, then the curve to remember.
  pumMemory_ = new QMenu(chart);
  pumMemory_->setObjectName(QStringLiteral("pumMemory"));
  QAction* show = pumMemory_->addAction(QStringLiteral("Отобразить"));
  show->setObjectName(QStringLiteral("ShowMemoMenuItem"));
  show->setCheckable(true);
  QObject::connect(show, &QAction::triggered, chart, [this] { MemoryPopUpHideMemoLine(); });
  pumMemory_->addSeparator();
  auto* sources = new QActionGroup(pumMemory_);
  for (int k = 0; k < kCurveCount; ++k) {
    QAction* a = pumMemory_->addAction(QString::fromUtf8(kCurveTitles[k]));
    a->setObjectName(QStringLiteral("MemoSource%1").arg(k));
    a->setCheckable(true);
    sources->addAction(a);
    QObject::connect(a, &QAction::triggered, chart, [this, k] { MemoryPopUpSelectLineToMemo(k); });
  }
  QObject::connect(pumMemory_, &QMenu::aboutToShow, chart, [this] { pumMemoryPopup(); });

  // Markers over the titled series, and the formula library.
  korchart::TMarkersManager* markers = chart->Markers();
  markers->SetEnabled(true);
  const std::string presets = GetVKDir(dirConfig) + "/RelationPreset.xml";
  if (markers->SetLinkMarkPresetFileName(presets) != 0)
    vkplatform::MessageBox("Невозможно открыть файл предустановок связных маркеров ", "Ошибка",
                           vkplatform::MsgIcon::Warning);
  for (int k = 0; k < kCurveCount; ++k) SetSeriesState(k, inputs_[static_cast<size_t>(k + 1)]->SubscriptionsCount() > 0);
  for (int m = 0; m < kMemoryCount; ++m) SetSeriesState(kCurveCount + m, false);
  if (!settings_.markers.empty() && markers->LoadFromFile(settings_.markers) != 0)
    vkplatform::MessageBox("Ошибка при открытии файла", "Ошибка", vkplatform::MsgIcon::Error);

  UpdateMemoryButtons();
  ParentResize();
  chart->show();
  StartFrames(chart, {inputs_.begin(), inputs_.end()});
  return 0;
}

int TChartPanel::Finalize() {
  // The thread never waits for the window, so it stops at once, even while
  // the window is busy elsewhere.
  StopFrames();
  UnwatchWindows();
  korchart::ForgetReportRequests(GetInLinkPoint(AnsiString(korchart::kReportInput)));
  // The limits' items go before the chart they are on.
  for (auto& d : limitDrawings_) d.reset();
  chartLabel_.reset();
  for (int k = 0; k < kCurveCount; ++k) {
    sweepX_[static_cast<size_t>(k)].clear();
    sweepY_[static_cast<size_t>(k)].clear();
  }
  verdicts_.fill(korchart::TLimitVerdict());
  if (chart_) {
    // A data-ready event still on its way dies with the chart.
    delete chart_.data();
  }
  series_.fill(nullptr);
  tools_.fill(nullptr);
  memoButtons_.fill(nullptr);
  pumMemory_ = nullptr;
  return 0;
}

// ---- the plug-in's thread ----

bool TChartPanel::AllWiredReady() const {
  bool anyWired = false;
  for (CInLinkPoint* in : inputs_) {
    if (in->SubscriptionsCount() == 0) continue;
    anyWired = true;
    if (!in->GetPacketReady()) return false;
  }
  return anyWired;
}

// ---- the window ----

void TChartPanel::ParentResize() {
  if (!panel_ || !chart_) return;
  const QSize area = panel_->contentsRect().size();
  const int w = area.width(), h = area.height();
  chart_->setGeometry(static_cast<int>(w * settings_.left * 0.01), static_cast<int>(h * settings_.top * 0.01),
                      static_cast<int>(w * settings_.width * 0.01), static_cast<int>(h * settings_.height * 0.01));
  int x = 2;
  const int y = chart_->height() - kButtonSize - 2;
  for (QToolButton* b : tools_) {
    b->move(x, y);
    x += kButtonSize;
  }
  x += kMemoryGap;
  for (QToolButton* b : memoButtons_) {
    b->move(x, y);
    x += kButtonSize;
  }
}

void TChartPanel::Draw() {
  // The markers and link markers are placed on the data just before the
  // frame is drawn: the sweeps taken until now are the ones they read.
  const unsigned long long taken = sweepsTaken_;
  chart_->replot();
  sweepsMarked_ = taken;
  ++framesDrawn_;
  if (taken != sweepSent_) {
    // The verdict of the sweep the markers now read, with their readings.
    sweepSent_ = taken;
    const korchart::TDisplayOutcome outcome = CurrentOutcome();
    if (chartLabel_ && outcome.verdict.judged) chartLabel_->Show(outcome.verdict);
    if (verdictOut_ && verdictOut_->Dispatcher()) {
      auto* packet = new CStringPacket(korchart::OutcomeToXml(outcome).c_str());
      // A full queue keeps the verdicts it holds; the next sweep brings a newer one.
      if (verdictOut_->AddPacket(packet) != VKT_OK) delete packet;
    }
  }
  // What has been taken and drawn, for automation and measurements.
  chart_->setProperty("sweepsTaken", static_cast<qulonglong>(sweepsTaken_));
  chart_->setProperty("framesDrawn", static_cast<qulonglong>(framesDrawn_));
}

#define FRAME_CHECK(cond, text) VK_FRAME_CHECK(check, cond, text)

bool TChartPanel::TakeFrame() {
  TFrameChecks check(Name(), lastFailure_);
  std::array<CBasePacket*, 4> packets{};
  for (size_t i = 0; i < inputs_.size(); ++i)
    if (inputs_[i]->SubscriptionsCount() > 0) packets[i] = inputs_[i]->GetPacketRef();
  auto release = [&] {
    for (size_t i = 0; i < inputs_.size(); ++i)
      if (packets[i]) inputs_[i]->ReleasePacket();
  };
  for (size_t i = 0; i < inputs_.size(); ++i)
    if (!FRAME_CHECK(inputs_[i]->SubscriptionsCount() == 0 || packets[i],
                     "(in[i]->subscribtions.empty() || AB[i]!=NULL)")) {
      release();
      return false;
    }
  auto* f = dynamic_cast<CDoubleVector*>(packets[0]);
  std::array<CDoubleVector*, kCurveCount> curves{};
  for (int k = 0; k < kCurveCount; ++k) curves[static_cast<size_t>(k)] = dynamic_cast<CDoubleVector*>(packets[static_cast<size_t>(k + 1)]);
  const unsigned n = f ? f->Size() : 0;
  bool sound = FRAME_CHECK(n, "nSize");
  for (CDoubleVector* c : curves) sound = sound && FRAME_CHECK(!c || n == c->Size(), "AB[i]==NULL || nSize==AB[i]->Size()");
  unsigned full = n, offset = 0;
  if (sound) {
    if (auto* part = dynamic_cast<CDoubleVectorPart*>(f)) {
      full = part->FullSize();
      offset = part->Offset();
      for (CDoubleVector* c : curves) {
        auto* p = dynamic_cast<CDoubleVectorPart*>(c);
        if (!p) continue;
        sound = sound && FRAME_CHECK(full == p->FullSize(), "nArraySize==VP[i]->FullSize()") &&
                FRAME_CHECK(offset == p->Offset(), "nOffset==VP[i]->Offset()");
      }
    }
  }
  // The curve that the filling is measured on: the first one that comes.
  QCPGraph* reference = nullptr;
  for (int k = 0; k < kCurveCount && !reference; ++k)
    if (curves[static_cast<size_t>(k)]) reference = series_[static_cast<size_t>(k)];
  if (!sound || !reference) {
    release();
    return false;
  }

  // A new array size, or other arguments where the points already are: the
  // curves start again.
  auto count = [](QCPGraph* g) { return static_cast<unsigned>(g->data()->size()); };
  bool restart = full != fullSize_;
  if (!restart && count(reference) >= offset + n) {
    const auto at = reference->data()->constBegin();
    restart = (at + offset)->key != (*f)[0] || (at + offset + n - 1)->key != (*f)[n - 1];
  }
  if (restart) {
    for (int k = 0; k < kCurveCount; ++k) {
      QCPGraph* g = series_[static_cast<size_t>(k)];
      if (offset == 0) {
        g->data()->clear();
      } else if (count(g) > offset) {
        QVector<QCPGraphData> kept(g->data()->constBegin(), g->data()->constBegin() + offset);
        g->data()->set(kept, true);
      }
    }
    fullSize_ = full;
  }
  if (!FRAME_CHECK(offset <= count(reference), "nOffset<=chart->Series[0]->Count()")) {
    release();
    return false;
  }
  const bool append = count(reference) == offset;
  for (int k = 0; k < kCurveCount; ++k) {
    const CDoubleVector* c = curves[static_cast<size_t>(k)];
    if (!c) continue;
    QCPGraph* g = series_[static_cast<size_t>(k)];
    if (append && count(g) == offset) {
      QVector<QCPGraphData> points(static_cast<int>(n));
      for (unsigned i = 0; i < n; ++i) points[static_cast<int>(i)] = QCPGraphData((*f)[i], (*c)[i]);
      g->data()->add(points, true);
    } else {
      // The arguments stay; the values of the part's points are replaced
      // (points this curve has not got yet are added).
      const unsigned have = count(g);
      auto it = g->data()->begin();
      QVector<QCPGraphData> extra;
      for (unsigned i = 0; i < n; ++i) {
        if (offset + i < have)
          (it + offset + i)->value = (*c)[i];
        else
          extra.append(QCPGraphData((*f)[i], (*c)[i]));
      }
      if (!extra.isEmpty()) g->data()->add(extra, true);
    }
  }
  release();
  lastFailure_.clear();
  if (offset == 0) sweepWhole_ = true;
  else if (restart || offset != sweepNext_) sweepWhole_ = false;
  sweepNext_ = offset + n;
  if (sweepWhole_ && offset + n == full) {
    ++sweepsTaken_;
    sweepWhole_ = false;
    TakeWholeSweep();
  }

  // While the array fills, the bottom axis spans the whole of it.
  const unsigned points = count(reference);
  if ((restart && n > 1) || points == 2) {
    const double x0 = reference->data()->constBegin()->key;
    const double xlast = (reference->data()->constEnd() - 1)->key;
    if (points > 1) {
      const double end = x0 + (xlast - x0) * (static_cast<double>(full) - 1) / (points - 1);
      if (std::isfinite(end) && end > x0) chart_->SetMinMaxBottom(x0, end);
    }
  }
  return true;
}

// ---- series and memories ----

QCPGraph* TChartPanel::Series(int index) const {
  return index >= 0 && index < kCurveCount + kMemoryCount ? series_[static_cast<size_t>(index)] : nullptr;
}

void TChartPanel::SetSeriesState(int series, bool active) {
  QCPGraph* g = Series(series);
  if (!g) return;
  g->setVisible(active);
  if (chart_) chart_->Markers()->SetLabelState(series + 1, active);
  if (series < kCurveCount && limitDrawings_[static_cast<size_t>(series)])
    limitDrawings_[static_cast<size_t>(series)]->SetVisible(active);
}

void TChartPanel::MemoSeries(int memory, int source) {
  QCPGraph* m = Series(kCurveCount + memory);
  QCPGraph* s = Series(source);
  if (!m || !s) return;
  m->data()->set(*s->data());
  m->setValueAxis(s->valueAxis());
  m->setProperty("units", s->property("units"));
  SetSeriesState(kCurveCount + memory, true);
}

void TChartPanel::MemoButtonClick(int slot) {
  if (slot < 0 || slot >= kMemoryCount || !chart_) return;
  MemoSeries(slot, memoSource_[static_cast<size_t>(slot)]);
  if (slot + 1 < kMemoryCount) memoButtons_[static_cast<size_t>(slot + 1)]->setVisible(true);
  UpdateMemoryButton(slot);
  chart_->replot();
}

void TChartPanel::MemoButtonMouseDown(int slot, Qt::MouseButton button) {
  if (button != Qt::RightButton || slot < 0 || slot >= kMemoryCount || !pumMemory_) return;
  menuSlot_ = slot;
  QToolButton* b = memoButtons_[static_cast<size_t>(slot)];
  pumMemory_->popup(b->mapToGlobal(QPoint(0, b->height())));
}

void TChartPanel::pumMemoryPopup() {
  const size_t slot = static_cast<size_t>(menuSlot_);
  pumMemory_->findChild<QAction*>(QStringLiteral("ShowMemoMenuItem"))
      ->setChecked(Series(kCurveCount + menuSlot_)->visible());
  pumMemory_->findChild<QAction*>(QStringLiteral("MemoSource%1").arg(memoSource_[slot]))->setChecked(true);
}

void TChartPanel::MemoryPopUpSelectLineToMemo(int source) {
  if (source < 0 || source >= kCurveCount) return;
  memoSource_[static_cast<size_t>(menuSlot_)] = source;
  UpdateMemoryButton(menuSlot_);
}

void TChartPanel::MemoryPopUpHideMemoLine() {
  const int series = kCurveCount + menuSlot_;
  SetSeriesState(series, !Series(series)->visible());
  chart_->replot();
}

void TChartPanel::UpdateMemoryButton(int slot) {
  QToolButton* b = MemoryButton(slot);
  if (!b) return;
  // The glyph: the memory's colour as its face and frame, the number of the
  // slot, and a corner in the colour of the curve it remembers.
  const QColor source = kCurveColors[memoSource_[static_cast<size_t>(slot)]];
  const QColor memory = kMemoryColors[slot];
  const int s = kButtonSize - 4;
  QPixmap glyph(s, s);
  glyph.fill(Qt::transparent);
  QPainter p(&glyph);
  p.setRenderHint(QPainter::Antialiasing);
  QColor face = memory;
  face.setAlpha(70);
  p.setPen(QPen(memory, 1.5));
  p.setBrush(face);
  p.drawRoundedRect(QRectF(1, 1, s - 2, s - 2), 2, 2);
  p.setPen(Qt::NoPen);
  p.setBrush(source);
  const QPointF corner[] = {QPointF(1, 1), QPointF(8, 1), QPointF(1, 8)};
  p.drawPolygon(corner, 3);
  QFont f = p.font();
  f.setPixelSize(11);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::black);
  p.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, QString::number(slot + 1));
  p.end();
  b->setIcon(QIcon(glyph));
}

void TChartPanel::UpdateMemoryButtons() {
  for (int m = 0; m < kMemoryCount; ++m) UpdateMemoryButton(m);
}

// ---- markers and report ----

void TChartPanel::LoadMarkers() {
  const std::string file = korchart::ChooseMarkerTemplate(chart_, false);
  if (file.empty() || !chart_) return;
  if (chart_->Markers()->LoadFromFile(file) != 0) korchart::SayMarkerTemplateFailed(false);
}

void TChartPanel::SaveMarkers() {
  const std::string file = korchart::ChooseMarkerTemplate(chart_, true);
  if (file.empty() || !chart_) return;
  if (chart_->Markers()->SaveToFile(file) != 0) korchart::SayMarkerTemplateFailed(true);
}

void TChartPanel::ShowReport() {
  if (!chart_) return;
  if (korchart::TfrmReportManager* report = chart_->Markers()->GetReport()) report->ShowModal();
}

std::string TChartPanel::ArgumentTitle() const {
  // The bottom axis's title without its unit.
  return QuantityOf(settings_.bottomTitle).toStdString();
}

void TChartPanel::SaveCsv() {
  if (!chart_) return;
  korchart::SaveCsvDialog(chart_, ArgumentTitle(), UnitOf(settings_.bottomTitle).toStdString(),
                          std::vector<QCPGraph*>(series_.begin(), series_.end()));
}

int TChartPanel::Query(const AnsiString& request, AnsiString& answer) {
  if (!chart_) return VKT_NOT_SUPPORTED;
  korchart::TDisplay d;
  d.marks = chart_->Markers()->GetMarksManager();
  d.report = [this] { return chart_->Markers()->GetReport(); };
  d.argumentTitle = ArgumentTitle();
  d.argumentUnits = UnitOf(settings_.bottomTitle).toStdString();
  d.traces.assign(series_.begin(), series_.end());
  d.sweeps = sweepsTaken_;
  d.sweepsMarked = sweepsMarked_;
  for (int k = 0; k < kCurveCount; ++k)
    d.limits.push_back({CurveName(k), [this, k] { return CurveLimits(k); },
                        [this, k](const korchart::TLimitLines& l) {
                          SetCurveLimits(k, l);
                          if (chart_) chart_->replot();
                        },
                        [this, k] { return CurveVerdict(k); }});
  d.verdict = [this] { return ChartVerdict(); };
  return korchart::AnswerDisplayQuery(request, d, answer);
}

// ---- limit lines ----

void TChartPanel::TakeWholeSweep() {
  for (int k = 0; k < kCurveCount; ++k) {
    const size_t i = static_cast<size_t>(k);
    std::vector<double>& x = sweepX_[i];
    std::vector<double>& y = sweepY_[i];
    x.clear();
    y.clear();
    if (inputs_[i + 1]->SubscriptionsCount() == 0) continue;
    const auto data = series_[i]->data();
    x.reserve(static_cast<size_t>(data->size()));
    y.reserve(static_cast<size_t>(data->size()));
    for (auto it = data->constBegin(); it != data->constEnd(); ++it) {
      x.push_back(it->key);
      y.push_back(it->value);
    }
    Judge(k);
  }
  ShowChartVerdict();
}

void TChartPanel::Judge(int curve) {
  const size_t i = static_cast<size_t>(curve);
  korchart::TLimitDrawing* drawing = limitDrawings_[i].get();
  const korchart::TLimitLines& limits = limits_[i];
  if (!limits.Active() || sweepX_[i].empty()) {
    verdicts_[i] = korchart::TLimitVerdict();
    if (drawing) drawing->ClearVerdict();
    return;
  }
  std::vector<uint8_t> mask;
  verdicts_[i] = korchart::JudgeTrace(sweepX_[i].data(), sweepY_[i].data(), sweepX_[i].size(), limits, &mask);
  if (drawing) drawing->Show(sweepX_[i].data(), sweepY_[i].data(), sweepX_[i].size(), mask, verdicts_[i]);
}

std::string TChartPanel::CurveName(int curve) const {
  // The two main curves by the quantity of their axis ("Передача"), as the
  // tables name them; otherwise by their place.
  const QCPGraph* g = series_[static_cast<size_t>(curve)];
  const QString title = g ? g->property("title").toString() : QString();
  return title.isEmpty() ? std::string(kCurveTitles[curve]) : title.toStdString();
}

korchart::TLimitVerdict TChartPanel::ChartVerdict() const { return CurrentOutcome().verdict; }

korchart::TDisplayOutcome TChartPanel::CurrentOutcome() const {
  korchart::TDisplayOutcome o;
  o.display = Name();
  o.sweep = sweepsMarked_;
  for (int k = 0; k < kCurveCount; ++k)
    if (limits_[static_cast<size_t>(k)].Active()) o.traces.push_back({CurveName(k), verdicts_[static_cast<size_t>(k)]});
  if (chart_ && chart_->Markers() && chart_->Markers()->GetMarksManager())
    o.readings = korchart::CollectReadings(*chart_->Markers()->GetMarksManager());
  korchart::FoldVerdict(o);
  return o;
}

void TChartPanel::ShowChartVerdict() {
  if (!chartLabel_) return;
  // Shown once a sweep has been taken whole while some wired curve's limits
  // are checked.
  bool checked = false;
  for (int k = 0; k < kCurveCount; ++k) {
    const size_t i = static_cast<size_t>(k);
    checked = checked || (limits_[i].Active() && !sweepX_[i].empty());
  }
  if (checked)
    chartLabel_->Show(ChartVerdict());
  else
    chartLabel_->Hide();
}

void TChartPanel::SetCurveLimits(int curve, const korchart::TLimitLines& limits) {
  if (curve < 0 || curve >= kCurveCount) return;
  const size_t i = static_cast<size_t>(curve);
  limits_[i] = limits;
  if (limitDrawings_[i]) limitDrawings_[i]->SetLimits(limits);
  Judge(curve);
  ShowChartVerdict();
}

bool TChartPanel::EditCurveLimits(int curve) {
  if (curve < 0 || curve >= kCurveCount || !chart_) return false;
  const QString unit = UnitOf(curve == 1 ? settings_.rightTitle : settings_.leftTitle);
  korchart::TLimitDialog dialog(chart_, limits_[static_cast<size_t>(curve)], Q(CurveName(curve)), unit);
  dialog.setProperty("helpContext", kHelpContext);
  const QCPRange bottom = chart_->xAxis->range();
  dialog.SetArgumentRange(bottom.lower, bottom.upper);
  if (ExecModalDialog(&dialog) != QDialog::Accepted) return false;
  SetCurveLimits(curve, dialog.Limits());
  if (chart_) chart_->replot();
  return true;
}

// ---- saved state ----

int TChartPanel::Serialize(xmlNode* element, const char* section) {
  if (!chart_) return VKT_ERROR;
  if (section && std::string(section) != "params") return 0;
  chartpanel::WriteCurveLimits(element, limits_);
  return 0;
}

int TChartPanel::Deserialize(xmlNode* element, const char* section) {
  if (!chart_) return VKT_ERROR;
  if (section && std::string(section) != "params") return 0;
  // A state without limits (saved by an older version) keeps the scheme's.
  chartpanel::TCurveLimits read = limits_;
  std::array<bool, kCurveCount> found{};
  chartpanel::ReadCurveLimits(element, read, found);
  for (int k = 0; k < kCurveCount; ++k)
    if (found[static_cast<size_t>(k)]) SetCurveLimits(k, read[static_cast<size_t>(k)]);
  chart_->replot();
  return 0;
}

VK_DECLARE_PLUGIN_PACKAGE(TChartPanel)
