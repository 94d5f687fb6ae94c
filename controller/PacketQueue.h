#pragma once
// The queue behind one wired output: it keeps one copy of each packet for
// all the inputs wired to that output, each input reading through its own
// subscriber with its own read position.
#include <atomic>
#include <vector>

#include "Plugin.h"

class CPacketQueue;

class CQueueSubscriber : public CSubscriber {
 public:
  CQueueSubscriber(CPacketQueue* queue, int readIndex, CInLinkPoint* input);
  virtual ~CQueueSubscriber() = default;

  CBasePacket* GetPacketRef() override;
  bool GetPacketReady() override;
  CBasePacket* GetPacketCopyAndRelease() override;
  int ReleasePacket() override;
  // Calls the input's handler once for a newly arrived packet. A handler
  // that throws loses its packet (it is released, so the wire goes on with
  // the next one) and the exception goes on to the caller.
  void NotifySubscriber() override;

  // 0: the input has no handler and is polled; 1: the handler runs in the
  // worker thread; 2: the handler runs in the thread of the input's window.
  int GetNotificationType() const;
  CInLinkPoint* Input() const { return input; }
  CPacketQueue* Queue() const { return queue; }
  // For tests and diagnostics; read under the queue's lock.
  int ReadIndex() const;
  bool NeedNotify() const;
  bool Captured() const;

  // Set while a delivery of this subscriber is on its way to the GUI thread,
  // so that one waiting packet does not flood it with deliveries.
  std::atomic<bool> DeliveryPosted{false};

 private:
  friend class CPacketQueue;
  // Changed only under the queue's lock; atomic so that a poll can see
  // without the lock that there is nothing to read.
  std::atomic<int> readIndex;
  // Nothing unread, judged without the lock (a stale answer only delays a
  // poll).
  bool SurelyEmpty() const;
  bool needNotify = false;
  CPacketQueue* queue;
  CInLinkPoint* input;
  bool capture = false;
};

class CPacketQueue : public CDispatcher, public CSafeObject, public CSubscribersManager {
 public:
  explicit CPacketQueue(unsigned queueSize = 1);
  ~CPacketQueue() override;

  void Reset() override;
  // 0, or -2 when full (the packet then stays with the caller).
  int AddPacket(CBasePacket* packet) override;
  bool QueueFull() override;
  CSubscriber* Subscriber(CInLinkPoint* input) override;
  CSubscriber* RegisterSubscriber(CInLinkPoint* input) override;
  int UnregisterSubscriber(CInLinkPoint* input) override;

  // The event of the thread that polls this queue (the scheme's worker):
  // signalled after every packet that arrives. Not owned; null for none.
  void SetWakeEvent(CWakeEvent* wake) { wake_.store(wake, std::memory_order_release); }
  // Makes every subscriber with an unread packet and a handler due for
  // notification. Packets that arrived before an input had its handler
  // (sent while the scheme was being initialised) would otherwise wait for
  // ever: the flag is set only when a packet arrives.
  void RefreshNotifications();

  void SetQueueSize(unsigned size);
  unsigned QueueSize();
  unsigned QueueLen();
  CQueueSubscriber* Subscriber(unsigned index);
  unsigned SubscribersCount() const { return static_cast<unsigned>(subscribers.size()); }
  void NotifySubscribers();
  // Every input leaves this queue at once (a scheme that closes, before its
  // modules go: one by one, inputs spread over a long list of subscribers
  // would take time quadratic in the wires).
  void DetachSubscribers();
  // Deletes the packet at `position` and removes its slot.
  void ErasePacket(unsigned position);

 private:
  friend class CQueueSubscriber;
  // Deletes head packets that no subscriber will read any more (every read
  // index is past them). Called with the lock held.
  void TrimHead();
  // Whether a subscriber other than `reader` will still read position `pos`.
  bool NeededByOthers(const CQueueSubscriber* reader, int pos) const;

  std::vector<CQueueSubscriber*> subscribers;
  // Call after every change of `packets`, with the lock held.
  void PacketsChanged() { packetCount.store(static_cast<unsigned>(packets.size()), std::memory_order_release); }

  std::vector<CBasePacket*> packets;
  // Mirrors packets.size() and the capacity for the lock-free early answers
  // of polls and of AddPacket on a full queue.
  std::atomic<unsigned> packetCount{0};
  std::atomic<unsigned> queueSize;
  std::atomic<CWakeEvent*> wake_{nullptr};
};
