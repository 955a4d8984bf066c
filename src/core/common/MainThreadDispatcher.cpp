#include "core/common/MainThreadDispatcher.h"

#include <algorithm>

namespace quorlin {

QueueDispatcher::QueueDispatcher(ClockMode mode) : mode_(mode), origin_(std::chrono::steady_clock::now()) {}

void QueueDispatcher::post(Task task) {
  {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(task));
  }
  wake_.notify_all();
}

DelayedCall QueueDispatcher::postDelayed(Duration delay, Task task) {
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  {
    std::lock_guard lock(mutex_);
    Duration current = mode_ == ClockMode::manual
                           ? manualNow_
                           : std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now() - origin_);
    delayed_.push_back(Delayed{current + std::max(delay, Duration{0}), nextSequence_++, cancelled, std::move(task)});
  }
  wake_.notify_all();
  return DelayedCall(cancelled);
}

QueueDispatcher::Duration QueueDispatcher::now() const {
  std::lock_guard lock(mutex_);
  if (mode_ == ClockMode::manual) return manualNow_;
  return std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now() - origin_);
}

std::size_t QueueDispatcher::pendingDelayedCalls() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count_if(delayed_.begin(), delayed_.end(),
                                                [](const Delayed& d) { return !d.cancelled->load(); }));
}

bool QueueDispatcher::takeNextLocked(Task& task) {
  if (!queue_.empty()) {
    task = std::move(queue_.front());
    queue_.pop_front();
    return true;
  }
  // Drop cancelled calls, then take the earliest due one.
  std::erase_if(delayed_, [](const Delayed& d) { return d.cancelled->load(); });
  Duration current = mode_ == ClockMode::manual
                         ? manualNow_
                         : std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now() - origin_);
  auto earliest = delayed_.end();
  for (auto it = delayed_.begin(); it != delayed_.end(); ++it) {
    if (it->due > current) continue;
    if (earliest == delayed_.end() || it->due < earliest->due ||
        (it->due == earliest->due && it->sequence < earliest->sequence)) {
      earliest = it;
    }
  }
  if (earliest == delayed_.end()) return false;
  auto cancelled = earliest->cancelled;
  Task delayedTask = std::move(earliest->task);
  delayed_.erase(earliest);
  // A cancel that races with running is honoured up to the moment the call starts.
  task = [cancelled, delayedTask = std::move(delayedTask)] {
    if (!cancelled->load()) delayedTask();
  };
  return true;
}

std::size_t QueueDispatcher::runPending() {
  std::size_t count = 0;
  for (;;) {
    Task task;
    {
      std::lock_guard lock(mutex_);
      if (!takeNextLocked(task)) break;
    }
    task();
    ++count;
  }
  return count;
}

bool QueueDispatcher::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    runPending();
    if (done()) return true;
    std::unique_lock lock(mutex_);
    if (!queue_.empty()) continue;
    auto wakeAt = deadline;
    if (mode_ == ClockMode::steady) {
      for (const auto& d : delayed_) {
        if (d.cancelled->load()) continue;
        auto at = origin_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(d.due);
        wakeAt = std::min(wakeAt, at);
      }
    }
    if (std::chrono::steady_clock::now() >= deadline) return done();
    wake_.wait_until(lock, wakeAt);
  }
}

void QueueDispatcher::advanceClock(Duration amount) {
  // Step through each due time so calls posted by earlier calls see the right clock.
  Duration target;
  {
    std::lock_guard lock(mutex_);
    target = manualNow_ + amount;
  }
  for (;;) {
    runPending();
    std::lock_guard lock(mutex_);
    Duration next = target;
    for (const auto& d : delayed_) {
      if (!d.cancelled->load() && d.due > manualNow_ && d.due < next) next = d.due;
    }
    if (manualNow_ >= target) break;
    manualNow_ = next;
  }
  runPending();
}

}  // namespace quorlin
