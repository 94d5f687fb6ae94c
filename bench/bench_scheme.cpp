// Schemes: the cost of opening, starting, stopping and closing a generated
// scheme, and delivery through a running scheme (throughput and latency from
// AddPacket to the handler).
#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <filesystem>
#include <fstream>
#include <sstream>

#include "SchemeRunner.h"

namespace fs = std::filesystem;

namespace {

const fs::path& WorkDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("vk-bench-scheme-" + std::to_string(::getpid()));
    fs::create_directories(d / "plugins");
    for (const char* p : {"TestSource.so", "TestSink.so", "TestPass.so"})
      fs::copy_file(fs::path(VK_TEST_PLUGINS_DIR) / p, d / "plugins" / p,
                    fs::copy_options::overwrite_existing);
    return d;
  }();
  return dir;
}

// 25 sources, 25 sinks; each source feeds four sinks: 50 nodes, 100 wires.
std::string GeneratedScheme() {
  std::ostringstream s;
  s << "<scheme name=\"generated\">\n";
  for (int i = 0; i < 25; ++i) {
    s << "<node name=\"src" << i << "\" class=\"TTestSource\"><output name=\"out\">";
    for (int k = 0; k < 4; ++k)
      s << "<link node=\"sink" << (i + k) % 25 << "\" linkpoint=\"in\" queue=\"4\"/>";
    s << "</output></node>\n";
  }
  for (int i = 0; i < 25; ++i) s << "<node name=\"sink" << i << "\" class=\"TTestSink\"/>\n";
  s << "</scheme>\n";
  const fs::path file = WorkDir() / "generated.vms";
  std::ofstream(file) << s.str();
  return file.string();
}

void BM_OpenStartStopClose(benchmark::State& state) {
  const std::string file = GeneratedScheme();
  CSchemeRunner runner((WorkDir() / "plugins").string());
  for (auto _ : state) {
    if (runner.Open(file) != 0) state.SkipWithError("open failed");
    runner.Start();
    runner.Stop();
    runner.Close();
  }
}
BENCHMARK(BM_OpenStartStopClose)->Unit(benchmark::kMillisecond);

void BM_Delivery(benchmark::State& state) {
  const int queue = static_cast<int>(state.range(0));
  const fs::path file = WorkDir() / ("delivery" + std::to_string(queue) + ".vms");
  std::ofstream(file) << "<scheme name=\"d\"><node name=\"src\" class=\"TTestSource\">"
                         "<parameters stamp=\"true\"/><output name=\"out\">"
                         "<link node=\"sink\" linkpoint=\"in\" queue=\""
                      << queue
                      << "\"/></output></node><node name=\"sink\" class=\"TTestSink\">"
                         "<parameters latency=\"true\"/></node></scheme>";
  CSchemeRunner runner((WorkDir() / "plugins").string());
  runner.Open(file.string());
  fs::remove(runner.Scheme().DefaultProfileFileName());
  double received = 0;
  double seconds = 0;
  for (auto _ : state) {
    runner.Start();
    runner.RunFor(1000);
    received += runner.ModuleValue("sink", "received", 0);
    state.counters["p50_us"] = runner.ModuleValue("sink", "p50", 0);
    state.counters["p99_us"] = runner.ModuleValue("sink", "p99", 0);
    runner.Stop();
    runner.Close();
    runner.Open(file.string());
    fs::remove(runner.Scheme().DefaultProfileFileName());
    seconds += 1.0;
  }
  state.counters["packets_per_s"] = received / seconds;
}
BENCHMARK(BM_Delivery)->Arg(1)->Arg(64)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return RunBenchmarksWithApplication(argc, argv, [] { fs::remove_all(WorkDir()); });
}
