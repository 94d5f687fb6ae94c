#include "report/ReportManager.h"

#include <QBuffer>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QSvgGenerator>
#include <QTableWidget>
#include <QTextLayout>
#include <QToolButton>
#include <QVBoxLayout>
#include <qcustomplot.h>

#include <cmath>
#include <numeric>

#include "GuiPlugin.h"
#include "markers/LinkMarker.h"
#include "markers/MarkerModel.h"
#include "markers/MarksManager.h"
#include "markers/Metka.h"
#include "platform/FileUtil.h"
#include "platform/Report.h"
#include "platform/TextCodec.h"

namespace korchart {
KORCHART_VARIANT_BEGIN

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

// The page on the screen: A4 at 96 pixels per inch, 10 mm margins.
constexpr int kPageWidth = 794, kPageHeight = 1123, kMargin = 38;
// The picture of the HTML page (the chart build).
constexpr QSize kPictureSize(640, 480);
// A template larger than this is no template.
constexpr size_t kTemplateLimit = 4u << 20;
// The printed page is laid out in the screen page's units: the printer
// works at the screen's 96 dots per inch (the output stays text and lines).
constexpr int kPrintDpi = 96;

// The paper the report is laid out on.
class TReportPage : public QWidget {
 public:
  // Black ink on white for everything on the page: its own roles, not the
  // dark ones of the scroll box around it (which would give its labels a
  // light ink).
  void UseInk() {
    QPalette ink = palette();
    ink.setColor(QPalette::Window, Qt::white);
    ink.setColor(QPalette::WindowText, Qt::black);
    ink.setColor(QPalette::Text, Qt::black);
    ink.setColor(QPalette::Base, Qt::white);
    setPalette(ink);
    setBackgroundRole(QPalette::Window);
    setForegroundRole(QPalette::WindowText);
  }

 protected:
  void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), Qt::white); }
};

}  // namespace

TfrmReportManager::TfrmReportManager(QWidget* parent, QCustomPlot* chart, MarksManager* marks)
    : QDialog(parent), chart_(chart), marks_(marks) {
  setObjectName(QStringLiteral("frmReportManager"));
  setWindowTitle(QStringLiteral("Менеждер отчётов"));
  setProperty("helpContext", kMarkersHelpContext);
  auto* layout = new QHBoxLayout(this);
  BuildPage();
  layout->addWidget(scroll_, 1);
  BuildPanel();
  resize(1100, 760);
}

TfrmReportManager::~TfrmReportManager() = default;

void TfrmReportManager::BuildPage() {
  scroll_ = new QScrollArea(this);
  scroll_->setObjectName(QStringLiteral("ScrollBox1"));
  scroll_->setBackgroundRole(QPalette::Dark);
  auto* paper = new TReportPage;
  page_ = paper;
  page_->setObjectName(QStringLiteral("QuickRep1"));
  auto* bands = new QVBoxLayout(page_);
  bands->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  bands->setSpacing(6);

  // The title band: the operator's notes.
  memo_ = new QLabel(page_);
  memo_->setObjectName(QStringLiteral("QRMemoInfo"));
  memo_->setWordWrap(true);
  bands->addWidget(memo_);
  // The page header: stamp and date, then the title.
  auto* header = new QHBoxLayout;
  stamp_ = new QLabel(QStringLiteral("Отчет"), page_);
  stamp_->setObjectName(QStringLiteral("QRLabel1"));
  date_ = new QLabel(page_);
  date_->setObjectName(QStringLiteral("QRLabelDate"));
  header->addWidget(stamp_);
  header->addStretch(1);
  header->addWidget(date_);
  bands->addLayout(header);
  title_ = new QLabel(page_);
  title_->setObjectName(QStringLiteral("QRLabelTitle"));
  QFont big = title_->font();
  big.setPointSize(14);
  big.setBold(true);
  title_->setFont(big);
  title_->setAlignment(Qt::AlignCenter);
  bands->addWidget(title_);
  // The detail band: the chart, the markers, the link markers.
  reportChart_ = new QCustomPlot(page_);
  reportChart_->setObjectName(QStringLiteral("Chart"));
  reportChart_->setBackground(Qt::white);
  // The legend goes below the plot, never over the curves.
  QCPLegend* legend = reportChart_->legend;
  reportChart_->axisRect()->insetLayout()->take(legend);
  reportChart_->plotLayout()->addElement(1, 0, legend);
  reportChart_->plotLayout()->setRowStretchFactor(1, 0.001);
  reportChart_->plotLayout()->setMargins(QMargins(0, 0, 1, 2));  // the legend's frame whole
  legend->setFillOrder(QCPLegend::foColumnsFirst, false);
  legend->setVisible(true);
  reportChart_->setMinimumHeight(380);
  bands->addWidget(reportChart_);
  auto grid = [this](const char* name, int columns) {
    auto* g = new QTableWidget(0, columns, page_);
    g->setObjectName(QString::fromLatin1(name));
    g->horizontalHeader()->hide();
    g->verticalHeader()->hide();
    g->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    g->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    g->setWordWrap(true);
    g->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    return g;
  };
  markersGrid_ = grid("StringGrid1", 2);
  linksGrid_ = grid("StringGrid2", 2);
  bands->addWidget(markersGrid_);
  bands->addWidget(linksGrid_);
  bands->addStretch(1);
  scroll_->setWidget(page_);
  page_->setAutoFillBackground(false);
  paper->UseInk();
  UpdatePageSize();
}

void TfrmReportManager::BuildPanel() {
  auto* panel = new QWidget(this);
  panel->setObjectName(QStringLiteral("PanelControl"));
  panel->setMinimumSize(150, 500);
  panel->setMaximumWidth(240);
  auto* v = new QVBoxLayout(panel);
  v->setContentsMargins(4, 0, 0, 0);

  v->addWidget(new QLabel(QStringLiteral("Заголовок:"), panel));
  editTitle_ = new QLineEdit(panel);
  editTitle_->setObjectName(QStringLiteral("EditTitle"));
  v->addWidget(editTitle_);
  connect(editTitle_, &QLineEdit::textChanged, title_, &QLabel::setText);

  v->addWidget(new QLabel(QStringLiteral("Трассы"), panel));
  seriesList_ = new QListWidget(panel);
  seriesList_->setObjectName(QStringLiteral("CheckListBoxMarks"));
  seriesList_->setToolTip(QStringLiteral("Список трасс для печати"));
  seriesList_->setMaximumHeight(110);
  v->addWidget(seriesList_);
  connect(seriesList_, &QListWidget::itemChanged, this, [this] {
    if (filling_) return;
    FillChart();
    FillTables();
  });

  v->addWidget(new QLabel(QStringLiteral("Доп. информация:"), panel));
  memoInfo_ = new QPlainTextEdit(panel);
  memoInfo_->setObjectName(QStringLiteral("MemoInfo"));
  memoInfo_->setToolTip(QStringLiteral("Дополнительная информация"));
  memoInfo_->setMaximumHeight(110);
  v->addWidget(memoInfo_);
  connect(memoInfo_, &QPlainTextEdit::textChanged, this, [this] { memo_->setText(memoInfo_->toPlainText()); });

  v->addWidget(new QLabel(QStringLiteral("Ориентация страницы:"), panel));
  auto* orientation = new QHBoxLayout;
  auto button = [panel](const char* name, const char* hint, const char* icon) {
    auto* b = new QToolButton(panel);
    b->setObjectName(QString::fromLatin1(name));
    b->setToolTip(QString::fromUtf8(hint));
    b->setCheckable(true);
    b->setAutoExclusive(true);
    b->setIcon(vkgui::SvgIcon(QString::fromLatin1(icon), 24));
    b->setIconSize(QSize(24, 24));
    return b;
  };
  portrait_ = button("SpeedButtonPortrait", "Книжная ориентация страницы", ":/korchart/portrait.svg");
  landscape_ = button("SpeedButtonLandscape", "Альбомная ориентация страницы", ":/korchart/landscape.svg");
  portrait_->setChecked(true);
  orientation->addWidget(portrait_);
  orientation->addWidget(landscape_);
  orientation->addStretch(1);
  v->addLayout(orientation);
  connect(portrait_, &QToolButton::toggled, this, [this] { UpdatePageSize(); });

  auto* printing = new QGroupBox(QStringLiteral("Печать"), panel);
  printing->setObjectName(QStringLiteral("GroupBoxPrint"));
  auto* checks = new QVBoxLayout(printing);
  auto check = [this, printing, checks](const char* name, const char* caption) {
    auto* c = new QCheckBox(QString::fromUtf8(caption), printing);
    c->setObjectName(QString::fromLatin1(name));
    c->setChecked(true);
    checks->addWidget(c);
    connect(c, &QCheckBox::toggled, this, [this] { UpdateParts(); });
    return c;
  };
  printData_ = check("CheckBoxData", "Таблица данных");
  printMarkers_ = check("CheckBoxMarkers", "Маркеры");
  printChart_ = check("CheckBoxChart", "График");
  printDate_ = check("CheckBoxDate", "Дата");
  printLinks_ = check("CheckBoxLinks", "Таблица связей");
  v->addWidget(printing);
  v->addStretch(1);

  auto action = [this, panel, v](const char* name, const char* caption, const char* hint) {
    auto* b = new QPushButton(QString::fromUtf8(caption), panel);
    b->setObjectName(QString::fromLatin1(name));
    b->setToolTip(QString::fromUtf8(hint));
    b->setAutoDefault(false);
    v->addWidget(b);
    return b;
  };
  connect(action("ButtonPreview", "Просмотр...", "Просмотр отчёта для печати"), &QPushButton::clicked, this,
          [this] { Preview(); });
  connect(action("ButtonPrint", "Печать", "Печать отчёта"), &QPushButton::clicked, this, [this] { Print(); });
  connect(action("ButtonExport", "Экспорт в HTML...", "Сохранение отчёта как HTML документ"), &QPushButton::clicked,
          this, [this] {
            TFileDialogRequest request;
            request.title = QStringLiteral("Экспорт в HTML");
            request.filter = vkgui::QtFilter(QStringLiteral("HTML files|*.html"));
            request.defaultSuffix = QStringLiteral("html");
            request.save = true;
            const QString target = ChooseFileName(this, request);
            if (!target.isEmpty()) ExportHtml(S(target));
          });
  connect(action("ButtonClose", "Закрыть", "Закрытие менеджера отчёта"), &QPushButton::clicked, this,
          &QDialog::reject);
  static_cast<QHBoxLayout*>(layout())->addWidget(panel);
}

void TfrmReportManager::showEvent(QShowEvent* event) {
  Fill();
  QDialog::showEvent(event);
}

int TfrmReportManager::ShowModal() { return ExecModalDialog(this); }

bool TfrmReportManager::Landscape() const { return landscape_->isChecked(); }

void TfrmReportManager::UpdatePageSize() {
  const bool wide = landscape_ && landscape_->isChecked();
  page_->setFixedSize(wide ? QSize(kPageHeight, kPageWidth) : QSize(kPageWidth, kPageHeight));
  for (QTableWidget* grid : {markersGrid_, linksGrid_})
    if (grid) FitColumns(grid);
  if (reportChart_) {
    ArrangeLegend(page_->width() - 2 * kMargin);
    reportChart_->replot();
  }
}

void TfrmReportManager::Fill() {
  filling_ = true;
  date_->setText(QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat));
  seriesList_->clear();
  printedSeries_.clear();
  if (chart_) {
    // The markers' series when there are markers (the same numbers), else
    // the chart's titled series.
    std::vector<QCPGraph*> series;
    if (marks_)
      for (int n = 1; n <= marks_->SeriesCount(); ++n) series.push_back(marks_->Series(n));
    else
      for (int i = 0; i < chart_->graphCount(); ++i)
        if (!chart_->graph(i)->name().isEmpty()) series.push_back(chart_->graph(i));
    for (size_t i = 0; i < series.size(); ++i) {
      QCPGraph* g = series[i];
      // The report shows what the operator sees: hidden series and series
      // without data stay out of the list, the picture and the tables.
      if (!g || !g->visible() || g->data()->isEmpty()) continue;
      QString name = g->name();
      if (i < seriesTitles_.size()) {
        name = Q(seriesTitles_[i]);
      } else if constexpr (!kDiagramBuild) {
        // The first two after the quantity of their axis.
        if (printedSeries_.size() < 2) {
          const std::string quantity = QuantityName(S(g->valueAxis()->label()));
          if (!quantity.empty()) name = Q(quantity);
        }
      }
      auto* item = new QListWidgetItem(name, seriesList_);
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      item->setCheckState(Qt::Checked);
      printedSeries_.push_back(static_cast<int>(i) + 1);
    }
  }
  filling_ = false;
  FillChart();
  FillTables();
  UpdateParts();
}

void TfrmReportManager::FillChart() {
  reportChart_->clearItems();
  reportChart_->clearGraphs();
  // Value axes of single series (the diagram's traces) made by the last fill.
  for (QCPAxis* extra : reportChart_->axisRect()->axes(QCPAxis::atRight))
    if (extra != reportChart_->yAxis2) reportChart_->axisRect()->removeAxis(extra);
  if (!chart_) return;
  auto series = [this](int number) -> QCPGraph* {
    if (marks_) return marks_->Series(number);
    int n = 0;
    for (int i = 0; i < chart_->graphCount(); ++i)
      if (!chart_->graph(i)->name().isEmpty() && ++n == number) return chart_->graph(i);
    return nullptr;
  };
  bool right = false;
  for (int row = 0; row < seriesList_->count(); ++row) {
    if (seriesList_->item(row)->checkState() != Qt::Checked) continue;
    QCPGraph* g = series(printedSeries_[static_cast<size_t>(row)]);
    if (!g) continue;
    const bool onRight = g->valueAxis() == chart_->yAxis2;
    right = right || onRight;
    QCPAxis* axis = onRight ? reportChart_->yAxis2 : reportChart_->yAxis;
    if (g->valueAxis() != chart_->yAxis && !onRight) {
      // A series with a hidden value axis of its own keeps its scale.
      axis = reportChart_->axisRect()->addAxis(QCPAxis::atRight);
      axis->setVisible(false);
      axis->setRange(g->valueAxis()->range());
    }
    QCPGraph* copy = reportChart_->addGraph(reportChart_->xAxis, axis);
    copy->setData(g->data());  // shared, not copied: the form is modal
    copy->setPen(g->pen());
    copy->setLineStyle(g->lineStyle());
    copy->setScatterStyle(g->scatterStyle());
    copy->setName(seriesList_->item(row)->text());
  }
  for (auto [from, to] : {std::pair{chart_->xAxis, reportChart_->xAxis}, std::pair{chart_->yAxis, reportChart_->yAxis},
                          std::pair{chart_->yAxis2, reportChart_->yAxis2}}) {
    to->setRange(from->range());
    to->setLabel(from->label());
  }
  reportChart_->yAxis2->setVisible(right);
  reportChart_->legend->setVisible(reportChart_->graphCount() > 0);
  ArrangeLegend(page_->width() - 2 * kMargin);
  // The markers on the picture: a line and the number of each one placed.
  if (marks_ && printMarkers_->isChecked()) {
    for (int i = 0; i < kMarkerCount; ++i) {
      const Metka* m = marks_->Mark(i);
      if (!m->GetActivated() || m->GetFreq() == kNotFound) continue;
      auto* line = new QCPItemStraightLine(reportChart_);
      line->point1->setCoords(m->GetFreq(), 0);
      line->point2->setCoords(m->GetFreq(), 1);
      line->setPen(QPen(QColor(0x00, 0x00, 0x80), 1, Qt::DashLine));
      auto* number = new QCPItemText(reportChart_);
      number->position->setTypeX(QCPItemPosition::ptPlotCoords);
      number->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
      number->position->setCoords(m->GetFreq(), 0);
      number->setPositionAlignment(Qt::AlignHCenter | Qt::AlignTop);
      number->setText(QString::number(i));
      number->setBrush(QColor(0xFF, 0xE0, 0x80));
      number->setPen(QPen(Qt::black));
      number->setPadding(QMargins(3, 1, 3, 1));
    }
  }
  reportChart_->replot();
}

void TfrmReportManager::FillTables() {
  std::vector<std::string> names;
  std::vector<int> numbers;
  for (int row = 0; row < seriesList_->count(); ++row) {
    if (seriesList_->item(row)->checkState() != Qt::Checked) continue;
    names.push_back(S(seriesList_->item(row)->text()));
    numbers.push_back(printedSeries_[static_cast<size_t>(row)]);
  }
  std::vector<TReportMarker> markers;
  std::vector<std::pair<std::string, std::string>> links;
  if (marks_) {
    for (int i = 0; i < kMarkerCount; ++i) {
      const Metka* m = marks_->Mark(i);
      if (!m->GetActivated() || m->GetFreq() == kNotFound) continue;
      const SMarkParams p = m->GetParams();
      TReportMarker r;
      r.index = i;
      r.arg = m->GetFreq();
      r.argDigits = p.argumentDigits;
      r.valueDigits = p.valueDigits;
      r.statistics = p.showStatistics;
      r.argStatistics = m->GetFreqStat();
      for (int n : numbers) {
        r.values.push_back(m->GetSeriesValue(n));
        r.valueStatistics.push_back(m->GetStat(n));
      }
      markers.push_back(r);
    }
    for (int j = 0; j < kLinkMarkerCount; ++j) {
      const LinkMarker* l = marks_->Link(j);
      if (l->Used()) links.emplace_back(l->GetParams().description, l->Text());
    }
  }
  PutTable(markersGrid_, MarkersTable(names, markers));
  PutTable(linksGrid_, LinksTable(links));
}

void TfrmReportManager::PutTable(QTableWidget* grid, const TTable& table) const {
  size_t columns = 0;
  for (const auto& row : table) columns = std::max(columns, row.size());
  grid->clear();
  grid->setRowCount(static_cast<int>(table.size()));
  grid->setColumnCount(static_cast<int>(columns));
  for (size_t r = 0; r < table.size(); ++r)
    for (size_t c = 0; c < table[r].size(); ++c) {
      auto* item = new QTableWidgetItem(Q(table[r][c]));
      if (r == 0) {
        QFont bold = item->font();
        bold.setBold(true);
        item->setFont(bold);
      }
      grid->setItem(static_cast<int>(r), static_cast<int>(c), item);
    }
  FitColumns(grid);
}

void TfrmReportManager::FitColumns(QTableWidget* grid) const {
  grid->resizeColumnsToContents();
  // Wider than the page: every column gives up its share and wraps.
  const int room = page_->width() - 2 * kMargin - 2 * grid->frameWidth();
  int total = 0;
  for (int c = 0; c < grid->columnCount(); ++c) total += grid->columnWidth(c);
  if (total > room && room > 0)
    for (int c = 0; c < grid->columnCount(); ++c) {
      const long long share = static_cast<long long>(grid->columnWidth(c)) * room / total;
      grid->setColumnWidth(c, std::max(16, static_cast<int>(share)));
    }
  grid->resizeRowsToContents();
  int height = 2 * grid->frameWidth();
  for (int r = 0; r < grid->rowCount(); ++r) height += grid->rowHeight(r);
  grid->setFixedHeight(height);
}

TTable TfrmReportManager::TableText(const QTableWidget* grid) {
  TTable table;
  for (int r = 0; r < grid->rowCount(); ++r) {
    std::vector<std::string> row;
    for (int c = 0; c < grid->columnCount(); ++c) {
      const QTableWidgetItem* item = grid->item(r, c);
      row.push_back(item ? S(item->text()) : std::string());
    }
    table.push_back(row);
  }
  return table;
}

TTable TfrmReportManager::MarkersTableText() const { return TableText(markersGrid_); }
TTable TfrmReportManager::LinksTableText() const { return TableText(linksGrid_); }

void TfrmReportManager::UpdateParts() {
  markersGrid_->setVisible(printData_->isChecked());
  reportChart_->setVisible(printChart_->isChecked());
  date_->setVisible(printDate_->isChecked());
  linksGrid_->setVisible(printLinks_->isChecked());
  if (!filling_) FillChart();
}

QImage TfrmReportManager::ChartPicture(QSize size) const {
  ArrangeLegend(size.width());
  QImage picture = reportChart_->toPixmap(size.width(), size.height()).toImage();
  ArrangeLegend(page_->width() - 2 * kMargin);
  return picture;
}

void TfrmReportManager::ArrangeLegend(int width) const {
  QCPLegend* legend = reportChart_->legend;
  int widest = 0;
  // A legend in rows and columns has empty cells: no item there.
  for (int i = 0; i < legend->itemCount(); ++i)
    if (QCPLayoutElement* item = legend->item(i)) widest = std::max(widest, item->minimumOuterSizeHint().width());
  const int spacing = legend->columnSpacing();
  const int room = width - legend->margins().left() - legend->margins().right() - 8;
  const int columns = widest > 0 ? std::max(1, (room + spacing) / (widest + spacing)) : 1;
  if (legend->wrap() != columns) legend->setWrap(columns);
  legend->setFillOrder(QCPLegend::foColumnsFirst, true);
}

bool TfrmReportManager::ExportHtml(const std::string& target, const std::string& templatePath) {
  const QFileInfo out(Q(target));
  const QFileInfo folder(out.absolutePath());
  if (!folder.isDir() || !folder.isWritable() || (out.exists() && (!out.isFile() || !out.isWritable()))) {
    vkplatform::MessageBox("Ошибка при сохранении", "Ошибка", vkplatform::MsgIcon::Error);
    return false;
  }
  const std::string path =
      templatePath.empty() ? S(QCoreApplication::applicationDirPath() + "/data/Report.dat") : templatePath;
  std::string text;
  if (!vkplatform::ReadWholeFile(path, text, kTemplateLimit)) {
    vkplatform::MessageBox("Невозможно открыть файл шаблона отчёта \"" + path +
                               "\".\rБудет использован стандартный шаблон.",
                           "Сообщение", vkplatform::MsgIcon::Information);
    text = BuiltInTemplate();
  }
  // The template is read in the encoding it declares.
  const std::string charset = DeclaredCharset(text);
  if (charset == "windows-1251" || charset == "cp1251") text = vkplatform::Cp1251ToUtf8(text);

  // The picture beside the page.
  const QString base = out.completeBaseName();
  const QString picture = base + ".jpeg";
  QSize size = kPictureSize;
  if constexpr (kDiagramBuild) size = chart_ ? chart_->size() : reportChart_->size();
  QByteArray jpeg;
  {
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(100);
    writer.write(ChartPicture(size));
  }
  bool saved = !jpeg.isEmpty() &&
               vkplatform::WriteFileAtomically(S(out.absolutePath() + "/" + picture), jpeg.constData(),
                                               static_cast<size_t>(jpeg.size())) == 0;
  if constexpr (kDiagramBuild) {
    // The chart as a drawing too (where the design wrote a metafile).
    QByteArray svg;
    QBuffer buffer(&svg);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setTitle(title_->text());
    QCPPainter painter(&generator);
    reportChart_->toPainter(&painter, size.width(), size.height());
    painter.end();
    saved = saved && vkplatform::WriteFileAtomically(S(out.absolutePath() + "/" + base + ".svg"), svg.constData(),
                                                     static_cast<size_t>(svg.size())) == 0;
  }

  TReportFields fields;
  fields.stamp = S(stamp_->text());
  fields.title = S(editTitle_->text());
  fields.date = S(QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat));
  fields.description = S(memoInfo_->toPlainText());
  fields.chartFile = S(picture);
  fields.tableM = HtmlRows(MarkersTableText());
  fields.tableP = HtmlRows(LinksTableText());
  const std::string filled = FillTemplate(text, fields);
  const std::string page = EncodePage(filled, DeclaredCharset(filled));
  saved = saved && vkplatform::WriteFileAtomically(target, page.data(), page.size()) == 0;
  if (!saved) vkplatform::MessageBox("Ошибка при сохранении", "Ошибка", vkplatform::MsgIcon::Error);
  return saved;
}

// ---- printing ----

namespace {

// Lays the printed report out from the top of a page down, in the screen
// page's units: whatever does not fit on the rest of a page goes on the
// next. Texts are drawn as text and the chart as lines, never as pictures.
class TPageFlow {
 public:
  TPageFlow(QCPPainter* painter, QPrinter* printer, const QSizeF& page)
      : painter_(painter), printer_(printer), page_(page) {}

  double Width() const { return page_.width(); }
  double Height() const { return page_.height(); }
  void Skip(double height) { y_ += height; }

  // A new page unless `height` fits on the rest of this one (or this one
  // is still empty: what is taller than a page starts at its top).
  void Need(double height) {
    if (y_ > 0 && y_ + height > page_.height()) {
      printer_->newPage();
      y_ = 0;
    }
  }

  // Wrapped text, line by line (a long text runs on to the next page).
  void Text(const QString& text, const QFont& font, Qt::Alignment alignment) {
    QString body = text;
    body.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(body, font, painter_->device());
    layout.setTextOption(Option(alignment));
    layout.beginLayout();
    double height = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(Width());
      line.setPosition(QPointF(0, height));
      height += line.height();
    }
    layout.endLayout();
    painter_->setPen(Qt::black);
    for (int i = 0; i < layout.lineCount(); ++i) {
      const QTextLine line = layout.lineAt(i);
      Need(line.height());
      line.draw(painter_, QPointF(0, y_ - line.y()));
      y_ += line.height();
    }
  }

  // One line with a text on the left and one on the right.
  void Sides(const QString& left, const QString& right, const QFont& font) {
    const double height = QFontMetricsF(font, painter_->device()).height();
    Need(height);
    painter_->setFont(font);
    painter_->setPen(Qt::black);
    const QRectF at(0, y_, Width(), height);
    painter_->drawText(at, Qt::AlignLeft | Qt::AlignVCenter, left);
    painter_->drawText(at, Qt::AlignRight | Qt::AlignVCenter, right);
    y_ += height;
  }

  void Chart(QCustomPlot* chart, double height) {
    Need(height);
    painter_->save();
    painter_->translate(0, y_);
    chart->toPainter(painter_, static_cast<int>(Width()), static_cast<int>(height));
    painter_->restore();
    y_ += height;
  }

  // A table in the page's width. The first `keys` columns name a row; when
  // the table is wider than the page, the other columns go on in further
  // tables, each with the key columns again. Should even one column beside
  // the keys not fit, the font shrinks (to 70 % at least), and what still
  // does not fit is squeezed and wrapped within its cells; nothing is cut.
  void Table(const TTable& table, int keys, const QFont& base) {
    size_t columns = 0;
    for (const auto& row : table) columns = std::max(columns, row.size());
    if (columns == 0) return;
    QFont font = base;
    std::vector<double> widths;
    std::vector<std::vector<size_t>> groups;
    for (double scale : {1.0, 0.9, 0.8, 0.7}) {
      font = Scaled(base, scale);
      widths = NaturalWidths(table, columns, font);
      groups = Groups(widths, keys, columns);
      bool fits = true;
      for (const auto& g : groups) fits = fits && GroupWidth(g, widths) <= Width();
      if (fits) break;
    }
    for (const auto& group : groups) {
      std::vector<double> w;
      for (size_t c : group) w.push_back(widths[c]);
      const double total = std::accumulate(w.begin(), w.end(), 0.0);
      if (total > Width())
        for (double& one : w) one *= Width() / total;
      for (size_t r = 0; r < table.size(); ++r) {
        const double height = RowHeight(table[r], group, w, r == 0 ? Bold(font) : font);
        if (r == 0 && table.size() > 1) Need(height + RowHeight(table[1], group, w, font));  // never a header alone
        if (y_ > 0 && y_ + height > Height()) {
          Need(height);
          if (r > 0) Row(table[0], group, w, Bold(font), RowHeight(table[0], group, w, Bold(font)));
        }
        Row(table[r], group, w, r == 0 ? Bold(font) : font, height);
      }
      y_ += kGap;
    }
  }

  static constexpr double kGap = 8;

 private:
  static constexpr double kPadX = 4, kPadY = 2;

  static QTextOption Option(Qt::Alignment alignment) {
    QTextOption option(alignment);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    return option;
  }
  static QFont Scaled(const QFont& font, double scale) {
    QFont f = font;
    if (f.pointSizeF() > 0)
      f.setPointSizeF(f.pointSizeF() * scale);
    else if (f.pixelSize() > 0)
      f.setPixelSize(std::max(1, static_cast<int>(f.pixelSize() * scale)));
    return f;
  }
  static QFont Bold(QFont font) {
    font.setBold(true);
    return font;
  }
  static QString Cell(const std::vector<std::string>& row, size_t c) {
    return c < row.size() ? QString::fromStdString(row[c]) : QString();
  }

  std::vector<double> NaturalWidths(const TTable& table, size_t columns, const QFont& font) const {
    std::vector<double> widths(columns, 0.0);
    for (size_t r = 0; r < table.size(); ++r) {
      const QFontMetricsF metrics(r == 0 ? Bold(font) : font, painter_->device());
      for (size_t c = 0; c < table[r].size(); ++c)
        for (const QString& line : Cell(table[r], c).split(QLatin1Char('\n')))
          widths[c] = std::max(widths[c], std::ceil(metrics.horizontalAdvance(line)) + 2 * kPadX + 2);
    }
    return widths;
  }

  // The key columns, then as many others as the width holds, again and
  // again; a table without keys stays whole.
  std::vector<std::vector<size_t>> Groups(const std::vector<double>& widths, int keys, size_t columns) const {
    const size_t k = keys > 0 ? std::min(static_cast<size_t>(keys), columns) : columns;
    std::vector<size_t> head;
    double keyWidth = 0;
    for (size_t c = 0; c < k; ++c) {
      head.push_back(c);
      keyWidth += widths[c];
    }
    std::vector<std::vector<size_t>> groups;
    std::vector<size_t> current = head;
    double used = keyWidth;
    for (size_t c = k; c < columns; ++c) {
      if (current.size() > head.size() && used + widths[c] > Width()) {
        groups.push_back(current);
        current = head;
        used = keyWidth;
      }
      current.push_back(c);
      used += widths[c];
    }
    groups.push_back(current);
    return groups;
  }

  static double GroupWidth(const std::vector<size_t>& group, const std::vector<double>& widths) {
    double total = 0;
    for (size_t c : group) total += widths[c];
    return total;
  }

  double TextHeight(const QString& text, const QFont& font, double width) const {
    QString body = text;
    body.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(body, font, painter_->device());
    layout.setTextOption(Option(Qt::AlignLeft));
    layout.beginLayout();
    double height = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(std::max(1.0, width));
      height += line.height();
    }
    layout.endLayout();
    return height;
  }

  double RowHeight(const std::vector<std::string>& row, const std::vector<size_t>& group,
                   const std::vector<double>& w, const QFont& font) const {
    double height = QFontMetricsF(font, painter_->device()).height();
    for (size_t i = 0; i < group.size(); ++i)
      height = std::max(height, TextHeight(Cell(row, group[i]), font, w[i] - 2 * kPadX));
    return height + 2 * kPadY;
  }

  void Row(const std::vector<std::string>& row, const std::vector<size_t>& group, const std::vector<double>& w,
           const QFont& font, double height) {
    painter_->setFont(font);
    double x = 0;
    for (size_t i = 0; i < group.size(); ++i) {
      const QRectF cell(x, y_, w[i], height);
      painter_->setPen(QPen(Qt::black, 0.5));
      painter_->setBrush(Qt::NoBrush);
      painter_->drawRect(cell);
      painter_->setPen(Qt::black);
      painter_->drawText(cell.adjusted(kPadX, kPadY, -kPadX, -kPadY), Cell(row, group[i]),
                         Option(Qt::AlignLeft | Qt::AlignTop));
      x += w[i];
    }
    y_ += height;
  }

  QCPPainter* painter_;
  QPrinter* printer_;
  QSizeF page_;
  double y_ = 0;
};

}  // namespace

bool TfrmReportManager::PrintTo(QPrinter* printer) {
  printer->setResolution(kPrintDpi);
  printer->setPageLayout(QPageLayout(QPageSize(QPageSize::A4),
                                     Landscape() ? QPageLayout::Landscape : QPageLayout::Portrait,
                                     QMarginsF(10, 10, 10, 10), QPageLayout::Millimeter));
  QCPPainter painter;
  if (!painter.begin(printer)) {
    vkplatform::MessageBox("Error in QuickReport component", "Ошибка", vkplatform::MsgIcon::Error);
    return false;
  }
  painter.setMode(QCPPainter::pmVectorized);
  painter.setMode(QCPPainter::pmNoCaching);
  const QRectF area = printer->pageLayout().paintRectPixels(printer->resolution());
  PaintPages(&painter, printer, area.size());
  painter.end();
  ArrangeLegend(page_->width() - 2 * kMargin);
  reportChart_->replot();
  return true;
}

void TfrmReportManager::PaintPages(QCPPainter* painter, QPrinter* printer, const QSizeF& page) const {
  // The parts in the order of the page on the screen: the notes, stamp and
  // date, the title, the chart, the markers table, the link table.
  TPageFlow flow(painter, printer, page);
  const QFont text = page_->font();
  const QString notes = memoInfo_->toPlainText();
  if (!notes.trimmed().isEmpty()) {
    flow.Text(notes, text, Qt::AlignLeft);
    flow.Skip(6);
  }
  flow.Sides(stamp_->text(), printDate_->isChecked() ? date_->text() : QString(), text);
  flow.Skip(6);
  if (!editTitle_->text().isEmpty()) {
    flow.Text(editTitle_->text(), title_->font(), Qt::AlignHCenter);
    flow.Skip(6);
  }
  if (printChart_->isChecked()) {
    ArrangeLegend(static_cast<int>(flow.Width()));
    flow.Chart(reportChart_, std::min(420.0, flow.Height() * 0.56));
    flow.Skip(TPageFlow::kGap);
  }
  if (printData_->isChecked()) flow.Table(MarkersTableText(), 2, text);
  if (printLinks_->isChecked()) flow.Table(LinksTableText(), 0, text);
}

// Print and preview hand their printer to PrintTo, which draws the page in
// the screen page's units (96 dots per inch); text and lines stay text and
// lines on paper and in a PDF file at any resolution.
void TfrmReportManager::Print() {
  QPrinter printer(QPrinter::ScreenResolution);
  QPrintDialog dialog(&printer, this);
  dialog.setObjectName(QStringLiteral("PrintDialog"));
  if (ExecModalDialog(&dialog) == QDialog::Accepted) PrintTo(&printer);
}

void TfrmReportManager::Preview() {
  QPrinter printer(QPrinter::ScreenResolution);
  QPrintPreviewDialog preview(&printer, this);
  preview.setObjectName(QStringLiteral("PrintPreview"));
  connect(&preview, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* p) { PrintTo(p); });
  ExecModalDialog(&preview);
}

KORCHART_VARIANT_END
}  // namespace korchart
