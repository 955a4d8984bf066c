// MainThreadDispatcher: how worker threads hand work back to the main thread.
//
// Models (panels, console store, temporary-directory bookkeeping) are touched
// only on the main thread. Engine work runs on worker threads and posts
// closures here. Posting is FIFO: a task runs after every task posted before it,
// so a console entry's begin always precedes its finish.
//
// The desktop build implements this with Qt's event loop; the command line and
// the tests use QueueDispatcher (below).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace quorlin {

// Handle of a delayed call. Cancelling is thread-safe and idempotent; a call
// cancelled before it is due never runs. Dropping the handle does not cancel.
class DelayedCall {
 public:
  DelayedCall() = default;
  explicit DelayedCall(std::shared_ptr<std::atomic<bool>> cancelled) : cancelled_(std::move(cancelled)) {}
  void cancel() {
    if (cancelled_) cancelled_->store(true);
  }
  bool isCancelled() const { return !cancelled_ || cancelled_->load(); }
  bool isValid() const { return cancelled_ != nullptr; }

 private:
  std::shared_ptr<std::atomic<bool>> cancelled_;
};

class MainThreadDispatcher {
 public:
  using Task = std::function<void()>;
  using Duration = std::chrono::nanoseconds;

  virtual ~MainThreadDispatcher() = default;

  // Thread-safe. Queues `task` to run on the main thread.
  virtual void post(Task task) = 0;

  // Thread-safe. Runs `task` on the main thread once `delay` has elapsed on the
  // dispatcher's monotonic clock, unless the returned handle is cancelled first.
  virtual DelayedCall postDelayed(Duration delay, Task task) = 0;
};

// A dispatcher whose "main thread" is whichever thread calls runPending() or
// runUntil(). With ClockMode::manual, time advances only through advanceClock(),
// so tests decide exactly when delayed calls become due.
class QueueDispatcher final : public MainThreadDispatcher {
 public:
  enum class ClockMode { steady, manual };

  explicit QueueDispatcher(ClockMode mode = ClockMode::steady);

  void post(Task task) override;
  DelayedCall postDelayed(Duration delay, Task task) override;

  // Runs every task that is queued or due now, including tasks those tasks post.
  // Returns how many ran.
  std::size_t runPending();

  // Runs tasks as they arrive until `done()` is true (checked after each task and
  // before waiting) or `timeout` passes in real time. Returns whether done() held.
  bool runUntil(const std::function<bool()>& done,
                std::chrono::milliseconds timeout = std::chrono::hours(24));

  // Manual clock only: moves time forward and runs the calls that became due
  // (and whatever they post), in due order.
  void advanceClock(Duration amount);

  // Current time on the dispatcher's clock, from an arbitrary origin.
  Duration now() const;

  // Number of delayed calls still pending and not cancelled.
  std::size_t pendingDelayedCalls() const;

 private:
  struct Delayed {
    Duration due;
    std::uint64_t sequence;
    std::shared_ptr<std::atomic<bool>> cancelled;
    Task task;
  };

  bool takeNextLocked(Task& task);

  ClockMode mode_;
  std::chrono::steady_clock::time_point origin_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Task> queue_;
  std::vector<Delayed> delayed_;
  std::uint64_t nextSequence_ = 0;
  Duration manualNow_{0};
};

}  // namespace quorlin
