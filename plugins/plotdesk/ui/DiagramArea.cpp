#include "ui/DiagramArea.h"

#include <QAction>
#include <QColorDialog>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QWidgetAction>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

#include "GuiPlugin.h"
#include "limits/LimitDialog.h"
#include "limits/LimitDrawing.h"
#include "markers/MarkerTemplateDialog.h"
#include "markers/MarksManager.h"
#include "model/TraceMath.h"
#include "platform/Report.h"
#include "report/CsvExport.h"
#include "report/ReportManager.h"

namespace plotdesk {

namespace {

constexpr int kHelpContext = 1004;
constexpr int kEmptyRowHeight = 17;
constexpr int kListRowsShownAtMost = 5;
const char* const kColumnTitles[] = {"имя", "канал", "опорн", "ед/дел", "тип", "фильтры"};
const int kColumnWidths[] = {120, 100, 70, 70, 80, 80};
// The colours new traces take in turn.
const QColor kTraceColors[] = {QColor(0xE0, 0x20, 0x20), QColor(0x20, 0x40, 0xE0), QColor(0x00, 0x90, 0x30),
                               QColor(0xC0, 0x60, 0x00), QColor(0x90, 0x00, 0xB0), QColor(0x00, 0x90, 0xA0),
                               QColor(0x60, 0x60, 0x60), QColor(0xB0, 0x90, 0x00)};

QString Q(const std::string& s) { return QString::fromStdString(s); }

QString Number(double v) { return QString::number(v, 'g', 6); }

// The left axis in ten divisions of the shown range, the first label at
// its bottom as it is (not rounded).
class TDivisionTicker : public QCPAxisTicker {
 protected:
  double getTickStep(const QCPRange& range) override { return range.size() / kDivisions; }
  QVector<double> createTickVector(double, const QCPRange& range) override {
    QVector<double> ticks;
    for (int i = 0; i <= kDivisions; ++i) ticks << range.lower + range.size() * i / kDivisions;
    return ticks;
  }
  QVector<double> createSubTickVector(int, const QVector<double>&) override { return {}; }
};

// The plot's margins in percent of the chart: left 1, top 10, right 1,
// bottom 1 (the axes' labels come inside them).
void SetChartMargins(QCustomPlot* chart) {
  const int w = chart->width(), h = chart->height();
  chart->plotLayout()->setMargins(QMargins(w / 100, h * 10 / 100, w / 100, h / 100));
}

// Commits of the list's in-place editors go to the area, not into the list.
class TCellDelegate : public QStyledItemDelegate {
 public:
  TCellDelegate(CDiagramArea* area, QObject* parent) : QStyledItemDelegate(parent), area_(area) {}
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    auto* edit = qobject_cast<QLineEdit*>(editor);
    CTrace* trace = area_->Trace(index.row());
    if (!edit || !trace) return QStyledItemDelegate::setEditorData(editor, index);
    if (index.column() == CDiagramArea::colReference) edit->setText(Number(trace->ReferenceLevel()));
    else if (index.column() == CDiagramArea::colScale) edit->setText(Number(trace->Scale()));
    else edit->setText(Q(trace->Name()));
    edit->selectAll();
  }
  void setModelData(QWidget* editor, QAbstractItemModel*, const QModelIndex& index) const override {
    if (auto* edit = qobject_cast<QLineEdit*>(editor)) {
      const int row = index.row(), column = index.column();
      const QString text = edit->text();
      // Applied after the editor has closed: the row is made anew then.
      QTimer::singleShot(0, area_->List(), [area = area_, row, column, text] { area->CellEdited(row, column, text); });
    }
  }

 private:
  CDiagramArea* area_;
};

}  // namespace

// The events of the panel, the list and the chart that the area takes.
class CDiagramArea::TFilter : public QObject {
 public:
  explicit TFilter(CDiagramArea* area) : area_(area) {}
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::Wheel:
        if (watched == area_->chart_) {
          area_->Wheel(static_cast<QWheelEvent*>(event)->angleDelta().y());
          return true;
        }
        break;
      case QEvent::KeyPress:
        if (watched == area_->panel_) return area_->HandleKey(static_cast<QKeyEvent*>(event)->key());
        break;
      case QEvent::ContextMenu:
        if (watched == area_->list_) {
          auto* e = static_cast<QContextMenuEvent*>(event);
          QPoint at = e->globalPos();
          if (e->reason() == QContextMenuEvent::Keyboard) {
            // The menu key opens it below the selected row.
            QTreeWidgetItem* row = area_->list_->currentItem();
            const QRect r = row ? area_->list_->visualItemRect(row) : QRect();
            at = area_->list_->viewport()->mapToGlobal(row ? r.bottomLeft() : QPoint(0, 0));
          }
          area_->PopupListMenu(at);
          return true;
        }
        if (watched == area_->chart_) {
          area_->chartMenu_->popup(static_cast<QContextMenuEvent*>(event)->globalPos());
          return true;
        }
        break;
      case QEvent::Resize:
        if (watched == area_->list_) area_->fps_->move(area_->list_->width() - area_->fps_->width() - 4, 2);
        if (watched == area_->chart_) SetChartMargins(area_->chart_);
        break;
      default: break;
    }
    return false;
  }

 private:
  CDiagramArea* area_;
};

CDiagramArea::CDiagramArea(QWidget* parent, bool fastLine) : fastLine_(fastLine) {
  filter_ = std::make_unique<TFilter>(this);
  BuildWidgets(parent);
  BuildActions();
  marks_ = std::make_unique<korchart::MarksManager>(chart_, 0, 20000);
  // The markers search when a sweep is complete, and follow their places
  // on every other frame.
  QObject::connect(chart_, &QCustomPlot::beforeReplot, chart_, [this] {
    if (!marks_) return;
    if (markersDue_) marks_->Update();
    else marks_->UpdateMarksOnly();
    markersDue_ = false;
  });
}

CDiagramArea::~CDiagramArea() {
  if (report_) {
    report_->reject();
    delete report_.data();
  }
  marks_.reset();
  limitDrawings_.clear();  // they stand on the traces' axes
  displayLabel_.reset();
  traces_.clear();
  UnsubscribeAll();
  delete panel_.data();
}

// ---- the widgets ----

void CDiagramArea::BuildWidgets(QWidget* parent) {
  panel_ = new TExPanel(parent);
  panel_->setObjectName(QStringLiteral("DiagramArea"));
  panel_->resize(300, 200);
  panel_->setProperty("helpContext", kHelpContext);
  panel_->setFocusPolicy(Qt::StrongFocus);
  panel_->installEventFilter(filter_.get());
  auto* layout = new QVBoxLayout(panel_);
  layout->setContentsMargins(0, 0, 0, 0);
  splitter_ = new QSplitter(Qt::Vertical, panel_);
  splitter_->setObjectName(QStringLiteral("Splitter"));
  splitter_->setChildrenCollapsible(false);
  splitter_->setHandleWidth(4);
  layout->addWidget(splitter_);

  list_ = new QTreeWidget(splitter_);
  list_->setObjectName(QStringLiteral("TraceList"));
  list_->setColumnCount(colCount);
  QStringList titles;
  for (const char* t : kColumnTitles) titles << QString::fromUtf8(t);
  list_->setHeaderLabels(titles);
  for (int c = 0; c < colCount; ++c) list_->setColumnWidth(c, kColumnWidths[c]);
  list_->header()->setSectionsClickable(false);
  list_->header()->setVisible(false);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setIconSize(QSize(16, 16));
  list_->setItemDelegate(new TCellDelegate(this, list_));
  list_->setStyleSheet(QStringLiteral(
      "QTreeView::item { border-right: 1px solid #d8d8d8; border-bottom: 1px solid #d8d8d8; }"
      "QTreeView::item:selected { background: palette(highlight); color: palette(highlighted-text); }"));
  list_->setMinimumHeight(0);
  list_->installEventFilter(filter_.get());
  QObject::connect(list_, &QTreeWidget::currentItemChanged, list_, [this](QTreeWidgetItem* item) {
    Select(item ? list_->indexOfTopLevelItem(item) : -1);
  });
  QObject::connect(list_, &QTreeWidget::itemChanged, list_, [this](QTreeWidgetItem* item, int column) {
    CTrace* trace = Trace(list_->indexOfTopLevelItem(item));
    if (column != colName || !trace) return;
    const bool on = item->checkState(colName) == Qt::Checked;
    if (on != trace->IsVisible()) {
      trace->SetVisible(on);
      Redraw();
    }
  });
  QObject::connect(list_, &QTreeWidget::itemDoubleClicked, list_, [this](QTreeWidgetItem* item, int column) {
    const int row = list_->indexOfTopLevelItem(item);
    if (column == colName || column == colReference || column == colScale) EditCell(row, column);
    else ChooseColor(row);
  });

  fps_ = new QLabel(list_);
  fps_->setObjectName(QStringLiteral("FpsLabel"));
  fps_->setAttribute(Qt::WA_TransparentForMouseEvents);
  fps_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  fps_->setFixedWidth(110);
  fps_->hide();

  chart_ = new QCustomPlot(splitter_);
  chart_->setObjectName(QStringLiteral("Chart"));
  chart_->setMinimumSize(300, 100);
  chart_->setProperty("helpContext", kHelpContext);
  chart_->setFocusPolicy(Qt::StrongFocus);
  chart_->legend->setVisible(false);
  chart_->setNoAntialiasingOnDrag(true);
  chart_->yAxis2->setVisible(false);
  chart_->yAxis2->setRange(0, 1000);
  chart_->yAxis->setTicker(QSharedPointer<QCPAxisTicker>(new TDivisionTicker));
  chart_->yAxis->setRange(-50, 50);
  for (QCPAxis* axis : {chart_->xAxis, chart_->yAxis}) {
    axis->setBasePen(QPen(Qt::black, 1));
    axis->grid()->setPen(QPen(QColor(0xC0, 0xC0, 0xC0), 1, Qt::DotLine));
    axis->grid()->setSubGridVisible(false);
  }
  chart_->installEventFilter(filter_.get());
  SetChartMargins(chart_);
  splitter_->setStretchFactor(0, 0);
  splitter_->setStretchFactor(1, 1);
  splitter_->setSizes({20, 180});
  QObject::connect(splitter_, &QSplitter::splitterMoved, splitter_, [this] {
    const QList<int> sizes = splitter_->sizes();
    const int rounded = RoundListHeight(sizes.value(0));
    if (rounded != sizes.value(0)) splitter_->setSizes({rounded, sizes.value(0) + sizes.value(1) - rounded});
  });

  // The reference position: a dotted line across the plot and the mark at
  // its left end.
  refLine_ = new QCPItemLine(chart_);
  refLine_->setPen(QPen(Qt::black, 1, Qt::DotLine));
  refLine_->start->setType(QCPItemPosition::ptAxisRectRatio);
  refLine_->end->setType(QCPItemPosition::ptAxisRectRatio);
  refLine_->setClipToAxisRect(false);
  refMark_ = new QCPItemPixmap(chart_);
  const QPixmap mark = vkgui::SvgPixmap(QStringLiteral(":/plotdesk/reflevel.svg"), 10, 10);
  refMark_->setPixmap(mark);
  refMark_->topLeft->setParentAnchor(refLine_->start);
  refMark_->topLeft->setCoords(0, -mark.height() / 2.0);
  refMark_->setClipToAxisRect(false);
  UpdateReferenceMark();
}

void CDiagramArea::BuildActions() {
  const struct {
    const char* name;
    const char* caption;
    const char* icon;
  } kActions[actCount] = {
      {"ActionDelete", "&Удалить", ":/plotdesk/delete.svg"},
      {"ActionMemorize", "&Запомнить", ":/plotdesk/memorize.svg"},
      {"ActionNewDataTrace", "&Создать трассу данных", ":/plotdesk/newtrace.svg"},
      {"ActionNewMathTrace", "&Создать мат. трассу (экспериментально)", ":/plotdesk/newtrace.svg"},
      {"ActionOpenMarkers", "&Открыть маркеры", ":/korchart/load_markers.svg"},
      {"ActionSaveMarkers", "&Сохранить маркеры", ":/korchart/save_markers.svg"},
      {"ActionReport", "&Менеджер отчётов", ":/korchart/report.svg"},
      {"ActionSaveCsv", "Сохранить как &CSV...", ":/korchart/csv.svg"},
      {"ActionColumnHeaders", "&Заголовки колонок", nullptr},
  };
  for (int i = 0; i < actCount; ++i) {
    auto* a = new QAction(QString::fromUtf8(kActions[i].caption), panel_);
    a->setObjectName(QString::fromLatin1(kActions[i].name));
    if (kActions[i].icon) a->setIcon(vkgui::SvgIcon(QString::fromLatin1(kActions[i].icon), 16));
    actions_[static_cast<size_t>(i)] = a;
  }
  QObject::connect(actions_[actDelete], &QAction::triggered, panel_, [this] {
    DeleteTrace(selected_);
  });
  QObject::connect(actions_[actMemorize], &QAction::triggered, panel_, [this] { Memorize(); });
  QObject::connect(actions_[actNewDataTrace], &QAction::triggered, panel_, [this] {
    CreateDataTrace(Channels().empty() ? nullptr : Channels().front());
  });
  QObject::connect(actions_[actNewMathTrace], &QAction::triggered, panel_, [this] { CreateMathTrace(); });
  QObject::connect(actions_[actOpenMarkers], &QAction::triggered, panel_, [this] { LoadMarkers(); });
  QObject::connect(actions_[actSaveMarkers], &QAction::triggered, panel_, [this] { SaveMarkers(); });
  QObject::connect(actions_[actReport], &QAction::triggered, panel_, [this] { ShowReport(); });
  QObject::connect(actions_[actSaveCsv], &QAction::triggered, panel_, [this] {
    // The traces in the list's order, as shown: their filters applied, each
    // in its own unit (the series hold real values, not screen positions).
    korchart::SaveCsvDialog(panel_, "Аргумент", ArgumentUnits(), TraceSeries());
  });
  actions_[actColumnHeaders]->setCheckable(true);
  QObject::connect(actions_[actColumnHeaders], &QAction::toggled, panel_, [this](bool on) { SetColumnHeaders(on); });

  chartMenu_ = new QMenu(chart_);
  chartMenu_->setObjectName(QStringLiteral("ChartPopup"));
  for (int i = actNewDataTrace; i < actCount; ++i) chartMenu_->addAction(actions_[static_cast<size_t>(i)]);
  QAction* resetStatistics = chartMenu_->addAction(QStringLiteral("Сбросить статистику"));
  resetStatistics->setObjectName(QStringLiteral("ActionResetStatistics"));
  QObject::connect(resetStatistics, &QAction::triggered, panel_, [this] {
    if (marks_) marks_->ResetStatistics();
  });
  listMenu_ = new QMenu(list_);
  listMenu_->setObjectName(QStringLiteral("TraceListPopup"));
}

// ---- channels ----

void CDiagramArea::AddChannel(CChannel* channel) {
  Subscribe(channel);
  ChannelChanged(channel);
}

void CDiagramArea::ChannelChanged(CChannel* channel) {
  if (channel->StimulusMax() > channel->StimulusMin()) {
    chart_->xAxis->setRange(channel->StimulusMin(), channel->StimulusMax());
    stimulusKnown_ = true;
  }
  chart_->xAxis->setProperty("units", Q(channel->QuantityS()));
  for (const auto& t : traces_)
    if (t->Channel() == channel) RefreshRow(t.get());
}

void CDiagramArea::JudgeLimits() {
  verdict_ = korchart::TLimitVerdict();
  for (const auto& t : traces_) {
    t->JudgeLimits();
    korchart::Combine(verdict_, t->Verdict());
  }
  ++sweepsJudged_;
  ShowLimits();
}

void CDiagramArea::ShowLimits() {
  // Drawings of traces that went, or whose limits are off and empty, go.
  for (auto it = limitDrawings_.begin(); it != limitDrawings_.end();) {
    const CTrace* t = it->first;
    const bool kept = IndexOf(t) >= 0 && (t->Limits().enabled || !t->Limits().Empty());
    it = kept ? std::next(it) : limitDrawings_.erase(it);
  }
  int label = 1;  // the display's label is the top one
  for (const auto& t : traces_) {
    if (!t->Limits().enabled && t->Limits().Empty()) continue;
    TDrawnLimits& d = limitDrawings_[t.get()];
    QCPAxis* axis = t->Series()->valueAxis();
    // A trace drawn against another axis (selected or not), or moved in the
    // list of labels, gets its drawing anew.
    if (!d.drawing || d.axis != axis || d.labelIndex != label) {
      d.drawing.reset();
      d.drawing = std::make_unique<korchart::TLimitDrawing>(chart_, chart_->xAxis, axis, t->Color(),
                                                            Q(t->Name()), label);
      d.axis = axis;
      d.labelIndex = label;
      d.drawing->SetLimits(t->Limits());
      d.limits = t->Limits();
    } else if (!(d.limits == t->Limits())) {
      d.drawing->SetLimits(t->Limits());
      d.limits = t->Limits();
    }
    if (t->Verdict().judged || t->Limits().Active())
      d.drawing->Show(t->JudgedX().data(), t->JudgedY().data(), t->JudgedX().size(), t->FailingPoints(), t->Verdict());
    else
      d.drawing->ClearVerdict();
    d.drawing->SetVisible(t->IsVisible());
    ++label;
  }
  if (limitDrawings_.empty()) displayLabel_.reset();
}

void CDiagramArea::ShowDisplayVerdict(const korchart::TLimitVerdict& display) {
  if (limitDrawings_.empty() && !display.judged) {
    displayLabel_.reset();
    return;
  }
  if (!displayLabel_) displayLabel_ = std::make_unique<korchart::TVerdictLabel>(chart_, chart_->axisRect(), 0);
  displayLabel_->Show(display);
}

korchart::TLimitDrawing* CDiagramArea::LimitDrawing(const CTrace* trace) const {
  const auto it = limitDrawings_.find(trace);
  return it == limitDrawings_.end() ? nullptr : it->second.drawing.get();
}

void CDiagramArea::EditLimits(int index) {
  CTrace* trace = Trace(index);
  if (!trace) return;
  korchart::TLimitDialog dialog(panel_, trace->Limits(), Q(trace->Name()), Q(trace->DisplayedUnit()));
  dialog.setProperty("helpContext", kHelpContext);
  dialog.SetArgumentRange(chart_->xAxis->range().lower, chart_->xAxis->range().upper);
  if (ExecModalDialog(&dialog) != QDialog::Accepted || !Trace(index) || Trace(index) != trace) return;
  trace->SetLimits(dialog.Limits());
  JudgeLimits();
  Redraw();
}

void CDiagramArea::ChannelDataComplete(CChannel* channel) {
  // A whole sweep: the limits judge what the traces now show.
  unsigned long long& seen = wholeSweepsSeen_[channel];
  if (channel->WholeSweeps() != seen) {
    seen = channel->WholeSweeps();
    JudgeLimits();
  }
  // Without a stimulus range the bottom axis spans the arguments of the
  // channel's sweep, so that the data are in view.
  if (stimulusKnown_) return;
  double lo = INFINITY, hi = -INFINITY;
  for (const auto& t : traces_) {
    if (t->Channel() != channel || !t->HasPoints()) continue;
    const double first = t->PointX(0), last = t->PointX(t->PointCount() - 1);
    lo = std::min({lo, first, last});
    hi = std::max({hi, first, last});
  }
  if (std::isfinite(lo) && std::isfinite(hi) && hi > lo && (chart_->xAxis->range().lower != lo || chart_->xAxis->range().upper != hi))
    chart_->xAxis->setRange(lo, hi);
}

// ---- traces ----

QColor CDiagramArea::NextColor() const { return kTraceColors[traces_.size() % std::size(kTraceColors)]; }

std::string CDiagramArea::NewName(const std::string& prefix) const {
  std::vector<std::string> names;
  for (const auto& t : traces_) names.push_back(t->Name());
  return NextTraceName(prefix, names);
}

void CDiagramArea::AddTrace(std::unique_ptr<CTrace> trace) {
  CTrace* t = trace.get();
  traces_.push_back(std::move(trace));
  t->SetReferencePosition(refPosition_);
  auto* row = new QTreeWidgetItem();
  row->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
  {
    const QSignalBlocker block(list_);
    list_->addTopLevelItem(row);
  }
  RefreshRow(t);
  const int rows = list_->topLevelItemCount();
  if (rows < kListRowsShownAtMost + 1) {
    const int rowHeight = list_->visualItemRect(list_->topLevelItem(0)).height();
    const int header = list_->header()->isVisible() ? list_->header()->height() : 0;
    const int height = (rowHeight > 0 ? rowHeight : kEmptyRowHeight) * rows + header + 2;
    const QList<int> sizes = splitter_->sizes();
    splitter_->setSizes({height, std::max(0, sizes.value(0) + sizes.value(1) - height)});
  }
  list_->scrollToItem(row);
  SeriesChanged();
  Select(rows - 1);
  Redraw();
}

CTraceData* CDiagramArea::CreateDataTrace(CChannel* channel) {
  auto trace = std::make_unique<CTraceData>(this, NewName("Трс"), NextColor());
  CTraceData* t = trace.get();
  t->AttachToChannel(channel);
  AddTrace(std::move(trace));
  return t;
}

CTraceStatic* CDiagramArea::CreateMemoryTrace(CChannel* channel) {
  auto trace = std::make_unique<CTraceStatic>(this, NewName("Пам"), NextColor());
  CTraceStatic* t = trace.get();
  t->AttachToChannel(channel);
  AddTrace(std::move(trace));
  return t;
}

CTraceStatic* CDiagramArea::Memorize() {
  CTrace* source = Trace(selected_);
  if (!source) return nullptr;
  if (!source->HasPoints()) {
    vkplatform::MessageBox("Исходная трасса не содержит данных", "Создание трассы памяти", vkplatform::MsgIcon::Warning);
    return nullptr;
  }
  auto trace = std::make_unique<CTraceStatic>(this, NewName("Пам"), NextColor());
  CTraceStatic* t = trace.get();
  t->AttachToChannel(source->Channel());
  // The copy holds the values as shown, in the source's displayed unit.
  t->TakeValuesShownBy(*source);
  t->CopyFrom(*source);
  const double reference = source->ReferenceLevel(), scale = source->Scale();
  AddTrace(std::move(trace));
  t->SetReferenceScale(reference, scale);
  Redraw();
  return t;
}

CTraceMath* CDiagramArea::CreateMathTrace() {
  auto trace = std::make_unique<CTraceMath>(this, NewName("Мат"), NextColor());
  CTraceMath* t = trace.get();
  if (!Channels().empty()) t->AttachToChannel(Channels().front());
  AddTrace(std::move(trace));
  return t;
}

void CDiagramArea::DeleteTrace(int index) {
  CTrace* trace = Trace(index);
  if (!trace) return;
  // The selected trace goes with its selection; another keeps it.
  if (selected_ == index) {
    trace->MakeUnselected();
    selected_ = -1;
  } else if (selected_ > index) {
    --selected_;
  }
  for (const auto& t : traces_)
    if (auto* math = dynamic_cast<CTraceMath*>(t.get())) math->Forget(trace);
  // Its limits' drawing stands on the trace's axis, which goes with it.
  limitDrawings_.erase(trace);
  {
    const QSignalBlocker block(list_);
    delete list_->takeTopLevelItem(index);
    list_->setCurrentItem(selected_ >= 0 ? list_->topLevelItem(selected_) : nullptr);
    if (selected_ < 0) list_->clearSelection();
  }
  traces_.erase(traces_.begin() + index);
  SeriesChanged();
  Redraw();
}

CTrace* CDiagramArea::Trace(int index) const {
  return index >= 0 && index < static_cast<int>(traces_.size()) ? traces_[static_cast<size_t>(index)].get() : nullptr;
}

int CDiagramArea::IndexOf(const CTrace* trace) const {
  for (size_t i = 0; i < traces_.size(); ++i)
    if (traces_[i].get() == trace) return static_cast<int>(i);
  return -1;
}

CTrace* CDiagramArea::FindTrace(const std::string& name) const {
  for (const auto& t : traces_)
    if (t->Name() == name) return t.get();
  return nullptr;
}

void CDiagramArea::Select(int index) {
  if (!Trace(index)) index = -1;
  if (index != selected_) {
    if (CTrace* old = Trace(selected_)) old->MakeUnselected();
    selected_ = index;
    if (CTrace* now = Trace(selected_)) now->MakeSelected();
    ShowLimits();  // the limits follow their traces to the other axes
  }
  {
    const QSignalBlocker block(list_);
    list_->setCurrentItem(index >= 0 ? list_->topLevelItem(index) : nullptr);
  }
  Redraw();
}

void CDiagramArea::OperandUpdated(const CTraceMathSource* source, const TTraceUpdate& update) {
  for (const auto& t : traces_)
    if (auto* math = dynamic_cast<CTraceMath*>(t.get())) math->OperandUpdated(source, update);
}

void CDiagramArea::SeriesChanged() {
  // The markers follow the traces, by name.
  std::vector<QCPGraph*> series;
  for (const auto& t : traces_) series.push_back(t->Series());
  const korchart::TMarkerSet set = marks_->GetMarkerSet();
  const std::string presets = marks_->LinkMarkPresetFileName();
  if (report_) {
    report_->reject();
    report_->deleteLater();
    report_ = nullptr;
  }
  marks_.reset();
  marks_ = std::make_unique<korchart::MarksManager>(chart_, 0, 20000);
  marks_->SetSeries(series);
  if (!presets.empty()) marks_->SetLinkMarkPresetFileName(presets);
  marks_->SetMarkerSet(set, false);
  markersDue_ = true;
}

// ---- reference position ----

void CDiagramArea::SetReferencePosition(int position) {
  refPosition_ = ClampPosition(position);
  for (const auto& t : traces_) t->SetReferencePosition(refPosition_);
  UpdateReferenceMark();
  Redraw();
}

void CDiagramArea::UpdateReferenceMark() {
  const double y = refPosition_ / static_cast<double>(kDivisions);
  refLine_->start->setCoords(0, y);
  refLine_->end->setCoords(1, y);
}

void CDiagramArea::ShowRangeOnLeftAxis(const TDisplayRange& range) { chart_->yAxis->setRange(range.bottom, range.top); }

void CDiagramArea::Wheel(int delta) {
  // A forward notch moves the reference position one division up.
  if (delta == 0) return;
  SetReferencePosition(refPosition_ - delta / 120);
}

bool CDiagramArea::HandleKey(int key) {
  if (key != Qt::Key_Up && key != Qt::Key_Down) return false;
  const int count = static_cast<int>(traces_.size());
  if (count == 0) return true;
  const int next = selected_ < 0 ? 0 : std::clamp(selected_ + (key == Qt::Key_Down ? 1 : -1), 0, count - 1);
  Select(next);
  return true;
}

// ---- the trace list ----

QIcon CDiagramArea::RowIcon(const QColor& color) const {
  // The channel picture in the trace's colour.
  QPixmap pixmap = vkgui::SvgPixmap(QStringLiteral(":/plotdesk/channel.svg"), 16, 16);
  QPainter p(&pixmap);
  p.setCompositionMode(QPainter::CompositionMode_SourceIn);
  p.fillRect(pixmap.rect(), color);
  return QIcon(pixmap);
}

QTreeWidgetItem* CDiagramArea::Row(int index) const { return index >= 0 ? list_->topLevelItem(index) : nullptr; }

void CDiagramArea::RefreshRow(const CTrace* trace) {
  QTreeWidgetItem* row = Row(IndexOf(trace));
  if (!row) return;
  const QSignalBlocker block(list_);
  const QString unit = Q(trace->DisplayedUnit());
  auto withUnit = [&unit](double v) { return unit.isEmpty() ? Number(v) : Number(v) + QLatin1Char(' ') + unit; };
  row->setText(colName, Q(trace->Name()));
  row->setCheckState(colName, trace->IsVisible() ? Qt::Checked : Qt::Unchecked);
  row->setIcon(colName, RowIcon(trace->Color()));
  row->setText(colChannel, trace->Channel() ? Q(trace->Channel()->Name()) : QString());
  row->setText(colReference, withUnit(trace->ReferenceLevel()));
  row->setText(colScale, withUnit(trace->Scale()));
  row->setText(colKind, Q(trace->KindText()));
  row->setText(colFilters, Q(FilterTags(trace->Filters())));
}

void CDiagramArea::EditCell(int row, int column) {
  if (QTreeWidgetItem* item = Row(row)) {
    list_->setCurrentItem(item);
    list_->editItem(item, column);
  }
}

void CDiagramArea::CellEdited(int row, int column, const QString& text) {
  CTrace* trace = Trace(row);
  if (!trace) return;
  if (column == colName) {
    if (!text.trimmed().isEmpty()) trace->SetName(text.trimmed().toStdString());
    return;
  }
  bool ok = false;
  const double v = QString(text).trimmed().replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
  if (!ok || !std::isfinite(v)) return;
  if (column == colReference) {
    trace->SetReferenceScale(v, trace->Scale());
    EditCell(row, colScale);  // then the scale
  } else if (column == colScale) {
    trace->SetReferenceScale(trace->ReferenceLevel(), v);
  }
  Redraw();
}

void CDiagramArea::ChooseColor(int row) {
  CTrace* trace = Trace(row);
  if (!trace) return;
  for (int i = 0; i < static_cast<int>(customColors_.size()); ++i)
    if (customColors_[static_cast<size_t>(i)].isValid()) QColorDialog::setCustomColor(i, customColors_[static_cast<size_t>(i)]);
  QColorDialog dialog(trace->Color(), panel_);
  dialog.setObjectName(QStringLiteral("TraceColorDialog"));
  if (ExecModalDialog(&dialog) == QDialog::Accepted && dialog.selectedColor().isValid()) {
    trace->SetColor(dialog.selectedColor());
    Redraw();
  }
  for (int i = 0; i < static_cast<int>(customColors_.size()); ++i)
    customColors_[static_cast<size_t>(i)] = QColorDialog::customColor(i);
}

int CDiagramArea::RoundListHeight(int height) const {
  const int rows = list_->topLevelItemCount();
  const int rowHeight = rows ? std::max(1, list_->visualItemRect(list_->topLevelItem(0)).height()) : kEmptyRowHeight;
  const int header = list_->header()->isVisible() ? list_->header()->height() : 0;
  int n = static_cast<int>(std::lround(static_cast<double>(height - header - 1) / rowHeight));
  n = std::clamp(n, 0, rows);  // never more rows than the list has
  return header + 1 + n * rowHeight;
}

void CDiagramArea::SetColumnHeaders(bool shown) {
  if (list_->header()->isVisible() == shown) return;
  const int header = list_->header()->sizeHint().height();
  list_->header()->setVisible(shown);
  // The rows keep their place: the list grows or shrinks by the header.
  const QList<int> sizes = splitter_->sizes();
  const int height = std::max(0, sizes.value(0) + (shown ? header : -header));
  splitter_->setSizes({height, std::max(0, sizes.value(0) + sizes.value(1) - height)});
}

void CDiagramArea::RebuildListMenu() {
  listMenu_->clear();
  // The items of the last opening (submenus, edit items) go now: the menu
  // is closed, and nothing may find them and act on the trace they were
  // made for.
  QList<QObject*> old;
  for (QObject* child : listMenu_->children())
    if (qobject_cast<QMenu*>(child) || qobject_cast<QWidgetAction*>(child)) old << child;
  qDeleteAll(old);
  listMenu_->addAction(actions_[actDelete]);
  listMenu_->addAction(actions_[actMemorize]);
  actions_[actDelete]->setEnabled(selected_ >= 0);
  actions_[actMemorize]->setEnabled(selected_ >= 0);
  if (CTrace* trace = Trace(selected_)) {
    trace->BuildMenu(listMenu_);
    listMenu_->addSeparator();
    limitsAction_ = listMenu_->addAction(QString::fromUtf8("Границы допуска..."));
    limitsAction_->setObjectName("ActionLimits");
    const int index = selected_;
    QObject::connect(limitsAction_, &QAction::triggered, panel_, [this, index] { EditLimits(index); });
  }
}

void CDiagramArea::PopupListMenu(const QPoint& global) {
  RebuildListMenu();
  listMenu_->popup(global);
}

// ---- markers and reports ----

void CDiagramArea::LoadMarkers() {
  const std::string file = korchart::ChooseMarkerTemplate(panel_, false);
  if (file.empty()) return;
  if (marks_->LoadFromFile(file) != 0) korchart::SayMarkerTemplateFailed(false);
  markersDue_ = true;
  Redraw();
}

void CDiagramArea::SaveMarkers() {
  const std::string file = korchart::ChooseMarkerTemplate(panel_, true);
  if (!file.empty() && marks_->SaveToFile(file) != 0) korchart::SayMarkerTemplateFailed(true);
}

std::vector<std::string> CDiagramArea::ReportTitles() const {
  std::vector<std::string> titles;
  for (const auto& t : traces_) titles.push_back(korchart::DiagramTraceTitle(
      t->Name(), t->Channel() ? t->Channel()->Name() : std::string(), t->ReferenceLevel(), t->Scale(), t->DisplayedUnit()));
  return titles;
}

korchart::TfrmReportManager* CDiagramArea::Report() {
  if (!report_) report_ = new korchart::TfrmReportManager(panel_, chart_, marks_.get());
  report_->SetSeriesTitles(ReportTitles());
  return report_;
}

void CDiagramArea::ShowReport() { Report()->ShowModal(); }

std::vector<QCPGraph*> CDiagramArea::TraceSeries() const {
  std::vector<QCPGraph*> series;
  for (const auto& t : traces_) series.push_back(t->Series());
  return series;
}

std::string CDiagramArea::ArgumentUnits() const { return chart_->xAxis->property("units").toString().toStdString(); }

// ---- drawing ----

void CDiagramArea::ShowFrameRate(double fps) {
  fps_->setText(QString::asprintf("FPS: %.2f ", fps));
  fps_->show();
  fps_->raise();
}

void CDiagramArea::Redraw() { chart_->replot(QCustomPlot::rpQueuedReplot); }

}  // namespace plotdesk
