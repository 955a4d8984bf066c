#include "core/comparison/KeyboardCommandRegistry.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

TEST(DifferenceGainTest, StepsStopAtTheEndsUnknownGainsCountAsTwoAndOnlyIndicesZeroToFiveSet) {
  const std::tuple<int, int, int> steps[] = {{2, 1, 4},  {2, -1, 1}, {16, 1, 32}, {32, 1, 32},
                                             {1, -1, 1}, {3, 1, 4},  {0, -1, 1},  {64, 0, 2}};
  for (const auto& [gain, step, expected] : steps) EXPECT_EQ(stepDifferenceGain(gain, step), expected) << gain;
  const std::tuple<int, int, int> sets[] = {{2, 0, 1}, {2, 3, 8}, {2, 5, 32}, {16, 6, 16}, {16, -1, 16}};
  for (const auto& [gain, index, expected] : sets) EXPECT_EQ(setDifferenceGainStep(gain, index), expected) << index;
}

}  // namespace
}  // namespace quorlin
