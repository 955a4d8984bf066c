#include "core/comparison/RowParallel.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace quorlin {

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
  auto work = [&] {
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
  {
    std::vector<std::jthread> helpers;
    helpers.reserve(static_cast<std::size_t>(threadCount - 1));
    for (int i = 1; i < threadCount; ++i) helpers.emplace_back(work);
    work();
  }
  if (firstError) std::rethrow_exception(firstError);
}

}  // namespace quorlin
