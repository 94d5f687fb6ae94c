// Queues used from several threads at once (run under TSan too).
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "CountingPacket.h"
#include "PacketQueue.h"

namespace {

CSimpleSet<CMetaClass> Any() { return {MetaClassOf<CBasePacket>()}; }

}  // namespace

// Producers on two threads feed one queue; two polling inputs (one borrows,
// one takes ownership) and one handler input served by a notifier thread
// read it. Every packet reaches every input exactly once, in each
// producer's order, and is deleted exactly once.
TEST(QueueThreads, ProducersConsumersAndNotifier) {
  const int firstId = CountingLedger::Instance().Count();
  constexpr long kPerProducer = 3000;
  auto q = std::make_unique<CPacketQueue>(16);
  CInLinkPoint borrower("borrower", Any(), lptDefault);
  CInLinkPoint taker("taker", Any(), lptDefault);
  CInLinkPoint handled("handled", Any(), lptDefault);
  std::atomic<long> handlerCalls{0};
  std::vector<long> lastByProducer(2, -1);
  bool handlerOrderOk = true;
  handled.OnPacket = [&](CSubscriber*, CBasePacket* p, bool& h) {
    auto* cp = static_cast<CountingPacket*>(p);
    long producer = cp->Seq() / 1000000;
    long n = cp->Seq() % 1000000;
    if (!cp->Alive() || n <= lastByProducer[producer]) handlerOrderOk = false;
    lastByProducer[producer] = n;
    ++handlerCalls;
    h = false;
  };
  borrower.AddSubscription(q.get());
  taker.AddSubscription(q.get());
  handled.AddSubscription(q.get());

  std::atomic<int> producersDone{0};
  auto produce = [&](long producer) {
    for (long n = 0; n < kPerProducer; ++n) {
      auto* p = new CountingPacket(producer * 1000000 + n);
      while (q->AddPacket(p) == VKT_QUEUE_FULL) std::this_thread::yield();
    }
    ++producersDone;
  };
  auto consume = [&](CInLinkPoint& in, bool borrow, long& count, bool& ok) {
    std::vector<long> last(2, -1);
    while (count < 2 * kPerProducer) {
      CBasePacket* p = borrow ? in.GetPacketRef() : in.GetPacketCopyAndRelease();
      if (!p) {
        std::this_thread::yield();
        continue;
      }
      auto* cp = static_cast<CountingPacket*>(p);
      long producer = cp->Seq() / 1000000;
      long n = cp->Seq() % 1000000;
      if (!cp->Alive() || n <= last[producer]) ok = false;
      last[producer] = n;
      ++count;
      if (borrow) in.ReleasePacket();
      else delete p;
    }
  };
  long borrowed = 0, taken = 0;
  bool borrowOk = true, takeOk = true;
  std::thread p1(produce, 0), p2(produce, 1);
  std::thread c1(consume, std::ref(borrower), true, std::ref(borrowed), std::ref(borrowOk));
  std::thread c2(consume, std::ref(taker), false, std::ref(taken), std::ref(takeOk));
  std::thread notifier([&] {
    while (handlerCalls.load() < 2 * kPerProducer) {
      q->NotifySubscribers();
      std::this_thread::yield();
    }
  });
  p1.join();
  p2.join();
  c1.join();
  c2.join();
  notifier.join();
  EXPECT_EQ(borrowed, 2 * kPerProducer);
  EXPECT_EQ(taken, 2 * kPerProducer);
  EXPECT_EQ(handlerCalls.load(), 2 * kPerProducer);
  EXPECT_TRUE(borrowOk);
  EXPECT_TRUE(takeOk);
  EXPECT_TRUE(handlerOrderOk);
  EXPECT_EQ(q->QueueLen(), 0u);
  borrower.RemoveSubscription(q.get());
  taker.RemoveSubscription(q.get());
  handled.RemoveSubscription(q.get());
  q.reset();
  EXPECT_TRUE(CountingLedger::Instance()
                  .NotDeletedOnce(firstId, CountingLedger::Instance().Count())
                  .empty());
}

// A handler that keeps its packet and a thread that releases it later: the
// next packet is not announced until the kept one is released.
TEST(QueueThreads, KeptPacketReleasedFromAnotherThread) {
  CPacketQueue q(4);
  CInLinkPoint in("in", Any(), lptDefault);
  std::atomic<int> calls{0};
  std::atomic<bool> holding{false};
  in.OnPacket = [&](CSubscriber*, CBasePacket*, bool& h) {
    EXPECT_FALSE(holding.exchange(true));  // never two at once
    ++calls;
    h = true;
  };
  in.AddSubscription(&q);
  constexpr int kPackets = 500;
  std::thread releaser([&] {
    int released = 0;
    while (released < kPackets) {
      if (holding.load()) {
        holding.store(false);
        in.ReleasePacket();
        ++released;
      } else {
        std::this_thread::yield();
      }
    }
  });
  int sent = 0;
  while (calls.load() < kPackets) {
    if (sent < kPackets) {
      auto* p = new CountingPacket(sent);
      if (q.AddPacket(p) == 0) ++sent;
      else delete p;
    }
    q.NotifySubscribers();
  }
  releaser.join();
  EXPECT_EQ(calls.load(), kPackets);
  EXPECT_EQ(q.QueueLen(), 0u);
  in.RemoveSubscription(&q);
}

// A reader that sees a packet waiting can take it, whatever another reader
// of the same queue does meanwhile: when the other one's reading lets the
// queue drop its head, the counts shift under the first reader, and it must
// never be told "nothing there" between "a packet is ready" and taking it.
TEST(QueueThreads, ReadyMeansTakeableWhileAnotherReaderTrims) {
  constexpr long kPackets = 30000;
  CPacketQueue q(64);
  CInLinkPoint fast("fast", Any(), lptDefault);
  CInLinkPoint checker("checker", Any(), lptDefault);
  fast.AddSubscription(&q);
  checker.AddSubscription(&q);
  std::atomic<bool> done{false};
  std::thread producer([&] {
    for (long n = 0; n < kPackets; ++n) {
      auto* p = new CountingPacket(n);
      while (q.AddPacket(p) == VKT_QUEUE_FULL) std::this_thread::yield();
    }
  });
  std::thread reader([&] {
    long taken = 0;
    while (taken < kPackets) {
      if (CBasePacket* p = fast.GetPacketCopyAndRelease()) {
        delete p;
        ++taken;
      }
    }
    done = true;
  });
  long checked = 0, vanished = 0;
  while (checked < kPackets) {
    if (!checker.GetPacketReady()) continue;
    if (!checker.GetPacketRef()) {
      ++vanished;  // said ready, then nothing to take
      continue;
    }
    checker.ReleasePacket();
    ++checked;
  }
  producer.join();
  reader.join();
  EXPECT_EQ(vanished, 0);
  EXPECT_TRUE(done.load());
}
