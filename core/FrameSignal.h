#pragma once
// "A frame is ready", from a plug-in's own thread to its window in the GUI
// thread, without either ever waiting for the other. At most one
// notification is on its way: the thread posts the next only after the
// window has taken the last one. A window slower than the data so takes
// fewer, fuller frames (it reads all that is ready when it gets one), and
// nothing queues up without bound; a thread told to stop is never held by a
// window that is busy elsewhere (a modal dialog, a scheme being stopped).
#include <QElapsedTimer>
#include <QEvent>

#include <atomic>
#include <functional>
#include <string>

class QObject;

class TFrameSignal {
 public:
  // Events of type `eventType` (a number of the plug-in's own, above
  // QEvent::User) go to the target.
  explicit TFrameSignal(int eventType) : type_(static_cast<QEvent::Type>(eventType)) {}

  // The window: set in the GUI thread before the plug-in's thread starts,
  // cleared after it has stopped. A window destroyed with a notification on
  // its way never sees it (Qt drops events of deleted objects).
  void SetTarget(QObject* target) { target_.store(target, std::memory_order_release); }
  // From the plug-in's thread: posts the event unless one is on its way.
  // True when posted.
  bool Post();
  // From the window's handler, when it has read the frame: the next may
  // come.
  void Taken();
  bool Pending() const { return pending_.load(std::memory_order_acquire); }
  QEvent::Type EventType() const { return type_; }

 private:
  const QEvent::Type type_;
  std::atomic<QObject*> target_{nullptr};
  std::atomic<bool> pending_{false};
};

// Checks of a frame that the window reads: a failed one is said after the
// frame, from the event loop, so that no box opens while packets are held,
// and the same failure frame after frame is said once (`last` remembers
// it; a frame that passes does not clear it).
class TFrameChecks {
 public:
  TFrameChecks(std::string plugin, std::string& last) : plugin_(std::move(plugin)), last_(last) {}
  // The condition's value; a failed one is said with `text`.
  bool operator()(bool ok, const char* file, int line, const char* text);

 private:
  std::string plugin_;
  std::string& last_;
};

#define VK_FRAME_CHECK(check, cond, text) (check)(static_cast<bool>(cond), __FILE__, __LINE__, text)

// At most one redraw per interval, in the GUI thread: a request that comes
// sooner is served by one redraw when the interval is over, so the last
// data are never left undrawn and a flood of frames costs one redraw per
// interval.
class TRedrawLimiter {
 public:
  explicit TRedrawLimiter(qint64 intervalMs) : interval_(intervalMs) {}
  // Draws now, or schedules the one later redraw (dropped with `context`).
  // True when drawn now.
  bool Request(QObject* context, const std::function<void()>& draw);
  // Forgets the last redraw and a scheduled one (its context is gone).
  void Reset() {
    drawn_ = false;
    scheduled_ = false;
  }

 private:
  const qint64 interval_;
  QElapsedTimer clock_;
  qint64 last_ = 0;
  bool drawn_ = false;
  bool scheduled_ = false;
};
