#include "metric/ThreadPool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace quorlin::metric {
namespace {

// Zero means one thread per hardware thread; a worker id is never held by two
// tasks at once.
TEST(ThreadPoolTest, RunsEveryIndexExactlyOnceWithWorkerIdsInRangeAndNeverShared) {
  EXPECT_GE(resolveThreadCount(0), 1u);
  EXPECT_EQ(resolveThreadCount(3), 3u);
  EXPECT_EQ(ThreadPool(0).threadCount(), resolveThreadCount(0));
  for (unsigned threads : {1u, 2u, 5u}) {
    ThreadPool pool(threads);
    EXPECT_EQ(pool.threadCount(), threads);
    for (std::size_t count : {0u, 1u, 3u, 2000u}) {
      std::vector<std::atomic<int>> runs(count), inUse(threads);
      std::atomic<bool> badWorker = false;
      pool.parallelFor(count, [&](std::size_t index, unsigned worker) {
        runs[index].fetch_add(1);
        if (worker >= threads || inUse[worker].fetch_add(1) != 0) badWorker = true;
        volatile int spin = 0;
        for (int i = 0; i < 1000; ++i) spin = spin + i;
        if (worker < threads) inUse[worker].fetch_sub(1);
      });
      for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(runs[i].load(), 1) << "index " << i;
      EXPECT_FALSE(badWorker);
    }
  }
}

TEST(ThreadPoolTest, TheFirstExceptionReachesTheCallerAndThePoolStaysUsable) {
  ThreadPool pool(3);
  EXPECT_THROW(pool.parallelFor(100,
                                [](std::size_t index, unsigned) {
                                  if (index == 17) throw std::runtime_error("task failed");
                                }),
               std::runtime_error);
  std::atomic<int> runs = 0;
  pool.parallelFor(50, [&](std::size_t, unsigned) { ++runs; });
  EXPECT_EQ(runs.load(), 50);
}

}  // namespace
}  // namespace quorlin::metric
