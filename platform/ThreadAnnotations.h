#pragma once
// Tells the thread sanitizer about hand-offs it cannot see: objects passed
// between threads through Qt's event queues (Qt itself is not instrumented).
// Empty in every other build.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#define VK_HANDOFF_RELEASE(addr) __tsan_release(const_cast<void*>(static_cast<const volatile void*>(addr)))
#define VK_HANDOFF_ACQUIRE(addr) __tsan_acquire(const_cast<void*>(static_cast<const volatile void*>(addr)))
#else
#define VK_HANDOFF_RELEASE(addr) static_cast<void>(addr)
#define VK_HANDOFF_ACQUIRE(addr) static_cast<void>(addr)
#endif
