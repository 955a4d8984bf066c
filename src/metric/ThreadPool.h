// ThreadPool: a fixed set of worker threads for data-parallel loops.
//
// parallelFor(count, task) runs task(index, worker) once for every index in
// [0, count) and returns when all have finished; the calling thread works too.
// `worker` is in [0, threadCount()) and is unique among concurrently running
// tasks, so it can select per-thread scratch memory. Indices are handed out
// dynamically; callers must not let results depend on which worker ran what.
// The first exception a task throws is rethrown by parallelFor after the loop.
// parallelFor must not be called concurrently or from inside a task.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quorlin::metric {

class ThreadPool {
 public:
  // threadCount is the total number of threads working on a loop, including
  // the caller; 0 means one per hardware thread.
  explicit ThreadPool(unsigned threadCount);
  ~ThreadPool();
  ThreadPool(const ThreadPool&) = delete;
  ThreadPool& operator=(const ThreadPool&) = delete;

  unsigned threadCount() const { return static_cast<unsigned>(workers_.size()) + 1; }

  using Task = std::function<void(std::size_t index, unsigned worker)>;
  void parallelFor(std::size_t count, const Task& task);

 private:
  void workerLoop(const std::stop_token& stop, unsigned worker);
  void runIndices(unsigned worker);

  // All guarded by mutex_. The caller waits for its tasks, not for the
  // workers: a worker the system schedules late simply finds no work left.
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::condition_variable finished_;
  const Task* task_ = nullptr;
  std::size_t count_ = 0;
  std::size_t next_ = 0;        // next index to hand out
  std::size_t done_ = 0;        // indices finished (or skipped after a failure)
  std::size_t generation_ = 0;  // bumped for every loop
  std::exception_ptr failure_;
  std::vector<std::jthread> workers_;
};

// The thread count to use when the caller asked for `requested` (0 = all
// hardware threads); never 0.
unsigned resolveThreadCount(unsigned requested);

}  // namespace quorlin::metric
