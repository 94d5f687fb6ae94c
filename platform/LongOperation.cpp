#include "platform/LongOperation.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

namespace vkplatform {
namespace {

// A progress window the operator cannot close: the operation ends it.
class TProgressWindow : public QProgressDialog {
 public:
  explicit TProgressWindow(QWidget* parent) : QProgressDialog(parent) {
    setCancelButton(nullptr);
    setAutoClose(false);
    setAutoReset(false);
    setMinimumDuration(0);
    setWindowModality(Qt::ApplicationModal);
    setWindowTitle(QString::fromUtf8("Vektra"));
    setMinimumWidth(360);
  }
  void reject() override {}

 protected:
  void closeEvent(QCloseEvent* event) override { event->ignore(); }
};

// What the running operations share; touched in the GUI thread only.
struct TState {
  int depth = 0;
  std::vector<std::string> captions;
  QPointer<TProgressWindow> window;
  std::vector<std::pair<QPointer<QObject>, std::function<void()>>> listeners;
  double delay = 0.3;
};

TState& State() {
  static TState state;
  return state;
}

double Now() {
  static QElapsedTimer clock;
  if (!clock.isValid()) clock.start();
  return static_cast<double>(clock.nsecsElapsed()) * 1e-9;
}

// Whether long operations are served here: a widget application, asked in
// its own thread. Anywhere else the work runs in line.
bool Served() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  return app && QThread::currentThread() == app->thread();
}

bool WindowShown() { return State().window && State().window->isVisible(); }

void ShowWindowWhenDue(double started) {
  TState& s = State();
  if (WindowShown() || Now() - started < s.delay) return;
  if (!s.window) s.window = new TProgressWindow(QApplication::activeWindow());
  s.window->setLabelText(QString::fromStdString(s.captions.back()));
  s.window->show();
}

}  // namespace

CLongOperation::CLongOperation(const std::string& caption) : started_(Now()), lastServed_(started_) {
  TState& s = State();
  if (!Served()) return;
  ++s.depth;
  s.captions.push_back(caption);
  if (s.window) s.window->setLabelText(QString::fromStdString(caption));
}

CLongOperation::~CLongOperation() {
  TState& s = State();
  if (!Served() || s.depth == 0) return;
  s.captions.pop_back();
  if (--s.depth > 0) {
    if (s.window) s.window->setLabelText(QString::fromStdString(s.captions.back()));
    return;
  }
  delete s.window.data();
  // Those waiting hear of it from the event loop, once the caller of the
  // operation has finished with what it did.
  auto listeners = s.listeners;
  for (auto& [context, callback] : listeners)
    if (context) QTimer::singleShot(0, context.data(), callback);
  s.listeners.erase(std::remove_if(s.listeners.begin(), s.listeners.end(),
                                   [](const auto& l) { return l.first.isNull(); }),
                    s.listeners.end());
}

void CLongOperation::RunAside(const std::function<void()>& work) {
  if (!Served()) {
    work();
    return;
  }
  std::atomic<bool> done{false};
  std::exception_ptr failure;
  QEventLoop loop;
  std::thread worker([&] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
    done = true;
  });
  // The loop looks at the flag every few milliseconds: nothing is posted
  // from the worker, so all it shares with this thread is the atomic flag.
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done) loop.quit();
  });
  poll.start();
  if (WindowShown()) State().window->setRange(0, 0);
  while (!done) {
    ShowWindowWhenDue(started_);
    const bool shown = WindowShown();
    QTimer due;
    if (!shown) {
      // Until the window shows, the operator's input waits in the queue.
      due.setSingleShot(true);
      QObject::connect(&due, &QTimer::timeout, &loop, &QEventLoop::quit);
      due.start(std::max(1, static_cast<int>((State().delay - (Now() - started_)) * 1000) + 1));
    } else {
      State().window->setRange(0, 0);
    }
    if (!done) loop.exec(shown ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
  }
  worker.join();
  lastServed_ = Now();
  if (failure) std::rethrow_exception(failure);
}

void CLongOperation::Step(int done, int total) {
  if (!Served()) return;
  if (WindowShown()) {
    State().window->setRange(0, std::max(total, 1));
    State().window->setValue(std::min(done, total));
  }
  if (Now() - lastServed_ >= 0.1) Serve();
}

void CLongOperation::Serve() {
  ShowWindowWhenDue(started_);
  QCoreApplication::processEvents(WindowShown() ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
  lastServed_ = Now();
}

bool LongOperationRunning() { return State().depth > 0; }

void OnLongOperationsOver(QObject* context, std::function<void()> callback) {
  State().listeners.emplace_back(context, std::move(callback));
}

void SetProgressDelay(double seconds) { State().delay = seconds; }

}  // namespace vkplatform
