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
    failure_ = nullptr;
    busyWorkers_ = static_cast<unsigned>(workers_.size());
    ++generation_;
  }
  wake_.notify_all();
  runIndices(0);
  std::unique_lock lock(mutex_);
  done_.wait(lock, [this] { return busyWorkers_ == 0; });
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
    try {
      (*task)(index, worker);
    } catch (...) {
      std::lock_guard lock(mutex_);
      if (!failure_) failure_ = std::current_exception();
      next_ = count_;  // stop handing out work
    }
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
    {
      std::lock_guard lock(mutex_);
      if (--busyWorkers_ == 0) done_.notify_one();
    }
  }
}

}  // namespace quorlin::metric
