// The results store on the line's PostgreSQL server: a private server that
// the CTest fixture "postgres" starts (tests/support/postgres.sh). Without it
// these tests fail: they never pass by skipping.
#include "PgConnInfo.h"
#include "ResultStore.h"
#include "ResultWriter.h"
#include "ResultsTestSupport.h"
#include "TestHome.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <cstdlib>
#include <filesystem>
#include <thread>

using namespace vkresults;
using namespace vkresults_test;

namespace {

class ResultStorePostgres : public ::testing::Test {
 protected:
  void SetUp() override {
    ResultsApp();
    ASSERT_TRUE(ReadConnInfo(ConnInfo(), &config_))
        << "the test server did not start: no " << ConnInfo() << " (see the test postgres.start)";
    config_.sqliteFile = TestHome() + "/" + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".sqlite";
    std::filesystem::remove(config_.sqliteFile);
    tag_ = "T" + NewResultId().substr(0, 8);
  }
  void TearDown() override {
    // Whatever happened, the next test finds the server running.
    if (halted_) Server("start");
  }
  static std::string ConnInfo() { return std::string(VK_RESULTS_PG_DIR) + "/conninfo.env"; }
  bool Server(const char* command) {
    halted_ = std::string(command) == "halt";
    const std::string cmd = std::string(VK_POSTGRES_SCRIPT) + " " + command + " '" VK_RESULTS_PG_DIR "'";
    return std::system(cmd.c_str()) == 0;
  }
  std::unique_ptr<TSqlResultStore> Open() {
    std::string error;
    auto store = TSqlResultStore::OpenPostgres(config_, &error);
    EXPECT_TRUE(store) << error;
    return store;
  }
  TStoreConfig config_;
  std::string tag_;
  bool halted_ = false;
};

}  // namespace

TEST_F(ResultStorePostgres, KeepsEveryFieldAndEachIdOnce) {
  auto store = Open();
  ASSERT_TRUE(store);
  TResult r = MakeResult(tag_ + "-ФНЧ", false, "2026-12-08T10:15:30.123Z");
  ASSERT_TRUE(store->Store(r)) << store->LastError();
  ASSERT_TRUE(store->Store(r)) << store->LastError();  // sent twice
  auto got = store->Latest(10, tag_);
  ASSERT_EQ(got.size(), 1u);
  ExpectSame(got[0], r);
  auto bySerial = store->LatestForSerial(r.serial);
  ASSERT_TRUE(bySerial);
  EXPECT_EQ(bySerial->id, r.id);
  EXPECT_EQ(store->Latest(10, tag_, TVerdictFilter::Pass).size(), 0u);
  EXPECT_EQ(store->Latest(10, tag_, TVerdictFilter::Fail).size(), 1u);
  // The same queries as SQLite's work on the server's dialect.
  auto hours = store->YieldPerHour(2, "2026-12-08T10:59:00.000Z");
  ASSERT_EQ(hours.size(), 2u);
  EXPECT_GE(hours[1].total, 1);
  EXPECT_TRUE(store->LastError().empty()) << store->LastError();
  EXPECT_GE(store->Counts("2026-12-08T10:15:30.123Z").total, 1);
  EXPECT_FALSE(store->ReadingValues("Затухание", 5).empty());
}

TEST_F(ResultStorePostgres, EightProcessesStoringAtOnceLoseAndDoubleNothing) {
  std::string output;
  ASSERT_TRUE(RunHelpersAtOnce(8, {"store", "pg", QString::fromStdString(ConnInfo()), QString::fromStdString(tag_), "25"},
                               &output))
      << output;
  auto store = Open();
  ASSERT_TRUE(store);
  auto ids = IdsWithTag(*store, tag_);
  EXPECT_EQ(ids.size(), 8u * 25 + 1);
  for (const auto& [id, n] : ids) EXPECT_EQ(n, 1) << id;
  EXPECT_EQ(ids.count("shared-" + tag_), 1u);
}

TEST_F(ResultStorePostgres, ResultsSubmittedWhileTheServerIsDownArriveOnce) {
  TWriterOptions options;
  options.firstRetry = std::chrono::milliseconds(100);
  options.lastRetry = std::chrono::milliseconds(400);
  config_.connectTimeoutSeconds = 1;
  std::vector<std::string> ids;
  TResultWriter writer(config_, options);
  auto submit = [&](int from, int to) {
    for (int i = from; i < to; ++i) {
      TResult r = MakeResult(tag_ + "-" + std::to_string(i), true, "");
      ids.push_back(r.id);
      ASSERT_TRUE(writer.Submit(r));
    }
  };
  submit(0, 10);
  ASSERT_TRUE(writer.WaitIdle(std::chrono::seconds(10))) << writer.State().lastError;
  EXPECT_TRUE(writer.State().serverReached);

  ASSERT_TRUE(Server("halt"));
  submit(10, 20);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (writer.State().serverReached && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  TWriterState down = writer.State();
  EXPECT_FALSE(down.serverReached);
  EXPECT_EQ(down.lastError.rfind("Сервер базы данных недоступен", 0), 0u) << down.lastError;
  submit(20, 30);
  EXPECT_FALSE(writer.WaitIdle(std::chrono::milliseconds(500)));
  EXPECT_EQ(writer.State().stored, 30u);  // the bench's own file has them all
  EXPECT_GT(writer.State().unsent, 0);

  ASSERT_TRUE(Server("start"));
  ASSERT_TRUE(writer.WaitIdle(std::chrono::seconds(20))) << writer.State().lastError;
  TWriterState up = writer.State();
  EXPECT_TRUE(up.serverReached);
  EXPECT_EQ(up.unsent, 0);
  EXPECT_TRUE(up.lastError.empty()) << up.lastError;

  auto store = Open();
  ASSERT_TRUE(store);
  auto onServer = IdsWithTag(*store, tag_);
  EXPECT_EQ(onServer.size(), ids.size());
  for (const auto& id : ids) EXPECT_EQ(onServer[id], 1) << id;
  // In the order they were submitted.
  auto latest = store->Latest(1, tag_);
  ASSERT_EQ(latest.size(), 1u);
  EXPECT_EQ(latest[0].id, ids.back());
}

TEST_F(ResultStorePostgres, AWriterKilledBetweenResultsLeavesItsOutboxToTheNext) {
  // The killed writer's server is unreachable, so its results stay in its
  // outbox; the next writer, with the right port, forwards them.
  QProcess helper;
  helper.start(QStringLiteral(VK_RESULTS_HELPER),
               {"writer", QString::fromStdString(config_.sqliteFile), QString::fromStdString(ConnInfo()), "1",
                QString::fromStdString(tag_), "200"});
  ASSERT_TRUE(helper.waitForStarted(5000));
  std::vector<std::string> acknowledged;
  while (acknowledged.size() < 8) {
    if (!helper.canReadLine()) {
      ASSERT_TRUE(helper.waitForReadyRead(10000)) << "the helper writer stopped writing";
      continue;
    }
    const std::string line = helper.readLine().trimmed().toStdString();
    if (line.rfind("stored ", 0) == 0) acknowledged.push_back(line.substr(7));
  }
  helper.kill();  // SIGKILL
  ASSERT_TRUE(helper.waitForFinished(5000));
  ASSERT_EQ(helper.exitStatus(), QProcess::CrashExit);

  std::string error;
  std::vector<TResult> left;
  {
    auto local = TSqlResultStore::OpenSqlite(config_.sqliteFile, &error);
    ASSERT_TRUE(local) << error;
    left = local->Unsent(1000);
  }
  ASSERT_GE(left.size(), acknowledged.size());
  // One of them reached the server before the kill, unmarked: sent twice later.
  auto server = Open();
  ASSERT_TRUE(server);
  ASSERT_TRUE(server->Store(left.front())) << server->LastError();

  {
    TResultWriter next(config_);
    ASSERT_TRUE(next.WaitIdle(std::chrono::seconds(20))) << next.State().lastError;
    EXPECT_EQ(next.State().forwarded, left.size());
  }
  auto onServer = IdsWithTag(*server, tag_);
  EXPECT_EQ(onServer.size(), left.size());
  for (const auto& r : left) EXPECT_EQ(onServer[r.id], 1) << r.id;
  for (const auto& id : acknowledged) EXPECT_EQ(onServer[id], 1) << id;
  auto local = TSqlResultStore::OpenSqlite(config_.sqliteFile, &error);
  ASSERT_TRUE(local) << error;
  EXPECT_EQ(local->UnsentCount(), 0);
}
