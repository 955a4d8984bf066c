// QtMainThreadDispatcher: the MainThreadDispatcher of the desktop application,
// running posted work on Qt's event loop in the thread that created it (the
// GUI thread).
//
// post() queues a call through the event loop, so tasks run in the order they
// were posted, after whatever the loop is handling now. postDelayed() measures
// the delay from the moment of posting and runs the task from a one-shot timer;
// a cancelled call is skipped when its timer fires. Both are thread-safe.
//
// Destroying the dispatcher drops every task that has not run yet. Workers may
// hold the last reference, so destruction may happen on any thread.
#pragma once

#include <QPointer>

#include "core/common/MainThreadDispatcher.h"

class QObject;

namespace quorlin::gui {

class QtMainThreadDispatcher final : public MainThreadDispatcher {
 public:
  // Create on the thread whose event loop should run the tasks.
  QtMainThreadDispatcher();
  ~QtMainThreadDispatcher() override;
  QtMainThreadDispatcher(const QtMainThreadDispatcher&) = delete;
  QtMainThreadDispatcher& operator=(const QtMainThreadDispatcher&) = delete;

  void post(Task task) override;
  DelayedCall postDelayed(Duration delay, Task task) override;

 private:
  // Receives the queued calls and owns the timers; deleted with the
  // dispatcher, which discards whatever is still queued for it.
  QPointer<QObject> context_;
};

}  // namespace quorlin::gui
