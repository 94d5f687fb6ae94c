// The diagram fed as fast as it takes: four channels of 1,601-point sweeps in
// parts of 401 against one X, each channel with a data trace and a tracking
// marker (offscreen). Sweeps per second taken and redraws per second, and
// how long an event posted to the window waits while the data stream (the
// window must answer the operator within 50 ms). And the five trace filters
// all on, four traces of 20,001-point sweeps: time per point and trace, and
// allocations per sweep once the sizes are known, against the same
// arithmetic in a bare loop measured in the same run; the filters run after
// a paint, as in the operator's GUI thread.
#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
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
#include "VectorState.h"
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
  // The producer stands for an instrument that sends what it has measured:
  // the curves are computed once (a sine per point for every part, in a
  // thread that inherited the GUI thread's registers after a paint, made
  // the producer the limit: 12 sweeps/s at 100,001 points), and each sweep
  // sends them shifted by a point more, so that every sweep differs.
  void Produce() {
    constexpr unsigned kShifts = 64;
    std::vector<double> wave(points + kShifts + 8), xs(points);
    for (size_t k = 0; k < wave.size(); ++k) wave[k] = -20 * std::sin(static_cast<double>(k) * 0.01);
    for (unsigned i = 0; i < points; ++i) xs[i] = 100.0 + i;
    for (unsigned sweep = 0; go; ++sweep)
      for (unsigned offset = 0; offset < points && go; offset += kPart) {
        const unsigned n = std::min(kPart, points - offset);
        for (int input : {kX, kYs[0], kYs[1], kYs[2], kYs[3]}) {
          auto* part = new CDoubleVectorPart(n, points, offset);
          const double* from = input == kX ? xs.data() + offset : wave.data() + offset + (sweep + input) % kShifts;
          std::copy(from, from + n, part->Data());
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
    // The application's own loop, which sleeps when nothing is to be done
    // (as the launcher's does): a loop of processEvents would keep a core
    // busy that the producer needs on a machine of two.
    QEventLoop loop;
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    loop.exec();
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

// The five filters' arithmetic in a bare loop over a whole sweep: averaging
// (n = 4), dB to ratio, a centred running mean (5 %), the deviation over
// sweeps. What the filters cannot do faster than.
struct TBareFilters {
  explicit TBareFilters(size_t points)
      : avg(points), out(points), sum(points), sumSq(points), w(plotdesk::SmoothingWindow(points, 5)) {}
  double Sweep(const double* y, size_t points, unsigned round) {
    const double k = 8;  // 2^(4-1)
    for (size_t i = 0; i < points; ++i) {
      avg[i] = ((k - 1) * avg[i] + y[i]) / k;
      out[i] = std::pow(10.0, 0.1 * avg[i]);
    }
    const size_t h = (w - 1) / 2;
    double run = 0;
    size_t in = 0, first = 0;
    const double n = round + 2.0;
    for (size_t i = 0; i < points; ++i) {
      for (; in < points && in <= i + h; ++in) run += out[in];
      for (; first + h < i; ++first) run -= out[first];
      const double mean = run / static_cast<double>(in - first);
      sum[i] += mean;
      sumSq[i] += mean * mean;
      out[i] = std::sqrt(std::fabs((sumSq[i] - sum[i] * sum[i] / n) / (n - 1)));
    }
    return out[points / 2];
  }
  std::vector<double> avg, out, sum, sumSq;
  size_t w;
};

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
  // In the operator's GUI thread the filters run between paints; a raster
  // paint fills (on the development machine that fill leaves the vector
  // registers' upper halves in use).
  QImage canvas(64, 64, QImage::Format_ARGB32_Premultiplied);
  int paintsLeftDirty = 0, paints = 0;
  auto paint = [&] {
    canvas.fill(Qt::white);
    ++paints;
    if (vkcore::VectorUpperStateInUse() == 1) ++paintsLeftDirty;
  };
  double sink = 0;
  auto sweep = [&](unsigned round) {
    for (auto& chain : chains) {
      paint();
      for (size_t offset = 0; offset < kSweep; offset += kFilterPart) {
        plotdesk::TTraceUpdate u{false, kSweep, offset, std::min(kFilterPart, kSweep - offset), x.data() + offset,
                                 y.data() + offset};
        for (auto& f : chain) f->Apply(u);
        if (u.count) sink += u.y[0] + round;
      }
    }
  };
  std::vector<TBareFilters> bare(kTraces, TBareFilters(kSweep));
  auto bareSweep = [&](unsigned round) {
    vkcore::ClearVectorUpperState();  // the loop in a clean state: the reference
    for (auto& b : bare) sink += b.Sweep(y.data(), kSweep, round);
  };
  // Two sweeps to learn the sizes (the first seeds the holds and the sums).
  sweep(0);
  sweep(1);
  bareSweep(0);
  unsigned long long sweeps = 0, allocations = 0;
  double seconds = 0, bareSeconds = 0;
  paints = paintsLeftDirty = 0;
  // Filters and bare loop interleaved: both see the same machine.
  for (auto _ : state) {
    const auto a0 = std::chrono::steady_clock::now();
    g_allocations = 0;
    g_counting = true;
    sweep(static_cast<unsigned>(sweeps));
    g_counting = false;
    allocations += g_allocations;
    const auto a1 = std::chrono::steady_clock::now();
    bareSweep(static_cast<unsigned>(sweeps));
    const auto a2 = std::chrono::steady_clock::now();
    seconds += std::chrono::duration<double>(a1 - a0).count();
    bareSeconds += std::chrono::duration<double>(a2 - a1).count();
    ++sweeps;
  }
  benchmark::DoNotOptimize(sink);
  const double points = static_cast<double>(sweeps * kSweep * kTraces);
  state.counters["ns_per_point_per_trace"] = sweeps ? seconds * 1e9 / points : 0;
  state.counters["bare_loop_ns_per_point"] = sweeps ? bareSeconds * 1e9 / points : 0;
  state.counters["over_bare_loop"] = bareSeconds > 0 ? seconds / bareSeconds : 0;
  state.counters["allocations_per_sweep"] = sweeps ? static_cast<double>(allocations) / sweeps : 0;
  // 1 when every paint left the registers dirty (the operator's case on
  // such a machine), 0 where paints leave them clean; -1: cannot be told.
  state.counters["paints_left_dirty"] =
      vkcore::VectorUpperStateInUse() < 0 ? -1 : paints ? static_cast<double>(paintsLeftDirty) / paints : 0;
}
BENCHMARK(BM_FiveFiltersOnFourTraces)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return RunBenchmarksWithApplication(argc, argv, [] {});
}
