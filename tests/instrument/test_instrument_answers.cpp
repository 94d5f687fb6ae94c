// What the link reports when the instrument is silent or slow, and what the
// simulated instrument answers: signed values, sweeps restarted by a new
// setting, values it did not take; blocks refused on the way out; the IPv6
// address form; a partial block that must not outlive its connection.
#include <QElapsedTimer>

#include <sys/socket.h>

#include <chrono>
#include <thread>

#include "InstrumentSim.h"
#include "InstrumentTestSupport.h"

using namespace insttest;
using namespace vkinstrument;

namespace {

constexpr const char* kSilence = "Прибор не отвечает";

std::string Loopback(int port) { return "127.0.0.1:" + std::to_string(port); }

// All messages that arrive within `ms`.
std::vector<std::string> MessagesWithin(TLinkScheme& s, int ms) {
  std::vector<std::string> texts;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    const std::string m = s.NextMessage(static_cast<int>(std::max<qint64>(1, ms - t.elapsed())));
    if (!m.empty()) texts.push_back(m);
  }
  return texts;
}

// A direct connection to a simulator, for what the link does not pass on
// (sweep numbers, the raw answer).
struct TDirect {
  explicit TDirect(CInstrumentSimulator& sim) {
    std::string error;
    connected = c.Connect("127.0.0.1", sim.Port(), 2000, error);
    if (connected) connected = Next() && last->Command() == MI_RESET;  // the greeting
  }
  bool Next(int ms = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < end)
      if (c.Read(5, last) == CBlockConnection::ReadResult::Block) return true;
    return false;
  }
  // The next block that is not sweep data.
  bool NextAnswer() {
    while (Next())
      if (!IsDataBlock(*last)) return true;
    return false;
  }
  CBlockConnection c;
  std::unique_ptr<CDevCommand> last;
  bool connected = false;
};

}  // namespace

TEST(InstrumentSilence, APeerThatNeverAnswersIsReportedOncePerSilence) {
  TSimSettings settings;
  settings.faults.silent = true;
  CInstrumentSimulator sim(settings);
  ASSERT_GT(sim.Start(0), 0);
  TLinkScheme s("timeout=\"300\"");
  ASSERT_TRUE(s.ok);
  s.SendAddress(Loopback(sim.Port()));
  // The greeting does not come: reported once, however long it lasts, and
  // a command sent into the same silence adds no second report.
  EXPECT_EQ(s.NextMessage(2000), kSilence);
  auto* get = new CDevParameter(P_AVERAGING, 1, 4, 0, MI_GET);
  s.Send("command", get);
  EXPECT_TRUE(MessagesWithin(s, 800).empty());
  EXPECT_FALSE(s.Next<CDevCommand>("command", 10));
}

TEST(InstrumentSilence, ASlowInstrumentIsReportedOnlyBeyondTheTimeOut) {
  {
    // 100 ms late with 1 s allowed: answers, no report.
    TSimSettings settings;
    settings.faults.slowMs = 100;
    CInstrumentSimulator sim(settings);
    ASSERT_GT(sim.Start(0), 0);
    TLinkScheme s("timeout=\"1000\"");
    s.SendAddress(Loopback(sim.Port()));
    ASSERT_TRUE(s.Next<CDevCommand>("command"));
    s.Send("command", new CDevParameter(P_AVERAGING, 1, 4, 0, MI_GET));
    auto answer = s.Next<CDevCommand>("command");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->Command(), MI_GET);
    EXPECT_TRUE(MessagesWithin(s, 200).empty());
  }
  {
    // 600 ms late with 250 ms allowed: each command's silence is reported
    // once, and the late answer still arrives.
    TSimSettings settings;
    settings.faults.slowMs = 600;
    CInstrumentSimulator sim(settings);
    ASSERT_GT(sim.Start(0), 0);
    TLinkScheme s("timeout=\"250\"");
    s.SendAddress(Loopback(sim.Port()));
    EXPECT_EQ(s.NextMessage(), kSilence);
    ASSERT_TRUE(s.Next<CDevCommand>("command"));  // the greeting, late
    s.Send("command", new CDevParameter(P_AVERAGING, 1, 4, 0, MI_GET));
    EXPECT_EQ(s.NextMessage(), kSilence);
    auto answer = s.Next<CDevCommand>("command");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->Command(), MI_GET);
    EXPECT_TRUE(MessagesWithin(s, 300).empty());
  }
}

// The first connection leaves half a block behind; the second one's greeting
// arrives in two pieces, later than the first connection's time-out would
// have allowed. It must be taken, not refused with a stale timer.
TEST(InstrumentLinkBlocks, APartialBlockDoesNotOutliveItsConnection) {
  CListener first, second;
  ASSERT_TRUE(first.Listen(0));
  ASSERT_TRUE(second.Listen(0));
  // Timeline (ms after the first half block): the second connection at 600,
  // its greeting's first piece at 1300 (beyond the first connection's
  // time-out of 1000), the rest at 1400, 800 after it connected.
  TLinkScheme s("timeout=\"1000\"");
  ASSERT_TRUE(s.ok);
  std::thread peers([&] {
    CBlockConnection a(first.Accept(5000));
    CDevCommand head(MI_RESET, 0);
    head.SetBodyLen(40);  // a body that never comes
    a.Send(head, 1000);
    CBlockConnection b(second.Accept(5000));
    CDevCommand ready(MI_RESET);
    ready.SetStatus(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    ::send(b.Fd(), ready.Block(), 6, MSG_NOSIGNAL);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::send(b.Fd(), ready.Block() + 6, ready.Size() - 6, MSG_NOSIGNAL);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
  });
  s.SendAddress(Loopback(first.Port()));
  s.runner.RunFor(600);
  s.SendAddress(Loopback(second.Port()));
  auto ready = s.Next<CDevCommand>("command", 3000);
  EXPECT_EQ(s.NextMessage(10), "");
  peers.join();
  ASSERT_TRUE(ready);
  EXPECT_EQ(ready->Command(), MI_RESET);
}

TEST(InstrumentLinkBlocks, AMalformedOutgoingBlockIsRefusedAndTheConnectionKept) {
  TLinkScheme s;
  ASSERT_TRUE(s.ok);
  s.SendAddress("sim");
  ASSERT_TRUE(s.Next<CDevCommand>("command"));
  auto* bad = new CDevCommand(MI_GET, 0);
  bad->SetBodyLen(400);
  s.Send("command", bad);
  EXPECT_EQ(s.NextMessage(), "Команда не отправлена: длина тела 400 не совпадает с размером блока 16");
  auto* wrong = new CDevCommand(MI_GET, 2);
  wrong->SetSignature(0x1234);
  s.Send("command", wrong);
  EXPECT_EQ(s.NextMessage(), "Команда не отправлена: сигнатура 0x1234 вместо 0x55AA");
  // The stream is still in step: a sound command is answered.
  s.Send("command", new CDevParameter(P_AVERAGING, 1, 4, 0, MI_GET));
  auto answer = s.Next<CDevCommand>("command");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Command(), MI_GET);
  EXPECT_EQ(answer->Status(), 0);
}

TEST(InstrumentLinkBlocks, BracketedIpv6AddressConnects) {
  std::string host, error;
  unsigned short port = 0;
  ASSERT_TRUE(ParseAddress("[::1]:5025", host, port));
  EXPECT_EQ(host, "::1");
  EXPECT_EQ(port, 5025);
  EXPECT_FALSE(ParseAddress("[::1:5025", host, port));
  EXPECT_FALSE(ParseAddress("[]:5025", host, port));
  EXPECT_FALSE(ParseAddress("fe80::1:5025", host, port));  // where would the port begin?

  CInstrumentSimulator sim;
  const int simPort = sim.Start(0, "::1");
  if (simPort < 0) GTEST_SKIP() << "no IPv6 loopback here";
  TLinkScheme s;
  ASSERT_TRUE(s.ok);
  s.SendAddress("[::1]:" + std::to_string(simPort));
  auto ready = s.Next<CDevCommand>("command");
  ASSERT_TRUE(ready);
  EXPECT_EQ(ready->Command(), MI_RESET);
}

TEST(InstrumentLinkBlocks, DataBlocksClaimingMoreThanTheLongestSweepAreRefused) {
  const double v[2] = {1, 2};
  for (uint32_t full : {kMaxSweepPoints, kMaxSweepPoints + 1, 0xFFFFFFFFu}) {
    auto block = MakeDataBlock(0, full, full - 2, v, v, v, 2);
    TDecodedBlock decoded = DecodeBlock(std::move(block));
    EXPECT_EQ(decoded.kind == TDecodedBlock::Kind::Data, full <= kMaxSweepPoints) << full;
  }
}

TEST(InstrumentSimulator, SignedValuesIgnoredValuesAndRestartedSweeps) {
  TSimSettings settings;
  settings.sweepsPerSecond = 5;
  settings.partSize = 100;
  CInstrumentSimulator sim(settings);
  ASSERT_GT(sim.Start(0), 0);
  TDirect d(sim);
  ASSERT_TRUE(d.connected);

  // -10 dBm in two whole bytes is a negative number, not 65526.
  CDevParameter power(P_RF_OUT, 1, 2, 0, MI_SET);
  power.SetValue(0, -10);
  ASSERT_TRUE(d.c.Send(power, 1000));
  ASSERT_TRUE(d.NextAnswer());
  CDevParameter taken(d.last.get());
  EXPECT_EQ(taken.Status(), 0);
  EXPECT_EQ(taken.ReadComplexValue(2, 0, true, 2, 0), -10);

  // Two values for a parameter of one: the second was not taken.
  CDevParameter averaging(P_AVERAGING, 2, 4, 0, MI_SET);
  averaging.SetValues(8, 99);
  ASSERT_TRUE(d.c.Send(averaging, 1000));
  ASSERT_TRUE(d.NextAnswer());
  CDevParameter answer(d.last.get());
  EXPECT_EQ(static_cast<unsigned short>(answer.Status()), MI_PARAMETER_IGNORED);
  EXPECT_EQ(answer.Value(0), 8);
  EXPECT_EQ(answer.Value(1), 0);

  // A new frequency grid in the middle of a sweep starts a new sweep.
  ASSERT_TRUE(d.c.Send(CDevCommand(MI_RUN), 1000));
  TSweepPart part;
  do {
    ASSERT_TRUE(d.Next());
  } while (!ReadDataBlock(*d.last, part) || part.offset == 0);
  const uint32_t interrupted = part.sweep;
  CDevParameter grid(P_FREQUENCY, 3, 4, 2, MI_SET);
  grid.SetValues(200, 300, 301);
  ASSERT_TRUE(d.c.Send(grid, 1000));
  bool answered = false;
  for (;;) {
    ASSERT_TRUE(d.Next());
    if (!IsDataBlock(*d.last)) {
      answered = true;
      continue;
    }
    ASSERT_TRUE(ReadDataBlock(*d.last, part));
    if (answered) break;  // the first part after the new grid was taken
  }
  EXPECT_NE(part.sweep, interrupted);
  EXPECT_EQ(part.offset, 0u);
  EXPECT_EQ(part.fullSize, 301u);
  EXPECT_DOUBLE_EQ(part.f[0], 200);
}
