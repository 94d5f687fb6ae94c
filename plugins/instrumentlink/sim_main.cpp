// vk-instrument-sim: the simulated instrument as a program of its own.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "InstrumentSim.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) { g_stop = 1; }

void Usage() {
  std::printf(
      "Usage: vk-instrument-sim [--port N] [--rate SWEEPS_PER_S] [--part POINTS]\n"
      "                         [--refuse] [--drop-after PARTS] [--bad-signature-after PARTS]\n"
      "                         [--short-body-after PARTS] [--silent] [--slow MS]\n"
      "                         [--ipv6] [--seconds N]\n"
      "Serves a simulated two-port swept instrument on 127.0.0.1 (::1 with --ipv6; port 0:\n"
      "any free port).\n"
      "Faults for tests: --refuse closes every connection at once; --drop-after, --bad-signature-after\n"
      "and --short-body-after misbehave after that many data parts; --silent accepts and never\n"
      "answers; --slow answers every command MS milliseconds late.\n");
}

}  // namespace

int main(int argc, char** argv) {
  vkinstrument::TSimSettings settings;
  int port = 0;
  double seconds = 0;
  std::string host = "127.0.0.1";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](double& out) {
      if (i + 1 >= argc) return false;
      char* end = nullptr;
      out = std::strtod(argv[++i], &end);
      return end && *end == '\0';
    };
    double v = 0;
    if (arg == "--help" || arg == "-h") {
      Usage();
      return 0;
    } else if (arg == "--refuse") {
      settings.faults.refuse = true;
    } else if (arg == "--silent") {
      settings.faults.silent = true;
    } else if (arg == "--ipv6") {
      host = "::1";
    } else if (arg == "--slow" && value(v) && v >= 0) {
      settings.faults.slowMs = static_cast<int>(v);
    } else if (arg == "--port" && value(v)) {
      port = static_cast<int>(v);
    } else if (arg == "--rate" && value(v)) {
      settings.sweepsPerSecond = v;
    } else if (arg == "--part" && value(v)) {
      settings.partSize = static_cast<unsigned>(v);
    } else if (arg == "--drop-after" && value(v)) {
      settings.faults.dropAfterParts = static_cast<int>(v);
    } else if (arg == "--bad-signature-after" && value(v)) {
      settings.faults.badSignatureAfterParts = static_cast<int>(v);
    } else if (arg == "--short-body-after" && value(v)) {
      settings.faults.shortBodyAfterParts = static_cast<int>(v);
    } else if (arg == "--seconds" && value(v)) {
      seconds = v;
    } else {
      std::fprintf(stderr, "vk-instrument-sim: bad argument %s\n", arg.c_str());
      Usage();
      return 2;
    }
  }
  if (port < 0 || port > 65535) {
    std::fprintf(stderr, "vk-instrument-sim: bad port\n");
    return 2;
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  vkinstrument::CInstrumentSimulator sim(settings);
  const int listening = sim.Start(static_cast<unsigned short>(port), host);
  if (listening < 0) {
    std::fprintf(stderr, "vk-instrument-sim: cannot listen on %s port %d\n", host.c_str(), port);
    return 1;
  }
  std::printf(host == "::1" ? "listening on [::1]:%d\n" : "listening on 127.0.0.1:%d\n", listening);
  std::fflush(stdout);
  const auto start = std::chrono::steady_clock::now();
  while (!g_stop) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (seconds > 0 && std::chrono::steady_clock::now() - start > std::chrono::duration<double>(seconds)) break;
  }
  sim.Stop();
  return 0;
}
