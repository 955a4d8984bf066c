// Turns SIGINT and SIGTERM into calls on an ordinary thread, so a command can
// stop starting work, end the tools it started and remove its files before it
// exits. The signal handler itself only writes the signal's number into a
// pipe; the watcher thread reads it and calls `onSignal` there.
//
// One watcher at a time per process (the handlers are process-wide). The
// previous handlers are restored when it is destroyed.
#pragma once

#include <atomic>
#include <functional>
#include <signal.h>
#include <thread>

namespace quorlin::cli {

class InterruptWatcher {
 public:
  // `onSignal(signalNumber, count)` runs on the watcher thread for every
  // signal received; `count` is 1 for the first, 2 for the next, ...
  explicit InterruptWatcher(std::function<void(int signalNumber, int count)> onSignal);
  ~InterruptWatcher();
  InterruptWatcher(const InterruptWatcher&) = delete;
  InterruptWatcher& operator=(const InterruptWatcher&) = delete;

  // The first signal received, or 0.
  int firstSignal() const { return firstSignal_.load(); }

 private:
  void watch();

  std::function<void(int, int)> onSignal_;
  int pipe_[2] = {-1, -1};
  struct sigaction previousInterrupt_ {};
  struct sigaction previousTerminate_ {};
  std::atomic<int> firstSignal_{0};
  std::thread thread_;
};

}  // namespace quorlin::cli
