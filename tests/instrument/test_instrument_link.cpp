// The instrument link with the built-in simulated instrument, end to end
// through a running scheme.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "InstrumentSim.h"
#include "InstrumentTestSupport.h"

using namespace insttest;

TEST(InstrumentLink, SimulatedInstrumentEndToEnd) {
  TLinkScheme s;
  ASSERT_TRUE(s.ok);
  ASSERT_EQ(s.SendAddress("sim"), 0);

  // The first traffic is MI_RESET: the device is ready.
  auto ready = s.Next<CDevCommand>("command");
  ASSERT_TRUE(ready);
  EXPECT_EQ(ready->Command(), MI_RESET);
  EXPECT_EQ(ready->Status(), 0);

  // A parameter the instrument takes comes back with status 0; one it has
  // to clamp comes back corrected; one it does not know, with that error.
  auto averaging = new CDevParameter(P_AVERAGING, 1, 4, 0, MI_SET);
  averaging->SetValue(0, 16);
  s.Send("command", averaging);
  auto answer = s.Next<CDevCommand>("command");
  ASSERT_TRUE(answer);
  CDevParameter taken(answer.get());
  EXPECT_EQ(taken.Command(), MI_SET);
  EXPECT_EQ(taken.ParameterID(), P_AVERAGING);
  EXPECT_EQ(taken.Status(), 0);
  EXPECT_EQ(taken.Value(0), 16);

  auto tooMuch = new CDevParameter(P_AVERAGING, 1, 4, 0, MI_SET);
  tooMuch->SetValue(0, 5000);
  s.Send("command", tooMuch);
  answer = s.Next<CDevCommand>("command");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Status(), MI_PARAMETER_CORRECTED);
  EXPECT_EQ(CDevParameter(answer.get()).Value(0), 1000);

  s.Send("command", new CDevParameter(P_BOOTROM2, 1, 2, 0, MI_SET));
  answer = s.Next<CDevCommand>("command");
  ASSERT_TRUE(answer);
  EXPECT_STREQ(GetErrorString(answer->Status()),
               "Неизвестный параметр (параметр не поддерживается прибором)");

  auto sweep = new CDevParameter(P_FREQUENCY, 3, 4, 2, MI_SET);
  sweep->SetValues(1000, 2000, 1001);
  s.Send("command", sweep);
  answer = s.Next<CDevCommand>("command");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Status(), 0);

  // MI_RUN: the vector parts cover whole sweeps in order.
  s.Send("command", new CDevCommand(MI_RUN));
  answer = s.Next<CDevCommand>("command");
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->Command(), MI_RUN);
  unsigned expectedOffset = 0;
  std::vector<double> f, a;
  bool started = false;
  while (f.size() < 1001) {
    auto pf = s.Next<CDoubleVectorPart>("F");
    auto pa = s.Next<CDoubleVectorPart>("A");
    auto pb = s.Next<CDoubleVectorPart>("B");
    ASSERT_TRUE(pf && pa && pb);
    ASSERT_EQ(pf->FullSize(), 1001u);
    ASSERT_EQ(pa->Offset(), pf->Offset());
    ASSERT_EQ(pb->Size(), pf->Size());
    if (!started && pf->Offset() != 0) continue;  // wait for a sweep's beginning
    started = true;
    ASSERT_EQ(pf->Offset(), expectedOffset);
    expectedOffset += pf->Size();
    f.insert(f.end(), pf->Data(), pf->Data() + pf->Size());
    a.insert(a.end(), pa->Data(), pa->Data() + pa->Size());
  }
  EXPECT_DOUBLE_EQ(f.front(), 1000);
  EXPECT_DOUBLE_EQ(f.back(), 2000);
  // The pass band is in the middle; far outside it the response is low.
  const size_t peak = static_cast<size_t>(std::max_element(a.begin(), a.end()) - a.begin());
  EXPECT_NEAR(f[peak], 1500, 30);
  EXPECT_GT(a[peak], -2);
  EXPECT_LT(a.front(), -40);

  // MI_RESET ends the sweeping.
  s.Send("command", new CDevCommand(MI_RESET));
  for (;;) {
    answer = s.Next<CDevCommand>("command");
    ASSERT_TRUE(answer);
    if (answer->Command() == MI_RESET) break;
  }
  s.runner.RunFor(100);
  while (s.Next<CDoubleVectorPart>("F", 10)) {
  }
  s.runner.RunFor(150);
  EXPECT_FALSE(s.Next<CDoubleVectorPart>("F", 10));

  // An index comes back.
  s.Send("index", new CDoublePacket(7));
  auto echo = s.Next<CDoublePacket>("index");
  ASSERT_TRUE(echo);
  EXPECT_EQ(echo->GetValue(), 7);
  EXPECT_EQ(s.NextMessage(10), "");  // no error along the way
}

TEST(InstrumentLink, AddressesThatCannotConnectAndCommandsWithoutDevice) {
  TLinkScheme s("timeout=\"500\"");
  ASSERT_TRUE(s.ok);
  s.Send("command", new CDevCommand(MI_RUN));
  EXPECT_EQ(s.NextMessage(), "Прибор не отвечает");
  for (const char* address : {"", "nonsense", "127.0.0.1:0", "127.0.0.1:99999"}) {
    s.SendAddress(address);
    EXPECT_EQ(s.NextMessage(), "Невозможно подключиться") << address;
  }
}

TEST(InstrumentSimulator, ResponseHasAPassBand) {
  double a, b;
  vkinstrument::CInstrumentSimulator::Response(1500, 1000, 2000, a, b);
  EXPECT_NEAR(a, -1, 0.01);
  EXPECT_LT(b, -10);  // matched in the pass band
  vkinstrument::CInstrumentSimulator::Response(1000, 1000, 2000, a, b);
  EXPECT_LT(a, -60);
  EXPECT_GT(b, -0.5);  // everything reflected outside it
}

// A peer that never reads fills the socket; a send waiting for room gives up
// as soon as it is cancelled instead of waiting out its time-out.
TEST(InstrumentLink, SendToAPeerThatNeverReadsCanBeCancelled) {
  vkinstrument::CListener listener;
  ASSERT_TRUE(listener.Listen(0));
  vkinstrument::CBlockConnection client;
  std::string error;
  ASSERT_TRUE(client.Connect("127.0.0.1", listener.Port(), 2000, error)) << error;
  const int peer = listener.Accept(2000);
  ASSERT_GE(peer, 0);
  std::atomic<bool> cancel{false};
  client.SetCancel([&] { return cancel.load(); });
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    cancel = true;
  });
  CDevCommand big(MI_SET, 60000);
  const auto start = std::chrono::steady_clock::now();
  int sent = 0;
  while (client.Send(big, 60000) && sent < 100000) ++sent;
  canceller.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  ::close(peer);
}
