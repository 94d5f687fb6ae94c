#include "ui/ResultsWindow.h"

#include <QComboBox>
#include <QDateTime>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <algorithm>
#include <cmath>

#include "GuiPlugin.h"
#include "platform/FileUtil.h"
#include "platform/LongOperation.h"
#include "platform/Report.h"
#include "report/CsvExport.h"

namespace vkresults {

namespace {

constexpr int kShownResults = 500;
constexpr int kHistogramValues = 2000;
constexpr int kBins = 20;
const char* const kColumns[] = {"Время", "Серийный номер", "Вердикт", "Оператор", "Стенд", "Схема", "Длительность, с",
                                "Нарушенные границы"};

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Local time of a stored UTC time.
QString LocalTime(const std::string& utc) {
  QDateTime t = QDateTime::fromString(Q(utc), Qt::ISODateWithMs);
  return t.isValid() ? t.toLocalTime().toString("dd.MM.yyyy HH:mm:ss") : Q(utc);
}

std::string Csv(const QString& text) { return korchart::CsvField(text.toStdString()); }

}  // namespace

CResultsWindow::CResultsWindow(QWidget* parent, TStoreConfig config) : QDialog(parent), config_(std::move(config)) {
  setObjectName("ResultsWindow");
  setWindowTitle(QString::fromUtf8("Результаты контроля"));
  resize(1100, 700);
  auto* layout = new QVBoxLayout(this);
  auto* filters = new QHBoxLayout();
  filters->addWidget(new QLabel(QString::fromUtf8("Серийный номер:"), this));
  serial_ = new QLineEdit(this);
  serial_->setObjectName("SerialFilter");
  serial_->setClearButtonEnabled(true);
  filters->addWidget(serial_);
  filters->addWidget(new QLabel(QString::fromUtf8("Вердикт:"), this));
  verdict_ = new QComboBox(this);
  verdict_->setObjectName("VerdictFilter");
  verdict_->addItems({QString::fromUtf8("Все"), QString::fromUtf8("Годные"), QString::fromUtf8("Брак")});
  filters->addWidget(verdict_);
  auto* refresh = new QPushButton(QString::fromUtf8("Обновить"), this);
  refresh->setObjectName("RefreshButton");
  filters->addWidget(refresh);
  auto* exportButton = new QPushButton(QString::fromUtf8("Экспорт CSV..."), this);
  exportButton->setObjectName("ExportButton");
  filters->addWidget(exportButton);
  filters->addStretch(1);
  layout->addLayout(filters);

  auto* splitter = new QSplitter(Qt::Vertical, this);
  table_ = new QTableWidget(0, static_cast<int>(std::size(kColumns)), splitter);
  table_->setObjectName("ResultsTable");
  QStringList headers;
  for (const char* c : kColumns) headers << QString::fromUtf8(c);
  table_->setHorizontalHeaderLabels(headers);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->verticalHeader()->hide();

  auto* charts = new QWidget(splitter);
  auto* grid = new QGridLayout(charts);
  grid->setContentsMargins(0, 0, 0, 0);
  period_ = new QComboBox(charts);
  period_->setObjectName("YieldPeriod");
  period_->addItems({QString::fromUtf8("Выход годных по часам (сутки)"), QString::fromUtf8("Выход годных по дням (две недели)")});
  reading_ = new QComboBox(charts);
  reading_->setObjectName("ReadingCombo");
  grid->addWidget(period_, 0, 0);
  grid->addWidget(reading_, 0, 1);
  yield_ = new QCustomPlot(charts);
  yield_->setObjectName("YieldChart");
  histogram_ = new QCustomPlot(charts);
  histogram_->setObjectName("Histogram");
  for (QCustomPlot* p : {yield_, histogram_}) p->setMinimumHeight(220);
  grid->addWidget(yield_, 1, 0);
  grid->addWidget(histogram_, 1, 1);
  splitter->addWidget(table_);
  splitter->addWidget(charts);
  layout->addWidget(splitter, 1);
  status_ = new QLabel(this);
  status_->setObjectName("StatusLabel");
  layout->addWidget(status_);

  QObject::connect(refresh, &QPushButton::clicked, this, [this] { Refresh(); });
  QObject::connect(serial_, &QLineEdit::returnPressed, this, [this] { Refresh(); });
  QObject::connect(verdict_, qOverload<int>(&QComboBox::activated), this, [this](int) { Refresh(); });
  QObject::connect(period_, qOverload<int>(&QComboBox::activated), this, [this](int) { Refresh(); });
  QObject::connect(reading_, qOverload<int>(&QComboBox::activated), this, [this](int) { Refresh(); });
  QObject::connect(exportButton, &QPushButton::clicked, this, [this] {
    const QString file = ChooseFileName(this, {QString::fromUtf8("Экспорт результатов"),
                                               QString::fromUtf8("Файлы CSV (*.csv);;Все файлы (*)"), "csv",
                                               QString(), true});
    if (!file.isEmpty()) ExportCsv(file.toStdString());
  });
}

void CResultsWindow::Refresh() {
  const std::string serial = serial_->text().trimmed().toStdString();
  const TVerdictFilter verdict =
      verdict_->currentIndex() == 1 ? TVerdictFilter::Pass : verdict_->currentIndex() == 2 ? TVerdictFilter::Fail : TVerdictFilter::All;
  const bool perDay = period_->currentIndex() == 1;
  std::string reading = reading_->currentText().toStdString();
  std::vector<TResult> results;
  std::vector<TYieldBucket> buckets;
  std::vector<std::string> names;
  std::vector<double> values;
  std::string error;
  {
    // The line's server may be slow: the window answers meanwhile.
    vkplatform::CLongOperation operation("Чтение результатов...");
    operation.RunAside([&] {
      auto store = TSqlResultStore::Open(config_, &error);
      if (!store) return;
      results = store->Latest(kShownResults, serial, verdict);
      buckets = perDay ? store->YieldPerDay(14) : store->YieldPerHour(24);
      names = store->ReadingNames();
      if (reading.empty() && !names.empty()) reading = names.front();
      if (!reading.empty()) values = store->ReadingValues(reading, kHistogramValues);
      error = store->LastError();
    });
  }
  shown_ = std::move(results);
  FillTable();
  FillYield(buckets, perDay);
  {
    const QSignalBlocker block(reading_);
    reading_->clear();
    for (const std::string& n : names) reading_->addItem(Q(n));
    reading_->setCurrentText(Q(reading));
  }
  FillHistogram(reading, values);
  status_->setText(error.empty() ? QString::fromUtf8("Показано результатов: %1").arg(shown_.size()) : Q(error));
  status_->setStyleSheet(error.empty() ? "" : "color: #c81e1e;");
}

void CResultsWindow::FillTable() {
  table_->setRowCount(static_cast<int>(shown_.size()));
  for (int row = 0; row < static_cast<int>(shown_.size()); ++row) {
    const TResult& r = shown_[static_cast<size_t>(row)];
    QStringList failing;
    for (const auto& l : r.limits)
      if (!l.pass) failing << Q(l.name);
    const QString cells[] = {LocalTime(r.timeUtc), Q(r.serial), r.pass ? QString::fromUtf8("ГОДЕН") : QString::fromUtf8("БРАК"),
                             Q(r.operatorName), Q(r.bench), Q(r.scheme), QLocale().toString(r.seconds, 'f', 1),
                             failing.join("; ")};
    for (int c = 0; c < static_cast<int>(std::size(cells)); ++c) {
      auto* item = new QTableWidgetItem(cells[c]);
      if (c == 2) item->setForeground(r.pass ? QColor(0x1e, 0x8c, 0x3a) : QColor(0xc8, 0x1e, 0x1e));
      table_->setItem(row, c, item);
    }
  }
  table_->resizeColumnsToContents();
}

void CResultsWindow::FillYield(const std::vector<TYieldBucket>& buckets, bool perDay) {
  yield_->clearPlottables();
  auto* bars = new QCPBars(yield_->xAxis, yield_->yAxis);
  bars->setName(QString::fromUtf8("Выход годных, %"));
  bars->setBrush(QColor(0x1e, 0x8c, 0x3a, 160));
  QSharedPointer<QCPAxisTickerText> ticker(new QCPAxisTickerText);
  for (size_t i = 0; i < buckets.size(); ++i) {
    const TYieldBucket& b = buckets[i];
    const double yield = b.total > 0 ? 100.0 * static_cast<double>(b.passed) / static_cast<double>(b.total) : 0;
    bars->addData(static_cast<double>(i), yield);
    QDateTime t = QDateTime::fromString(Q(b.startUtc), Qt::ISODateWithMs).toLocalTime();
    const size_t step = perDay ? 2 : 3;
    if (i % step == 0) ticker->addTick(static_cast<double>(i), t.toString(perDay ? "dd.MM" : "HH:00"));
  }
  yield_->xAxis->setTicker(ticker);
  yield_->xAxis->setRange(-0.5, std::max<double>(1, static_cast<double>(buckets.size())) - 0.5);
  yield_->yAxis->setRange(0, 105);
  yield_->yAxis->setLabel(QString::fromUtf8("Выход годных, %"));
  yield_->replot();
}

void CResultsWindow::FillHistogram(const std::string& name, const std::vector<double>& values) {
  histogram_->clearPlottables();
  histogram_->clearItems();
  histogram_->xAxis->setLabel(Q(name));
  histogram_->yAxis->setLabel(QString::fromUtf8("Изделий"));
  if (values.empty()) {
    histogram_->replot();
    return;
  }
  double lo = *std::min_element(values.begin(), values.end());
  double hi = *std::max_element(values.begin(), values.end());
  const auto known = limits_.find(name);
  const korchart::TValueLimits* limits = known == limits_.end() ? nullptr : &known->second;
  if (limits && limits->hasMin) lo = std::min(lo, limits->min);
  if (limits && limits->hasMax) hi = std::max(hi, limits->max);
  if (!(hi > lo)) {
    lo -= 0.5;
    hi += 0.5;
  }
  const double width = (hi - lo) / kBins;
  std::vector<double> counts(kBins, 0);
  for (double v : values) counts[static_cast<size_t>(std::clamp(static_cast<int>((v - lo) / width), 0, kBins - 1))] += 1;
  auto* bars = new QCPBars(histogram_->xAxis, histogram_->yAxis);
  bars->setWidth(width * 0.9);
  bars->setBrush(QColor(0x20, 0x40, 0xe0, 150));
  for (int i = 0; i < kBins; ++i) bars->addData(lo + width * (i + 0.5), counts[static_cast<size_t>(i)]);
  const double top = *std::max_element(counts.begin(), counts.end()) * 1.15 + 1;
  histogram_->xAxis->setRange(lo - width, hi + width);
  histogram_->yAxis->setRange(0, top);
  if (limits)
    for (const auto& [has, at] : {std::pair{limits->hasMin, limits->min}, std::pair{limits->hasMax, limits->max}}) {
      if (!has) continue;
      auto* line = new QCPItemStraightLine(histogram_);
      line->point1->setCoords(at, 0);
      line->point2->setCoords(at, 1);
      line->setPen(QPen(QColor(0xc8, 0x1e, 0x1e), 2, Qt::DashLine));
    }
  histogram_->replot();
}

bool CResultsWindow::ExportCsv(const std::string& file) {
  std::string text;
  for (size_t c = 0; c < std::size(kColumns); ++c) text += (c ? "," : "") + Csv(QString::fromUtf8(kColumns[c]));
  text += "\r\n";
  for (int row = 0; row < table_->rowCount(); ++row) {
    for (int c = 0; c < table_->columnCount(); ++c) {
      const QTableWidgetItem* item = table_->item(row, c);
      text += (c ? "," : "") + Csv(item ? item->text() : QString());
    }
    text += "\r\n";
  }
  if (vkplatform::WriteFileAtomically(file, text.data(), text.size()) != 0) {
    vkplatform::MessageBox("Невозможно записать файл \"" + file + "\".", "Результаты контроля", vkplatform::MsgIcon::Error);
    return false;
  }
  return true;
}

}  // namespace vkresults
