// Packet queues: delivery, notification and ownership.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <random>

#include "CountingPacket.h"
#include "PacketQueue.h"
#include "platform/Report.h"

namespace {

CSimpleSet<CMetaClass> Any() { return {MetaClassOf<CBasePacket>()}; }

long SeqOf(CBasePacket* p) { return static_cast<CountingPacket*>(p)->Seq(); }

struct Input {
  explicit Input(const char* name) : lp(name, Any(), lptDefault) {}
  CInLinkPoint lp;
};

}  // namespace

TEST(PacketQueue, SizeOneBlocksUntilReleased) {
  CPacketQueue q(1);
  Input in("in");
  in.lp.AddSubscription(&q);
  auto* second = new CountingPacket(2);
  EXPECT_EQ(q.AddPacket(new CountingPacket(1)), 0);
  EXPECT_TRUE(q.QueueFull());
  EXPECT_EQ(q.AddPacket(second), VKT_QUEUE_FULL);  // still ours
  ASSERT_NE(in.lp.GetPacketRef(), nullptr);
  in.lp.ReleasePacket();
  EXPECT_EQ(q.QueueLen(), 0u);
  EXPECT_EQ(q.AddPacket(second), 0);
  in.lp.RemoveSubscription(&q);
}

TEST(PacketQueue, CopiesOnlyWhileOthersStillNeedThePacket) {
  CPacketQueue q(4);
  Input a("a"), b("b");
  a.lp.AddSubscription(&q);
  b.lp.AddSubscription(&q);
  auto* original = new CountingPacket(7);
  const int originalId = original->Id();
  q.AddPacket(original);

  std::unique_ptr<CBasePacket> first(a.lp.GetPacketCopyAndRelease());
  EXPECT_NE(first.get(), original);  // b still needs it: a copy
  EXPECT_EQ(SeqOf(first.get()), 7);
  EXPECT_EQ(q.QueueLen(), 1u);
  std::unique_ptr<CBasePacket> second(b.lp.GetPacketCopyAndRelease());
  EXPECT_EQ(second.get(), original);  // last reader: the packet itself
  EXPECT_EQ(q.QueueLen(), 0u);
  second.reset();
  EXPECT_EQ(CountingLedger::Instance().Deletions(originalId), 1);

  // Borrowing: deleted only after both have released it.
  auto* shared = new CountingPacket(8);
  const int sharedId = shared->Id();
  q.AddPacket(shared);
  EXPECT_EQ(a.lp.GetPacketRef(), shared);
  EXPECT_EQ(b.lp.GetPacketRef(), shared);
  a.lp.ReleasePacket();
  EXPECT_EQ(CountingLedger::Instance().Deletions(sharedId), 0);
  b.lp.ReleasePacket();
  EXPECT_EQ(CountingLedger::Instance().Deletions(sharedId), 1);
  a.lp.RemoveSubscription(&q);
  b.lp.RemoveSubscription(&q);
}

TEST(PacketQueue, LateSubscriberSeesOnlyNewPacketsAndNothingLeaks) {
  const int firstId = CountingLedger::Instance().Count();
  {
    CPacketQueue q(8);
    Input early("early"), late("late");
    early.lp.AddSubscription(&q);
    q.AddPacket(new CountingPacket(1));
    q.AddPacket(new CountingPacket(2));
    late.lp.AddSubscription(&q);
    q.AddPacket(new CountingPacket(3));
    // The late input never hears of 1 and 2.
    std::unique_ptr<CBasePacket> p(late.lp.GetPacketCopyAndRelease());
    EXPECT_EQ(SeqOf(p.get()), 3);
    EXPECT_EQ(late.lp.GetPacketCopyAndRelease(), nullptr);
    for (long expected : {1L, 2L, 3L}) {
      std::unique_ptr<CBasePacket> e(early.lp.GetPacketCopyAndRelease());
      ASSERT_TRUE(e);
      EXPECT_EQ(SeqOf(e.get()), expected);
    }
    EXPECT_EQ(q.QueueLen(), 0u);

    // Packets queued while nobody listened go as soon as a subscriber is
    // past them.
    early.lp.RemoveSubscription(&q);
    late.lp.RemoveSubscription(&q);
    q.AddPacket(new CountingPacket(4));
    Input newcomer("newcomer");
    newcomer.lp.AddSubscription(&q);
    EXPECT_EQ(q.QueueLen(), 0u);
    EXPECT_FALSE(newcomer.lp.GetPacketReady());
    newcomer.lp.RemoveSubscription(&q);
  }
  EXPECT_TRUE(CountingLedger::Instance().NotDeletedOnce(firstId, CountingLedger::Instance().Count()).empty());
}

TEST(PacketQueue, ResetDropsEverythingAndRewinds) {
  CPacketQueue q(4);
  Input a("a");
  a.lp.AddSubscription(&q);
  const int firstId = CountingLedger::Instance().Count();
  q.AddPacket(new CountingPacket(1));
  q.AddPacket(new CountingPacket(2));
  q.Reset();
  EXPECT_EQ(q.QueueLen(), 0u);
  EXPECT_EQ(static_cast<CQueueSubscriber*>(q.Subscriber(&a.lp))->ReadIndex(), 0);
  EXPECT_TRUE(CountingLedger::Instance().NotDeletedOnce(firstId, firstId + 2).empty());
  q.AddPacket(new CountingPacket(3));
  std::unique_ptr<CBasePacket> p(a.lp.GetPacketCopyAndRelease());
  EXPECT_EQ(SeqOf(p.get()), 3);
  a.lp.RemoveSubscription(&q);
}

TEST(PacketQueue, NotificationTypesAndOneHandlerCallPerPacket) {
  CPacketQueue q(4);
  Input polled("polled"), handled("handled"), windowed("windowed");
  int calls = 0;
  CBasePacket* kept = nullptr;
  handled.lp.OnPacket = [&](CSubscriber*, CBasePacket* p, bool& h) {
    ++calls;
    kept = p;
    h = true;  // keep it for now
  };
  windowed.lp.OnPacket = [](CSubscriber*, CBasePacket*, bool&) {};
  windowed.lp.NotifyWindow = reinterpret_cast<QWidget*>(0x1);  // never dereferenced
  polled.lp.AddSubscription(&q);
  handled.lp.AddSubscription(&q);
  windowed.lp.AddSubscription(&q);
  EXPECT_EQ(q.Subscriber(0u)->GetNotificationType(), 0);
  EXPECT_EQ(q.Subscriber(1u)->GetNotificationType(), 1);
  EXPECT_EQ(q.Subscriber(2u)->GetNotificationType(), 2);

  q.AddPacket(new CountingPacket(1));
  q.AddPacket(new CountingPacket(2));
  auto* sub = q.Subscriber(1u);
  sub->NotifySubscriber();
  sub->NotifySubscriber();  // the packet is held: no second call
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(SeqOf(kept), 1);
  EXPECT_TRUE(sub->Captured());
  handled.lp.ReleasePacket();  // done with packet 1; packet 2 is pending
  EXPECT_TRUE(sub->NeedNotify());
  sub->NotifySubscriber();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(SeqOf(kept), 2);
  handled.lp.ReleasePacket();
  sub->NotifySubscriber();
  EXPECT_EQ(calls, 2);
  // The polled input never had a flag and still holds both packets unread.
  EXPECT_FALSE(q.Subscriber(0u)->NeedNotify());
  EXPECT_EQ(q.QueueLen(), 2u);
  polled.lp.RemoveSubscription(&q);
  handled.lp.RemoveSubscription(&q);
  windowed.lp.RemoveSubscription(&q);
}

TEST(PacketQueue, ContractViolationsAreReportedAndHarmless) {
  vkplatform::ReportCapture cap;
  CPacketQueue q(2);
  Input a("a"), stranger("stranger");
  a.lp.AddSubscription(&q);
  EXPECT_EQ(q.AddPacket(nullptr), VKT_ERROR);
  EXPECT_EQ(cap.CountExpression("Packet != NULL"), 1u);
  q.AddPacket(new CountingPacket(1));
  q.Subscriber(0u)->ReleasePacket();  // nothing captured
  EXPECT_EQ(cap.CountExpression("PacketCapture == true"), 1u);
  EXPECT_EQ(q.QueueLen(), 1u);  // the packet was not skipped
  EXPECT_EQ(q.UnregisterSubscriber(&stranger.lp), VKT_ERROR);
  EXPECT_EQ(cap.CountExpression("Index>=0"), 1u);
  q.SetQueueSize(0);
  EXPECT_EQ(cap.CountExpression("queueSize >= 1"), 1u);
  a.lp.RemoveSubscription(&q);
}

// Long random sequences of every operation: each packet is deleted exactly
// once, a reader only ever sees live packets, and each input reads the
// packets sent after it subscribed, in order and without gaps (until a
// Reset drops what was queued).
TEST(PacketQueue, RandomSequencesKeepOwnershipExact) {
  const int firstId = CountingLedger::Instance().Count();
  std::mt19937 rng(12345);
  for (int round = 0; round < 40; ++round) {
    auto q = std::make_unique<CPacketQueue>(1 + rng() % 6);
    std::vector<std::unique_ptr<Input>> inputs;
    std::map<Input*, long> lastSeen;       // last sequence number read
    std::map<Input*, bool> gapAllowed;     // after a Reset or on subscription
    std::map<Input*, CBasePacket*> held;   // borrowed with GetPacketRef
    long seq = 0;
    auto subscribe = [&]() {
      inputs.push_back(std::make_unique<Input>("in"));
      inputs.back()->lp.AddSubscription(q.get());
      lastSeen[inputs.back().get()] = seq;  // sees only what comes next
      gapAllowed[inputs.back().get()] = false;
    };
    subscribe();
    auto check = [&](Input* in, CBasePacket* p) {
      auto* cp = static_cast<CountingPacket*>(p);
      ASSERT_TRUE(cp->Alive());
      if (gapAllowed[in]) EXPECT_GT(cp->Seq(), lastSeen[in]);
      else EXPECT_EQ(cp->Seq(), lastSeen[in] + 1);
      lastSeen[in] = cp->Seq();
      gapAllowed[in] = false;
    };
    for (int step = 0; step < 400; ++step) {
      Input* in = inputs[rng() % inputs.size()].get();
      switch (rng() % 10) {
        case 0: case 1: case 2: {
          auto* p = new CountingPacket(seq + 1);
          if (q->AddPacket(p) == 0) ++seq;
          else delete p;
          break;
        }
        case 3: case 4:
          if (!held[in]) {
            if (CBasePacket* p = in->lp.GetPacketRef()) {
              check(in, p);
              held[in] = p;
            }
          }
          break;
        case 5:
          if (held[in]) {
            ASSERT_TRUE(static_cast<CountingPacket*>(held[in])->Alive());
            in->lp.ReleasePacket();
            held[in] = nullptr;
          }
          break;
        case 6: case 7:
          if (!held[in]) {
            if (CBasePacket* p = in->lp.GetPacketCopyAndRelease()) {
              check(in, p);
              delete p;
            }
          }
          break;
        case 8:
          if (inputs.size() < 5) subscribe();
          break;
        case 9:
          if (rng() % 8 == 0) {
            q->Reset();
            for (auto& i : inputs) {
              gapAllowed[i.get()] = true;
              held[i.get()] = nullptr;
            }
          }
          break;
      }
      // Borrowed packets stay alive while held.
      for (auto& [i, p] : held)
        if (p) {
          ASSERT_TRUE(static_cast<CountingPacket*>(p)->Alive());
        }
    }
    if (rng() % 2) {
      for (auto& i : inputs) {
        if (held[i.get()]) i->lp.ReleasePacket();
        i->lp.RemoveSubscription(q.get());
      }
    }
    q.reset();  // deletes whatever is still queued
  }
  const std::vector<int> bad =
      CountingLedger::Instance().NotDeletedOnce(firstId, CountingLedger::Instance().Count());
  EXPECT_TRUE(bad.empty()) << bad.size() << " packets not deleted exactly once";
}
