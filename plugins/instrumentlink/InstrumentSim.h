#pragma once
// A simulated two-port swept instrument reached over TCP on the loopback
// interface. It greets a new client with MI_RESET (device ready), keeps a
// parameter table, answers MI_SET/MI_GET with the values it took, sweeps on
// MI_RUN until MI_RESET (a band-pass transmission response on A and its
// reflection on B, with a little noise), and echoes every index it is sent.
// On request it misbehaves, for tests.
#include <atomic>
#include <cstdint>
#include <map>
#include <random>
#include <vector>

#include "InstrumentProtocol.h"
#include "ThreadObject.h"

namespace vkinstrument {

struct TSimFaults {
  bool refuse = false;           // close every connection at once
  int dropAfterParts = -1;       // close the connection after N data parts
  int dropConnections = -1;      // ... on the first N connections only (-1: on every one)
  int badSignatureAfterParts = -1;  // then send a block with a wrong signature
  int shortBodyAfterParts = -1;  // then send a head whose body never comes
  bool silent = false;           // accept, read, never answer (not even greet)
  int slowMs = 0;                // answer every command (and greet) this late
};

struct TSimSettings {
  double sweepsPerSecond = 25;  // 0: as fast as the connection takes them
  unsigned partSize = 401;      // points per data block
  uint64_t seed = 1;
  TSimFaults faults;
};

class CInstrumentSimulator : public CThreadObject {
 public:
  explicit CInstrumentSimulator(const TSimSettings& settings = TSimSettings());
  ~CInstrumentSimulator() override;

  // Listens on the loopback address `host` ("127.0.0.1" or "::1") at `port`
  // (0: a free port) and starts serving. Returns the port, or -1.
  int Start(unsigned short port = 0, const std::string& host = "127.0.0.1");
  void Stop();
  unsigned short Port() const { return listener_.Port(); }
  // How many clients connected so far.
  int Connections() const { return connections_.load(); }

  void ThreadCycle() override;

  // The response of the device at frequency f (MHz) for a sweep start..stop:
  // transmission (A) and reflection (B) in dB, without noise.
  static void Response(double f, double start, double stop, double& a, double& b);

 private:
  void Serve(CBlockConnection& connection);
  bool Answer(CBlockConnection& connection, CDevCommand& block);
  // Sends an answer, after the configured delay of a slow instrument.
  bool Reply(CBlockConnection& connection, const CDevCommand& answer);
  std::unique_ptr<CDevCommand> ParameterAnswer(const CDevCommand& request);
  bool SendPart(CBlockConnection& connection);

  TSimSettings settings_;
  CListener listener_;
  std::atomic<int> connections_{0};
  // The parameter table: identifier -> values.
  std::map<int, std::vector<double>> parameters_;
  bool sweeping_ = false;
  uint32_t sweep_ = 0;
  uint32_t nextOffset_ = 0;
  int partsSent_ = 0;
  std::mt19937_64 rng_;
  // The noise-free sweep for the current frequency settings, computed once
  // per change, and a table of noise samples that the parts draw from.
  void PrepareSweep();
  std::vector<double> sweepF_, sweepA_, sweepB_;
  std::vector<double> preparedFor_;
  std::vector<double> noise_;
  std::vector<double> a_, b_;
};

}  // namespace vkinstrument
