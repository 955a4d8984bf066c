#include "core/comparison/KeyboardCommandRegistry.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

TEST(KeyboardCommandRegistryTest, CallsReachFilledSlotsWithTheirArgumentsAndPointerStateClearsTogether) {
  KeyboardCommandRegistry registry;
  EXPECT_FALSE(KeyboardCommandRegistry::call(registry.generate));
  EXPECT_FALSE(KeyboardCommandRegistry::call(registry.zoomToScale, 2.0));
  EXPECT_FALSE(KeyboardCommandRegistry::call(registry.scrollPan, 1.0, 2.0));
  double scale = 0;
  std::pair<double, double> pan;
  registry.zoomToScale = [&](double value) { scale = value; };
  registry.scrollPan = [&](double dx, double dy) { pan = {dx, dy}; };
  EXPECT_TRUE(KeyboardCommandRegistry::call(registry.zoomToScale, 6.0));
  EXPECT_TRUE(KeyboardCommandRegistry::call(registry.scrollPan, -3.0, 4.5));
  EXPECT_EQ(scale, 6.0);
  EXPECT_EQ(pan, (std::pair<double, double>{-3.0, 4.5}));
  registry.isPointerOverComparison = true;
  registry.lastPointerLocation = PointF{10, 20};
  registry.clearPointerState();
  EXPECT_FALSE(registry.isPointerOverComparison);
  EXPECT_FALSE(registry.lastPointerLocation);
}

TEST(DifferenceGainTest, StepsStopAtTheEndsUnknownGainsCountAsTwoAndOnlyIndicesZeroToFiveSet) {
  const std::tuple<int, int, int> steps[] = {{2, 1, 4},  {2, -1, 1}, {16, 1, 32}, {32, 1, 32},
                                             {1, -1, 1}, {3, 1, 4},  {0, -1, 1},  {64, 0, 2}};
  for (const auto& [gain, step, expected] : steps) EXPECT_EQ(stepDifferenceGain(gain, step), expected) << gain;
  const std::tuple<int, int, int> sets[] = {{2, 0, 1}, {2, 3, 8}, {2, 5, 32}, {16, 6, 16}, {16, -1, 16}};
  for (const auto& [gain, index, expected] : sets) EXPECT_EQ(setDifferenceGainStep(gain, index), expected) << index;
}

}  // namespace
}  // namespace quorlin
