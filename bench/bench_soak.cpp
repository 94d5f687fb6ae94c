// The long run: a million sweeps from the simulated instrument (as fast as
// the scheme takes them, 11 points each) into the recorder and a diagram,
// in the launcher's window units (offscreen). It measures how fast they go,
// whether resident memory stays flat after the warm-up (within 5 %),
// whether open files grow, and whether anything was lost: the recorder's
// files must hold every sweep number from 1 on, each sweep whole.
//   build/bench/bench_soak                      # a million sweeps
//   VK_SOAK_SWEEPS=100000 build/bench/bench_soak
#include <benchmark/benchmark.h>

#include "BenchMain.h"
#include "LauncherBench.h"

#include <unistd.h>

#include <QEventLoop>
#include <QTimer>
#include <QVariant>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "MainForm.h"
#include "Startup.h"
#include "platform/Report.h"

namespace fs = std::filesystem;

namespace {

using vkbench::Home;
using vkbench::Now;
using vkbench::ResidentMiB;

size_t OpenFiles() {
  size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

bool RunUntil(const std::function<bool()>& done, double seconds) { return vkbench::RunUntil(done, seconds, 5); }

std::string Scheme(const fs::path& records) {
  std::ostringstream s;
  s << R"(<scheme name="Прогон">
  <node name="link" class="TInstrumentLink">
    <parameters address="sim" simrate="0" simpart="401" timeout="3000"/>
    <output name="F"><link node="recorder" linkpoint="F" queue="64"/><link node="diagram" linkpoint="X" queue="64"/></output>
    <output name="A"><link node="recorder" linkpoint="A" queue="64"/><link node="diagram" linkpoint="Y1" queue="64"/>
      <link node="run" linkpoint="vector" queue="64"/></output>
    <output name="B"><link node="recorder" linkpoint="B" queue="64"/><link node="diagram" linkpoint="Y2" queue="64"/></output>
    <output name="command"><link node="run" linkpoint="command" queue="16"/><link node="sweep" linkpoint="command" queue="16"/></output>
  </node>
  <node name="sweep" class="TConstPanel">
    <parameters type="parameter" control="true" dock="DockRight" caption="Развёртка" parameter="P_FREQUENCY" base="8" fract="2">
      <element caption="Начальная" value="100"/><element caption="Конечная" value="1100"/><element caption="Точек" value="11"/>
    </parameters>
    <output name="command"><link node="link" linkpoint="command" queue="16"/></output>
  </node>
  <node name="run" class="TRunGuide">
    <parameters dock="DockTop" caption="Измерение" autostart="true"/>
    <output name="command"><link node="link" linkpoint="command" queue="16"/></output>
  </node>
  <node name="diagram" class="TPlotDesk">
    <parameters><channels><channel name="К1"><trace/></channel><channel name="К2"><trace/></channel></channels></parameters>
  </node>
  <node name="recorder" class="TRecorder">
    <parameters folder=")"
    << records.string() << R"(" prefix="soak" maxsize="50" stall="30"/>
  </node>
</scheme>
)";
  const fs::path file = Home() / "soak.vms";
  std::ofstream(file) << s.str();
  return file.string();
}

// Every sweep number from 1 to the last, each with all its points (indices
// 0, 1, ... in order), in the files in the order they were written: the
// count of sweeps, or minus the number at the first gap.
long long CheckRecords(const fs::path& folder) {
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(folder)) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  long long last = 0, rows = 0;
  for (const fs::path& f : files) {
    std::ifstream in(f);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
      const long long id = std::atoll(line.c_str());
      // sweep,time,index,...: the index is the third field.
      const size_t second = line.find(',', line.find(',') + 1);
      const long long index = second == std::string::npos ? -1 : std::atoll(line.c_str() + second + 1);
      if (id == last && index == rows) {
        ++rows;
      } else if (id == last + 1 && index == 0) {
        last = id;
        rows = 1;
      } else {
        std::fprintf(stderr, "records: after sweep %lld (%lld rows), %s: %s\n", last, rows,
                     f.filename().c_str(), line.c_str());
        return -(last + 1);
      }
    }
  }
  return last;
}

void BM_MillionSweeps(benchmark::State& state) {
  const char* env = std::getenv("VK_SOAK_SWEEPS");
  const unsigned long long target = env ? std::strtoull(env, nullptr, 10) : 1000000ull;
  const fs::path records = Home() / "records";
  for (auto _ : state) {
    TLauncherOptions o;
    o.schemeFile = QString::fromStdString(Scheme(records));
    o.pluginsDir = QString(VK_BIN_DIR) + "/Plugins";
    o.configDefault = QString(VK_BIN_DIR) + "/data/config.xml";
    o.helpFile = QString(VK_BIN_DIR) + "/help/vektra.qch";
    auto form = std::make_unique<TMainForm>(o);
    form->setGeometry(0, 0, 1280, 800);
    form->show();
    QWidget* area = form->findChild<QWidget*>("DiagramArea");
    QWidget* chart = area ? area->findChild<QWidget*>("Chart") : nullptr;
    if (!chart) return state.SkipWithError("the soak scheme did not open");
    // Sweeps of 11 points come in one part: each frame is a sweep.
    auto sweeps = [&] { return chart->property("framesTaken").toULongLong(); };
    const unsigned long long warm = std::min<unsigned long long>(50000, target / 10);
    const double t0 = Now();
    RunUntil([&] { return sweeps() >= warm; }, 3600);
    const double rssWarm = ResidentMiB();
    const size_t filesWarm = OpenFiles();
    const double t1 = Now();
    RunUntil([&] { return sweeps() >= target; }, 6 * 3600);
    const double t2 = Now();
    const double rssEnd = ResidentMiB();
    const size_t filesEnd = OpenFiles();
    const unsigned long long shown = sweeps();
    form.reset();  // the scheme stops; the recorder closes its file
    const long long recorded = CheckRecords(records);
    state.counters["sweeps"] = static_cast<double>(shown);
    state.counters["sweeps_per_s"] = (shown - warm) / (t2 - t1);
    state.counters["warmup_s"] = t1 - t0;
    state.counters["rss_warm_MiB"] = rssWarm;
    state.counters["rss_end_MiB"] = rssEnd;
    state.counters["rss_growth_percent"] = 100 * (rssEnd - rssWarm) / rssWarm;
    state.counters["open_files_growth"] = static_cast<double>(filesEnd) - static_cast<double>(filesWarm);
    state.counters["recorded_continuous"] = static_cast<double>(recorded);
  }
}
BENCHMARK(BM_MillionSweeps)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

int main(int argc, char** argv) {
  vkbench::UsePrivateHome("soak");
  // Messages are printed as they come (with the run's time), never shown.
  const double start = Now();
  vkplatform::SetReportHook([start](const vkplatform::Report& r) {
    std::fprintf(stderr, "message at %.1f s: %s\n", Now() - start, r.text.c_str());
    return r.defaultAnswer;
  });
  std::error_code ignored;
  return RunBenchmarksWithApplication(argc, argv, [&] {
    vkplatform::SetReportHook(vkplatform::ReportHook());
    fs::remove_all(Home(), ignored);
  });
}
