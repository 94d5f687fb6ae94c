#pragma once
// One worker thread per object with a cooperative stop, and a re-entrant
// lock that other classes inherit or embed.
#include <atomic>
#include <mutex>
#include <thread>

class CThreadObject {
 public:
  CThreadObject() = default;
  // Joins a thread that has already ended. The owner stops a running thread
  // before destroying the object; if it did not, the destructor asks the
  // thread to stop and waits for it rather than leave it running on a
  // destroyed object.
  virtual ~CThreadObject();
  CThreadObject(const CThreadObject&) = delete;
  CThreadObject& operator=(const CThreadObject&) = delete;

  // The worker thread's whole work; loops until ThreadShouldStop().
  virtual void ThreadCycle() {}

  // -1 when a thread is running; otherwise starts one and returns 0 at once.
  // The object counts as active from this call on, so a ThreadStop right
  // after it always waits for the thread it started.
  int ThreadStart();
  // Requests a stop and waits until the thread has ended. Returns 0.
  int ThreadStop();
  // Requests a stop and returns 0 at once.
  int ThreadStopAsync();
  bool Active() const { return active_.load(std::memory_order_acquire); }
  bool ThreadShouldStop() const { return stopRequested_.load(std::memory_order_acquire); }

 private:
  static void WorkerProc(CThreadObject* self);
  void JoinEnded();

  std::atomic<bool> active_{false};
  std::atomic<bool> stopRequested_{false};
  std::mutex threadMutex_;  // guards thread_
  std::thread thread_;
};

class CSafeObject {
 public:
  CSafeObject() = default;
  virtual ~CSafeObject() = default;
  CSafeObject(const CSafeObject&) = delete;
  CSafeObject& operator=(const CSafeObject&) = delete;

  // Spins briefly before it sleeps: the sections these locks guard are a few
  // instructions long, and putting a thread to sleep costs far more.
  void Lock() {
    for (int i = 0; i < 64; ++i) {
      if (mutex_.try_lock()) return;
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    }
    mutex_.lock();
  }
  // Enters when the lock is free or already held by this thread; never waits.
  bool TryLock() { return mutex_.try_lock(); }
  void Unlock() { mutex_.unlock(); }

 private:
  std::recursive_mutex mutex_;
};

// Holds a CSafeObject's lock for one scope.
class CSafeLock {
 public:
  explicit CSafeLock(CSafeObject& object) : object_(object) { object_.Lock(); }
  ~CSafeLock() { object_.Unlock(); }
  CSafeLock(const CSafeLock&) = delete;
  CSafeLock& operator=(const CSafeLock&) = delete;

 private:
  CSafeObject& object_;
};
