#include "metric/ThreadPool.h"

#include <utility>

namespace quorlin::metric {

unsigned resolveThreadCount(unsigned requested) {
  if (requested > 0) return requested;
  unsigned hardware = std::thread::hardware_concurrency();
  return hardware > 0 ? hardware : 1;
}

ThreadPool::ThreadPool(unsigned threadCount) {
  unsigned total = resolveThreadCount(threadCount);
  workers_.reserve(total - 1);
  for (unsigned worker = 1; worker < total; ++worker) {
    workers_.emplace_back([this, worker](std::stop_token stop) { workerLoop(stop, worker); });
  }
}

ThreadPool::~ThreadPool() {
  for (auto& worker : workers_) worker.request_stop();
  wake_.notify_all();
  workers_.clear();  // joins
}

void ThreadPool::parallelFor(std::size_t count, const Task& task) {
  if (count == 0) return;
  if (workers_.empty() || count == 1) {
    for (std::size_t index = 0; index < count; ++index) task(index, 0);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    task_ = &task;
    count_ = count;
    next_ = 0;
    done_ = 0;
    failure_ = nullptr;
    ++generation_;
  }
  wake_.notify_all();
  runIndices(0);
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [this] { return done_ == count_; });
  task_ = nullptr;
  if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
}

void ThreadPool::runIndices(unsigned worker) {
  for (;;) {
    std::size_t index;
    const Task* task;
    {
      std::lock_guard lock(mutex_);
      if (next_ >= count_) return;
      index = next_++;
      task = task_;
    }
    std::exception_ptr failure;
    try {
      (*task)(index, worker);
    } catch (...) {
      failure = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    if (failure) {
      if (!failure_) failure_ = failure;
      done_ += count_ - next_;  // skip what was not handed out yet
      next_ = count_;
    }
    if (++done_ == count_) finished_.notify_all();
  }
}

void ThreadPool::workerLoop(const std::stop_token& stop, unsigned worker) {
  std::size_t seenGeneration = 0;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      if (!wake_.wait(lock, stop, [&] { return generation_ != seenGeneration; })) return;
      seenGeneration = generation_;
    }
    runIndices(worker);
  }
}

}  // namespace quorlin::metric
