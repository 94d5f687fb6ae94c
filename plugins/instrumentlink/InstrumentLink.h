#pragma once
// The scheme's module that talks to the instrument: it connects to the
// address it is sent ("host:port", or "sim" for the built-in simulated
// instrument on a loopback port), sends the command blocks it receives, and
// hands the instrument's answers, index echoes and sweep data to the
// scheme. All network work runs on the module's own thread.
//
// Inputs: "address" (CStringPacket), "command" (CDevCommand), "index"
// (CDoublePacket). Outputs: "message" (CStringPacket, connection errors),
// "command" (CDevCommand, the instrument's answers and traffic), "index"
// (CDoublePacket, the echo of an index), "F", "A", "B" (CDoubleVectorPart:
// frequency in MHz and the two response channels in dB).
//
// Parameters: address (connect at start), simrate (sweeps per second of the
// simulated instrument, 0 = as fast as possible; default 25), simpart (points
// per data block; default 401), timeout (milliseconds for connecting and for
// a block's body to arrive; default 3000).
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

#include "InstrumentProtocol.h"
#include "InstrumentSim.h"
#include "Plugin.h"

class TInstrumentLink : public CBasePlugin {
 public:
  TInstrumentLink() = default;
  ~TInstrumentLink() override;

  int Register() override;
  int Initialize(QWidget* parent, xmlNode* node) override;
  int Finalize() override;
  void ThreadCycle() override;

 private:
  // One packet waiting for room on an output.
  struct TPending {
    COutLinkPoint* output;
    CBasePacket* packet;
  };
  void Connect(const std::string& address);
  void Disconnect();
  void Message(unsigned short code);
  void Emit(COutLinkPoint* output, CBasePacket* packet);
  bool FlushPending();
  void Received(std::unique_ptr<CDevCommand> block);
  void SendInputs();

  COutLinkPoint* message_ = nullptr;
  COutLinkPoint* commandOut_ = nullptr;
  COutLinkPoint* indexOut_ = nullptr;
  COutLinkPoint* f_ = nullptr;
  COutLinkPoint* a_ = nullptr;
  COutLinkPoint* b_ = nullptr;
  CInLinkPoint* addressIn_ = nullptr;
  CInLinkPoint* commandIn_ = nullptr;
  CInLinkPoint* indexIn_ = nullptr;

  std::string startAddress_;
  vkinstrument::TSimSettings simSettings_;
  int timeoutMs_ = 3000;
  vkinstrument::CBlockConnection connection_;
  std::unique_ptr<vkinstrument::CInstrumentSimulator> simulator_;
  std::deque<TPending> pending_;
  bool silenceReported_ = false;
  double partialSince_ = 0;
};
