#include "WakeEvent.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <thread>
#include <chrono>

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

void CWakeEvent::Clear() {
  if (!signalled_.exchange(false, std::memory_order_acq_rel)) return;
  if (fd_ < 0) return;
  uint64_t count;
  while (::read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
  }
}

bool CWakeEvent::Wait(int timeoutMs) {
  if (Signalled()) return true;
  if (fd_ < 0) {
    // Without a descriptor (the process ran out of them) the event degrades
    // to the plain sleep it replaces.
    if (timeoutMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
    return Signalled();
  }
  pollfd pfd{fd_, POLLIN, 0};
  while (::poll(&pfd, 1, timeoutMs) < 0 && errno == EINTR) {
  }
  return Signalled();
}
