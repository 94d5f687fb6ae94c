#pragma once
// What travels between the instrument link and an instrument: command blocks
// (16-byte head, body) over one TCP connection, in both directions. Besides
// the commands and parameter blocks the instrument sends two kinds of block
// of its own:
//  * sweep data: command MI_RUN, dummy 0x4441 ("DA"), id = sweep number, body
//    = full size, offset, count, channel count (four 32-bit words), then the
//    channels one after the other, each `count` IEEE doubles: F (MHz), A (dB),
//    B (dB);
//  * index echo: command MI_TEST with an 8-byte body holding the index as an
//    IEEE double.
// All numbers are little-endian.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DevCommand.h"
#include "WakeEvent.h"

namespace vkinstrument {

constexpr unsigned short kDataMarker = 0x4441;
constexpr unsigned kDataChannels = 3;
constexpr unsigned kDataHeader = 16;
// The longest sweep the instrument makes: a data block claiming more points
// is refused.
constexpr uint32_t kMaxSweepPoints = 100001;

struct TSweepPart {
  uint32_t sweep = 0;
  uint32_t fullSize = 0;
  uint32_t offset = 0;
  std::vector<double> f, a, b;
};

// A data block for points [offset, offset + count) of a sweep.
std::unique_ptr<CDevCommand> MakeDataBlock(uint32_t sweep, uint32_t fullSize, uint32_t offset,
                                           const double* f, const double* a, const double* b,
                                           uint32_t count);
// Whether `block` is a sweep data block; fills `part` when it is sound
// (consistent sizes, offset + count within the full size).
bool IsDataBlock(const CDevCommand& block);
bool ReadDataBlock(const CDevCommand& block, TSweepPart& part);
// The same in two steps, for readers that place the values themselves: the
// checked header, then one channel (0 F, 1 A, 2 B) into `out`.
bool ReadDataHeader(const CDevCommand& block, uint32_t& fullSize, uint32_t& offset, uint32_t& count);
void ReadDataChannel(const CDevCommand& block, unsigned channel, uint32_t count, double* out);

std::unique_ptr<CDevCommand> MakeIndexBlock(double index);
bool IsIndexBlock(const CDevCommand& block);
double ReadIndexBlock(const CDevCommand& block);

// What one block from the instrument becomes for the scheme.
struct TDecodedBlock {
  enum class Kind { Data, Index, Command, BadData } kind = Kind::Command;
  std::unique_ptr<CDoubleVectorPart> channels[kDataChannels];  // Data: F, A, B
  double index = 0;                                            // Index
  std::unique_ptr<CDevCommand> command;                        // Command
};
TDecodedBlock DecodeBlock(std::unique_ptr<CDevCommand> block);

// Why a block must not be sent ("" when it is sound): a head that
// contradicts the block would desynchronise the stream.
std::string OutgoingBlockFault(const CDataBlock& block);

// Cuts a byte stream into blocks. Bytes are fed as they arrive; Next hands
// out the complete blocks one by one.
class CBlockReader {
 public:
  enum class Result { Block, Nothing, BadSignature };
  void Feed(const unsigned char* data, size_t size);
  Result Next(std::unique_ptr<CDevCommand>& block);
  // Whether part of a block has arrived and the rest is awaited.
  bool Partial() const { return start_ < buffer_.size(); }
  void Clear();

 private:
  std::vector<unsigned char> buffer_;
  size_t start_ = 0;  // first byte not yet handed out
};

void PutU32(unsigned char* p, uint32_t v);
uint32_t GetU32(const unsigned char* p);
void PutF64(unsigned char* p, double v);
double GetF64(const unsigned char* p);

// A TCP connection that moves whole blocks. Every call returns at once or
// after the time given; nothing blocks for longer.
class CBlockConnection {
 public:
  CBlockConnection() = default;
  explicit CBlockConnection(int fd) : fd_(fd) {}
  ~CBlockConnection();
  CBlockConnection(const CBlockConnection&) = delete;
  CBlockConnection& operator=(const CBlockConnection&) = delete;

  // Connects to host:port within `timeoutMs`; false (errno-style text in
  // `error`) on failure.
  bool Connect(const std::string& host, unsigned short port, int timeoutMs, std::string& error);
  bool IsOpen() const { return fd_ >= 0; }
  void Close();
  // Asked between waits of at most 20 ms: when it answers true, a Connect or
  // Send still waiting gives up at once (a stopping thread never waits out a
  // time-out).
  void SetCancel(std::function<bool()> cancel) { cancel_ = std::move(cancel); }
  int Fd() const { return fd_; }

  enum class ReadResult { Block, Nothing, Closed, BadSignature, Error };
  // Reads what the socket has (waiting at most `waitMs` for the first byte,
  // or until `wake` is signalled) and hands out one complete block when
  // there is one.
  ReadResult Read(int waitMs, std::unique_ptr<CDevCommand>& block, CWakeEvent* wake = nullptr);
  // Whether part of a block has arrived and the rest is awaited.
  bool Partial() const { return reader_.Partial(); }
  // How long the rest of a partly arrived block has been awaited, in
  // seconds (0 when nothing is partial). Belongs to this connection: a new
  // connection starts without it.
  double PartialSeconds() const;
  // Sends the whole block within `timeoutMs`; false on failure or time-out.
  bool Send(const CDataBlock& block, int timeoutMs);

 private:
  ReadResult Extract(std::unique_ptr<CDevCommand>& block);
  // Waits for `events` on the socket until `deadline`, in slices, giving up
  // when cancelled. True when the socket is ready.
  bool WaitFor(short events, std::chrono::steady_clock::time_point deadline);
  std::function<bool()> cancel_;
  int fd_ = -1;
  CBlockReader reader_;
  std::chrono::steady_clock::time_point partialSince_{};
  bool partialTimed_ = false;
};

// A listening loopback socket.
class CListener {
 public:
  ~CListener();
  // Binds the loopback address `host` ("127.0.0.1" or "::1") and `port`
  // (0: any free port); false on failure.
  bool Listen(unsigned short port, const std::string& host = "127.0.0.1");
  unsigned short Port() const { return port_; }
  // A connected socket, or -1 when none arrived within `waitMs`.
  int Accept(int waitMs);
  void Close();

 private:
  int fd_ = -1;
  unsigned short port_ = 0;
};

// Splits "host:port" ("[v6 address]:port" for an IPv6 address); false when
// there is no valid port.
bool ParseAddress(const std::string& address, std::string& host, unsigned short& port);

}  // namespace vkinstrument
