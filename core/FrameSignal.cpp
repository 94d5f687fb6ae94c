#include "FrameSignal.h"

#include <QCoreApplication>
#include <QTimer>

#include "Diagnostics.h"

bool TFrameSignal::Post() {
  QObject* target = target_.load(std::memory_order_acquire);
  if (!target || pending_.exchange(true, std::memory_order_acq_rel)) return false;
  QCoreApplication::postEvent(target, new QEvent(type_));
  return true;
}

void TFrameSignal::Taken() { pending_.store(false, std::memory_order_release); }

bool TFrameChecks::operator()(bool ok, const char* file, int line, const char* text) {
  if (ok) return true;
  if (last_ != text) {
    last_ = text;
    const std::string plugin = plugin_, where = file, what = text;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [plugin, where, line, what] { PAssertFunction(where.c_str(), __DATE__, line, plugin.c_str(), what.c_str()); },
        Qt::QueuedConnection);
  }
  return false;
}

bool TRedrawLimiter::Request(QObject* context, const std::function<void()>& draw) {
  if (!clock_.isValid()) clock_.start();
  const qint64 now = clock_.elapsed();
  if (drawn_ && now - last_ < interval_) {
    if (!scheduled_ && context) {
      scheduled_ = true;
      QTimer::singleShot(static_cast<int>(interval_ - (now - last_)), context, [this, context, draw] {
        scheduled_ = false;
        Request(context, draw);
      });
    }
    return false;
  }
  drawn_ = true;
  last_ = now;
  draw();
  return true;
}
