#pragma once
// Wakes a waiting thread when work arrives for it. A thread that would
// otherwise sleep between polls waits on the event instead, with the same
// time-out; whoever hands it work (a packet queue, on every packet that
// arrives for an input the thread serves) signals the event and the thread
// goes on at once. The event is a file descriptor, so a thread that waits
// on sockets as well waits on both in one poll().
#include <atomic>

class CWakeEvent {
 public:
  CWakeEvent();
  ~CWakeEvent();
  CWakeEvent(const CWakeEvent&) = delete;
  CWakeEvent& operator=(const CWakeEvent&) = delete;

  // Wakes the waiter, or makes its next Wait return at once. Cheap when the
  // event is already signalled (no system call).
  void Signal();
  // Forgets a signal: called by the waiter before it looks for work, so that
  // work arriving after the look still wakes it.
  void Clear();
  // Waits until signalled or `timeoutMs` passed (0: just looks). True when
  // signalled. The signal stays set until Clear.
  bool Wait(int timeoutMs);
  bool Signalled() const { return signalled_.load(std::memory_order_acquire); }
  // The descriptor to poll for reading. A waiter that polls it itself looks
  // at Signalled() before it polls (the flag may be set before the
  // descriptor is readable), and calls DrainIfStale() when the poll found it
  // readable (a write can land after the Clear that answered it).
  int Fd() const { return fd_; }
  void DrainIfStale();

 private:
  void Drain();
  int fd_ = -1;
  std::atomic<bool> signalled_{false};
};
