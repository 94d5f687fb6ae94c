// The results station: a unit's run from Start to its result (the model
// alone), and the package on a window fed with the displays' verdicts: the
// station shows ГОДЕН and БРАК, every unit is stored, the questions and the
// results window read them back.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QTableWidget>
#include <QTest>
#include <qcustomplot.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "PacketQueue.h"
#include "PacketTypes.h"
#include "ResultWriter.h"
#include "Results.h"
#include "TestApp.h"
#include "TestHome.h"
#include "VKXml.h"
#include "model/UnitRun.h"
#include "platform/Report.h"
#include "ui/ResultsWindow.h"
#include "ui/StationWindow.h"

namespace fs = std::filesystem;
using namespace vkresults;

namespace {

korchart::TLimitVerdict Verdict(bool pass, double margin, double argument = 600) {
  korchart::TLimitVerdict v;
  v.judged = true;
  v.pass = pass;
  v.worstMargin = margin;
  v.argument = argument;
  v.failing = pass ? 0 : 3;
  return v;
}

// A chart's outcome: its transmission judged, and the band's width with
// limits 95..105.
korchart::TDisplayOutcome Chart(unsigned long long sweep, bool tracePass, double band) {
  korchart::TDisplayOutcome o;
  o.display = "chart";
  o.sweep = sweep;
  o.traces.push_back({"Передача", Verdict(tracePass, tracePass ? 0.7 : -2.5)});
  korchart::TReadingOutcome r;
  r.name = "Полоса";
  r.unit = "МГц";
  r.hasValue = true;
  r.value = band;
  r.limits = {true, true, true, 95, 105};
  r.verdict = korchart::JudgeValue(band, true, r.limits);
  o.readings.push_back(r);
  korchart::TReadingOutcome m;
  m.name = "Маркер 0: Передача";
  m.hasValue = true;
  m.value = -1;
  o.readings.push_back(m);
  korchart::FoldVerdict(o);
  return o;
}

}  // namespace

TEST(UnitRun, SweepsAfterStartEveryDisplayAndTheVerdict) {
  CUnitRun run({2, {"Полоса"}, "стенд", "production"});
  run.Take(0, Chart(7, false, 80));  // before Start: does not count
  run.Start("SN-1", "Петров", 100, {0, 1});
  EXPECT_EQ(run.SweepsAwaited(), 2);
  run.Take(0, Chart(9, true, 99.5));
  EXPECT_FALSE(run.Finish(101));  // the second display has shown nothing yet
  korchart::TDisplayOutcome diagram = Chart(1, true, 100);
  diagram.display = "diagram";
  run.Take(1, diagram);
  EXPECT_EQ(run.SweepsAwaited(), 1);
  diagram.sweep = 2;
  run.Take(1, diagram);
  const auto result = run.Finish(102.5);
  ASSERT_TRUE(result);
  EXPECT_FALSE(run.Running());
  EXPECT_TRUE(result->pass);
  EXPECT_DOUBLE_EQ(result->seconds, 2.5);
  EXPECT_EQ(result->serial, "SN-1");
  EXPECT_EQ(result->operatorName, "Петров");
  EXPECT_EQ(result->scheme, "production");
  ASSERT_EQ(result->limits.size(), 4u);  // a trace and the band, on each display
  EXPECT_EQ(result->limits[0].name, "chart: Передача");
  EXPECT_EQ(result->limits[1].name, "chart: Полоса");
  EXPECT_DOUBLE_EQ(result->limits[1].worstMargin, 4.5);
  ASSERT_EQ(result->readings.size(), 2u) << "only the band, from each display";
  EXPECT_DOUBLE_EQ(result->readings[0].value, 99.5);

  // A band out of its limits fails the unit; so does a display that judged
  // nothing (a unit nothing was checked on is no good unit), and a point
  // without a value gives a margin the store can keep.
  run.Start("SN-2", "", 200, {0});
  run.Take(0, Chart(10, true, 106));
  korchart::TDisplayOutcome last = Chart(11, true, 106);
  last.traces[0].verdict.worstMargin = -INFINITY;
  korchart::FoldVerdict(last);
  run.Take(0, last);
  auto failed = run.Finish(201);
  ASSERT_TRUE(failed);
  EXPECT_FALSE(failed->pass);
  EXPECT_EQ(FailingLimits(*failed), std::vector<std::string>{"chart: Полоса"});
  EXPECT_TRUE(std::isfinite(failed->limits[0].worstMargin));
  run.Start("SN-3", "", 300, {0});
  korchart::TDisplayOutcome none;
  none.display = "chart";
  for (unsigned long long s : {12ull, 13ull}) {
    none.sweep = s;
    run.Take(0, none);
  }
  failed = run.Finish(301);
  ASSERT_TRUE(failed);
  EXPECT_FALSE(failed->pass);
  // A display whose count started again (its scheme restarted) counts anew.
  run.Start("SN-4", "", 400, {0});
  run.Take(0, Chart(1, true, 100));
  EXPECT_EQ(run.SweepsAwaited(), 1);
}

namespace {

struct TApp {
  TApp() { TestApp(); }
};

// The package on a window, its first input fed by the test; its database
// a file of the test's own.
struct TStation : TApp {
  explicit TStation(const std::string& database) {
    host.resize(1000, 700);
    results.SetName("results");
    results.Register();
    results.GetInLinkPoint(AnsiString("verdict1"))->AddSubscription(&feed);
    VKCore::CXMLDocument doc(false);
    doc.OpenFromText("<parameters sweeps=\"2\"><reading name=\"Полоса\"/><database file=\"" + database + "\"/></parameters>");
    host.show();
    EXPECT_EQ(results.DoInitialize(&host, doc.Root()), 0);
  }
  ~TStation() { results.DoFinalize(); }
  void Send(const korchart::TDisplayOutcome& o) {
    feed.AddPacket(new CStringPacket(korchart::OutcomeToXml(o).c_str()));
    feed.NotifySubscribers();
  }
  void Scan(const QString& serial) {
    QLineEdit* edit = results.Station()->SerialEdit();
    edit->selectAll();
    QTest::keyClicks(edit, serial);
    QTest::keyClick(edit, Qt::Key_Return);
  }
  std::string Ask(const std::string& question) {
    AnsiString answer;
    EXPECT_EQ(results.Query(question, answer), VKT_OK) << question << ": " << answer;
    return answer;
  }
  QMainWindow host;
  CPacketQueue feed{8};
  TResults results;
};

}  // namespace

TEST(ResultsStation, ScannedUnitsAreJudgedStoredAndShown) {
  vkplatform::ReportCapture reports;
  const std::string database = TestHome() + "/station/results.sqlite";
  fs::remove_all(TestHome() + "/station");
  {
    TStation s(database);
    QLabel* verdict = s.results.Station()->VerdictLabel();
    s.Send(Chart(1, true, 99));
    s.Scan("SN-100");
    EXPECT_EQ(verdict->text().toStdString(), "Измерение...");
    s.Send(Chart(2, true, 99.5));
    EXPECT_EQ(verdict->text().toStdString(), "Измерение...");
    s.Send(Chart(3, true, 99.6));
    EXPECT_EQ(verdict->text().toStdString(), "ГОДЕН");
    EXPECT_EQ(s.Ask("result last").rfind("SN-100,PASS,", 0), 0u);
    // The next unit: its serial replaces the last one as it is scanned.
    s.Scan("SN-101");
    s.Send(Chart(4, false, 99.6));
    s.Send(Chart(5, false, 99.7));
    EXPECT_EQ(verdict->text().toStdString(), "БРАК");
    ASSERT_EQ(s.results.Station()->FailingList()->count(), 1);
    EXPECT_EQ(s.results.Station()->FailingList()->item(0)->text(), "chart: Передача");
    ASSERT_TRUE(s.results.Writer()->WaitIdle(std::chrono::seconds(10)));
    EXPECT_EQ(s.Ask("result counts"), "2,1,1,50");
    EXPECT_EQ(s.Ask("result serial SN-100").rfind("SN-100,PASS,", 0), 0u);
    EXPECT_EQ(s.Ask("result serial SN-999"), "");

    // The results window: both units, the failed one alone by its verdict,
    // the band's histogram with its limits, the table to CSV.
    s.results.ShowResults();
    CResultsWindow* window = s.results.ResultsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->Table()->rowCount(), 2);
    EXPECT_EQ(window->Table()->item(0, 1)->text(), "SN-101");
    EXPECT_EQ(window->ReadingCombo()->currentText(), "Полоса");
    EXPECT_EQ(window->Histogram()->plottableCount(), 1);
    window->SetReadingLimits({{"Полоса", {true, true, true, 95, 105}}});
    auto* filter = window->findChild<QComboBox*>("VerdictFilter");
    filter->setCurrentIndex(2);
    window->Refresh();
    ASSERT_EQ(window->Table()->rowCount(), 1);
    EXPECT_EQ(window->Table()->item(0, 2)->text(), "БРАК");
    EXPECT_EQ(window->Histogram()->itemCount(), 2) << "the band's minimum and maximum";
    const std::string csv = TestHome() + "/station/shown.csv";
    ASSERT_TRUE(window->ExportCsv(csv));
    std::ifstream in(csv);
    std::string header, row, extra;
    std::getline(in, header);
    std::getline(in, row);
    EXPECT_EQ(header.rfind("Время,Серийный номер,Вердикт", 0), 0u) << header;
    EXPECT_NE(row.find("SN-101,БРАК"), std::string::npos) << row;
    EXPECT_FALSE(std::getline(in, extra) && !extra.empty());
  }
  // Kept in the file after the package went, with the band's reading.
  std::string error;
  auto store = TSqlResultStore::OpenSqlite(database, &error);
  ASSERT_NE(store, nullptr) << error;
  const auto kept = store->Latest(10);
  ASSERT_EQ(kept.size(), 2u);
  ASSERT_EQ(kept[1].readings.size(), 1u);
  EXPECT_EQ(kept[1].readings[0].name, "Полоса");
  EXPECT_DOUBLE_EQ(kept[1].readings[0].value, 99.6);
  EXPECT_EQ(reports.Count(), 0u) << (reports.Count() ? reports.Reports()[0].text : "");
}

TEST(ResultsStation, WithoutADisplayNothingStartsAndItIsSaid) {
  vkplatform::ReportCapture reports;
  TStation s(TestHome() + "/lonely/results.sqlite");
  s.results.GetInLinkPoint(AnsiString("verdict1"))->RemoveSubscription(&s.feed);
  s.Scan("SN-1");
  ASSERT_EQ(reports.Count(), 1u);
  EXPECT_NE(reports.Reports()[0].text.find("verdict1"), std::string::npos);
  EXPECT_EQ(s.Ask("result running"), "0");
  // No serial: nothing starts, the field asks for one.
  s.results.Station()->SerialEdit()->clear();
  s.Scan("");
  EXPECT_EQ(reports.Count(), 1u);
  EXPECT_EQ(s.results.Station()->VerdictLabel()->text().toStdString(), "Нет номера");
}
