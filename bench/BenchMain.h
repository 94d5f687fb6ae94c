#pragma once
// The main of the benchmarks that run schemes: an offscreen application
// around Google Benchmark, and a clean-up when it ends.
#include <benchmark/benchmark.h>

#include <QApplication>

#include <functional>

inline int RunBenchmarksWithApplication(int argc, char** argv, const std::function<void()>& cleanUp) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  cleanUp();
  return 0;
}
