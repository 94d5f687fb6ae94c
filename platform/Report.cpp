#include "Report.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <condition_variable>

#include <cstdio>

#include "ThreadAnnotations.h"

namespace vkplatform {
namespace {

std::mutex g_hookMutex;
ReportHook g_hook;

QString ToDisplay(const std::string& text) {
  QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
  s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return s;
}

MsgAnswer ShowBoxInGuiThread(const Report& r) {
  QMessageBox box;
  switch (r.icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
  }
  box.setWindowTitle(ToDisplay(r.caption));
  box.setText(ToDisplay(r.text));
  // The text can be selected and copied (Ctrl-C), as the reports promise.
  box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  QMessageBox::StandardButtons buttons;
  switch (r.buttons) {
    case MsgButtons::Ok: buttons = QMessageBox::Ok; break;
    case MsgButtons::OkCancel: buttons = QMessageBox::Ok | QMessageBox::Cancel; break;
    case MsgButtons::YesNo: buttons = QMessageBox::Yes | QMessageBox::No; break;
    case MsgButtons::YesNoCancel:
      buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      break;
  }
  box.setStandardButtons(buttons);
  switch (r.defaultAnswer) {
    case MsgAnswer::Ok: box.setDefaultButton(QMessageBox::Ok); break;
    case MsgAnswer::Cancel: box.setDefaultButton(QMessageBox::Cancel); break;
    case MsgAnswer::Yes: box.setDefaultButton(QMessageBox::Yes); break;
    case MsgAnswer::No: box.setDefaultButton(QMessageBox::No); break;
  }
  switch (box.exec()) {
    case QMessageBox::Ok: return MsgAnswer::Ok;
    case QMessageBox::Cancel: return MsgAnswer::Cancel;
    case QMessageBox::Yes: return MsgAnswer::Yes;
    case QMessageBox::No: return MsgAnswer::No;
    default: return r.defaultAnswer;  // closed without a choice
  }
}

MsgAnswer ShowOnStderr(const Report& r) {
  std::string text;
  text.reserve(r.text.size());
  for (char c : r.text)
    if (c != '\r') text += c;
  std::fprintf(stderr, "[%s] %s\n", r.caption.c_str(), text.c_str());
  std::fflush(stderr);
  return r.defaultAnswer;
}

// A call that another thread waits for, carried to the GUI thread.
constexpr QEvent::Type kGuiCallEventType = static_cast<QEvent::Type>(1149);

struct TGuiCallState {
  const std::function<void()>* fn = nullptr;
  std::mutex mutex;
  std::condition_variable cv;
  bool done = false;
};

class TGuiCallEvent : public QEvent {
 public:
  explicit TGuiCallEvent(TGuiCallState* s) : QEvent(kGuiCallEventType), state(s) {}
  TGuiCallState* state;
};

class TGuiCallReceiver : public QObject {
 public:
  bool event(QEvent* e) override {
    VK_HANDOFF_ACQUIRE(e);
    if (e->type() != kGuiCallEventType) return QObject::event(e);
    TGuiCallState* state = static_cast<TGuiCallEvent*>(e)->state;
    (*state->fn)();
    // Notified under the lock: the waiter owns the state on its stack and
    // may leave as soon as it sees done, taking the condition with it.
    std::lock_guard<std::mutex> lock(state->mutex);
    state->done = true;
    state->cv.notify_all();
    return true;
  }
};

// The receiver lives in the GUI thread from its creation on.
QObject* GuiCallReceiver(QCoreApplication* app) {
  static std::mutex mutex;
  static QPointer<QObject> receiver;
  std::lock_guard<std::mutex> lock(mutex);
  if (!receiver) {
    auto* r = new TGuiCallReceiver();
    r->moveToThread(app->thread());
    QObject::connect(app, &QObject::destroyed, r, [r] { delete r; }, Qt::DirectConnection);
    receiver = r;
  }
  return receiver.data();
}

}  // namespace

ReportHook SetReportHook(ReportHook hook) {
  std::lock_guard<std::mutex> lock(g_hookMutex);
  ReportHook previous = std::move(g_hook);
  g_hook = std::move(hook);
  return previous;
}

bool GuiAvailable() {
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (!app || QCoreApplication::closingDown()) return false;
  const QString platform = QGuiApplication::platformName();
  return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

void ServeGuiRequests() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() != app->thread()) return;
  QCoreApplication::sendPostedEvents(nullptr, kGuiCallEventType);
  QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

MsgAnswer ShowReport(const Report& report) {
  ReportHook hook;
  {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    hook = g_hook;
  }
  if (hook) return hook(report);
  if (!GuiAvailable()) return ShowOnStderr(report);

  MsgAnswer answer = report.defaultAnswer;
  RunInGuiThread([&answer, &report]() { answer = ShowBoxInGuiThread(report); });
  return answer;
}

void RunInGuiThread(const std::function<void()>& fn) {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app || QThread::currentThread() == app->thread() || QCoreApplication::closingDown()) {
    fn();
    return;
  }
  // The call travels as an event to a receiver in the GUI thread; this
  // thread waits on its own condition variable until it has run.
  TGuiCallState state;
  state.fn = &fn;
  auto* event = new TGuiCallEvent(&state);
  VK_HANDOFF_RELEASE(event);
  QCoreApplication::postEvent(GuiCallReceiver(app), event);
  std::unique_lock<std::mutex> lock(state.mutex);
  state.cv.wait(lock, [&state] { return state.done; });
}

MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgIcon icon,
                     MsgButtons buttons, MsgAnswer defaultAnswer) {
  Report r;
  r.caption = caption;
  r.text = text;
  r.icon = icon;
  r.buttons = buttons;
  r.defaultAnswer = defaultAnswer;
  return ShowReport(r);
}

ReportCapture::ReportCapture() {
  previous_ = SetReportHook([this](const Report& r) {
    std::lock_guard<std::mutex> lock(mutex_);
    reports_.push_back(r);
    return r.defaultAnswer;
  });
}

ReportCapture::~ReportCapture() { SetReportHook(std::move(previous_)); }

std::vector<Report> ReportCapture::Reports() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reports_;
}

size_t ReportCapture::Count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reports_.size();
}

size_t ReportCapture::CountExpression(const std::string& expression) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const Report& r : reports_)
    if (r.assertion && r.expression == expression) ++n;
  return n;
}

size_t ReportCapture::CountText(const std::string& fragment) const {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t n = 0;
  for (const Report& r : reports_)
    if (r.text.find(fragment) != std::string::npos) ++n;
  return n;
}

void ReportCapture::Clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  reports_.clear();
}

}  // namespace vkplatform
