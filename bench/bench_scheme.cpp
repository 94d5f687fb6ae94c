// Schemes: the cost of opening, starting, stopping and closing a generated
// scheme, delivery through a running scheme (throughput and latency from
// AddPacket to the handler, from a module's Process and from a thread of
// its own), and what an idle running scheme costs in processor time.
#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "SchemeRunner.h"

namespace fs = std::filesystem;

namespace {

const fs::path& WorkDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("vk-bench-scheme-" + std::to_string(::getpid()));
    fs::create_directories(d / "plugins");
    for (const char* p : {"TestSource.so", "TestSink.so", "TestPass.so", "TestProbe.so"})
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

// Opening and closing a scheme of N wires: one source's output wired to
// N / 100 sinks, a hundred wires each. Wiring is linear in the wires.
std::string ManyWiresScheme(int wires) {
  const int sinks = std::max(1, wires / 100);
  std::ostringstream s;
  s << "<scheme name=\"wires\">\n<node name=\"src\" class=\"TTestSource\"><output name=\"out\">";
  for (int i = 0; i < wires; ++i) s << "<link node=\"sink" << i % sinks << "\" linkpoint=\"in\" queue=\"4\"/>";
  s << "</output></node>\n";
  for (int i = 0; i < sinks; ++i) s << "<node name=\"sink" << i << "\" class=\"TTestSink\"/>\n";
  s << "</scheme>\n";
  const fs::path file = WorkDir() / ("wires" + std::to_string(wires) + ".vms");
  std::ofstream(file) << s.str();
  return file.string();
}

void BM_OpenCloseManyWires(benchmark::State& state) {
  const std::string file = ManyWiresScheme(static_cast<int>(state.range(0)));
  CSchemeRunner runner((WorkDir() / "plugins").string());
  for (auto _ : state) {
    if (runner.Open(file) != 0) state.SkipWithError("open failed");
    runner.Close();
  }
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_OpenCloseManyWires)->Arg(20000)->Arg(200000)->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond);

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

// The clock the test sink measures delays against.
double NowMicroseconds() {
  return static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now().time_since_epoch())
                                 .count());
}

// A thread of its own (as the instrument link has) sends time stamps every
// 200 µs into a windowless sink: the latency is how fast the waiting worker
// wakes up for a packet that arrives from elsewhere.
void BM_DeliveryFromAnotherThread(benchmark::State& state) {
  const fs::path file = WorkDir() / "crossthread.vms";
  std::ofstream(file) << "<scheme name=\"x\"><node name=\"probe\" class=\"TTestProbe\">"
                         "<output name=\"index\"><link node=\"sink\" linkpoint=\"in\" queue=\"16\"/>"
                         "</output></node><node name=\"sink\" class=\"TTestSink\">"
                         "<parameters latency=\"true\"/></node></scheme>";
  for (auto _ : state) {
    CSchemeRunner runner((WorkDir() / "plugins").string());
    runner.Open(file.string());
    fs::remove(runner.Scheme().DefaultProfileFileName());
    runner.Start();
    COutLinkPoint* out = nullptr;
    runner.Scheme().GetOutput(out, "probe", "index");
    std::atomic<bool> done{false};
    std::thread producer([&] {
      while (!done) {
        auto* p = new CDoublePacket(NowMicroseconds());
        if (out->AddPacket(p) != 0) delete p;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
    runner.RunFor(1000);
    done = true;
    producer.join();
    state.counters["p50_us"] = runner.ModuleValue("sink", "p50", 0);
    state.counters["p99_us"] = runner.ModuleValue("sink", "p99", 0);
    state.counters["received"] = runner.ModuleValue("sink", "received", 0);
    runner.Stop();
  }
}
BENCHMARK(BM_DeliveryFromAnotherThread)->Iterations(2)->Unit(benchmark::kMillisecond);

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A running scheme with nothing to do (a source that sends once an hour, a
// sink): processor time per second of running, the GUI thread asleep. The
// baseline is what the worker's former wait cost: a thread that sleeps 1 ms
// in a loop.
void BM_IdleScheme(benchmark::State& state) {
  const fs::path file = WorkDir() / "idle.vms";
  std::ofstream(file) << "<scheme name=\"i\"><node name=\"src\" class=\"TTestSource\">"
                         "<parameters period=\"3600000\"/><output name=\"out\">"
                         "<link node=\"sink\" linkpoint=\"in\"/></output></node>"
                         "<node name=\"sink\" class=\"TTestSink\"/></scheme>";
  CSchemeRunner runner((WorkDir() / "plugins").string());
  runner.Open(file.string());
  fs::remove(runner.Scheme().DefaultProfileFileName());
  double schemeCpu = 0, baselineCpu = 0, seconds = 0;
  for (auto _ : state) {
    runner.Start();
    runner.RunFor(50);
    double cpu = ProcessCpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    schemeCpu += ProcessCpuSeconds() - cpu;
    runner.Stop();

    std::atomic<bool> stop{false};
    cpu = ProcessCpuSeconds();
    std::thread sleeper([&] {
      while (!stop) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    stop = true;
    sleeper.join();
    baselineCpu += ProcessCpuSeconds() - cpu;
    seconds += 1;
  }
  state.counters["scheme_cpu_ms_per_s"] = schemeCpu / seconds * 1000;
  state.counters["sleep_loop_cpu_ms_per_s"] = baselineCpu / seconds * 1000;
}
BENCHMARK(BM_IdleScheme)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return RunBenchmarksWithApplication(argc, argv, [] { fs::remove_all(WorkDir()); });
}
