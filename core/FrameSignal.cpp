#include "FrameSignal.h"

#include <QCoreApplication>

bool TFrameSignal::Post() {
  QObject* target = target_.load(std::memory_order_acquire);
  if (!target || pending_.exchange(true, std::memory_order_acq_rel)) return false;
  QCoreApplication::postEvent(target, new QEvent(type_));
  return true;
}

void TFrameSignal::Taken() { pending_.store(false, std::memory_order_release); }
