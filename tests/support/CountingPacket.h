#pragma once
// A test packet that records its own life: every packet (original or copy)
// gets an id; the ledger counts how often each id was deleted and lets a
// reader check that a packet it holds is still alive.
#include <atomic>
#include <mutex>
#include <vector>

#include "PacketTypes.h"

class CountingLedger {
 public:
  static CountingLedger& Instance() {
    static CountingLedger ledger;
    return ledger;
  }
  int NewId() {
    std::lock_guard<std::mutex> lock(mutex_);
    deletions_.push_back(0);
    return static_cast<int>(deletions_.size()) - 1;
  }
  void Deleted(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++deletions_[static_cast<size_t>(id)];
  }
  int Deletions(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    return deletions_[static_cast<size_t>(id)];
  }
  // Ids in [from, to) that were not deleted exactly once.
  std::vector<int> NotDeletedOnce(int from, int to) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<int> bad;
    for (int id = from; id < to; ++id)
      if (deletions_[static_cast<size_t>(id)] != 1) bad.push_back(id);
    return bad;
  }
  int Count() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(deletions_.size());
  }

 private:
  std::mutex mutex_;
  std::vector<int> deletions_;
};

class CountingPacket : public CBasePacket {
 public:
  static constexpr unsigned kAlive = 0xA11CEu;
  explicit CountingPacket(long seq = 0) : seq_(seq), id_(CountingLedger::Instance().NewId()) {}
  ~CountingPacket() override {
    magic_ = 0xDEADu;
    CountingLedger::Instance().Deleted(id_);
  }
  CReplicableObject* Copy() const override { return new CountingPacket(seq_); }
  long Seq() const { return seq_; }
  int Id() const { return id_; }
  bool Alive() const { return magic_ == kAlive; }

 private:
  long seq_;
  int id_;
  unsigned magic_ = kAlive;
};
