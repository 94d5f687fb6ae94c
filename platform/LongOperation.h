#pragma once
// Opening, applying and saving something large (a scheme or a profile of
// tens of megabytes) without leaving the window unanswering.
//
// A long operation runs in the GUI thread as before, in two kinds of work:
//  * what touches no window (reading and parsing a file, writing one) runs
//    aside, on a thread of its own, while the GUI thread goes on with its
//    events (`RunAside`);
//  * what must stay in the GUI thread (giving each module its part) is cut
//    into steps, and between steps the events waiting for more than a tenth
//    of a second are let through (`Step`).
// After a short while a progress window comes up, modal for the whole
// program, so the operator sees what happens and cannot start another
// operation inside this one; until it shows, the operator's input waits.
// Operations nest: an inner one shares the outer one's window.
//
// While any operation runs, whoever would start something of its own at an
// event (the remote port's commands) asks `LongOperationRunning` and waits
// for `OnLongOperationsOver`. Without a GUI application (a plain tool, a
// test without one) everything simply runs in line.
#include <functional>
#include <string>

class QObject;

namespace vkplatform {

class CLongOperation {
 public:
  // `caption` is what the progress window says ("Открытие профиля...").
  explicit CLongOperation(const std::string& caption);
  ~CLongOperation();
  CLongOperation(const CLongOperation&) = delete;
  CLongOperation& operator=(const CLongOperation&) = delete;

  // Runs `work` on a thread of its own and returns when it has finished;
  // meanwhile the GUI thread serves its events. `work` must not touch
  // widgets, and the caller's data it uses belongs to it until it ends.
  void RunAside(const std::function<void()>& work);

  // `done` of `total` steps of GUI-thread work are done: the progress shows
  // it, and waiting events are served when their time has come.
  void Step(int done, int total);

 private:
  void Serve();
  double started_;
  double lastServed_;
};

// Whether a long operation is running (in the GUI thread).
bool LongOperationRunning();

// Calls `callback` (in the GUI thread, in `context`'s lifetime) whenever the
// last running long operation has ended.
void OnLongOperationsOver(QObject* context, std::function<void()> callback);

// How long an operation runs before its progress window shows (seconds;
// 0.3 by default). Tests set 0 to see the window at once.
void SetProgressDelay(double seconds);

}  // namespace vkplatform
