#pragma once
// The scheme's module that talks to the instrument: it connects to the
// address it is sent ("host:port", or "sim" for the built-in simulated
// instrument on a loopback port), sends the command blocks it receives, and
// hands the instrument's answers, index echoes and sweep data to the
// scheme. All network work runs on the module's own thread.
//
// A connection that is lost (or cannot be made) is tried again with growing
// pauses, and the run that was in force goes on on the new connection.
//
// Inputs: "address" (CStringPacket), "command" (CDevCommand), "index"
// (CDoublePacket). Outputs: "message" (CStringPacket, connection errors
// and "связь потеряна" / "связь восстановлена"),
// "command" (CDevCommand, the instrument's answers and traffic), "index"
// (CDoublePacket, the echo of an index), "F", "A", "B" (CDoubleVectorPart:
// frequency in MHz and the two response channels in dB).
//
// Parameters: address (connect at start), simrate (sweeps per second of the
// simulated instrument, 0 = as fast as possible; default 25), simpart (points
// per data block; default 401), timeout (milliseconds for connecting, for a
// block's body to arrive and for the instrument to answer; default 3000),
// reconnect (take a lost connection up again; default true), reconnectmax
// (the longest pause between two attempts, milliseconds; default 30000).
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
  // "connection": "connected" (the instrument answers), "lost" (it answered
  // and the connection is gone), "never" (it has not answered since its
  // address was given), "none" (no address yet).
  int Query(const AnsiString& request, AnsiString& answer) override;

  enum class ELinkState { None, Never, Connected, Lost };

 private:
  // One packet waiting for room on an output.
  struct TPending {
    COutLinkPoint* output;
    CBasePacket* packet;
  };
  // A new address: connect there, and keep connected there from now on.
  void Connect(const std::string& address);
  // One attempt to connect to the kept address.
  void TryConnect();
  // An attempt or a connection failed with `code`: said once per outage,
  // and tried again later when that may help.
  void Failed(unsigned short code, bool mayRetry = true);
  // The first block of a connection: the instrument is there.
  void Greeted();
  void Disconnect();
  void Say(const char* text);
  void Message(unsigned short code);
  void Emit(COutLinkPoint* output, CBasePacket* packet);
  bool FlushPending();
  void Received(std::unique_ptr<CDevCommand> block);
  void SendInputs();
  void Send(const CDataBlock& block);
  // Reports an instrument that has left a command (or, after connecting,
  // its greeting) unanswered for longer than the time-out.
  void CheckSilence();

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
  // The address to keep connected to, and how.
  std::string target_;
  bool reconnect_ = true;
  double reconnectMax_ = 30;    // seconds
  bool retryWanted_ = false;    // an attempt is due at retryAt_
  double retryAt_ = 0;
  double retryPause_ = 0;       // the pause before the next attempt
  double upSince_ = 0;          // when the instrument greeted this connection
  bool greeted_ = false;        // the current connection has had a block
  bool wasUp_ = false;          // the instrument at target_ has answered before
  bool outageSaid_ = false;     // the current outage's failure was said
  // The run command in force (MI_RUN sent, no MI_RESET after it): sent
  // again when the instrument greets a connection made anew.
  std::unique_ptr<CDevCommand> runCommand_;
  std::atomic<ELinkState> state_{ELinkState::None};
  vkinstrument::TSimSettings simSettings_;
  int timeoutMs_ = 3000;
  vkinstrument::CBlockConnection connection_;
  std::unique_ptr<vkinstrument::CInstrumentSimulator> simulator_;
  std::deque<TPending> pending_;
  // "Прибор не отвечает" goes out once per silence: set when it was sent,
  // cleared by the next block from the instrument (or a new connection).
  bool silenceReported_ = false;
  // Commands sent (the greeting counts as one after connecting) and not yet
  // answered, and since when the instrument has been silent about them.
  int unanswered_ = 0;
  double silentSince_ = 0;
  // Woken by every packet that arrives at an input.
  CWakeEvent wake_;
};
