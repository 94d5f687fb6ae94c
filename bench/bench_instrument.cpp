// The instrument link over loopback: MI_SET round trips and sweep streaming
// from the simulated instrument into a polling reader.
#include <benchmark/benchmark.h>

#include "BenchMain.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "DevCommand.h"
#include "SchemeRunner.h"

namespace fs = std::filesystem;

namespace {

const fs::path& WorkDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("vk-bench-instrument-" + std::to_string(::getpid()));
    fs::create_directories(d / "plugins");
    fs::copy_file(fs::path(VK_TEST_PLUGINS_DIR) / "TestProbe.so", d / "plugins" / "TestProbe.so",
                  fs::copy_options::overwrite_existing);
    fs::copy_file(fs::path(VK_PLUGINS_DIR) / "InstrumentLink.so", d / "plugins" / "InstrumentLink.so",
                  fs::copy_options::overwrite_existing);
    return d;
  }();
  return dir;
}

struct TLink {
  explicit TLink(const char* parameters) : runner((WorkDir() / "plugins").string()) {
    std::string text =
        "<scheme name=\"b\"><node name=\"probe\" class=\"TTestProbe\">"
        "<output name=\"address\"><link node=\"link\" linkpoint=\"address\"/></output>"
        "<output name=\"command\"><link node=\"link\" linkpoint=\"command\" queue=\"16\"/></output></node>"
        "<node name=\"link\" class=\"TInstrumentLink\"><parameters " +
        std::string(parameters) + "/>";
    for (const char* out : {"command", "F", "A", "B"})
      text += std::string("<output name=\"") + out + "\"><link node=\"probe\" linkpoint=\"" + out +
              "\" queue=\"256\"/></output>";
    text += "</node></scheme>";
    const fs::path file = WorkDir() / "link.vms";
    std::ofstream(file) << text;
    runner.Open(file.string());
    fs::remove(runner.Scheme().DefaultProfileFileName());
    runner.Start();
    runner.Scheme().GetOutput(command, "probe", "command");
    runner.Scheme().GetInput(answers, "probe", "command");
    for (const char* name : {"F", "A", "B"}) {
      CInLinkPoint* in = nullptr;
      runner.Scheme().GetInput(in, "probe", name);
      channels.push_back(in);
    }
    COutLinkPoint* address = nullptr;
    runner.Scheme().GetOutput(address, "probe", "address");
    address->AddPacket(new CStringPacket("sim"));
    delete Answer();  // the ready MI_RESET
  }
  CDevCommand* Answer() {
    for (;;) {
      if (CBasePacket* p = answers->GetPacketCopyAndRelease()) return static_cast<CDevCommand*>(p);
      std::this_thread::yield();
    }
  }
  void Send(CDevCommand* c) {
    while (command->AddPacket(c) != 0) std::this_thread::yield();
  }
  CSchemeRunner runner;
  COutLinkPoint* command = nullptr;
  CInLinkPoint* answers = nullptr;
  std::vector<CInLinkPoint*> channels;
};

void BM_SetRoundTrip(benchmark::State& state) {
  TLink link("simrate=\"0\"");
  std::vector<double> micros;
  for (auto _ : state) {
    auto* p = new CDevParameter(P_AVERAGING, 1, 4, 0, MI_SET);
    p->SetValue(0, 4);
    const auto start = std::chrono::steady_clock::now();
    link.Send(p);
    delete link.Answer();
    micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
  }
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}
BENCHMARK(BM_SetRoundTrip)->Iterations(3000)->Unit(benchmark::kMicrosecond);

void BM_SweepStreaming(benchmark::State& state) {
  const unsigned points = static_cast<unsigned>(state.range(0));
  TLink link("simrate=\"0\" simpart=\"2700\"");
  auto* sweep = new CDevParameter(P_FREQUENCY, 3, 4, 2, MI_SET);
  sweep->SetValues(100, 1100, points);
  link.Send(sweep);
  delete link.Answer();
  link.Send(new CDevCommand(MI_RUN));
  delete link.Answer();
  double received = 0;
  double seconds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < end) {
      bool any = false;
      for (size_t c = 0; c < 3; ++c)
        if (CBasePacket* p = link.channels[c]->GetPacketCopyAndRelease()) {
          if (c == 0) received += static_cast<CDoubleVector*>(p)->Size();
          delete p;
          any = true;
        }
      if (!any) std::this_thread::yield();
    }
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  state.counters["points_per_s"] = received / seconds;
  state.counters["sweeps_per_s"] = received / seconds / points;
}
BENCHMARK(BM_SweepStreaming)->Arg(1601)->Arg(20001)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return RunBenchmarksWithApplication(argc, argv, [] { fs::remove_all(WorkDir()); });
}
