// The row loop over its kept threads: every row exactly once, also when two
// threads loop at the same time or a band loops again; a band's error reaches
// the caller and leaves the pool usable.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "core/comparison/RowParallel.h"

namespace quorlin {
namespace {

TEST(RowParallelTest, EveryRowOnceAlsoFromConcurrentAndNestedLoops) {
  auto loop = [] {
    std::vector<std::atomic<int>> hits(1000);
    parallelForRows(
        1000,
        [&](int first, int end) {
          for (int y = first; y < end; ++y) ++hits[static_cast<std::size_t>(y)];
          std::atomic<int> inner{0};
          parallelForRows(10, [&](int a, int b) { inner += b - a; }, 3);
          EXPECT_EQ(inner.load(), 10);
        },
        7);
    for (const auto& hit : hits) EXPECT_EQ(hit.load(), 1);
  };
  std::jthread other(loop);
  loop();
}

TEST(RowParallelTest, ABandsErrorReachesTheCallerAndThePoolStaysUsable) {
  EXPECT_THROW(parallelForRows(
                   100, [](int first, int) { if (first == 50) throw std::runtime_error("band"); }, 1),
               std::runtime_error);
  std::atomic<int> rows{0};
  parallelForRows(100, [&](int first, int end) { rows += end - first; }, 1);
  EXPECT_EQ(rows.load(), 100);
}

}  // namespace
}  // namespace quorlin
