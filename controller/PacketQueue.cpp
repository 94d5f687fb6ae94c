#include "PacketQueue.h"

#include <algorithm>
#include <iterator>

#include "Diagnostics.h"

// ---- CQueueSubscriber -------------------------------------------------------

CQueueSubscriber::CQueueSubscriber(CPacketQueue* q, int index, CInLinkPoint* in)
    : readIndex(index), queue(q), input(in) {}

int CQueueSubscriber::GetNotificationType() const {
  if (!input || !input->OnPacket) return 0;
  return input->NotifyWindow ? 2 : 1;
}

int CQueueSubscriber::ReadIndex() const {
  CSafeLock lock(*queue);
  return readIndex;
}

bool CQueueSubscriber::NeedNotify() const {
  CSafeLock lock(*queue);
  return needNotify;
}

bool CQueueSubscriber::Captured() const {
  CSafeLock lock(*queue);
  return capture;
}

bool CQueueSubscriber::SurelyEmpty() const {
  // The count first: when the head is dropped, every reader's index comes
  // down before the count does, so an index read after a count is never
  // older than that count. (Read the other way round, an index from before
  // the drop against the count after it said "empty" with a packet waiting.)
  const int count = static_cast<int>(queue->packetCount.load(std::memory_order_acquire));
  return readIndex.load(std::memory_order_acquire) >= count;
}

bool CQueueSubscriber::GetPacketReady() {
  VK_ASSERT_TEXT(queue != nullptr, "ParentPacketStack");
  if (!queue || SurelyEmpty()) return false;
  CSafeLock lock(*queue);
  return readIndex < static_cast<int>(queue->packets.size());
}

CBasePacket* CQueueSubscriber::GetPacketRef() {
  VK_ASSERT_TEXT(queue != nullptr, "ParentPacketStack");
  if (!queue || SurelyEmpty()) return nullptr;
  CSafeLock lock(*queue);
  if (readIndex >= static_cast<int>(queue->packets.size())) return nullptr;
  capture = true;
  return queue->packets[static_cast<size_t>(readIndex)];
}

int CQueueSubscriber::ReleasePacket() {
  VK_ASSERT_TEXT(queue != nullptr, "ParentPacketStack");
  if (!queue) return 0;
  CSafeLock lock(*queue);
  VK_ASSERT_TEXT(!needNotify, "!PacketNeedNotify");
  VK_ASSERT_TEXT(capture == true, "PacketCapture == true");
  // Without a capture there is nothing to release: moving on would skip a
  // packet this input has never seen.
  if (!capture) return 0;
  if (readIndex < static_cast<int>(queue->packets.size())) ++readIndex;
  queue->TrimHead();
  capture = false;
  needNotify = readIndex < static_cast<int>(queue->packets.size()) && input && input->OnPacket;
  return 0;
}

CBasePacket* CQueueSubscriber::GetPacketCopyAndRelease() {
  VK_ASSERT_TEXT(queue != nullptr, "ParentPacketStack");
  if (!queue || SurelyEmpty()) return nullptr;
  CSafeLock lock(*queue);
  auto& packets = queue->packets;
  if (readIndex >= static_cast<int>(packets.size())) return nullptr;
  VK_ASSERT_TEXT(!needNotify, "!PacketNeedNotify");
  const int pos = readIndex;
  CBasePacket* packet = packets[static_cast<size_t>(pos)];
  ++readIndex;
  CBasePacket* result;
  if (queue->NeededByOthers(this, pos)) {
    // Others still need it: the caller gets a copy of its own.
    result = packet->CopyPacket();
    VK_ASSERT_TEXT(result != nullptr, "Packet");
  } else {
    // Last reader: the packet itself leaves the queue without a copy.
    packets.erase(packets.begin() + pos);
    // The indices come down before the count (see SurelyEmpty).
    for (CQueueSubscriber* s : queue->subscribers)
      if (s->readIndex > pos) --s->readIndex;
    queue->PacketsChanged();
    result = packet;
  }
  queue->TrimHead();
  capture = false;
  needNotify = readIndex < static_cast<int>(packets.size()) && input && input->OnPacket;
  return result;
}

void CQueueSubscriber::NotifySubscriber() {
  if (SurelyEmpty()) return;
  CBasePacket* packet;
  {
    CSafeLock lock(*queue);
    if (readIndex >= static_cast<int>(queue->packets.size())) return;
    if (!input || !input->OnPacket || !needNotify) return;
    needNotify = false;
    capture = true;
    packet = queue->packets[static_cast<size_t>(readIndex)];
  }
  // The handler runs without the queue's lock.
  bool handled = false;
  try {
    input->OnPacket(this, packet, handled);
  } catch (...) {
    // A packet whose handler failed is not offered again (it would fail
    // again, for ever): the input lets go of it and the wire goes on.
    if (Captured()) ReleasePacket();
    throw;
  }
  if (!handled) ReleasePacket();
}

// ---- CPacketQueue -----------------------------------------------------------

CPacketQueue::CPacketQueue(unsigned size) : queueSize(size) {}

CPacketQueue::~CPacketQueue() {
  DetachSubscribers();
  CSafeLock lock(*this);
  for (CBasePacket* p : packets) delete p;
  packets.clear();
  PacketsChanged();
}

void CPacketQueue::DetachSubscribers() {
  std::vector<CInLinkPoint*> inputs;
  {
    CSafeLock lock(*this);
    for (CQueueSubscriber* s : subscribers) {
      if (s->input) inputs.push_back(s->input);
      delete s;
    }
    subscribers.clear();
  }
  // The inputs forget this queue (outside the queue's lock: inputs take
  // their own lock first and the queue's inside).
  for (CInLinkPoint* input : inputs) input->SubscriptionGone(this);
}

void CPacketQueue::RefreshNotifications() {
  CSafeLock lock(*this);
  for (CQueueSubscriber* s : subscribers)
    if (!s->capture && s->readIndex < static_cast<int>(packets.size()) && s->input &&
        s->input->OnPacket)
      s->needNotify = true;
}

void CPacketQueue::SetQueueSize(unsigned size) {
  CSafeLock lock(*this);
  queueSize = size;
  VK_ASSERT_TEXT(queueSize >= 1, "queueSize >= 1");
}

unsigned CPacketQueue::QueueSize() {
  CSafeLock lock(*this);
  return queueSize;
}

unsigned CPacketQueue::QueueLen() {
  CSafeLock lock(*this);
  return static_cast<unsigned>(packets.size());
}

bool CPacketQueue::QueueFull() {
  CSafeLock lock(*this);
  return packets.size() >= queueSize;
}

int CPacketQueue::AddPacket(CBasePacket* packet) {
  VK_ASSERT_TEXT(packet != nullptr, "Packet != NULL");
  if (!packet) return VKT_ERROR;
  // A full queue answers without the lock, so a producer that retries does
  // not keep its readers from the lock.
  if (packetCount.load(std::memory_order_acquire) >= queueSize.load(std::memory_order_relaxed))
    return VKT_QUEUE_FULL;
  // Threads that wait for this packet are woken once the lock is let go.
  CWakeEvent* wakes[8];
  size_t wakeCount = 0;
  {
    CSafeLock lock(*this);
    if (packets.size() >= queueSize) return VKT_QUEUE_FULL;
    packets.push_back(packet);
    PacketsChanged();
    const int last = static_cast<int>(packets.size()) - 1;
    for (CQueueSubscriber* s : subscribers) {
      if (s->readIndex == last) s->needNotify = s->input && static_cast<bool>(s->input->OnPacket);
      if (CWakeEvent* wake = s->input ? s->input->WakeEvent.load() : nullptr) {
        if (wakeCount < std::size(wakes)) wakes[wakeCount++] = wake;
        else wake->Signal();
      }
    }
  }
  if (CWakeEvent* wake = wake_.load(std::memory_order_acquire)) wake->Signal();
  for (size_t i = 0; i < wakeCount; ++i) wakes[i]->Signal();
  return VKT_OK;
}

CSubscriber* CPacketQueue::Subscriber(CInLinkPoint* input) {
  for (auto it = subscribers.rbegin(); it != subscribers.rend(); ++it)
    if ((*it)->input == input) return *it;
  return nullptr;
}

CQueueSubscriber* CPacketQueue::Subscriber(unsigned index) {
  return index < subscribers.size() ? subscribers[index] : nullptr;
}

CSubscriber* CPacketQueue::RegisterSubscriber(CInLinkPoint* input) {
  CSafeLock lock(*this);
  // A new subscriber does not see the packets already queued.
  auto* s = new CQueueSubscriber(this, static_cast<int>(packets.size()), input);
  subscribers.push_back(s);
  // The others are trimmed already, and the newcomer reads past everything:
  // only a first reader frees what was queued for nobody. (Trimming for every
  // wire made a scheme's wiring quadratic in its wires.)
  if (subscribers.size() == 1) TrimHead();
  return s;
}

int CPacketQueue::UnregisterSubscriber(CInLinkPoint* input) {
  CSafeLock lock(*this);
  int index = static_cast<int>(subscribers.size()) - 1;
  while (index >= 0 && subscribers[static_cast<size_t>(index)]->input != input) --index;
  VK_ASSERT_TEXT(index >= 0, "Index>=0");
  if (index < 0) return VKT_ERROR;
  delete subscribers[static_cast<size_t>(index)];
  subscribers.erase(subscribers.begin() + index);
  TrimHead();
  return VKT_OK;
}

void CPacketQueue::NotifySubscribers() {
  for (CQueueSubscriber* s : subscribers) s->NotifySubscriber();
}

void CPacketQueue::Reset() {
  CSafeLock lock(*this);
  for (CQueueSubscriber* s : subscribers) {
    s->readIndex = 0;
    s->needNotify = false;
    s->capture = false;
  }
  while (!packets.empty()) ErasePacket(0);
}

void CPacketQueue::ErasePacket(unsigned position) {
  CSafeLock lock(*this);
  CBasePacket* packet = position < packets.size() ? packets[position] : nullptr;
  VK_ASSERT_TEXT(packet != nullptr, "Packet != NULL");
  if (position >= packets.size()) return;
  delete packet;
  packets.erase(packets.begin() + position);
  PacketsChanged();
}

void CPacketQueue::TrimHead() {
  // With no subscriber there is nobody to read past anything: packets wait
  // for Reset or the queue's end.
  if (subscribers.empty() || packets.empty()) return;
  int lowest = subscribers.front()->readIndex.load();
  for (CQueueSubscriber* s : subscribers) lowest = std::min(lowest, s->readIndex.load());
  if (lowest <= 0) return;
  const size_t n = std::min(static_cast<size_t>(lowest), packets.size());
  for (size_t i = 0; i < n; ++i) delete packets[i];
  packets.erase(packets.begin(), packets.begin() + static_cast<long>(n));
  // The indices come down before the count (see SurelyEmpty).
  for (CQueueSubscriber* s : subscribers) s->readIndex -= static_cast<int>(n);
  PacketsChanged();
}

bool CPacketQueue::NeededByOthers(const CQueueSubscriber* reader, int pos) const {
  for (const CQueueSubscriber* s : subscribers)
    if (s != reader && s->readIndex <= pos) return true;
  return false;
}
