// The report: the tables and names it is made of, the HTML page from a
// template (placeholders, escaping, encoding, the picture beside it), the
// form filled from a chart with markers, and printing to a PDF file. Built
// against both variants (the diagram's writes a drawing of the chart too).
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QToolButton>
#include <qcustomplot.h>

#include <filesystem>
#include <memory>

#include "GuiPlugin.h"
#include "Screenshot.h"
#include "TestApp.h"
#include "TestHome.h"
#include "markers/LinkMarker.h"
#include "markers/MarksManager.h"
#include "markers/Metka.h"
#include "platform/Com.h"
#include "platform/FileUtil.h"
#include "platform/Report.h"
#include "platform/TextCodec.h"
#include "report/ReportContent.h"
#include "report/ReportManager.h"

using namespace korchart;
namespace fs = std::filesystem;

namespace {

std::string Read(const std::string& path) {
  std::string text;
  vkplatform::ReadWholeFile(path, text);
  return text;
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string Folder(const char* name) {
  const std::string dir = TestHome() + "/" + name;
  fs::remove_all(dir);
  fs::create_directories(dir);
  return dir;
}

}  // namespace

TEST(ReportContent, NamesTablesAndRows) {
  EXPECT_EQ(QuantityName("Модуль КП, дБ"), "Модуль КП");
  EXPECT_EQ(QuantityName("КО, дБ"), "Модуль КО");
  EXPECT_EQ(QuantityName("КСВН"), "КСВН");
  EXPECT_EQ(QuantityName("Мощность, дБм"), "Мощн.");
  EXPECT_EQ(QuantityName("Фаза, град"), "Фаза, град");
  EXPECT_EQ(DiagramTraceTitle("Тр1", "S21", -10, 5, "дБ"), "Тр1(S21 оп.-10/5 дБ)");

  TReportMarker plain;
  plain.index = 2;
  plain.arg = 1500.25;
  plain.values = {-3.14159, kNoValue};
  TReportMarker withStatistics = plain;
  withStatistics.index = 4;
  withStatistics.statistics = true;
  withStatistics.argStatistics.Add(1500.25);
  withStatistics.valueStatistics.resize(2);
  withStatistics.valueStatistics[0].Add(-3);
  withStatistics.valueStatistics[0].Add(-4);
  const TTable m = MarkersTable({"Модуль КП", "Фаза"}, {plain, withStatistics});
  ASSERT_EQ(m.size(), 3u);
  EXPECT_EQ(m[0], (std::vector<std::string>{"Маркер", "Частота,МГц", "Модуль КП", "Фаза"}));
  EXPECT_EQ(m[1], (std::vector<std::string>{"2", "1500,250", "-3,14", "-1000,00"}));
  EXPECT_EQ(m[2][1], "1500,250\n1500,250 / 1500,250 / 1500,250 / -");
  EXPECT_EQ(m[2][2], "-3,14\n-4,00 / -3,50 / -3,00 / 0,71");
  EXPECT_EQ(LinksTable({{"Полоса", "12,000"}})[0], (std::vector<std::string>{"Связь", "Значение"}));

  // Rows: typed text escaped, empty cells "&nbsp", line breaks kept.
  EXPECT_EQ(HtmlRows({{"<b>&", ""}, {"a\nb"}}),
            "<tr>\r<td>&lt;b&gt;&amp;</td>\r<td>&nbsp</td>\r</tr>\r<tr>\r<td>a<br>b</td>\r</tr>\r");
}

TEST(ReportContent, TemplateFillingAndEncoding) {
  const std::string built = BuiltInTemplate();
  EXPECT_EQ(Count(built, "\r"), 29u);
  EXPECT_EQ(built.rfind("<html>\r\t<head>\r", 0), 0u);
  EXPECT_EQ(DeclaredCharset(built), "windows-1251");
  TReportFields f;
  f.stamp = "Отчет";
  f.title = "Фильтр <ФНЧ>";
  f.description = "строка 1\nстрока 2 %date%";
  f.date = "07.12.2026 13:00";
  f.chartFile = "rep.jpeg";
  f.tableM = "<tr>\r</tr>\r";
  const std::string page = FillTemplate("%description%|%description%|%title%|%chartfile%|%tablem%|%x%", f);
  EXPECT_EQ(page,
            "строка 1<br>строка 2 %date%|строка 1<br>строка 2 %date%|Фильтр &lt;ФНЧ&gt;|rep.jpeg|<tr>\r</tr>\r|%x%");
  // Code page 1251 for the page that declares it, references for the rest.
  const std::string bytes = EncodePage("Ж ≥ Ω", "windows-1251");
  EXPECT_EQ(bytes, vkplatform::Utf8ToCp1251("Ж ") + "&#8805; &#937;");
  EXPECT_EQ(EncodePage("Ж ≥", "utf-8"), "Ж ≥");
}

namespace {

class ReportForm : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    ASSERT_EQ(vkplatform::ComRegisterServer(VK_INTERPRETER_LIBRARY), S_OK);
    plot_ = std::make_unique<QCustomPlot>();
    plot_->resize(800, 450);
    plot_->yAxis->setLabel("Модуль КП, дБ");
    plot_->yAxis2->setLabel("Фаза, град");
    QCPGraph* a = plot_->addGraph();
    a->setName("S21");
    a->setPen(QPen(Qt::red));
    QCPGraph* b = plot_->addGraph(plot_->xAxis, plot_->yAxis2);
    b->setName("Фаза");
    for (int i = 0; i <= 200; ++i) {
      a->addData(i, -std::abs(i - 100) * 0.3);
      b->addData(i, (i - 100) * 1.5);
    }
    // What the operator does not see: a hidden memory and a curve without data.
    QCPGraph* memory = plot_->addGraph();
    memory->setName("Память 1");
    memory->setData(a->data());
    memory->setVisible(false);
    QCPGraph* empty = plot_->addGraph();
    empty->setName("Канал B");
    plot_->xAxis->setRange(0, 200);
    plot_->yAxis->setRange(-40, 5);
    plot_->yAxis2->setRange(-180, 180);
    marks_ = std::make_unique<MarksManager>(plot_.get(), 0, 20000);
    marks_->SetSeries({a, b, memory, empty});
    SMarkParams p = marks_->Mark(0)->GetParams();
    p.enabled = true;
    p.action = EMarkAction::Maximum;
    p.linkTrace = 1;
    p.showStatistics = true;
    marks_->Mark(0)->SetParams(p);
    marks_->Mark(3)->Activate();
    marks_->Mark(3)->SetOnFreq(150);
    marks_->Update();
    SLinkParams l;
    l.used = true;
    l.markerA = 0;
    l.markerB = 3;
    l.description = "Отстройка <от пика>";
    marks_->Link(0)->SetParams(l);
    form_ = std::make_unique<TfrmReportManager>(nullptr, plot_.get(), marks_.get());
    form_->Fill();
  }
  void TearDown() override {
    form_.reset();
    marks_.reset();
    plot_.reset();
  }
  std::unique_ptr<QCustomPlot> plot_;
  std::unique_ptr<MarksManager> marks_;
  std::unique_ptr<TfrmReportManager> form_;
};

}  // namespace

TEST_F(ReportForm, FillsFromTheChartAndItsMarkers) {
  EXPECT_EQ(form_->windowTitle(), "Менеждер отчётов");
  auto* list = form_->findChild<QListWidget*>("CheckListBoxMarks");
  ASSERT_EQ(list->count(), 2);
  if constexpr (kDiagramBuild) {
    EXPECT_EQ(list->item(0)->text(), "S21");  // the diagram names its traces itself
  } else {
    EXPECT_EQ(list->item(0)->text(), "Модуль КП");
    EXPECT_EQ(list->item(1)->text(), "Фаза, град");
  }
  EXPECT_EQ(form_->ReportChart()->graphCount(), 2);
  const TTable m = form_->MarkersTableText();
  ASSERT_EQ(m.size(), 3u);  // header, markers 0 and 3
  EXPECT_EQ(m[1][0], "0");
  EXPECT_EQ(m[1][1].substr(0, m[1][1].find('\n')), "100,000");
  EXPECT_NE(m[1][2].find('\n'), std::string::npos);  // statistics below the value
  EXPECT_EQ(m[2][3], "75,00");
  EXPECT_EQ(form_->LinksTableText()[1][0], "Отстройка <от пика>");
  // Only the series checked are printed.
  list->item(1)->setCheckState(Qt::Unchecked);
  EXPECT_EQ(form_->ReportChart()->graphCount(), 1);
  EXPECT_EQ(form_->MarkersTableText()[0].size(), 3u);
  // The title and notes follow what is typed; the parts follow "Печать".
  form_->findChild<QLineEdit*>("EditTitle")->setText("Фильтр");
  EXPECT_EQ(form_->findChild<QLabel*>("QRLabelTitle")->text(), "Фильтр");
  form_->findChild<QCheckBox*>("CheckBoxDate")->setChecked(false);
  EXPECT_TRUE(form_->findChild<QLabel*>("QRLabelDate")->isHidden());
  for (const char* name : {"ButtonPreview", "ButtonPrint", "ButtonExport", "ButtonClose"})
    EXPECT_FALSE(form_->findChild<QPushButton*>(name)->toolTip().isEmpty()) << name;
  form_->show();
  MaybeScreenshot(form_.get(), "report_form");
}

TEST_F(ReportForm, ExportsThePageAndThePictureBesideIt) {
  const std::string dir = Folder("export");
  const std::string templ = dir + "/Report.dat";
  const std::string text = "<meta charset=utf-8>%description%|%description%|%chartfile%|%tablem%|%tablep%";
  ASSERT_EQ(vkplatform::WriteFileAtomically(templ, text.data(), text.size()), 0);
  form_->findChild<QPlainTextEdit*>("MemoInfo")->setPlainText("Прибор №1");
  auto* grid = form_->findChild<QTableWidget*>("StringGrid1");
  grid->item(1, 0)->setText("<b>&");
  grid->item(2, 2)->setText("");
  vkplatform::ReportCapture reports;
  ASSERT_TRUE(form_->ExportHtml(dir + "/rep.html", templ));
  EXPECT_EQ(reports.Count(), 0u);
  if (const char* shots = std::getenv("VK_SCREENSHOT_DIR")) {
    ASSERT_TRUE(form_->ExportHtml(std::string(shots) + "/report.html", VK_SOURCE_DIR "/data/Report.dat"));
  }
  const std::string page = Read(dir + "/rep.html");
  EXPECT_EQ(page.rfind("<meta charset=utf-8>Прибор №1|Прибор №1|rep.jpeg|<tr>\r", 0), 0u) << page.substr(0, 200);
  EXPECT_NE(page.find("<td>&lt;b&gt;&amp;</td>"), std::string::npos);
  EXPECT_NE(page.find("<td>&nbsp</td>"), std::string::npos);
  EXPECT_NE(page.find("<td>Отстройка &lt;от пика&gt;</td>"), std::string::npos);
  QImageReader picture(QString::fromStdString(dir + "/rep.jpeg"));
  EXPECT_EQ(picture.format(), "jpeg");
  if constexpr (kDiagramBuild) {
    EXPECT_EQ(picture.size(), plot_->size());
    EXPECT_NE(Read(dir + "/rep.svg").find("<svg"), std::string::npos);
  } else {
    EXPECT_EQ(picture.size(), QSize(640, 480));
    EXPECT_FALSE(fs::exists(dir + "/rep.svg"));
  }
  const QImage image = picture.read();
  EXPECT_EQ(image.pixelColor(2, 2), QColor(Qt::white));
}

TEST_F(ReportForm, FallsBackToTheBuiltInTemplateAndReportsAnUnwritableTarget) {
  const std::string dir = Folder("fallback");
  vkplatform::ReportCapture reports;
  ASSERT_TRUE(form_->ExportHtml(dir + "/rep.html", dir + "/none.dat"));
  ASSERT_EQ(reports.Count(), 1u);
  EXPECT_EQ(reports.Reports()[0].text, "Невозможно открыть файл шаблона отчёта \"" + dir +
                                           "/none.dat\".\rБудет использован стандартный шаблон.");
  // The built-in page declares windows-1251 and is written in it.
  const std::string page = Read(dir + "/rep.html");
  EXPECT_NE(page.find("charset=windows-1251"), std::string::npos);
  EXPECT_NE(page.find(vkplatform::Utf8ToCp1251("<td align=left>Отчет</td>")), std::string::npos);
  EXPECT_NE(page.find("<img src=\"rep.jpeg\">"), std::string::npos);

  EXPECT_FALSE(form_->ExportHtml(dir + "/no/such/folder/rep.html", dir + "/none.dat"));
  EXPECT_EQ(reports.CountText("Ошибка при сохранении"), 1u);
}

TEST_F(ReportForm, PrintsToAPdfFileInEitherOrientation) {
  const std::string dir = Folder("print");
  const TModalDialogHook previous = SetModalDialogHook([&dir](QDialog* d) {
    auto* dialog = qobject_cast<QPrintDialog*>(d);
    if (!dialog) return int(QDialog::Rejected);
    dialog->printer()->setOutputFormat(QPrinter::PdfFormat);
    dialog->printer()->setOutputFileName(QString::fromStdString(dir + "/report.pdf"));
    return int(QDialog::Accepted);
  });
  form_->findChild<QToolButton*>("SpeedButtonLandscape")->click();
  EXPECT_TRUE(form_->Landscape());
  form_->findChild<QPushButton*>("ButtonPrint")->click();
  SetModalDialogHook(previous);
  const std::string pdf = Read(dir + "/report.pdf");
  ASSERT_GT(pdf.size(), 1000u);
  EXPECT_EQ(pdf.rfind("%PDF", 0), 0u);
  EXPECT_EQ(Count(pdf, "/Type /Page\n") + Count(pdf, "/Type /Page\r") + Count(pdf, "/Type /Page "), 1u);
  if (const char* shots = std::getenv("VK_SCREENSHOT_DIR"))
    fs::copy_file(dir + "/report.pdf", std::string(shots) + "/report.pdf", fs::copy_options::overwrite_existing);
}

TEST_F(ReportForm, ShowsWhatTheOperatorSeesWithTheLegendOffTheCurves) {
  // Hidden and empty series are in none of the list, picture, legend, tables, page.
  EXPECT_EQ(form_->findChild<QListWidget*>("CheckListBoxMarks")->count(), 2);
  QCustomPlot* chart = form_->ReportChart();
  EXPECT_EQ(chart->graphCount(), 2);
  EXPECT_EQ(chart->legend->itemCount(), 2);
  EXPECT_EQ(form_->MarkersTableText()[0].size(), 4u);
  const std::string dir = Folder("seen");
  ASSERT_TRUE(form_->ExportHtml(dir + "/rep.html", VK_SOURCE_DIR "/data/Report.dat"));
  const std::string page = Read(dir + "/rep.html");
  EXPECT_EQ(page.find("Память 1"), std::string::npos);
  EXPECT_EQ(page.find("Канал B"), std::string::npos);
  // The legend is outside the plot area, on the screen page in either
  // orientation and on the picture of the HTML page.
  for (const char* button : {"SpeedButtonLandscape", "SpeedButtonPortrait"}) {
    form_->findChild<QToolButton*>(button)->click();
    chart->replot();
    EXPECT_FALSE(chart->legend->outerRect().intersects(chart->axisRect()->rect())) << button;
    EXPECT_GT(chart->legend->outerRect().height(), 0) << button;
  }
  chart->toPixmap(640, 480);
  EXPECT_FALSE(chart->legend->outerRect().intersects(chart->axisRect()->rect()));
}

namespace {

// A page like the bench's with every marker showing its statistics: five
// curves of 1,601 points (more columns than either orientation's width
// holds, more legend entries than one row takes), nine hidden memories,
// five markers and two link markers.
class BenchReport : public ::testing::Test {
 protected:
  void SetUp() override {
    TestApp();
    ASSERT_EQ(vkplatform::ComRegisterServer(VK_INTERPRETER_LIBRARY), S_OK);
    plot_ = std::make_unique<QCustomPlot>();
    plot_->resize(900, 500);
    plot_->yAxis->setLabel("Модуль КП, дБ");
    plot_->yAxis2->setLabel("КСВН");
    std::vector<QCPGraph*> series;
    for (int s = 0; s < 14; ++s) {
      QCPGraph* g = plot_->addGraph(plot_->xAxis, s == 1 ? plot_->yAxis2 : plot_->yAxis);
      g->setName(s < 5 ? QStringLiteral("Кривая %1 (канал %1, опора 0 дБ)").arg(s + 1)
                       : QStringLiteral("Память %1").arg(s - 4));
      g->setPen(QPen(QColor::fromHsv(s * 24, 255, 200)));
      for (int i = 0; i < 1601; ++i) {
        const double f = 1000 + i * 0.625;
        g->addData(f, -std::abs(f - 1500) * 0.05 - s + std::sin(i * 0.37 + s) * 0.5);
      }
      g->setVisible(s < 5);
      series.push_back(g);
    }
    plot_->xAxis->setRange(1000, 2000);
    plot_->yAxis->setRange(-40, 5);
    plot_->yAxis2->setRange(-40, 5);
    marks_ = std::make_unique<MarksManager>(plot_.get(), 0, 20000);
    marks_->SetSeries(series);
    for (int m = 0; m < 5; ++m) {
      SMarkParams p = marks_->Mark(m)->GetParams();
      p.enabled = true;
      p.showStatistics = true;
      marks_->Mark(m)->SetParams(p);
      marks_->Mark(m)->SetOnFreq(1100 + m * 200);
    }
    for (int frame = 0; frame < 3; ++frame) marks_->Update();
    for (int j = 0; j < 2; ++j) {
      SLinkParams l;
      l.used = true;
      l.markerA = j;
      l.markerB = j + 1;
      l.description = j == 0 ? "Полоса пропускания" : "Неравномерность";
      marks_->Link(j)->SetParams(l);
    }
    form_ = std::make_unique<TfrmReportManager>(nullptr, plot_.get(), marks_.get());
    form_->findChild<QLineEdit*>("EditTitle")->setText("Фильтр полосовой");
    form_->Fill();
  }
  std::unique_ptr<QCustomPlot> plot_;
  std::unique_ptr<MarksManager> marks_;
  std::unique_ptr<TfrmReportManager> form_;
};

// The text of a PDF file as poppler's pdftotext reads it, blanks collapsed.
QString PdfText(const std::string& pdf) {
  QProcess p;
  p.start("pdftotext", {"-enc", "UTF-8", QString::fromStdString(pdf), "-"});
  if (!p.waitForFinished(60000) || p.exitCode() != 0) {
    ADD_FAILURE() << "pdftotext (poppler-utils) did not read " << pdf;
    return QString();
  }
  return QString::fromUtf8(p.readAllStandardOutput()).simplified();
}

}  // namespace

TEST_F(BenchReport, PrintsTextAndLinesWithTheWholeTableInEitherOrientation) {
  const std::string dir = Folder("bench_print");
  const TTable table = form_->MarkersTableText();
  ASSERT_EQ(table.size(), 6u);
  EXPECT_EQ(table[0].size(), 7u);  // marker, argument, five curves: no memories
  for (const char* orientation : {"SpeedButtonPortrait", "SpeedButtonLandscape"}) {
    SCOPED_TRACE(orientation);
    form_->findChild<QToolButton*>(orientation)->click();
    const std::string file = dir + "/" + orientation + ".pdf";
    {
      QPrinter printer(QPrinter::HighResolution);
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(QString::fromStdString(file));
      ASSERT_TRUE(form_->PrintTo(&printer));
    }
    const std::string pdf = Read(file);
    ASSERT_EQ(pdf.rfind("%PDF", 0), 0u);
    EXPECT_LT(pdf.size(), 300u * 1024);
    EXPECT_EQ(pdf.find("/Subtype /Image"), std::string::npos);  // drawn, not a picture of the screen
    const QString text = PdfText(file);
    // Every column, its header and its last marker's reading.
    for (size_t c = 0; c < table[0].size(); ++c) {
      EXPECT_TRUE(text.contains(QString::fromStdString(table[0][c]))) << table[0][c];
      const std::string last = table[5][c].substr(0, table[5][c].find('\n'));
      EXPECT_TRUE(text.contains(QString::fromStdString(last))) << last;
    }
    for (const char* word :
         {"Фильтр полосовой", "Отчет", "Связь", "Значение", "Полоса пропускания", "Неравномерность"})
      EXPECT_TRUE(text.contains(QString::fromUtf8(word))) << word;
    EXPECT_FALSE(text.contains("Память"));
    if (const char* shots = std::getenv("VK_SCREENSHOT_DIR"))
      fs::copy_file(file, std::string(shots) + "/bench_report_" + orientation + ".pdf",
                    fs::copy_options::overwrite_existing);
  }
}
