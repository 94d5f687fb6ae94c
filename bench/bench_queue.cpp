// Packet queues: hand-off throughput between two threads against a bare
// mutex + deque hand-off (both sides yield when there is nothing to do), and the copies made when several inputs read one
// output.
#include <benchmark/benchmark.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "PacketQueue.h"

namespace {

std::atomic<long> g_copies{0};

class TBenchPacket : public CBasePacket {
 public:
  explicit TBenchPacket(long v = 0) : value(v) {}
  CReplicableObject* Copy() const override {
    g_copies.fetch_add(1, std::memory_order_relaxed);
    return new TBenchPacket(value);
  }
  long value;
};

constexpr long kPackets = 200000;

void BM_QueueHandOff(benchmark::State& state) {
  const unsigned size = static_cast<unsigned>(state.range(0));
  for (auto _ : state) {
    CPacketQueue q(size);
    CInLinkPoint in("in", {MetaClassOf<TBenchPacket>()}, lptDefault);
    in.AddSubscription(&q);
    std::thread consumer([&] {
      long got = 0;
      while (got < kPackets) {
        if (CBasePacket* p = in.GetPacketCopyAndRelease()) {
          delete p;
          ++got;
        } else {
          std::this_thread::yield();
        }
      }
    });
    for (long n = 0; n < kPackets; ++n) {
      auto* p = new TBenchPacket(n);
      while (q.AddPacket(p) != 0) std::this_thread::yield();
    }
    consumer.join();
    in.RemoveSubscription(&q);
  }
  state.SetItemsProcessed(state.iterations() * kPackets);
}
BENCHMARK(BM_QueueHandOff)->Arg(1)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BaselineMutexDeque(benchmark::State& state) {
  const size_t size = static_cast<size_t>(state.range(0));
  for (auto _ : state) {
    std::mutex m;
    std::deque<std::unique_ptr<TBenchPacket>> dq;
    std::thread consumer([&] {
      long got = 0;
      while (got < kPackets) {
        std::unique_ptr<TBenchPacket> p;
        {
          std::lock_guard<std::mutex> lock(m);
          if (!dq.empty()) {
            p = std::move(dq.front());
            dq.pop_front();
          }
        }
        if (p) ++got;
        else std::this_thread::yield();
      }
    });
    for (long n = 0; n < kPackets; ++n) {
      auto p = std::make_unique<TBenchPacket>(n);
      for (;;) {
        std::lock_guard<std::mutex> lock(m);
        if (dq.size() < size) {
          dq.push_back(std::move(p));
          break;
        }
        std::this_thread::yield();
      }
    }
    consumer.join();
  }
  state.SetItemsProcessed(state.iterations() * kPackets);
}
BENCHMARK(BM_BaselineMutexDeque)->Arg(1)->Arg(16)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();

// One output, four inputs: three borrow (GetPacketRef/ReleasePacket), one
// takes ownership. Copies per packet: 0 when the owner reads last, 1 when
// others still need the packet.
void BM_FanOutFourReaders(benchmark::State& state) {
  const bool ownerFirst = state.range(0) != 0;
  CPacketQueue q(4);
  std::vector<std::unique_ptr<CInLinkPoint>> borrowers;
  for (int i = 0; i < 3; ++i) {
    borrowers.push_back(std::make_unique<CInLinkPoint>("b", CSimpleSet<CMetaClass>{}, lptDefault));
    borrowers.back()->AddSubscription(&q);
  }
  CInLinkPoint owner("owner", {}, lptDefault);
  owner.AddSubscription(&q);
  long packets = 0;
  const long copiesBefore = g_copies.load();
  for (auto _ : state) {
    q.AddPacket(new TBenchPacket(packets++));
    if (ownerFirst) delete owner.GetPacketCopyAndRelease();
    for (auto& b : borrowers) {
      benchmark::DoNotOptimize(b->GetPacketRef());
      b->ReleasePacket();
    }
    if (!ownerFirst) delete owner.GetPacketCopyAndRelease();
  }
  state.counters["copies_per_packet"] =
      static_cast<double>(g_copies.load() - copiesBefore) / static_cast<double>(packets);
  for (auto& b : borrowers) b->RemoveSubscription(&q);
  owner.RemoveSubscription(&q);
}
BENCHMARK(BM_FanOutFourReaders)->ArgName("owner_first")->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
