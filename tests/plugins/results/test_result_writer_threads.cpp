// Many threads submitting while the writer thread writes (run under TSan).
#include "ResultStore.h"
#include "ResultWriter.h"
#include "ResultsTestSupport.h"
#include "TestHome.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <set>
#include <thread>

using namespace vkresults;
using namespace vkresults_test;

namespace {

// Six threads submit 30 results each while the window polls; every one is in
// the file once. With `retryingServer` the forwarding thread keeps trying a
// server that is not there meanwhile.
void SubmitFromManyThreads(bool retryingServer) {
  ResultsApp();
  TStoreConfig config;
  config.sqliteFile = TestHome() + (retryingServer ? "/threads-outbox.sqlite" : "/threads.sqlite");
  TWriterOptions options;
  if (retryingServer) {
    config.host = "127.0.0.1";
    config.port = 1;  // nothing listens there
    config.database = "vektra";
    config.passwordVariable = "VK_RESULTS_TEST_NO_SUCH_VARIABLE";
    options.firstRetry = std::chrono::milliseconds(5);
    options.lastRetry = std::chrono::milliseconds(20);
  }
  std::filesystem::remove(config.sqliteFile);
  constexpr int kThreads = 6, kEach = 30;
  std::atomic<int> callbacks{0};
  std::mutex idsMutex;
  std::set<std::string> submitted;
  {
    TResultWriter writer(config, options);
    writer.SetStoredCallback([&](const TResult&) { callbacks++; });
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        while (!go) std::this_thread::yield();
        for (int i = 0; i < kEach; ++i) {
          TResult r = MakeResult("thread-" + std::to_string(t) + "-" + std::to_string(i), i % 2 == 0, "");
          {
            std::lock_guard<std::mutex> lock(idsMutex);
            submitted.insert(r.id);
          }
          EXPECT_TRUE(writer.Submit(std::move(r)));
          if (i % 10 == 0) (void)writer.State();  // the window polls while others submit
        }
      });
    }
    go = true;
    for (auto& th : threads) th.join();
    // All written locally; with the server away nothing is forwarded.
    EXPECT_EQ(writer.WaitIdle(std::chrono::seconds(retryingServer ? 1 : 60)), !retryingServer)
        << writer.State().lastError;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (writer.StoredCount() < kThreads * kEach && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(writer.StoredCount(), static_cast<uint64_t>(kThreads * kEach));
    EXPECT_EQ(writer.State().unsent, retryingServer ? kThreads * kEach : 0);
  }
  EXPECT_EQ(callbacks.load(), kThreads * kEach);
  std::string error;
  auto store = TSqlResultStore::OpenSqlite(config.sqliteFile, &error);
  ASSERT_TRUE(store) << error;
  auto ids = IdsWithTag(*store, "thread-");
  EXPECT_EQ(ids.size(), submitted.size());
  for (const auto& id : submitted) EXPECT_EQ(ids[id], 1) << id;
  TCounts c = store->Counts();
  EXPECT_EQ(c.total, kThreads * kEach);
  EXPECT_EQ(c.passed, kThreads * kEach / 2);
  EXPECT_EQ(store->UnsentCount(), kThreads * kEach);  // the outbox, had a server been set
}

}  // namespace

TEST(ResultWriterThreads, ManyThreadsSubmitWhileTheWriterWrites) { SubmitFromManyThreads(false); }

TEST(ResultWriterThreads, ManyThreadsSubmitWhileTheForwarderRetries) { SubmitFromManyThreads(true); }
