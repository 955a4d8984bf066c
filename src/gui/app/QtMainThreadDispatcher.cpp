#include "gui/app/QtMainThreadDispatcher.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <utility>

namespace quorlin::gui {

QtMainThreadDispatcher::QtMainThreadDispatcher() : context_(new QObject) {}

QtMainThreadDispatcher::~QtMainThreadDispatcher() {
  if (!context_) return;
  if (context_->thread() == QThread::currentThread()) {
    delete context_.data();
  } else {
    // Another thread may not delete it; its own thread will, and drops the queue with it.
    context_->deleteLater();
  }
}

void QtMainThreadDispatcher::post(Task task) {
  QObject* context = context_.data();
  if (!context) return;
  QMetaObject::invokeMethod(context, std::move(task), Qt::QueuedConnection);
}

DelayedCall QtMainThreadDispatcher::postDelayed(Duration delay, Task task) {
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  const auto due = std::chrono::steady_clock::now() + std::max(delay, Duration{0});
  QPointer<QObject> context = context_;
  // Timers belong to the main thread, so the timer is started there; the time
  // the request spent in the queue is taken off the delay.
  post([context, cancelled, due, task = std::move(task)]() mutable {
    if (!context || cancelled->load()) return;
    const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
    QTimer::singleShot(std::max(remaining, std::chrono::milliseconds{0}), Qt::PreciseTimer, context.data(),
                       [cancelled, task = std::move(task)] {
                         if (!cancelled->load()) task();
                       });
  });
  return DelayedCall(cancelled);
}

}  // namespace quorlin::gui
