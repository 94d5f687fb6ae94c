// Results stored per second: into the bench's SQLite file (write-ahead log,
// synchronous=FULL), into PostgreSQL over the loopback, and through the
// writer (local commit, then forwarding to the server).
//
// The server: the connection facts in the file named by VK_BENCH_PG_CONNINFO
// (a conninfo.env as tests/support/postgres.sh writes it); without it the
// benchmark starts a private server with that script in a folder under /tmp
// and removes it at the end.
#include "../tests/plugins/results/PgConnInfo.h"
#include "Result.h"
#include "ResultStore.h"
#include "ResultWriter.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

using namespace vkresults;

namespace {

std::string g_pgDir;  // the server this benchmark started, if any
TStoreConfig g_pg;
bool g_pgReady = false;

TResult Make(int n) {
  TResult r;
  r.id = NewResultId();
  r.serial = "BENCH-" + std::to_string(n);
  r.operatorName = "Оператор";
  r.bench = "стенд-1";
  r.scheme = "Фильтр";
  r.timeUtc = NowUtc();
  r.pass = n % 7 != 0;
  r.seconds = 8.5;
  for (int i = 0; i < 4; ++i) r.limits.push_back({"Предел " + std::to_string(i), true, 0.5 + i, 1e6 * i});
  for (int i = 0; i < 8; ++i) r.readings.push_back({"Измерение " + std::to_string(i), 1.0 + i, true, "дБ"});
  return r;
}

std::string TempFile(const char* name) {
  const std::string dir = "/tmp/vk-bench-results-" + std::to_string(::getpid());
  std::filesystem::create_directories(dir);
  const std::string file = dir + "/" + name;
  std::filesystem::remove(file);
  std::filesystem::remove(file + "-wal");
  std::filesystem::remove(file + "-shm");
  return file;
}

void BM_StoreSqlite(benchmark::State& state) {
  std::string error;
  auto store = TSqlResultStore::OpenSqlite(TempFile("store.sqlite"), &error);
  if (!store) return state.SkipWithError(error.c_str());
  int n = 0;
  for (auto _ : state) {
    if (!store->Store(Make(++n))) return state.SkipWithError(store->LastError().c_str());
  }
  state.counters["results/s"] = benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StoreSqlite)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

void BM_StorePostgres(benchmark::State& state) {
  if (!g_pgReady) return state.SkipWithError("no PostgreSQL server");
  std::string error;
  auto store = TSqlResultStore::OpenPostgres(g_pg, &error);
  if (!store) return state.SkipWithError(error.c_str());
  int n = 0;
  for (auto _ : state) {
    if (!store->Store(Make(++n))) return state.SkipWithError(store->LastError().c_str());
  }
  state.counters["results/s"] = benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_StorePostgres)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

// 200 results submitted at once, until all are local and on the server.
void BM_WriterToPostgres(benchmark::State& state) {
  if (!g_pgReady) return state.SkipWithError("no PostgreSQL server");
  constexpr int kBatch = 200;
  int n = 0;
  for (auto _ : state) {
    TStoreConfig config = g_pg;
    config.sqliteFile = TempFile("writer.sqlite");
    TResultWriter writer(config);
    for (int i = 0; i < kBatch; ++i) writer.Submit(Make(++n));
    if (!writer.WaitIdle(std::chrono::seconds(120))) return state.SkipWithError(writer.State().lastError.c_str());
  }
  state.counters["results/s"] = benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WriterToPostgres)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  std::string conninfo;
  if (const char* env = std::getenv("VK_BENCH_PG_CONNINFO"); env && *env) {
    conninfo = env;
  } else {
    g_pgDir = "/tmp/vk-bench-postgres-" + std::to_string(::getpid());
    const std::string cmd = std::string(VK_POSTGRES_SCRIPT) + " start '" + g_pgDir + "'";
    if (std::system(cmd.c_str()) == 0) conninfo = g_pgDir + "/conninfo.env";
  }
  g_pgReady = !conninfo.empty() && vkresults_test::ReadConnInfo(conninfo, &g_pg);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (!g_pgDir.empty()) {
    const std::string cmd = std::string(VK_POSTGRES_SCRIPT) + " stop '" + g_pgDir + "'";
    (void)std::system(cmd.c_str());
    std::filesystem::remove_all(g_pgDir);
  }
  std::filesystem::remove_all("/tmp/vk-bench-results-" + std::to_string(::getpid()));
  return 0;
}
