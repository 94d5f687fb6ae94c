#include "WakeEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>

// The flag is what counts; the descriptor only ends a poll. A signaller sets
// the flag before it writes, so a readable descriptor with a clear flag can
// only be a stale write (one that landed after a Clear had found the flag
// set): a waiter that meets one drains it and goes on waiting.

CWakeEvent::CWakeEvent() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

CWakeEvent::~CWakeEvent() {
  if (fd_ >= 0) ::close(fd_);
}

void CWakeEvent::Signal() {
  // Only the first signal after a Clear reaches the kernel.
  if (signalled_.exchange(true, std::memory_order_acq_rel)) return;
  if (fd_ < 0) return;
  const uint64_t one = 1;
  while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
  }
}

void CWakeEvent::Drain() {
  uint64_t count;
  while (::read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

void CWakeEvent::Clear() {
  if (!signalled_.exchange(false, std::memory_order_acq_rel)) return;
  if (fd_ >= 0) Drain();
}

void CWakeEvent::DrainIfStale() {
  if (fd_ >= 0 && !Signalled()) Drain();
}

bool CWakeEvent::Wait(int timeoutMs) {
  if (Signalled()) return true;
  if (fd_ < 0) {
    // Without a descriptor (the process ran out of them) the event degrades
    // to the plain sleep it replaces.
    if (timeoutMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return Signalled();
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  long long left = timeoutMs;
  for (;;) {
    pollfd pfd{fd_, POLLIN, 0};
    const int rc = ::poll(&pfd, 1, static_cast<int>(std::max<long long>(0, left)));
    // What is left, rounded up: a wait cut short goes on for the rest
    // rather than end early (a 1 ms wait would otherwise never wait).
    left = (std::chrono::duration_cast<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now())
                .count() + 999) / 1000;
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0 || Signalled()) break;
    DrainIfStale();
    if (Signalled() || left <= 0) break;
  }
  return Signalled();
}
