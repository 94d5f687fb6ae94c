// The chart panel with the simulated instrument: 1,601-point sweeps in parts
// of 401, streamed as fast as the scheme takes them, taken and drawn by the
// chart (offscreen): sweeps per second, redraws per second, and how often
// parts are waiting again when a frame has been drawn (the chart reads all
// that waits before it draws, so it is never more than what arrived during
// one draw behind); and the processor's share at 25 sweeps per second.
#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <sys/resource.h>

#include <QVariant>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "DevCommand.h"
#include "SchemeRunner.h"
#include "chart/KorChart.h"

namespace fs = std::filesystem;

namespace {

const fs::path& WorkDir() {
  static const fs::path dir = [] {
    const fs::path d = fs::temp_directory_path() / ("vk-bench-chart-" + std::to_string(::getpid()));
    fs::create_directories(d / "bin" / "Plugins");
    for (const char* lib : {"libKorvanComponents.so", "libKorChartLib.so"})
      fs::create_symlink(fs::path(VK_PLUGINS_DIR).parent_path() / lib, d / "bin" / lib);
    for (const char* p : {"ChartPanel.so", "InstrumentLink.so", "RunGuide.so"})
      fs::copy_file(fs::path(VK_PLUGINS_DIR) / p, d / "bin" / "Plugins" / p);
    return d;
  }();
  return dir;
}

// Processor time of the whole process (the simulated instrument included), or
// of the calling thread: the GUI thread, where the chart takes and draws.
double CpuSeconds(int who = RUSAGE_SELF) {
  rusage u{};
  getrusage(who, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

struct TBench {
  explicit TBench(const char* rate) : runner((WorkDir() / "bin" / "Plugins").string()) {
    const fs::path file = WorkDir() / "chart.vms";
    std::ofstream(file) << "<scheme name=\"b\">"
                           "<node name=\"run\" class=\"TRunGuide\"><parameters autostart=\"true\"/>"
                           "<output name=\"command\"><link node=\"link\" linkpoint=\"command\" queue=\"8\"/></output></node>"
                           "<node name=\"chart\" class=\"TChartPanel\"/>"
                           "<node name=\"link\" class=\"TInstrumentLink\"><parameters address=\"sim\" simpart=\"401\" simrate=\""
                        << rate
                        << "\"/><output name=\"command\"><link node=\"run\" linkpoint=\"command\" queue=\"16\"/></output>"
                           "<output name=\"F\"><link node=\"chart\" linkpoint=\"F\" queue=\"16\"/></output>"
                           "<output name=\"A\"><link node=\"chart\" linkpoint=\"A\" queue=\"16\"/></output>"
                           "<output name=\"B\"><link node=\"chart\" linkpoint=\"B\" queue=\"16\"/></output></node>"
                           "</scheme>";
    runner.Open(file.string());
    fs::remove(runner.Scheme().DefaultProfileFileName());
    runner.Start();
    chart = runner.Host()->findChild<korchart::TKorChart*>("chart");
    runner.Scheme().GetInput(fInput, "chart", "F");
    // The first whole sweep: the run has started.
    runner.RunUntil([this] { return Sweeps() > 0; }, 10000);
  }
  ~TBench() { runner.Stop(); }
  unsigned long long Sweeps() const { return chart->property("sweepsTaken").toULongLong(); }
  unsigned long long Frames() const { return chart->property("framesDrawn").toULongLong(); }

  CSchemeRunner runner;
  korchart::TKorChart* chart = nullptr;
  CInLinkPoint* fInput = nullptr;
};

void BM_StreamingAsFastAsTaken(benchmark::State& state) {
  TBench b("0");
  // Draws after which parts were already waiting again: the chart is behind
  // by at most what came in while it drew.
  unsigned long long draws = 0, behind = 0;
  QObject::connect(b.chart, &korchart::TKorChart::OnAfterDraw, b.chart, [&] {
    ++draws;
    if (b.fInput->GetPacketReady()) ++behind;
  });
  double seconds = 0;
  unsigned long long sweeps = 0, frames = 0;
  for (auto _ : state) {
    const unsigned long long s0 = b.Sweeps(), f0 = b.Frames();
    const auto start = std::chrono::steady_clock::now();
    b.runner.RunFor(1000);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sweeps += b.Sweeps() - s0;
    frames += b.Frames() - f0;
  }
  state.counters["sweeps_per_s"] = sweeps / seconds;
  state.counters["draws_per_s"] = frames / seconds;
  state.counters["draws_with_parts_waiting_pct"] = draws ? 100.0 * behind / draws : 0;
}
BENCHMARK(BM_StreamingAsFastAsTaken)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_ProcessorShareAt25SweepsPerSecond(benchmark::State& state) {
  TBench b("25");
  double cpu = 0, gui = 0, seconds = 0;
  unsigned long long sweeps = 0;
  for (auto _ : state) {
    const unsigned long long s0 = b.Sweeps();
    const double c0 = CpuSeconds(), g0 = CpuSeconds(RUSAGE_THREAD);
    const auto start = std::chrono::steady_clock::now();
    b.runner.RunFor(2000);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cpu += CpuSeconds() - c0;
    gui += CpuSeconds(RUSAGE_THREAD) - g0;
    sweeps += b.Sweeps() - s0;
  }
  state.counters["sweeps_per_s"] = sweeps / seconds;
  state.counters["cpu_percent_of_one_core"] = 100 * cpu / seconds;
  state.counters["gui_thread_cpu_percent"] = 100 * gui / seconds;
}
BENCHMARK(BM_ProcessorShareAt25SweepsPerSecond)->Iterations(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return RunBenchmarksWithApplication(argc, argv, [] { fs::remove_all(WorkDir()); });
}
