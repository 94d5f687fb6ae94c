// The whole system as an operator meets it, in the launcher's own window
// (under an X server when one is given): every demo scheme opens and runs;
// on the bench the operator connects through the dialog, changes a setting
// and sees the instrument confirm it, runs, reads a marker placed by
// keyboard, exports reports, closes, and on the next start finds the
// settings and the tool windows where they were left. A fault run: the
// instrument drops the connection in the middle of a sweep and comes back.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDockWidget>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QPrintDialog>
#include <QPrinter>
#include <QSettings>
#include <QTableWidget>
#include <QTest>
#include <QToolBar>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "AboutForm.h"
#include "GuiPlugin.h"
#include "InstrumentSim.h"
#include "Installation.h"
#include "MainForm.h"
#include "PluginFeed.h"
#include "ResultStore.h"
#include "Screenshot.h"
#include "VKPaths.h"
#include "chart/KorChart.h"
#include "chart/MarkersManager.h"
#include "markers/MarksManager.h"
#include "markers/Metka.h"
#include "platform/Report.h"

namespace fs = std::filesystem;

namespace {

std::string Bench() { return std::string(VK_BIN_DIR) + "/schemes/bench.vms"; }

// A fresh account: no configuration, no profiles, no saved window layout.
void FreshAccount(const std::string& addressList = std::string()) {
  Installation();
  fs::remove_all(GetVKDir(dirDefProfiles));
  QSettings("Korvan", "Vektra").remove("ToolsState");
  fs::copy_file(fs::path(VK_BIN_DIR) / "data" / "config.xml", GetConfigFileName(),
                fs::copy_options::overwrite_existing);
  if (!addressList.empty()) std::ofstream(GetConfigFileName(), std::ios::trunc) << addressList;
}

std::unique_ptr<TMainForm> Launcher(const std::string& scheme) {
  TLauncherOptions o;
  o.schemeFile = QString::fromStdString(scheme);
  o.pluginsDir = QString::fromStdString(Installation());
  o.helpFile = QString(VK_BIN_DIR) + "/help/vektra.qch";
  o.configDefault = QString(VK_BIN_DIR) + "/data/config.xml";
  auto form = std::make_unique<TMainForm>(o);
  form->resize(1280, 900);
  form->show();
  return form;
}

QAction* ToolAction(QMainWindow& form, const char* toolbar, const char* name) {
  auto* bar = form.findChild<QToolBar*>(toolbar);
  if (!bar) return nullptr;
  for (QAction* a : bar->actions())
    if (a->objectName() == name) return a;
  return nullptr;
}

quint64 Sweeps(QWidget* chart) { return chart->property("sweepsTaken").toULongLong(); }

// The connection dialog's state as the operator sees it.
struct TDialog {
  QDialog* form = nullptr;
  explicit TDialog(QMainWindow& main) : form(main.findChild<QDialog*>("FormConnect")) {}
  QString Frame() const {
    auto* address = form->findChild<QWidget*>("FrameAddress");
    auto* error = form->findChild<QWidget*>("FrameError");
    if (error && error->isVisibleTo(form)) return "error";
    if (address && address->isVisibleTo(form)) return "address";
    return "connection";
  }
  QString Message() const { return form->findChild<QLabel*>("Message")->text(); }
  QString Error() const { return form->findChild<QLabel*>("LabelError")->text(); }
  void Ok() const { form->findChild<QAbstractButton*>("Button1")->click(); }
  bool Connected() const { return !form->isVisible() && Message() == "Подключение осуществлено"; }
};

}  // namespace

// Every shipped scheme opens in the launcher, runs for a moment against the
// simulated instrument and closes, with nothing said to the operator.
TEST(WholeSystem, EveryDemoSchemeRunsInTheLauncher) {
  TAppFirst app;
  for (const char* name : {"bench.vms", "calibration.vms", "matrix.vms", "logging.vms", "demo.vms", "production.vms"}) {
    SCOPED_TRACE(name);
    FreshAccount();
    vkplatform::ReportCapture reports;
    auto form = Launcher(std::string(VK_BIN_DIR) + "/schemes/" + name);
    ASSERT_FALSE(form->TerminateRequested());
    ASSERT_NE(form->Scheme(), nullptr);
    EXPECT_TRUE(form->Scheme()->Started());
    RunEventsUntil([] { return false; }, 1500);
    form->CloseScheme();
    EXPECT_EQ(reports.Count(), 0u) << (reports.Count() ? reports.Reports().front().text : "");
  }
}

TEST(WholeSystem, BenchSessionFromConnectionToRestart) {
  TAppFirst app;
  FreshAccount();
  vkplatform::ReportCapture reports;
  const fs::path out = fs::path(TestHome()) / "reports";
  fs::create_directories(out);
  {
    auto form = Launcher(Bench());
    ASSERT_FALSE(form->TerminateRequested());
    TDialog dialog(*form);
    ASSERT_NE(dialog.form, nullptr);
    // The shipped configuration connects to the simulator by itself.
    ASSERT_TRUE(RunEventsUntil([&] { return dialog.Connected(); }, 15000)) << dialog.Message().toStdString();

    // Connected again through the dialog, as the operator does from the menu.
    QAction* connect = FindMenuItem(form.get(), "Управление", "Подключение к прибору");
    ASSERT_NE(connect, nullptr);
    connect->trigger();
    ASSERT_TRUE(RunEventsUntil([&] { return dialog.form->isVisible(); }));
    EXPECT_EQ(dialog.Frame(), "address");
    MaybeScreenshot(dialog.form, "system_connection_dialog");
    dialog.Ok();
    EXPECT_EQ(dialog.Frame(), "connection");
    ASSERT_TRUE(RunEventsUntil([&] { return dialog.Connected(); }, 15000)) << dialog.Message().toStdString();

    // The power is typed and entered; yellow until the instrument confirms.
    auto* power = form->findChild<QDockWidget*>("power");
    ASSERT_NE(power, nullptr);
    auto* edit = power->findChild<QLineEdit*>("Edit1");
    ASSERT_NE(edit, nullptr);
    const QColor unconfirmed(255, 255, 153);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, "-5");
    QTest::keyClick(edit, Qt::Key_Return);
    ASSERT_TRUE(RunEventsUntil([&] { return edit->palette().color(QPalette::Base) != unconfirmed; }, 5000));
    EXPECT_EQ(edit->text().toDouble(), -5);

    // Running (the bench starts by itself once the instrument is there);
    // sweeps reach the chart and frames the diagram.
    QAction* start = ToolAction(*form, "run", "ActionStart");
    QAction* stop = ToolAction(*form, "run", "ActionStop");
    ASSERT_TRUE(start && stop);
    if (start->isEnabled()) start->trigger();
    auto* chart = form->findChild<korchart::TKorChart*>("chart");
    auto* diagram = form->findChild<QWidget*>("DiagramArea");
    ASSERT_TRUE(chart && diagram);
    auto* diagramChart = diagram->findChild<QWidget*>("Chart");
    ASSERT_NE(diagramChart, nullptr);
    const quint64 before = Sweeps(chart);
    ASSERT_TRUE(RunEventsUntil([&] {
      return Sweeps(chart) >= before + 3 && diagramChart->property("framesTaken").toULongLong() >= 8;
    }, 20000));
    EXPECT_TRUE(stop->isEnabled());

    // A marker placed by keyboard reads the transmission at the middle of
    // the sweep: the top of the pass band, near 0 dB.
    korchart::MarksManager* marks = chart->Markers()->GetMarksManager();
    marks->SetFocusedMark(2);
    chart->setFocus();
    QTest::keyClick(chart, Qt::Key_V);
    korchart::Metka* marker = marks->Mark(2);
    ASSERT_TRUE(marker->GetActivated());
    RunEventsUntil([&] { return false; }, 300);
    const double value = marker->GetSeriesValue(1);
    EXPECT_NE(value, korchart::kNoValue);
    EXPECT_TRUE(std::isfinite(value));
    EXPECT_GT(value, -20);
    EXPECT_LT(value, 10);
    MaybeScreenshot(form.get(), "system_bench");

    // F1 opens the page of the window that has the focus.
    auto f1 = [&](QWidget* w) {
      w->setFocus();
      QTest::keyClick(w, Qt::Key_F1);
      return form->Help().LastShownUrl().fileName().toStdString();
    };
    EXPECT_EQ(f1(chart), "chartpanel.html");
    EXPECT_EQ(f1(diagramChart), "diagram.html");
    EXPECT_EQ(f1(edit), "constpanel.html");
    TfrmAbout about(form->Plugins(), form.get());
    about.show();
    EXPECT_EQ(f1(&about), "about.html");
    about.hide();

    // Reports: HTML with its picture and a PDF from the chart panel; HTML
    // with its pictures from the diagram.
    const QString base = QString::fromStdString((out / "chart").string());
    auto previousFile = SetFileDialogHook([&](const TFileDialogRequest& r) {
      return r.defaultSuffix == "html" ? base + ".html" : QString();
    });
    QString markerTable;
    auto previousModal = SetModalDialogHook([&](QDialog* d) -> int {
      if (auto* print = qobject_cast<QPrintDialog*>(d)) {
        print->printer()->setOutputFormat(QPrinter::PdfFormat);
        print->printer()->setOutputFileName(QString::fromStdString((out / "chart.pdf").string()));
        return QDialog::Accepted;
      }
      if (d->objectName() != "frmReportManager") return QDialog::Rejected;
      d->show();
      QApplication::processEvents();
      if (auto* table = d->findChild<QTableWidget*>("StringGrid1"))
        for (int r = 0; r < table->rowCount(); ++r)
          for (int c = 0; c < table->columnCount(); ++c)
            if (table->item(r, c)) markerTable += table->item(r, c)->text() + ";";
      d->findChild<QAbstractButton*>("ButtonExport")->click();
      d->findChild<QAbstractButton*>("ButtonPrint")->click();
      d->hide();
      return QDialog::Rejected;
    });
    auto* reportButton = chart->findChild<QAbstractButton*>("ButtonReport");
    ASSERT_NE(reportButton, nullptr);
    reportButton->click();
    EXPECT_TRUE(fs::file_size(out / "chart.html") > 0);
    EXPECT_TRUE(fs::exists(out / "chart.jpeg"));
    ASSERT_TRUE(fs::exists(out / "chart.pdf"));
    std::ifstream pdf(out / "chart.pdf", std::ios::binary);
    std::string head(5, '\0');
    pdf.read(head.data(), 5);
    EXPECT_EQ(head, "%PDF-");
    EXPECT_FALSE(markerTable.isEmpty());

    fs::remove(out / "chart.html");
    auto* diagramReport = diagram->findChild<QAction*>("ActionReport");
    ASSERT_NE(diagramReport, nullptr);
    diagramReport->trigger();
    EXPECT_TRUE(fs::exists(out / "chart.html"));
    EXPECT_TRUE(fs::exists(out / "chart.svg"));
    SetModalDialogHook(previousModal);
    SetFileDialogHook(previousFile);

    // The tool windows rearranged: the power panel to the left.
    form->addDockWidget(Qt::LeftDockWidgetArea, power);
    QApplication::processEvents();
  }
  // The launcher starts again with the same scheme: the setting the
  // instrument confirmed and the layout come back.
  {
    auto form = Launcher(Bench());
    auto* power = form->findChild<QDockWidget*>("power");
    ASSERT_NE(power, nullptr);
    EXPECT_EQ(power->findChild<QLineEdit*>("Edit1")->text().toDouble(), -5);
    EXPECT_EQ(form->dockWidgetArea(power), Qt::LeftDockWidgetArea);
    TDialog dialog(*form);
    EXPECT_TRUE(RunEventsUntil([&] { return dialog.Connected(); }, 15000));
  }
  EXPECT_EQ(reports.Count(), 0u) << (reports.Count() ? reports.Reports().front().text : "");
}

// The instrument drops the connection in the middle of a sweep: the
// launcher stays responsive, the connection dialog comes up with the error,
// and connecting again from it brings the sweeps back with the panel's
// settings sent anew.
TEST(WholeSystem, DroppedConnectionIsShownAndRecovered) {
  TAppFirst app;
  vkinstrument::TSimSettings settings;
  settings.sweepsPerSecond = 25;
  settings.faults.dropAfterParts = 30;  // a sweep of 1,601 points comes in 5 parts
  settings.faults.dropConnections = 1;
  vkinstrument::CInstrumentSimulator instrument(settings);
  const int port = instrument.Start();
  ASSERT_GT(port, 0);
  std::ostringstream list;
  list << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Vektra><AddressList>"
       << "<Group Type=\"q5l\" AutoConnect=\"true\" LastHost=\"127.0.0.1:" << port << "\">"
       << "<Address Name=\"Стенд\" Host=\"127.0.0.1:" << port << "\"/>"
       << "</Group></AddressList></Vektra>\n";
  FreshAccount(list.str());

  auto form = Launcher(Bench());
  TDialog dialog(*form);
  auto* chart = form->findChild<QWidget*>("chart");
  ASSERT_TRUE(chart && dialog.form);
  ASSERT_TRUE(RunEventsUntil([&] { return Sweeps(chart) >= 2; }, 15000));

  // The drop (a moment after the connection was made, perhaps before the
  // dialog announced it): said in the dialog, which comes up by itself.
  ASSERT_TRUE(RunEventsUntil([&] { return dialog.form->isVisible() && dialog.Frame() == "error"; }, 15000))
      << dialog.Frame().toStdString();
  EXPECT_FALSE(dialog.Error().isEmpty());
  MaybeScreenshot(dialog.form, "system_connection_lost");
  QAction* start = ToolAction(*form, "run", "ActionStart");
  QAction* stop = ToolAction(*form, "run", "ActionStop");

  // The operator connects again from the dialog. The instrument greets the
  // new connection afresh: the run it lost is over, and is started again.
  dialog.Ok();
  EXPECT_EQ(dialog.Frame(), "address");
  dialog.Ok();
  ASSERT_TRUE(RunEventsUntil([&] { return dialog.Connected(); }, 15000)) << dialog.Message().toStdString();
  EXPECT_EQ(instrument.Connections(), 2);
  auto* edit = form->findChild<QDockWidget*>("power")->findChild<QLineEdit*>("Edit1");
  EXPECT_FALSE(edit->autoFillBackground());  // the settings confirmed again
  ASSERT_TRUE(RunEventsUntil([&] { return start->isEnabled(); }, 5000)) << "the lost run never ended";
  EXPECT_FALSE(stop->isEnabled());
  start->trigger();
  const quint64 before = Sweeps(chart);
  EXPECT_TRUE(RunEventsUntil([&] { return Sweeps(chart) >= before + 3; }, 15000));
  form.reset();
  instrument.Stop();
}

// The production line's station: a serial scanned (typed with Enter) gives
// ГОДЕН; the sweep panel moved so that the pass band's left edge leaves the
// sweep breaks the bandwidth's limit: the next unit is БРАК; both results
// are in the bench's database with their readings.
TEST(WholeSystem, ProductionStationPassFailAndTheDatabase) {
  TAppFirst app;
  FreshAccount();
  vkplatform::ReportCapture reports;
  const std::string database = vkresults::TStoreConfig::DefaultSqliteFile();
  for (const char* suffix : {"", "-wal", "-shm"}) fs::remove(database + suffix);
  {
    auto form = Launcher(std::string(VK_BIN_DIR) + "/schemes/production.vms");
    ASSERT_FALSE(form->TerminateRequested());
    auto* station = form->findChild<QWidget*>("Station");
    ASSERT_NE(station, nullptr);
    auto* serial = station->findChild<QLineEdit*>("SerialEdit");
    auto* verdict = station->findChild<QLabel*>("VerdictLabel");
    auto* failing = station->findChild<QListWidget*>("FailingList");
    ASSERT_TRUE(serial && verdict && failing);
    QWidget* chart = form->findChild<QWidget*>("chart");
    ASSERT_TRUE(RunEventsUntil([&] { return chart && Sweeps(chart) >= 2; }, 15000));
    auto scan = [&](const QString& number) {
      serial->setFocus();
      serial->selectAll();
      QTest::keyClicks(serial, number);
      QTest::keyClick(serial, Qt::Key_Return);
      return RunEventsUntil([&] { return verdict->text() == "ГОДЕН" || verdict->text() == "БРАК"; }, 15000);
    };
    ASSERT_TRUE(scan("SN-0001"));
    EXPECT_EQ(verdict->text().toStdString(), "ГОДЕН");
    EXPECT_EQ(failing->count(), 0);

    auto* start = form->findChild<QDockWidget*>("sweep")->findChild<QLineEdit*>("Edit1");
    ASSERT_NE(start, nullptr);
    start->setFocus();
    start->selectAll();
    QTest::keyClicks(start, "580");
    QTest::keyClick(start, Qt::Key_Return);
    ASSERT_TRUE(RunEventsUntil([&] { return start->palette().color(QPalette::Base) != QColor(255, 255, 153); }, 5000));
    ASSERT_TRUE(scan("SN-0002"));
    EXPECT_EQ(verdict->text().toStdString(), "БРАК");
    QStringList broken;
    for (int i = 0; i < failing->count(); ++i) broken << failing->item(i)->text();
    EXPECT_EQ(broken.filter("chart: Полоса пропускания").size(), 1) << broken.join("; ").toStdString();
    form->CloseScheme();
  }
  std::string error;
  auto store = vkresults::TSqlResultStore::OpenSqlite(database, &error);
  ASSERT_NE(store, nullptr) << error;
  const auto results = store->Latest(10);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].serial, "SN-0002");
  EXPECT_FALSE(results[0].pass);
  EXPECT_EQ(results[1].serial, "SN-0001");
  EXPECT_TRUE(results[1].pass);
  EXPECT_EQ(results[1].scheme, "production");
  const auto band = std::find_if(results[1].readings.begin(), results[1].readings.end(),
                                 [](const vkresults::TReading& r) { return r.name.find("Полоса") == 0; });
  ASSERT_NE(band, results[1].readings.end());
  EXPECT_TRUE(band->hasValue);
  EXPECT_NEAR(band->value, 99.5, 2);
  // Each unit's report, printed by the chart when its result was made.
  for (const auto& r : results) {
    ASSERT_EQ(r.report.size() > 4 ? r.report.substr(r.report.size() - 4) : "", ".pdf") << r.report;
    EXPECT_NE(r.report.find(r.serial), std::string::npos) << r.report;
    std::ifstream pdf(r.report, std::ios::binary);
    std::string head(5, '\0');
    pdf.read(head.data(), 5);
    EXPECT_EQ(head, "%PDF-") << r.report;
  }
  EXPECT_EQ(reports.Count(), 0u) << (reports.Count() ? reports.Reports().front().text : "");
}
