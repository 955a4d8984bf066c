#include "core/comparison/RowParallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace quorlin {

namespace {

// One set of threads for every row loop of the process, started on first use:
// a frame renders many loops, and starting threads for each cost more than the
// smaller loops themselves. One loop at a time uses the pool; a loop that
// finds it busy (another thread's, or one nested in a band) runs on its caller.
class RowPool {
 public:
  static RowPool& shared() {
    static RowPool pool;
    return pool;
  }

  // Runs `work` on the caller and on up to `helpers` pool threads at once;
  // returns when every run has returned.
  void run(unsigned helpers, const std::function<void()>& work) {
    std::unique_lock busy(busy_, std::try_to_lock);
    if (!busy.owns_lock() || workers_.empty()) {
      work();
      return;
    }
    {
      std::lock_guard lock(mutex_);
      work_ = &work;
      unclaimed_ = std::min<std::size_t>(helpers, workers_.size());
      ++generation_;
    }
    wake_.notify_all();
    work();
    std::unique_lock lock(mutex_);
    unclaimed_ = 0;  // a helper that has not started by now would find nothing left
    finished_.wait(lock, [&] { return running_ == 0; });
    work_ = nullptr;
  }

 private:
  RowPool() {
    const unsigned helpers = std::max(1u, std::thread::hardware_concurrency()) - 1;
    for (unsigned i = 0; i < helpers; ++i) workers_.emplace_back([this](std::stop_token stop) { serve(stop); });
  }

  void serve(const std::stop_token& stop) {
    std::size_t served = 0;
    std::unique_lock lock(mutex_);
    while (wake_.wait(lock, stop, [&] { return generation_ != served && unclaimed_ > 0; })) {
      served = generation_;
      --unclaimed_;
      ++running_;
      const std::function<void()>& work = *work_;
      lock.unlock();
      work();
      lock.lock();
      if (--running_ == 0) finished_.notify_all();
    }
  }

  std::mutex busy_;  // held by the loop using the pool
  std::mutex mutex_;
  std::condition_variable_any wake_;
  std::condition_variable finished_;
  const std::function<void()>* work_ = nullptr;  // the rest guarded by mutex_
  std::size_t unclaimed_ = 0;
  std::size_t running_ = 0;
  std::size_t generation_ = 0;
  std::vector<std::jthread> workers_;  // last: stopped and joined first
};

}  // namespace

void parallelForRows(int rowCount, const std::function<void(int, int)>& body, int rowsPerBand) {
  if (rowCount <= 0) return;
  rowsPerBand = std::max(1, rowsPerBand);
  int bandCount = (rowCount + rowsPerBand - 1) / rowsPerBand;
  int threadCount = std::min(bandCount, static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
  if (threadCount <= 1) {
    body(0, rowCount);
    return;
  }

  std::atomic<int> nextBand{0};
  std::atomic<bool> failed{false};
  std::exception_ptr firstError;
  std::mutex errorMutex;
  const std::function<void()> work = [&] {
    while (!failed.load(std::memory_order_relaxed)) {
      int band = nextBand.fetch_add(1, std::memory_order_relaxed);
      if (band >= bandCount) return;
      int first = band * rowsPerBand;
      try {
        body(first, std::min(rowCount, first + rowsPerBand));
      } catch (...) {
        std::lock_guard lock(errorMutex);
        if (!firstError) firstError = std::current_exception();
        failed = true;
      }
    }
  };
  RowPool::shared().run(static_cast<unsigned>(threadCount - 1), work);
  if (firstError) std::rethrow_exception(firstError);
}

}  // namespace quorlin
