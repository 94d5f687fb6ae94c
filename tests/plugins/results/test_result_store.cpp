// The results store on SQLite files, and the writer without a reachable
// server.
#include "ResultSchema.h"
#include "ResultStore.h"
#include "ResultWriter.h"
#include "ResultsTestSupport.h"
#include "TestHome.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace vkresults;
using namespace vkresults_test;

namespace {

class ResultStoreSqlite : public ::testing::Test {
 protected:
  void SetUp() override {
    ResultsApp();
    file_ = TestHome() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".sqlite";
    std::filesystem::remove(file_);
  }
  std::unique_ptr<TSqlResultStore> Open() {
    std::string error;
    auto store = TSqlResultStore::OpenSqlite(file_, &error);
    EXPECT_TRUE(store) << error;
    return store;
  }
  std::string file_;
};


}  // namespace

TEST_F(ResultStoreSqlite, KeepsEveryFieldAndEachIdOnce) {
  auto store = Open();
  ASSERT_TRUE(store);
  TResult r = MakeResult("ФНЧ-0001", true, "2026-12-08T13:15:30.123+03:00");
  ASSERT_TRUE(store->Store(r)) << store->LastError();
  r.timeUtc = "2026-12-08T10:15:30.123Z";  // kept in UTC

  auto latest = store->Latest(10);
  ASSERT_EQ(latest.size(), 1u);
  ExpectSame(latest[0], r);
  auto bySerial = store->LatestForSerial("ФНЧ-0001");
  ASSERT_TRUE(bySerial);
  ExpectSame(*bySerial, r);
  EXPECT_FALSE(store->LatestForSerial("ФНЧ-000"));  // exact, not a part

  // The same id again (a retry after a lost answer): one row, the first one.
  TResult again = r;
  again.serial = "другой";
  again.readings.clear();
  ASSERT_TRUE(store->Store(again)) << store->LastError();
  store.reset();
  store = Open();  // and it is on the disk
  latest = store->Latest(10);
  ASSERT_EQ(latest.size(), 1u);
  ExpectSame(latest[0], r);
  EXPECT_EQ(store->Counts().total, 1);
}

TEST_F(ResultStoreSqlite, RefusesResultsItCouldNotKeepFaithfully) {
  auto store = Open();
  ASSERT_TRUE(store);
  TResult noId = MakeResult("A", true, "2026-12-08T10:00:00.000Z");
  noId.id.clear();
  EXPECT_FALSE(store->Store(noId));
  EXPECT_FALSE(store->LastError().empty());
  TResult badTime = MakeResult("A", true, "08.12.2026 10:00");
  EXPECT_FALSE(store->Store(badTime));
  EXPECT_NE(store->LastError().find("ISO 8601"), std::string::npos) << store->LastError();
  TResult nul = MakeResult(std::string("A\0B", 3), true, "2026-12-08T10:00:00.000Z");
  EXPECT_FALSE(store->Store(nul));
  EXPECT_EQ(store->Counts().total, 0);
  // No time at all: the store puts the current one.
  TResult noTime = MakeResult("B", true, "");
  ASSERT_TRUE(store->Store(noTime));
  EXPECT_EQ(store->Latest(1).at(0).timeUtc.size(), std::string("2026-12-08T10:00:00.000Z").size());
}

TEST_F(ResultStoreSqlite, FiltersCountsYieldAndReadingValues) {
  auto store = Open();
  ASSERT_TRUE(store);
  // Two days: three results yesterday evening, four today in two hours.
  struct { const char* serial; bool pass; const char* time; double value; } rows[] = {
      {"ab-100", true, "2026-12-07T22:10:00.000Z", 1.0},  {"AB-101", false, "2026-12-07T23:59:59.999Z", 2.0},
      {"cd-200", true, "2026-12-07T23:00:00.000Z", 3.0},  {"cd-201", true, "2026-12-08T09:00:00.000Z", 4.0},
      {"ab-102", false, "2026-12-08T09:30:00.000Z", 5.0}, {"ab-103", true, "2026-12-08T10:05:00.000Z", 6.0},
      {"xx-300", true, "2026-12-08T10:06:00.000Z", 7.0},
  };
  for (const auto& row : rows) {
    TResult r = MakeResult(row.serial, row.pass, row.time);
    r.readings[0].value = row.value;
    if (row.value == 7.0) r.readings[0].hasValue = false;
    ASSERT_TRUE(store->Store(r)) << store->LastError();
  }
  auto serials = [](const std::vector<TResult>& v) {
    std::vector<std::string> s;
    for (const auto& r : v) s.push_back(r.serial);
    return s;
  };
  // Newest first, the serial part in any case, the verdict.
  EXPECT_EQ(serials(store->Latest(3)), (std::vector<std::string>{"xx-300", "ab-103", "ab-102"}));
  EXPECT_EQ(serials(store->Latest(10, "Ab-1")), (std::vector<std::string>{"ab-103", "ab-102", "AB-101", "ab-100"}));
  EXPECT_EQ(serials(store->Latest(10, "ab", TVerdictFilter::Fail)), (std::vector<std::string>{"ab-102", "AB-101"}));
  EXPECT_EQ(serials(store->Latest(2, "", TVerdictFilter::Pass)), (std::vector<std::string>{"xx-300", "ab-103"}));
  EXPECT_TRUE(store->Latest(10, "%").empty());  // no pattern characters

  TCounts all = store->Counts();
  EXPECT_EQ(all.total, 7);
  EXPECT_EQ(all.passed, 5);
  EXPECT_EQ(all.failed, 2);
  TCounts today = store->Counts("2026-12-08T03:00:00+03:00");  // midnight UTC
  EXPECT_EQ(today.total, 4);
  EXPECT_EQ(today.passed, 3);

  auto hours = store->YieldPerHour(3, "2026-12-08T10:30:00.000Z");
  ASSERT_EQ(hours.size(), 3u);
  EXPECT_EQ(hours[0].startUtc, "2026-12-08T08:00:00.000Z");
  EXPECT_EQ(hours[0].total, 0);
  EXPECT_EQ(hours[1].startUtc, "2026-12-08T09:00:00.000Z");
  EXPECT_EQ(hours[1].total, 2);
  EXPECT_EQ(hours[1].passed, 1);
  EXPECT_EQ(hours[2].total, 2);
  EXPECT_EQ(hours[2].passed, 2);
  auto days = store->YieldPerDay(3, "2026-12-08T10:30:00.000Z");
  ASSERT_EQ(days.size(), 3u);
  EXPECT_EQ(days[0].startUtc, "2026-12-06T00:00:00.000Z");
  EXPECT_EQ(days[0].total, 0);
  EXPECT_EQ(days[1].total, 3);  // the last millisecond of the 7th counts there
  EXPECT_EQ(days[1].passed, 2);
  EXPECT_EQ(days[2].total, 4);
  EXPECT_EQ(days[2].passed, 3);

  // Newest first, the reading without a value left out.
  EXPECT_EQ(store->ReadingValues("Затухание", 4), (std::vector<double>{6.0, 5.0, 4.0, 2.0}));
  EXPECT_EQ(store->ReadingValues("Затухание", 100).size(), 6u);
  EXPECT_TRUE(store->ReadingValues("нет такого", 100).empty());
  EXPECT_EQ(store->ReadingNames(), (std::vector<std::string>{"Затухание", "КСВН", "Частота среза"}));
}

TEST_F(ResultStoreSqlite, UpgradesAVersion1Database) {
  TResult a = MakeResult("старый-1", true, "2025-01-02T03:04:05.006Z");
  TResult b = MakeResult("старый-2", false, "2025-01-02T03:05:05.006Z");
  std::string error;
  ASSERT_TRUE(schema::WriteVersion1Database(file_, {a, b}, &error)) << error;

  auto store = Open();
  ASSERT_TRUE(store);
  auto latest = store->Latest(10);
  ASSERT_EQ(latest.size(), 2u);
  // What version 1 kept is there; what it lacked is empty.
  TResult expected = b;
  expected.seconds = 0;
  expected.report.clear();
  for (auto& x : expected.readings) x.unit.clear();
  ExpectSame(latest[0], expected);
  EXPECT_EQ(latest[1].id, a.id);
  // The upgraded file takes new results with every field, and opens again.
  TResult c = MakeResult("новый", true, "2026-01-01T00:00:00.000Z");
  ASSERT_TRUE(store->Store(c)) << store->LastError();
  store.reset();
  store = Open();
  ASSERT_TRUE(store);
  ExpectSame(*store->LatestForSerial("новый"), c);
  EXPECT_EQ(store->Counts().total, 3);
  EXPECT_EQ(store->UnsentCount(), 3);  // old results are forwarded too, once a server is set
}

TEST_F(ResultStoreSqlite, RefusesANewerDatabaseAndLeavesItAsItIs) {
  TResult r = MakeResult("S-1", true, "2026-12-08T10:00:00.000Z");
  {
    auto store = Open();
    ASSERT_TRUE(store);
    ASSERT_TRUE(store->Store(r));
  }
  std::string error;
  ASSERT_TRUE(schema::StampSchemaVersion(file_, schema::kCurrentVersion + 1, &error)) << error;
  EXPECT_FALSE(TSqlResultStore::OpenSqlite(file_, &error));
  EXPECT_NE(error.find("версию схемы " + std::to_string(schema::kCurrentVersion + 1)), std::string::npos) << error;
  EXPECT_NE(error.find("не изменена"), std::string::npos) << error;
  // Nothing was taken away: under the right version the result is there.
  ASSERT_TRUE(schema::StampSchemaVersion(file_, schema::kCurrentVersion, &error)) << error;
  auto store = Open();
  ASSERT_TRUE(store);
  ExpectSame(*store->LatestForSerial("S-1"), r);
}

TEST_F(ResultStoreSqlite, EightProcessesStoringAtOnceLoseAndDoubleNothing) {
  const std::string tag = "P" + NewResultId().substr(0, 8);
  std::string output;
  ASSERT_TRUE(RunHelpersAtOnce(8, {"store", "sqlite", QString::fromStdString(file_), QString::fromStdString(tag), "25"},
                               &output))
      << output;
  auto store = Open();
  ASSERT_TRUE(store);
  auto ids = IdsWithTag(*store, tag);
  EXPECT_EQ(ids.size(), 8u * 25 + 1);  // and the one id all eight stored
  for (const auto& [id, n] : ids) EXPECT_EQ(n, 1) << id;
  EXPECT_EQ(ids.count("shared-" + tag), 1u);
  EXPECT_EQ(store->Counts().total, 8 * 25 + 1);
}

TEST(ResultStorePassword, ComesFromTheVariableOrAPrivateFileOnly) {
  ResultsApp();
  const std::string file = TestHome() + "/pgpass-test";
  {
    std::ofstream out(file);
    out << "секрет-1\n";
  }
  ::chmod(file.c_str(), 0644);
  TStoreConfig config;
  config.host = "127.0.0.1";
  config.port = 1;
  config.database = "db";
  config.passwordFile = file;
  config.passwordVariable = "VK_RESULTS_TEST_PASSWORD";
  ::unsetenv("VK_RESULTS_TEST_PASSWORD");
  std::string password, error;
  EXPECT_FALSE(ReadDatabasePassword(config, &password, &error));
  EXPECT_NE(error.find("chmod 600"), std::string::npos) << error;
  EXPECT_TRUE(password.empty());
  // The store refuses to connect with it at all.
  EXPECT_FALSE(TSqlResultStore::OpenPostgres(config, &error));
  EXPECT_NE(error.find(file), std::string::npos) << error;
  EXPECT_EQ(error.find("недоступен"), std::string::npos) << error;

  ::chmod(file.c_str(), 0600);
  ASSERT_TRUE(ReadDatabasePassword(config, &password, &error)) << error;
  EXPECT_EQ(password, "секрет-1");
  ::setenv("VK_RESULTS_TEST_PASSWORD", "из-переменной", 1);
  ASSERT_TRUE(ReadDatabasePassword(config, &password, &error));
  EXPECT_EQ(password, "из-переменной");
  ::unsetenv("VK_RESULTS_TEST_PASSWORD");
  config.passwordFile.clear();
  ASSERT_TRUE(ReadDatabasePassword(config, &password, &error));
  EXPECT_TRUE(password.empty());  // libpq's ~/.pgpass then
}

TEST_F(ResultStoreSqlite, WriterCommitsEverythingSubmittedBeforeItStops) {
  std::atomic<int> called{0};
  std::vector<std::string> ids;
  {
    TStoreConfig config;
    config.sqliteFile = file_;
    TResultWriter writer(config);
    writer.SetStoredCallback([&](const TResult&) { called++; });
    for (int i = 0; i < 40; ++i) {
      TResult r = MakeResult("W-" + std::to_string(i), true, "");
      ids.push_back(r.id);
      ASSERT_TRUE(writer.Submit(r));
    }
    std::string error;
    EXPECT_FALSE(writer.Submit(TResult{}, &error));  // no id
    EXPECT_FALSE(error.empty());
  }  // stops at once, with most of them still waiting
  EXPECT_EQ(called.load(), 40);
  auto store = Open();
  ASSERT_TRUE(store);
  auto stored = IdsWithTag(*store, "W-");
  EXPECT_EQ(stored.size(), 40u);
  for (const auto& id : ids) EXPECT_EQ(stored[id], 1) << id;
  EXPECT_EQ(store->Latest(1)[0].serial, "W-39");
}

TEST_F(ResultStoreSqlite, WriterKeepsTheOutboxWhileTheServerIsAway) {
  TStoreConfig config;
  config.sqliteFile = file_;
  config.host = "127.0.0.1";
  config.port = 1;  // nothing listens there
  config.database = "vektra";
  config.user = "vektra";
  config.passwordVariable = "VK_RESULTS_TEST_NO_SUCH_VARIABLE";
  TWriterOptions options;
  options.firstRetry = std::chrono::milliseconds(20);
  options.lastRetry = std::chrono::milliseconds(100);
  {
    TResultWriter writer(config, options);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(writer.Submit(MakeResult("O-" + std::to_string(i), true, "")));
    EXPECT_FALSE(writer.WaitIdle(std::chrono::milliseconds(1500)));  // nothing can be forwarded
    TWriterState s = writer.State();
    EXPECT_EQ(s.waiting, 0u);
    EXPECT_EQ(s.unsent, 5);
    EXPECT_EQ(s.stored, 5u);
    EXPECT_TRUE(s.serverConfigured);
    EXPECT_FALSE(s.serverReached);
    EXPECT_EQ(s.lastError.rfind("Сервер базы данных недоступен", 0), 0u) << s.lastError;
  }
  auto store = Open();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->UnsentCount(), 5);
  EXPECT_EQ(store->Unsent(10).front().serial, "O-0");  // in the order stored
}

TEST_F(ResultStoreSqlite, WriterWritesLocallyWhileTheServerHangs) {
  // A server that takes the connection and never answers.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 8), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);

  TStoreConfig config;
  config.sqliteFile = file_;
  config.host = "127.0.0.1";
  config.port = ntohs(addr.sin_port);
  config.database = "vektra";
  config.passwordVariable = "VK_RESULTS_TEST_NO_SUCH_VARIABLE";
  config.connectTimeoutSeconds = 2;
  {
    TResultWriter writer(config);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the forwarder is waiting on the server
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(writer.Submit(MakeResult("H-" + std::to_string(i), true, "")));
    while (writer.StoredCount() < 5 && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(writer.StoredCount(), 5u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
    EXPECT_FALSE(writer.State().serverReached);
  }
  ::close(listener);
  auto store = Open();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->UnsentCount(), 5);
}

TEST(ResultWriterLimits, RefusesBeyondTheWaitingCapWhenTheFileCannotBeWritten) {
  ResultsApp();
  const std::string blocker = TestHome() + "/not-a-folder";
  std::ofstream(blocker) << "x";
  TStoreConfig config;
  config.sqliteFile = blocker + "/results.sqlite";
  TWriterOptions options;
  options.maxWaiting = 3;
  options.localGiveUpOnStop = std::chrono::milliseconds(100);
  auto writer = std::make_unique<TResultWriter>(config, options);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(writer->Submit(MakeResult("C", true, "")));
  std::string error;
  EXPECT_FALSE(writer->Submit(MakeResult("C", true, ""), &error));
  EXPECT_NE(error.find("переполнена"), std::string::npos) << error;
  EXPECT_FALSE(writer->WaitIdle(std::chrono::milliseconds(200)));
  TWriterState s = writer->State();
  EXPECT_EQ(s.waiting, 3u);
  EXPECT_FALSE(s.localOpen);
  EXPECT_NE(s.lastError.find(config.sqliteFile), std::string::npos) << s.lastError;
  // Stopping gives up after its bound, not after the next (growing) pause.
  std::this_thread::sleep_for(std::chrono::milliseconds(1600));  // the pause is now 2 s
  const auto stopStart = std::chrono::steady_clock::now();
  writer.reset();
  EXPECT_LT(std::chrono::steady_clock::now() - stopStart, std::chrono::milliseconds(1000));
}
