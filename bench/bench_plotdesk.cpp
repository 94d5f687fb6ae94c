// The diagram fed as fast as it takes: four channels of 1,601-point sweeps in
// parts of 401 against one X, each channel with a data trace and a tracking
// marker (offscreen). Sweeps per second taken and redraws per second, and
// how long an event posted to the window waits while the data stream (the
// window must answer the operator within 50 ms). And the five trace filters
// all on, four traces of 20,001-point sweeps: time per point and trace, and
// allocations per sweep once the sizes are known.
#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <new>
#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "PacketQueue.h"
#include "filters/FilterAccumulation.h"
#include "filters/FilterQuantity.h"
#include "filters/FilterSmoothing.h"
#include "filters/FilterStat.h"
#include "PlotDesk.h"
#include "VKXml.h"
#include "markers/MarksManager.h"
#include "markers/Metka.h"
#include "ui/DiagramArea.h"

// Allocations counted while a benchmark looks.
std::atomic<bool> g_counting{false};
std::atomic<unsigned long long> g_allocations{0};

void* operator new(std::size_t size) {
  if (g_counting.load(std::memory_order_relaxed)) g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size ? size : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

constexpr unsigned kPart = 401;
constexpr int kInputs = 11;  // X, X1..Y4, MinStimulus, MaxStimulus
constexpr int kX = 0;
const int kYs[] = {2, 4, 6, 8};

struct TDiagram {
  explicit TDiagram(unsigned sweepPoints = 1601) : points(sweepPoints) {
    host.resize(1200, 700);
    auto* panel = new QWidget(&host);
    panel->setObjectName("MainPanel");
    host.setCentralWidget(panel);
    desk.SetName("diagram");
    desk.Register();
    for (int i : {kX, kYs[0], kYs[1], kYs[2], kYs[3]}) {
      queues[static_cast<size_t>(i)].SetQueueSize(16);
      desk.GetInLinkPoint(static_cast<unsigned>(i))->AddSubscription(&queues[static_cast<size_t>(i)]);
    }
    doc.OpenFromText(
        "<parameters><channels>"
        "<channel name=\"К1\"><trace reference=\"0\" scalediv=\"10\"/></channel>"
        "<channel name=\"К2\"><trace/></channel><channel name=\"К3\"><trace/></channel>"
        "<channel name=\"К4\"><trace/></channel></channels></parameters>");
    host.show();
    desk.DoInitialize(&host, doc.Root());
    // A tracking marker on each trace, searching its maximum every frame.
    korchart::MarksManager* marks = desk.Area()->Marks();
    for (int m = 0; m < 4; ++m) {
      korchart::SMarkParams p;
      p.enabled = true;
      p.position = 300 + 300 * m;
      p.action = korchart::EMarkAction::Maximum;
      p.linkTrace = m + 1;
      marks->Mark(m)->SetParams(p);
    }
    producer = std::thread([this] { Produce(); });
  }
  ~TDiagram() {
    go = false;
    producer.join();
    desk.DoFinalize();
    for (auto& q : queues) q.Reset();
  }
  void Produce() {
    for (unsigned sweep = 0; go; ++sweep)
      for (unsigned offset = 0; offset < points && go; offset += kPart) {
        const unsigned n = std::min(kPart, points - offset);
        for (int input : {kX, kYs[0], kYs[1], kYs[2], kYs[3]}) {
          auto* part = new CDoubleVectorPart(n, points, offset);
          for (unsigned i = 0; i < n; ++i)
            (*part)[i] = input == kX ? 100.0 + offset + i : -20 * std::sin((offset + i + sweep + input) * 0.01);
          CPacketQueue& q = queues[static_cast<size_t>(input)];
          while (q.AddPacket(part) != 0) {
            if (!go) {
              delete part;
              return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(50));
          }
          q.NotifySubscribers();
        }
        ++produced;
      }
  }
  unsigned long long Frames() const { return desk.FramesTaken(); }
  unsigned long long Draws() const {
    return desk.Area()->Chart()->property("framesDrawn").toULongLong();
  }

  QMainWindow host;
  TPlotDesk desk;
  std::array<CPacketQueue, kInputs> queues;
  VKCore::CXMLDocument doc;
  std::atomic<bool> go{true};
  std::atomic<unsigned long long> produced{0};  // parts sent on every input
  const unsigned points;
  std::thread producer;
};

void BM_FourChannelsAsFastAsTaken(benchmark::State& state) {
  TDiagram d(static_cast<unsigned>(state.range(0)));
  // An event posted to the window every 20 ms: how long it waits.
  std::vector<double> waits;
  QElapsedTimer clock;
  clock.start();
  QTimer probe;
  probe.setInterval(20);
  QObject::connect(&probe, &QTimer::timeout, &probe, [&] {
    const qint64 posted = clock.nsecsElapsed();
    QMetaObject::invokeMethod(
        d.desk.Area()->Chart(), [&, posted] { waits.push_back((clock.nsecsElapsed() - posted) * 1e-6); },
        Qt::QueuedConnection);
  });
  probe.start();
  double seconds = 0;
  unsigned long long frames = 0, draws = 0, sent = 0;
  for (auto _ : state) {
    const unsigned long long f0 = d.Frames(), d0 = d.Draws(), p0 = d.produced;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 1000) QApplication::processEvents(QEventLoop::AllEvents, 5);
    seconds += t.elapsed() * 1e-3;
    frames += d.Frames() - f0;
    draws += d.Draws() - d0;
    sent += d.produced - p0;
  }
  probe.stop();
  std::sort(waits.begin(), waits.end());
  // A frame is one part on every channel: four frames make a sweep.
  const double parts = std::ceil(static_cast<double>(d.points) / kPart);
  state.counters["sweeps_per_s"] = frames / parts / seconds;
  state.counters["sent_sweeps_per_s"] = sent / parts / seconds;
  state.counters["draws_per_s"] = draws / seconds;
  state.counters["event_wait_median_ms"] = waits.empty() ? 0 : waits[waits.size() / 2];
  state.counters["event_wait_max_ms"] = waits.empty() ? 0 : waits.back();
}
BENCHMARK(BM_FourChannelsAsFastAsTaken)->ArgName("points")->Arg(1601)->Arg(100001)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_FiveFiltersOnFourTraces(benchmark::State& state) {
  constexpr size_t kSweep = 20001, kFilterPart = 2001, kTraces = 4;
  std::vector<std::vector<std::unique_ptr<plotdesk::CFilterBase>>> chains;
  for (size_t t = 0; t < kTraces; ++t) {
    auto chain = plotdesk::MakeFilterChain(nullptr);
    static_cast<plotdesk::CFilterAccumulation*>(chain[0].get())->SetDegree(4);
    static_cast<plotdesk::CFilterQuantity*>(chain[1].get())->SetConversion(1);
    static_cast<plotdesk::CFilterSmoothing*>(chain[2].get())->SetPercent(5);
    static_cast<plotdesk::CFilterStat*>(chain[3].get())->SetMode(1);
    chains.push_back(std::move(chain));
  }
  std::vector<double> x(kSweep), y(kSweep);
  for (size_t i = 0; i < kSweep; ++i) {
    x[i] = 100 + i;
    y[i] = -20 * std::sin(i * 0.001);
  }
  double sink = 0;
  auto sweep = [&](unsigned round) {
    for (auto& chain : chains)
      for (size_t offset = 0; offset < kSweep; offset += kFilterPart) {
        plotdesk::TTraceUpdate u{false, kSweep, offset, std::min(kFilterPart, kSweep - offset), x.data() + offset,
                                 y.data() + offset};
        for (auto& f : chain) f->Apply(u);
        if (u.count) sink += u.y[0] + round;
      }
  };
  // Two sweeps to learn the sizes (the first seeds the holds and the sums).
  sweep(0);
  sweep(1);
  unsigned long long sweeps = 0;
  g_allocations = 0;
  g_counting = true;
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    sweep(static_cast<unsigned>(sweeps));
    ++sweeps;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  g_counting = false;
  benchmark::DoNotOptimize(sink);
  state.counters["ns_per_point_per_trace"] = sweeps ? seconds * 1e9 / static_cast<double>(sweeps * kSweep * kTraces) : 0;
  state.counters["allocations_per_sweep"] = sweeps ? static_cast<double>(g_allocations) / sweeps : 0;
}
BENCHMARK(BM_FiveFiltersOnFourTraces)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return RunBenchmarksWithApplication(argc, argv, [] {});
}
