#include "ThreadObject.h"

#include <pthread.h>

#include <chrono>
#include <exception>
#include <typeinfo>

#include "../platform/Report.h"
#include "Object.h"
#include "VectorState.h"

namespace {

std::string DynamicClassName(const CThreadObject* object) {
  return vkcore::BareTypeName(typeid(*object));
}

}  // namespace

CThreadObject::~CThreadObject() {
  std::lock_guard<std::mutex> lock(threadMutex_);
  if (!thread_.joinable()) return;
  if (thread_.get_id() == std::this_thread::get_id()) {
    thread_.detach();
    return;
  }
  stopRequested_.store(true, std::memory_order_release);
  thread_.join();
}

void CThreadObject::JoinEnded() {
  // Called with threadMutex_ held, when active is false: the previous worker
  // has finished its work and only needs joining.
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

int CThreadObject::ThreadStart() {
  std::lock_guard<std::mutex> lock(threadMutex_);
  bool expected = false;
  if (!active_.compare_exchange_strong(expected, true, std::memory_order_acq_rel)) return -1;
  JoinEnded();
  stopRequested_.store(false, std::memory_order_release);
  try {
    thread_ = std::thread(&CThreadObject::WorkerProc, this);
  } catch (const std::system_error&) {
    active_.store(false, std::memory_order_release);
    return -1;
  }
  return 0;
}

int CThreadObject::ThreadStop() {
  stopRequested_.store(true, std::memory_order_release);
  while (active_.load(std::memory_order_acquire)) {
    // The thread may be waiting for the GUI thread (a message box): serve it.
    vkplatform::ServeGuiRequests();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::lock_guard<std::mutex> lock(threadMutex_);
  if (!active_.load(std::memory_order_acquire)) JoinEnded();
  return 0;
}

int CThreadObject::ThreadStopAsync() {
  stopRequested_.store(true, std::memory_order_release);
  return 0;
}

void CThreadObject::WorkerProc(CThreadObject* self) {
  const std::string className = DynamicClassName(self);
  // Debuggers show at most 15 characters of a thread's name.
  pthread_setname_np(pthread_self(), className.substr(0, 15).c_str());
  // The thread was made with the registers of the thread that started it,
  // often the GUI thread straight after a paint: its arithmetic runs clean.
  vkcore::ClearVectorUpperState();
  try {
    self->ThreadCycle();
  } catch (const std::exception& e) {
    vkplatform::MessageBox("Исключение в модуле " + className + ":\r\n" + e.what(), "Ошибка",
                           vkplatform::MsgIcon::Error);
  } catch (...) {
    vkplatform::MessageBox("Неизвестное исключение в модуле " + className, "Ошибка",
                           vkplatform::MsgIcon::Error);
  }
  self->active_.store(false, std::memory_order_release);
}
