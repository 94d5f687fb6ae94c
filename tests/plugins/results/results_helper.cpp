// Stores results from a process of its own, for the tests that run several
// at once or kill one between results.
//   results_helper store sqlite FILE TAG COUNT
//   results_helper store pg CONNINFO TAG COUNT
//     COUNT results with serials TAG-<pid>-<n>, and one result whose id every
//     copy shares ("shared-TAG").
//   results_helper writer FILE CONNINFO PORT TAG COUNT
//     COUNT results through a writer whose local file is FILE and whose server
//     is CONNINFO's on PORT; prints "stored <id>" as each is committed
//     locally, then waits to be killed.
#include "PgConnInfo.h"
#include "Result.h"
#include "ResultStore.h"
#include "ResultWriter.h"

#include <QCoreApplication>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

using namespace vkresults;

namespace {

TResult Make(const std::string& tag, int n) {
  TResult r;
  r.id = NewResultId();
  r.serial = tag + "-" + std::to_string(::getpid()) + "-" + std::to_string(n);
  r.operatorName = "Процесс " + std::to_string(::getpid());
  r.bench = "стенд";
  r.scheme = "Схема";
  r.timeUtc = NowUtc();
  r.pass = n % 3 != 0;
  r.seconds = n;
  r.limits = {{"Предел", r.pass, r.pass ? 1.0 : -1.0, 1e6}};
  r.readings = {{"Напряжение", 1.5 + n, true, "В"}};
  return r;
}

int Store(int argc, char** argv) {
  if (argc != 6) return 2;
  const std::string engine = argv[2], where = argv[3], tag = argv[4];
  const int count = std::stoi(argv[5]);
  std::string error;
  std::unique_ptr<TSqlResultStore> store;
  if (engine == "sqlite") {
    store = TSqlResultStore::OpenSqlite(where, &error);
  } else {
    TStoreConfig config;
    if (!vkresults_test::ReadConnInfo(where, &config)) {
      std::fprintf(stderr, "no server facts in %s\n", where.c_str());
      return 1;
    }
    store = TSqlResultStore::OpenPostgres(config, &error);
  }
  if (!store) {
    std::fprintf(stderr, "open: %s\n", error.c_str());
    return 1;
  }
  TResult shared = Make(tag, 0);
  shared.id = "shared-" + tag;
  shared.serial = tag + "-shared";
  for (int n = 1; n <= count; ++n) {
    if (!store->Store(Make(tag, n))) {
      std::fprintf(stderr, "store: %s\n", store->LastError().c_str());
      return 1;
    }
    if (n == count / 2 && !store->Store(shared)) {
      std::fprintf(stderr, "store shared: %s\n", store->LastError().c_str());
      return 1;
    }
  }
  return 0;
}

int Writer(int argc, char** argv) {
  if (argc != 7) return 2;
  TStoreConfig config;
  if (!vkresults_test::ReadConnInfo(argv[3], &config)) return 1;
  config.sqliteFile = argv[2];
  if (std::stoi(argv[4]) != 0) config.port = std::stoi(argv[4]);
  config.connectTimeoutSeconds = 1;
  const std::string tag = argv[5];
  const int count = std::stoi(argv[6]);
  TWriterOptions options;
  options.firstRetry = std::chrono::milliseconds(50);
  options.lastRetry = std::chrono::milliseconds(200);
  TResultWriter writer(config, options);
  writer.SetStoredCallback([](const TResult& r) {
    std::printf("stored %s\n", r.id.c_str());
    std::fflush(stdout);
  });
  for (int n = 1; n <= count; ++n) {
    writer.Submit(Make(tag, n));
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  }
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "store") return Store(argc, argv);
  if (mode == "writer") return Writer(argc, argv);
  std::fprintf(stderr, "usage: results_helper store|writer ...\n");
  return 2;
}
