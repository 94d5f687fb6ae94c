// Worker threads and the re-entrant lock.
#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include <poll.h>

#include "ThreadObject.h"
#include "WakeEvent.h"
#include "platform/Report.h"

namespace {

class TCountingWorker : public CThreadObject {
 public:
  void ThreadCycle() override {
    ++entered;
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    threadName = name;
    while (!ThreadShouldStop()) std::this_thread::sleep_for(std::chrono::microseconds(200));
    ++exited;
  }
  std::atomic<int> entered{0};
  std::atomic<int> exited{0};
  std::string threadName;
};

class TThrowingWorker : public CThreadObject {
 public:
  void ThreadCycle() override {
    if (unknown) throw 42;
    throw std::runtime_error("boom");
  }
  bool unknown = false;
};

class TWorkerWithAVeryLongClassName : public CThreadObject {
 public:
  void ThreadCycle() override {
    char name[32] = {};
    pthread_getname_np(pthread_self(), name, sizeof name);
    threadName = name;
  }
  std::string threadName;
};

}  // namespace

TEST(ThreadObject, StartStopRestartAndNaming) {
  TCountingWorker w;
  EXPECT_EQ(w.ThreadStop(), 0);  // idle: returns at once
  EXPECT_EQ(w.ThreadStart(), 0);
  EXPECT_TRUE(w.Active());
  EXPECT_EQ(w.ThreadStart(), -1);  // no second thread
  EXPECT_EQ(w.ThreadStop(), 0);
  EXPECT_FALSE(w.Active());
  EXPECT_EQ(w.entered.load(), 1);
  EXPECT_EQ(w.exited.load(), 1);
  EXPECT_EQ(w.threadName, "TCountingWorker");
  EXPECT_EQ(w.ThreadStart(), 0);
  w.ThreadStopAsync();
  while (w.Active()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(w.exited.load(), 2);

  TWorkerWithAVeryLongClassName longName;
  longName.ThreadStart();
  longName.ThreadStop();
  EXPECT_EQ(longName.threadName, std::string("TWorkerWithAVeryLongClassName").substr(0, 15));
}

TEST(ThreadObject, StopRightAfterStartAlwaysWaitsForTheThread) {
  TCountingWorker w;
  for (int i = 0; i < 300; ++i) {
    ASSERT_EQ(w.ThreadStart(), 0);
    ASSERT_EQ(w.ThreadStop(), 0);
    ASSERT_FALSE(w.Active());
    // The cycle either never began or has fully ended: never still running.
    ASSERT_EQ(w.entered.load(), w.exited.load());
  }
}

TEST(ThreadObject, ExceptionsAreShownOnceAndTheObjectCanRestart) {
  vkplatform::ReportCapture cap;
  TThrowingWorker w;
  w.ThreadStart();
  w.ThreadStop();
  ASSERT_EQ(cap.Count(), 1u);
  EXPECT_EQ(cap.Reports()[0].caption, "Ошибка");
  EXPECT_EQ(cap.Reports()[0].text, "Исключение в модуле TThrowingWorker:\r\nboom");
  EXPECT_FALSE(w.Active());
  w.unknown = true;
  EXPECT_EQ(w.ThreadStart(), 0);
  w.ThreadStop();
  ASSERT_EQ(cap.Count(), 2u);
  EXPECT_EQ(cap.Reports()[1].text, "Неизвестное исключение в модуле TThrowingWorker");
}

TEST(SafeObject, ReentrantAndTryLockFromAnotherThread) {
  CSafeObject lock;
  lock.Lock();
  EXPECT_TRUE(lock.TryLock());  // same thread: re-entrant
  bool otherGotIt = true;
  auto started = std::chrono::steady_clock::now();
  std::thread([&] { otherGotIt = lock.TryLock(); }).join();
  EXPECT_FALSE(otherGotIt);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  lock.Unlock();
  lock.Unlock();
  std::thread([&] {
    otherGotIt = lock.TryLock();
    if (otherGotIt) lock.Unlock();
  }).join();
  EXPECT_TRUE(otherGotIt);
}

// A signal is never lost between a waiter's Clear and its Wait, a wait ends
// early only for a signal, and a cleared event leaves nothing that would
// keep a poll waking up (a waiter would spin).
TEST(WakeEvent, NoSignalIsLostAndNoneLingers) {
  CWakeEvent wake;
  ASSERT_GE(wake.Fd(), 0);
  auto readable = [&] {
    pollfd pfd{wake.Fd(), POLLIN, 0};
    return ::poll(&pfd, 1, 0) == 1;
  };
  EXPECT_FALSE(wake.Wait(0));
  // Unsignalled, a wait takes its whole time (it replaces a sleep; one that
  // returned early would keep its waiter spinning).
  for (int ms : {1, 20}) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(wake.Wait(ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(ms)) << ms;
  }
  wake.Signal();
  wake.Signal();
  EXPECT_TRUE(wake.Wait(1000));
  EXPECT_TRUE(readable());
  wake.Clear();
  EXPECT_FALSE(wake.Signalled());
  EXPECT_FALSE(readable());

  // A signaller races a waiter that clears, looks at a counter and waits.
  std::atomic<int> sent{0};
  std::atomic<bool> stop{false};
  std::thread signaller([&] {
    for (int i = 0; i < 200000 && !stop; ++i) {
      sent.store(i + 1, std::memory_order_release);
      wake.Signal();
    }
    stop = true;
  });
  int seen = 0;
  while (!stop) {
    wake.Clear();
    const int now = sent.load(std::memory_order_acquire);
    if (now == seen) {
      // Nothing new: the wait ends as soon as something is sent.
      wake.Wait(1000);
      EXPECT_TRUE(stop || wake.Signalled() || sent.load() != now);
    }
    seen = now;
  }
  signaller.join();
  // Whatever the last signal left, a cleared event does not wake anyone.
  wake.Clear();
  EXPECT_FALSE(wake.Wait(0));
  EXPECT_FALSE(wake.Signalled());
  EXPECT_FALSE(readable());
}
