// The chart with markers: a full redraw of a 20,001-point series with ten
// tracking markers (each searching on every redraw) and ten link markers,
// against a bare QCustomPlot redraw of the same data in the same run; and a
// marker dragged with the mouse (one move event: the marker's layer only).
#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <QMouseEvent>
#include <QTemporaryDir>

#include <chrono>
#include <cmath>
#include <memory>
#include <vector>

#include "chart/KorChart.h"
#include "chart/MarkersManager.h"
#include "limits/LimitLines.h"
#include "markers/LinkMarker.h"
#include "markers/MarkItems.h"
#include "markers/MarksManager.h"
#include "markers/Metka.h"
#include "platform/Com.h"

namespace {

constexpr int kPoints = 20001;
constexpr QSize kSize(1200, 700);

// `points` points over the same span of arguments (1e6 .. 3e6), with the
// same curve: only their density differs.
void Fill(QCPGraph* g, double phase, int points = kPoints) {
  QVector<QCPGraphData> data(points);
  const double step = 2e6 / (points - 1), scale = 100.0 / step;
  for (int i = 0; i < points; ++i) {
    const double x = 1e6 + i * step;
    const double k = i / scale;  // the index the same argument has at kPoints
    data[i] = QCPGraphData(x, -30 + 20 * std::sin(k / 900.0 + phase) + 3 * std::sin(k / 37.0));
  }
  g->data()->set(data, true);
}

void SetUpAxes(QCustomPlot& plot) {
  plot.xAxis->setRange(1e6, 1e6 + (kPoints - 1) * 100.0);
  plot.yAxis->setRange(-60, 0);
  plot.resize(kSize);
  plot.show();
}

// Ten tracking markers over ten spans of the series, and ten link markers
// between neighbours; with `statistics` every label and link also keeps
// statistics, so that every text changes with every frame.
std::unique_ptr<korchart::TKorChart> MarkedChart(bool statistics, int points = kPoints) {
  auto chart = std::make_unique<korchart::TKorChart>();
  QCPGraph* g = chart->addGraph();
  g->setName("S21");
  Fill(g, 0, points);
  SetUpAxes(*chart);
  korchart::TMarkersManager* mm = chart->Markers();
  mm->SetMinArg(0);
  mm->SetMaxArg(1 << 30);
  mm->SetEnabled(true);
  korchart::MarksManager* marks = mm->GetMarksManager();
  for (int i = 0; i < korchart::kMarkerCount; ++i) {
    korchart::SMarkParams p = marks->Mark(i)->GetParams();
    p.enabled = true;
    p.tracking = true;
    p.linkTrace = 1;
    p.action = i % 2 ? korchart::EMarkAction::Maximum : korchart::EMarkAction::Minimum;
    p.limitMin = 1e6 + i * 200000.0;
    p.limitMax = p.limitMin + 200000.0;
    p.divergence = i % 3 == 0 ? 3 : 0;
    p.showStatistics = statistics;
    p.framePos = 20 + 50 * i;
    marks->Mark(i)->SetParams(p);
  }
  for (int j = 0; j < korchart::kLinkMarkerCount; ++j) {
    korchart::SLinkParams l;
    l.used = true;
    l.markerA = j;
    l.markerB = (j + 1) % korchart::kMarkerCount;
    l.expression = "б.S21-а.S21";
    if (statistics) l.print = "%зн (ср. %ср)";
    marks->Link(j)->SetParams(l, false);
  }
  chart->replot();
  return chart;
}

void BM_BareReplot(benchmark::State& state) {
  QCustomPlot plot;
  Fill(plot.addGraph(), 0);
  SetUpAxes(plot);
  for (auto _ : state) plot.replot(QCustomPlot::rpImmediateRefresh);
}
BENCHMARK(BM_BareReplot)->Unit(benchmark::kMillisecond);

void BM_ReplotWithTenMarkersAndTenLinks(benchmark::State& state) {
  auto chart = MarkedChart(state.range(0) != 0);
  for (auto _ : state) chart->replot(QCustomPlot::rpImmediateRefresh);
  state.counters["links_shown"] = [&] {
    int n = 0;
    for (int j = 0; j < korchart::kLinkMarkerCount; ++j) n += chart->Markers()->GetMarksManager()->Link(j)->Shown();
    return n;
  }();
}
BENCHMARK(BM_ReplotWithTenMarkersAndTenLinks)->ArgName("statistics")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Both redraws interleaved in one loop, so that the machine's drift falls on
// both alike: the counter "ratio" is the marked chart's time over the bare one's.
void BM_MarkedOverBareRatio(benchmark::State& state) {
  QCustomPlot bare;
  Fill(bare.addGraph(), 0);
  SetUpAxes(bare);
  auto chart = MarkedChart(state.range(0) != 0);
  using Clock = std::chrono::steady_clock;
  Clock::duration bareTime{}, markedTime{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    bare.replot(QCustomPlot::rpImmediateRefresh);
    const auto t1 = Clock::now();
    chart->replot(QCustomPlot::rpImmediateRefresh);
    markedTime += Clock::now() - t1;
    bareTime += t1 - t0;
  }
  state.counters["ratio"] = std::chrono::duration<double>(markedTime).count() /
                            std::chrono::duration<double>(bareTime).count();
}
BENCHMARK(BM_MarkedOverBareRatio)->ArgName("statistics")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Long sweeps: the marked chart redrawn at 100,001 points against the same
// at 1,601 (interleaved, as above). The graph draws through a min/max
// reduction per pixel column, so the drawing does not grow with the points;
// the markers' searches do, by bisection and linear scans of their spans.
void BM_LongOverShortRedraw(benchmark::State& state) {
  auto shortChart = MarkedChart(false, 1601);
  auto longChart = MarkedChart(false, 100001);
  using Clock = std::chrono::steady_clock;
  Clock::duration shortTime{}, longTime{};
  for (auto _ : state) {
    const auto t0 = Clock::now();
    shortChart->replot(QCustomPlot::rpImmediateRefresh);
    const auto t1 = Clock::now();
    longChart->replot(QCustomPlot::rpImmediateRefresh);
    longTime += Clock::now() - t1;
    shortTime += t1 - t0;
  }
  state.counters["short_ms"] = 1e3 * std::chrono::duration<double>(shortTime).count() / state.iterations();
  state.counters["long_ms"] = 1e3 * std::chrono::duration<double>(longTime).count() / state.iterations();
  state.counters["ratio"] = std::chrono::duration<double>(longTime).count() /
                            std::chrono::duration<double>(shortTime).count();
}
BENCHMARK(BM_LongOverShortRedraw)->Unit(benchmark::kMillisecond);

// The searches and link formulas alone (what a redraw adds to the drawing).
void BM_MarkersUpdateOnly(benchmark::State& state) {
  auto chart = MarkedChart(state.range(0) != 0);
  korchart::MarksManager* marks = chart->Markers()->GetMarksManager();
  for (auto _ : state) marks->Update();
}
BENCHMARK(BM_MarkersUpdateOnly)->ArgName("statistics")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_DragMarker(benchmark::State& state) {
  auto chart = MarkedChart(true);
  korchart::MarksManager* marks = chart->Markers()->GetMarksManager();
  korchart::Metka* m = marks->Mark(0);
  korchart::SMarkParams p = m->GetParams();
  p.action = korchart::EMarkAction::Free;
  p.position = 1.5e6;
  m->SetParams(p);
  chart->replot();
  const QPoint at = m->Layout().indicator.center().toPoint();
  QMouseEvent press(QEvent::MouseButtonPress, at, chart->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(chart.get(), &press);
  int step = 0;
  for (auto _ : state) {
    const QPoint to(at.x() + 10 + (step++ % 200), at.y());
    QMouseEvent move(QEvent::MouseMove, to, chart->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(chart.get(), &move);
  }
  QMouseEvent release(QEvent::MouseButtonRelease, at, chart->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(chart.get(), &release);
}
BENCHMARK(BM_DragMarker)->Unit(benchmark::kMicrosecond);

}  // namespace

// Limit lines judged on four traces of 20,001 points each (a pass-band mask
// of five segments, a failing mask filled): the cost per sweep of all four.
void BM_LimitsOnFourTraces(benchmark::State& state) {
  const size_t n = 20001;
  std::vector<double> x(n);
  std::vector<std::vector<double>> y(4, std::vector<double>(n));
  for (size_t i = 0; i < n; ++i) {
    x[i] = 100 + 900.0 * static_cast<double>(i) / (n - 1);
    const double d = (x[i] - 600) / 60;
    for (size_t t = 0; t < 4; ++t) y[t][i] = -60 * (1 - std::exp(-d * d)) - 0.5 * static_cast<double>(t);
  }
  korchart::TLimitLines limits;
  limits.enabled = true;
  limits.upper = {{100, 450, -40, -40}, {750, 1000, -40, -40}, {450, 550, 0, 0}, {650, 750, 0, 0}};
  limits.lower = {{570, 630, -3, -3}};
  std::vector<uint8_t> mask;
  size_t failing = 0;
  for (auto _ : state) {
    for (size_t t = 0; t < 4; ++t) failing += korchart::JudgeTrace(x.data(), y[t].data(), n, limits, &mask).failing;
    benchmark::DoNotOptimize(mask.data());
  }
  benchmark::DoNotOptimize(failing);
  state.counters["points_per_s"] = benchmark::Counter(4.0 * n, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LimitsOnFourTraces)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv) {
  // The interpreter is registered in a registry of this run's own.
  QTemporaryDir home;
  qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
  vkplatform::ComRegisterServer(VK_INTERPRETER_LIBRARY);
  return RunBenchmarksWithApplication(argc, argv, [] {});
}
