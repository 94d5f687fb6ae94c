// The whole bench scheme in the launcher's window (offscreen), with the
// built-in simulated instrument: the figures an operator feels.
// - a parameter typed into a panel: time until the instrument's
//   confirmation has turned the field back from yellow (median, p99);
// - sweeps per second that reach the chart and the diagram (markers, link
//   markers and the diagram's filters on) at 1,601, 20,001 and 100,001
//   points, the instrument as fast as the scheme takes it;
// - the processor's share at the instrument's nominal 25 sweeps per second;
// - resident memory after an hour's worth of sweeps (90,000) against a
//   minute's worth (1,500), streamed as fast as they are taken.
#include <benchmark/benchmark.h>

#include "BenchMain.h"
#include "LauncherBench.h"

#include <sys/resource.h>
#include <unistd.h>

#include <QDockWidget>
#include <QEventLoop>
#include <QTimer>
#include <QLineEdit>
#include <QTest>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <vector>

#include "MainForm.h"
#include "Startup.h"
#include "platform/Report.h"

namespace fs = std::filesystem;

namespace {

using vkbench::Home;
using vkbench::Now;
using vkbench::ResidentMiB;
using vkbench::RunUntil;

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

void RunFor(double seconds) { RunUntil([] { return false; }, seconds); }

// Waits looking at `done` all the time: the time a reaction takes, to the
// processing of the event that shows it.
bool SpinUntil(const std::function<bool()>& done, double seconds) {
  const double end = Now() + seconds;
  while (Now() < end) {
    if (done()) return true;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return done();
}

// The shipped bench scheme, with the instrument's rate replaced by `rate`
// (0: as fast as the scheme takes the sweeps).
std::string BenchScheme(const char* rate) {
  std::ifstream in(fs::path(VK_BIN_DIR) / "schemes" / "bench.vms");
  std::stringstream text;
  text << in.rdbuf();
  std::string s = text.str();
  const std::string from = "simrate=\"25\"";
  const auto at = s.find(from);
  if (at != std::string::npos) s.replace(at, from.size(), std::string("simrate=\"") + rate + "\"");
  const fs::path file = Home() / (std::string("bench-") + rate + ".vms");
  std::ofstream(file) << s;
  return file.string();
}

struct TBench {
  explicit TBench(const char* rate) {
    static const bool registered = vklauncher::RegisterBundledComponents(VK_BIN_DIR);
    (void)registered;
    fs::remove_all(Home() / ".config" / "korvan" / "vektra" / "defprofiles");
    TLauncherOptions o;
    o.schemeFile = QString::fromStdString(BenchScheme(rate));
    o.pluginsDir = QString(VK_BIN_DIR) + "/Plugins";
    o.helpFile = QString(VK_BIN_DIR) + "/help/vektra.qch";
    o.configDefault = QString(VK_BIN_DIR) + "/data/config.xml";
    form = std::make_unique<TMainForm>(o);
    form->setGeometry(0, 0, 1280, 800);
    form->show();
    chart = form->findChild<QWidget*>("chart");
    if (auto* area = form->findChild<QWidget*>("DiagramArea")) diagram = area->findChild<QWidget*>("Chart");
    if (auto* dock = form->findChild<QDockWidget*>("power")) power = dock->findChild<QLineEdit*>("Edit1");
    if (auto* dock = form->findChild<QDockWidget*>("sweep")) points = dock->findChild<QLineEdit*>("Edit3");
    ready = chart && diagram && power && points && RunUntil([this] { return Sweeps() >= 2; }, 20);
  }
  unsigned long long Sweeps() const { return chart->property("sweepsTaken").toULongLong(); }
  unsigned long long Frames(QWidget* w) const { return w->property("framesDrawn").toULongLong(); }
  unsigned long long DiagramSweeps() const { return diagram->property("framesTaken").toULongLong(); }
  // Types `value` into `edit` and enters it; true once the instrument has
  // confirmed it (the field is no longer yellow).
  bool Enter(QLineEdit* edit, const QString& value, double seconds = 5) {
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, value);
    QTest::keyClick(edit, Qt::Key_Return);
    return SpinUntil([&] { return edit->palette().color(QPalette::Base) != QColor(255, 255, 153); }, seconds);
  }
  std::unique_ptr<TMainForm> form;
  QWidget* chart = nullptr;
  QWidget* diagram = nullptr;
  QLineEdit* power = nullptr;
  QLineEdit* points = nullptr;
  bool ready = false;
};

double Percentile(std::vector<double> v, double p) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  return v[std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5))];
}

void BM_ParameterConfirmation(benchmark::State& state) {
  TBench b("25");
  if (!b.ready) return state.SkipWithError("the bench scheme did not run");
  std::vector<double> ms;
  int k = 0;
  for (auto _ : state) {
    const double t0 = Now();
    if (!b.Enter(b.power, QString::number(-5 - (k++ % 10)))) return state.SkipWithError("not confirmed");
    ms.push_back((Now() - t0) * 1000);
  }
  state.counters["median_ms"] = Percentile(ms, 0.5);
  state.counters["p99_ms"] = Percentile(ms, 0.99);
  state.counters["max_ms"] = Percentile(ms, 1.0);
}
BENCHMARK(BM_ParameterConfirmation)->Iterations(200)->Unit(benchmark::kMillisecond);

void BM_SweepsDisplayedWithMarkersAndFilters(benchmark::State& state) {
  TBench b("0");
  if (!b.ready) return state.SkipWithError("the bench scheme did not run");
  if (!b.Enter(b.points, QString::number(state.range(0)), 10)) return state.SkipWithError("points not confirmed");
  RunFor(1.0);  // the old length's sweeps pass
  double seconds = 0;
  unsigned long long sweeps = 0, diagramSweeps = 0, chartFrames = 0, diagramFrames = 0;
  for (auto _ : state) {
    const auto s0 = b.Sweeps(), d0 = b.DiagramSweeps(), c0 = b.Frames(b.chart), f0 = b.Frames(b.diagram);
    const double t0 = Now();
    RunFor(5.0);
    seconds += Now() - t0;
    sweeps += b.Sweeps() - s0;
    diagramSweeps += b.DiagramSweeps() - d0;
    chartFrames += b.Frames(b.chart) - c0;
    diagramFrames += b.Frames(b.diagram) - f0;
  }
  state.counters["chart_sweeps_per_s"] = sweeps / seconds;
  // The diagram counts the parts it takes (401 points each, both traces).
  const double parts = std::ceil(state.range(0) / 401.0);
  state.counters["diagram_sweeps_per_s"] = diagramSweeps / parts / seconds;
  state.counters["chart_redraws_per_s"] = chartFrames / seconds;
  state.counters["diagram_redraws_per_s"] = diagramFrames / seconds;
}
BENCHMARK(BM_SweepsDisplayedWithMarkersAndFilters)->Arg(1601)->Arg(20001)->Arg(100001)->Iterations(2)->Unit(benchmark::kMillisecond);

void BM_ProcessorShareAtNominalRate(benchmark::State& state) {
  TBench b("25");
  if (!b.ready) return state.SkipWithError("the bench scheme did not run");
  RunFor(1.0);
  double cpu = 0, seconds = 0;
  unsigned long long sweeps = 0;
  for (auto _ : state) {
    const auto s0 = b.Sweeps();
    const double c0 = CpuSeconds(), t0 = Now();
    RunFor(10.0);
    seconds += Now() - t0;
    cpu += CpuSeconds() - c0;
    sweeps += b.Sweeps() - s0;
  }
  state.counters["sweeps_per_s"] = sweeps / seconds;
  state.counters["cpu_percent_of_one_core"] = 100 * cpu / seconds;
}
BENCHMARK(BM_ProcessorShareAtNominalRate)->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_MemoryAfterAnHourOfSweeps(benchmark::State& state) {
  TBench b("0");
  if (!b.ready) return state.SkipWithError("the bench scheme did not run");
  double minute = 0, hour = 0;
  for (auto _ : state) {
    const auto s0 = b.Sweeps();
    RunUntil([&] { return b.Sweeps() - s0 >= 1500; }, 600);
    minute = ResidentMiB();
    if (!RunUntil([&] { return b.Sweeps() - s0 >= 90000; }, 3600)) return state.SkipWithError("too slow");
    hour = ResidentMiB();
  }
  state.counters["rss_after_1500_sweeps_MiB"] = minute;
  state.counters["rss_after_90000_sweeps_MiB"] = hour;
  state.counters["growth_percent"] = minute > 0 ? 100 * (hour - minute) / minute : 0;
}
BENCHMARK(BM_MemoryAfterAnHourOfSweeps)->Iterations(1)->Unit(benchmark::kMillisecond);

// A 30 MB profile (the correction table with two columns of 2,000,000
// values) opened and saved while the bench sweeps: how long each takes, and
// the longest time the window's thread gave no event its turn (a timer
// asked for every 10 ms is late by that much).
void BM_LargeProfile(benchmark::State& state) {
  TBench b("25");
  if (!b.ready) return state.SkipWithError("the bench scheme did not run");
  CSchemeManager& scheme = *b.form->Scheme();
  const std::string file = (Home() / "large.vpr").string();
  scheme.SaveProfile(file.c_str());
  std::string text;
  {
    std::ifstream in(file);
    std::stringstream all;
    all << in.rdbuf();
    text = all.str();
  }
  for (const char* column : {"vector=\"100 350 600 850 1100\"", "vector=\"0 -0.12 -0.25 -0.31 -0.46\""}) {
    const auto at = text.find(column);
    if (at == std::string::npos) return state.SkipWithError("no correction table in the profile");
    std::string values = "vector=\"";
    for (int i = 0; i < 2000000; ++i) values += std::to_string(100 + i * 0.000625).substr(0, 10) + " ";
    values.back() = '"';
    text.replace(at, std::string(column).size(), values);
  }
  std::ofstream(file) << text;
  double worstGap = 0, last = Now(), openSeconds = 0, saveSeconds = 0;
  QTimer ticks;
  QObject::connect(&ticks, &QTimer::timeout, [&] {
    worstGap = std::max(worstGap, Now() - last);
    last = Now();
  });
  ticks.start(10);
  for (auto _ : state) {
    RunFor(0.5);
    worstGap = 0;
    last = Now();
    double t = Now();
    if (scheme.OpenProfile(file.c_str()) != 0) return state.SkipWithError("the profile did not open");
    openSeconds = Now() - t;
    t = Now();
    scheme.SaveProfile((Home() / "saved.vpr").string().c_str());
    saveSeconds = Now() - t;
    RunFor(0.2);
  }
  state.counters["profile_MB"] = static_cast<double>(fs::file_size(file)) / 1e6;
  state.counters["open_s"] = openSeconds;
  state.counters["save_s"] = saveSeconds;
  state.counters["longest_unanswered_s"] = worstGap;
}
BENCHMARK(BM_LargeProfile)->Iterations(1)->Unit(benchmark::kMillisecond);

// The same by the clock, at the instrument's nominal rate: one hour. Only
// with VK_BENCH_HOUR=1 in the environment.
void BM_MemoryAfterAnHourByTheClock(benchmark::State& state) {
  TBench b("25");
  if (!b.ready) return state.SkipWithError("the bench scheme did not run");
  double minute = 0, hour = 0;
  unsigned long long sweeps = 0;
  for (auto _ : state) {
    const auto s0 = b.Sweeps();
    RunFor(60);
    minute = ResidentMiB();
    RunFor(3540);
    hour = ResidentMiB();
    sweeps = b.Sweeps() - s0;
  }
  state.counters["sweeps"] = static_cast<double>(sweeps);
  state.counters["rss_after_1_min_MiB"] = minute;
  state.counters["rss_after_60_min_MiB"] = hour;
  state.counters["growth_percent"] = minute > 0 ? 100 * (hour - minute) / minute : 0;
}


}  // namespace

int main(int argc, char** argv) {
  vkbench::UsePrivateHome("system");
  std::error_code ignored;
  // The schemes' "[schemes]" is the folder beside the program.
  fs::create_directory_symlink(fs::path(VK_BIN_DIR) / "schemes", fs::path(argv[0]).parent_path() / "schemes", ignored);
  vkplatform::ReportCapture reports;  // nobody is there to close a box
  if (const char* hour = std::getenv("VK_BENCH_HOUR"); hour && std::string(hour) == "1")
    benchmark::RegisterBenchmark("BM_MemoryAfterAnHourByTheClock", BM_MemoryAfterAnHourByTheClock)
        ->Iterations(1)
        ->Unit(benchmark::kSecond);
  return RunBenchmarksWithApplication(argc, argv, [&] {
    for (const auto& r : reports.Reports()) std::fprintf(stderr, "message: %s\n", r.text.c_str());
    fs::remove_all(Home(), ignored);
  });
}
