// BackgroundWorkers: where a workspace runs its engine calls.
//
// Each piece of work gets its own detached thread, so nobody ever joins a
// worker: closing a tab or quitting never waits for a child process to end.
// Work must therefore hold, by shared_ptr, everything it touches (engine,
// dispatcher, prepared source) and hand results back only by posting to the
// main thread. The count of running work lets the application (at
// termination) and the tests wait until every worker has finished.
//
// Thread-safe. Work must not throw: an escaping exception ends the program.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>

namespace quorlin {

class BackgroundWorkers {
 public:
  BackgroundWorkers();

  // Runs `work` on a new thread. Throws std::system_error when no thread can
  // be started (nothing has run then).
  void start(std::function<void()> work);

  std::size_t runningCount() const;

  // Waits until no work is running or `timeout` has passed; returns whether
  // everything had finished.
  bool waitUntilIdle(std::chrono::milliseconds timeout) const;

 private:
  struct State {
    mutable std::mutex mutex;
    std::condition_variable idle;
    std::size_t running = 0;
  };
  std::shared_ptr<State> state_;
};

}  // namespace quorlin
