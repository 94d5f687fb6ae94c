// The limit lines' dialog offscreen (rows added after the last, deleted,
// edited; OK refusing a cell that is no number; CSV import and export
// through the file-dialog hook) and their drawing on a chart (the lines,
// exactly the failing points, the verdict label, nothing left behind).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include <cmath>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>

#include <qcustomplot.h>

#include "GuiPlugin.h"
#include "Screenshot.h"
#include "TestApp.h"
#include "TestHome.h"
#include "limits/LimitDialog.h"
#include "limits/LimitDrawing.h"
#include "platform/Report.h"

using namespace korchart;

namespace {

TLimitLines Band() {
  TLimitLines l;
  l.enabled = true;
  l.upper = {{100, 200, -1, -1}, {200, 400, -1, -5.5}};
  l.lower = {{150, 350, -20, -20}};
  return l;
}

void SetCell(QTableWidget* t, int row, int column, const char* text) { t->item(row, column)->setText(QString::fromUtf8(text)); }
int Kind(QTableWidget* t, int row) { return qobject_cast<QComboBox*>(t->cellWidget(row, 0))->currentIndex(); }
void Click(QWidget& d, const char* name) {
  auto* b = d.findChild<QPushButton*>(name);
  ASSERT_NE(b, nullptr) << name;
  b->click();
}

// Answers the file dialogs with `file` while it lives.
struct TAnswerFiles {
  explicit TAnswerFiles(std::string file)
      : previous(SetFileDialogHook([this, file](const TFileDialogRequest& r) {
          requests.push_back(r);
          return QString::fromStdString(file);
        })) {}
  ~TAnswerFiles() { SetFileDialogHook(previous); }
  std::vector<TFileDialogRequest> requests;
  TFileDialogHook previous;
};

}  // namespace

TEST(LimitDialog, RowsAreAddedDeletedEditedAndOkGivesTheLimits) {
  TestApp();
  TLimitDialog d(nullptr, Band(), "Левый", "дБ");
  EXPECT_TRUE(d.windowTitle().contains("Левый"));
  EXPECT_TRUE(d.findChild<QLabel*>("LimitCaption")->text().contains("дБ"));
  QTableWidget* t = d.findChild<QTableWidget*>("LimitTable");
  ASSERT_EQ(t, d.Table());
  ASSERT_EQ(t->rowCount(), 3);
  EXPECT_EQ(t->horizontalHeaderItem(3)->text(), "Уровень в начале");
  EXPECT_EQ(Kind(t, 2), 1);  // the lower segment after the upper ones
  EXPECT_EQ(t->item(1, 4)->text(), "-5.5");

  // A new row continues the last one: as wide, from its stop, at its level.
  Click(d, "ButtonAdd");
  ASSERT_EQ(t->rowCount(), 4);
  EXPECT_EQ(Kind(t, 3), 1);
  EXPECT_EQ(t->item(3, 1)->text(), "350");
  EXPECT_EQ(t->item(3, 2)->text(), "550");
  EXPECT_EQ(t->item(3, 3)->text(), "-20");

  // Edits with a comma, a kind changed, the first two rows deleted.
  SetCell(t, 3, 4, "-18,25");
  qobject_cast<QComboBox*>(t->cellWidget(3, 0))->setCurrentIndex(0);
  t->setSelectionMode(QAbstractItemView::MultiSelection);
  t->clearSelection();
  t->selectRow(0);
  t->selectRow(1);
  Click(d, "ButtonDelete");
  ASSERT_EQ(t->rowCount(), 2);
  d.findChild<QCheckBox*>("LimitEnabled")->setChecked(false);
  Click(d, "ButtonOk");
  EXPECT_EQ(d.result(), QDialog::Accepted);
  TLimitLines expected;
  expected.upper = {{350, 550, -20, -18.25}};
  expected.lower = {{150, 350, -20, -20}};
  EXPECT_EQ(d.Limits(), expected);

  // An empty table's first row spans the argument range given.
  TLimitDialog empty(nullptr, TLimitLines(), "", "");
  empty.SetArgumentRange(1e6, 3e9);
  Click(empty, "ButtonAdd");
  EXPECT_EQ(empty.Table()->item(0, 1)->text(), "1000000");
  EXPECT_EQ(empty.Table()->item(0, 2)->text(), "3000000000");
}

TEST(LimitDialog, ACellThatIsNoNumberIsRefusedAndNothingIsLost) {
  TestApp();
  vkplatform::ReportCapture reports;
  const TLimitLines given = Band();
  TLimitDialog d(nullptr, given, "Левый", "дБ");
  QTableWidget* t = d.Table();
  d.show();
  SetCell(t, 1, 2, "4OO");
  SetCell(t, 2, 3, "");
  Click(d, "ButtonOk");
  EXPECT_TRUE(d.isVisible());
  EXPECT_NE(d.result(), QDialog::Accepted);
  ASSERT_EQ(reports.Count(), 1u);
  EXPECT_NE(reports.Reports()[0].text.find("Строка 2"), std::string::npos) << reports.Reports()[0].text;
  EXPECT_NE(reports.Reports()[0].text.find("4OO"), std::string::npos);
  EXPECT_EQ(t->currentRow(), 1);
  EXPECT_EQ(t->currentColumn(), 2);
  EXPECT_EQ(t->item(1, 2)->text(), "4OO");  // the text stays to be mended
  EXPECT_EQ(d.Limits(), given);
  // Export refuses it too, before any file is asked for.
  TAnswerFiles files(TestHome() + "/never.csv");
  Click(d, "ButtonExport");
  EXPECT_TRUE(files.requests.empty());
  EXPECT_EQ(reports.Count(), 2u);
  SetCell(t, 1, 2, "400");
  Click(d, "ButtonOk");
  EXPECT_EQ(reports.CountText("Строка 3"), 1u);  // then the empty cell
  SetCell(t, 2, 3, "-20");
  Click(d, "ButtonOk");
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.Limits(), given);
}

TEST(LimitDialog, CsvExportIsWhatImportReadsBackAndABadFileChangesNothing) {
  TestApp();
  vkplatform::ReportCapture reports;
  const std::string file = TestHome() + "/limits.csv";
  TLimitLines written = Band();
  written.upper[0].startLevel = 0.1 + 0.2;  // a number that prints long
  {
    TLimitDialog d(nullptr, written, "Левый", "дБ");
    TAnswerFiles files(file);
    Click(d, "ButtonExport");
    ASSERT_EQ(files.requests.size(), 1u);
    EXPECT_TRUE(files.requests[0].save);
    EXPECT_TRUE(files.requests[0].filter.contains("*.csv"));
  }
  TLimitDialog d(nullptr, TLimitLines(), "Правый", "");
  {
    TAnswerFiles files(file);
    Click(d, "ButtonImport");
    ASSERT_EQ(files.requests.size(), 1u);
    EXPECT_FALSE(files.requests[0].save);
  }
  EXPECT_EQ(reports.Count(), 0u);
  TLimitLines read;
  QString error;
  ASSERT_TRUE(d.ReadTable(read, error)) << error.toStdString();
  read.enabled = true;
  EXPECT_EQ(read, written);

  // A bad line: said with its number and its reason, the table as it was.
  const std::string bad = TestHome() + "/bad.csv";
  std::ofstream(bad) << "Граница;Начало;Конец;Уровень в начале;Уровень в конце\n"
                        "верхняя;1;2;3;4\n"
                        "средняя;1;2;3;4\n";
  // A FIFO nobody writes to is refused at once (it would never end).
  const std::string fifo = TestHome() + "/limits.fifo";
  std::remove(fifo.c_str());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& name : {bad, TestHome() + "/missing.csv", fifo}) {
    TAnswerFiles files(name);
    Click(d, "ButtonImport");
  }
  ASSERT_EQ(reports.Count(), 3u);
  EXPECT_NE(reports.Reports()[0].text.find("Строка 3"), std::string::npos) << reports.Reports()[0].text;
  EXPECT_NE(reports.Reports()[1].text.find("missing.csv"), std::string::npos);
  EXPECT_NE(reports.Reports()[2].text.find("limits.fifo"), std::string::npos);
  TLimitLines after;
  ASSERT_TRUE(d.ReadTable(after, error));
  after.enabled = true;
  EXPECT_EQ(after, written);
  MaybeScreenshot(&d, "limit_dialog");
}

// ---- the drawing ----

namespace {
std::vector<QPointF> Points(QCPCurve* c) {
  std::vector<QPointF> out;
  for (auto it = c->data()->constBegin(); it != c->data()->constEnd(); ++it) out.emplace_back(it->key, it->value);
  return out;
}
}  // namespace

TEST(LimitDrawing, LinesFailingPointsAndTheLabelAndNothingLeftBehind) {
  TestApp();
  QCustomPlot plot;
  plot.resize(500, 300);
  QCPGraph* trace = plot.addGraph(plot.xAxis, plot.yAxis2);
  const int plottables = plot.plottableCount(), items = plot.itemCount();
  auto drawing = std::make_unique<TLimitDrawing>(&plot, plot.xAxis, plot.yAxis2, Qt::blue, "Правый", 1);
  EXPECT_EQ(plot.plottableCount(), plottables + 3);
  EXPECT_EQ(plot.itemCount(), items + 1);
  EXPECT_EQ(drawing->Upper()->valueAxis(), plot.yAxis2);

  const TLimitLines limits = Band();
  drawing->SetLimits(limits);
  ASSERT_TRUE(drawing->Upper()->visible());
  // Two upper segments: a gap (no value) between them.
  const std::vector<QPointF> upper = Points(drawing->Upper());
  ASSERT_EQ(upper.size(), 5u);
  EXPECT_EQ(upper[0], QPointF(100, -1));
  EXPECT_EQ(upper[1], QPointF(200, -1));
  EXPECT_TRUE(std::isnan(upper[2].y()));
  EXPECT_EQ(upper[4], QPointF(400, -5.5));
  EXPECT_EQ(Points(drawing->Lower()), (std::vector<QPointF>{{150, -20}, {350, -20}}));
  EXPECT_EQ(drawing->Upper()->pen().style(), Qt::DashLine);
  EXPECT_FALSE(drawing->Label().Item()->visible());  // no sweep judged yet

  // A sweep with arguments in no order: exactly the masked points are drawn.
  std::vector<double> x, y;
  for (int i = 0; i < 60; ++i) {
    x.push_back(400 - i * 5);
    y.push_back(i % 7 == 0 ? 3.0 : -10.0);
  }
  trace->setData(QVector<double>(x.begin(), x.end()), QVector<double>(y.begin(), y.end()));
  std::vector<uint8_t> mask;
  const TLimitVerdict v = JudgeTrace(x.data(), y.data(), x.size(), limits, &mask);
  ASSERT_FALSE(v.pass);
  drawing->Show(x.data(), y.data(), x.size(), mask, v);
  std::set<std::pair<double, double>> drawn, masked;
  for (auto it = drawing->Failing()->data()->constBegin(); it != drawing->Failing()->data()->constEnd(); ++it)
    drawn.insert({it->key, it->value});
  for (size_t i = 0; i < x.size(); ++i)
    if (mask[i]) masked.insert({x[i], y[i]});
  EXPECT_EQ(drawn, masked);
  EXPECT_EQ(drawn.size(), v.failing);
  EXPECT_TRUE(drawing->Failing()->visible());
  EXPECT_TRUE(drawing->Failing()->name().isEmpty());  // not a trace for the markers
  QCPItemText* label = drawing->Label().Item();
  ASSERT_TRUE(label->visible());
  EXPECT_EQ(label->text(), "Правый: БРАК");
  EXPECT_EQ(label->color(), FailColor());

  // A passing sweep; then the lines off; then everything hidden and back.
  std::vector<double> good(x.size(), -10.0);
  std::vector<uint8_t> none;
  const TLimitVerdict pass = JudgeTrace(x.data(), good.data(), x.size(), limits, &none);
  drawing->Show(x.data(), good.data(), x.size(), none, pass);
  EXPECT_EQ(label->text(), "Правый: ГОДЕН");
  EXPECT_EQ(label->color(), PassColor());
  EXPECT_TRUE(drawing->Failing()->data()->isEmpty());
  drawing->SetVisible(false);
  EXPECT_FALSE(drawing->Upper()->visible() || drawing->Lower()->visible() || label->visible());
  drawing->SetVisible(true);
  EXPECT_TRUE(drawing->Upper()->visible() && label->visible());
  TLimitLines off = limits;
  off.enabled = false;
  drawing->SetLimits(off);
  EXPECT_FALSE(drawing->Upper()->visible() || drawing->Lower()->visible() || label->visible());
  drawing->SetLimits(limits);
  EXPECT_TRUE(drawing->Upper()->visible());
  EXPECT_FALSE(label->visible());  // new limits: the old verdict is not theirs

  // Labels of different indices do not overlap once drawn.
  TVerdictLabel display(&plot, plot.axisRect(), 0);
  display.Show(pass);
  drawing->SetLimits(limits);
  drawing->Show(x.data(), y.data(), x.size(), mask, v);
  plot.replot();
  const QRectF a(display.Item()->topLeft->pixelPosition(), display.Item()->bottomRight->pixelPosition());
  const QRectF b(label->topLeft->pixelPosition(), label->bottomRight->pixelPosition());
  EXPECT_FALSE(a.intersects(b)) << a.bottom() << " " << b.top();
  EXPECT_TRUE(plot.axisRect()->rect().contains(b.toRect()));
  EXPECT_EQ(display.Item()->text(), "ГОДЕН");

  drawing.reset();
  EXPECT_EQ(plot.plottableCount(), plottables);
  EXPECT_EQ(plot.itemCount(), items + 1);  // the display's label only
  // A drawing outliving its plot does no harm.
  auto* gone = new QCustomPlot;
  auto late = std::make_unique<TLimitDrawing>(gone, gone->xAxis, gone->yAxis, Qt::red, "Левый", 0);
  delete gone;
  late->SetLimits(limits);
  late.reset();
}
