#include "core/comparison/KeyboardCommandRegistry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorlin {
namespace {

TEST(KeyboardCommandRegistryTest, RegisteringReplacesThePreviousHandler) {
  KeyboardCommandRegistry registry;
  std::vector<std::string> calls;
  registry.zoomIn = [&] { calls.push_back("first"); };
  registry.zoomIn = [&] { calls.push_back("second"); };
  EXPECT_TRUE(KeyboardCommandRegistry::call(registry.zoomIn));
  EXPECT_EQ(calls, std::vector<std::string>{"second"});
}

TEST(KeyboardCommandRegistryTest, CallingAnEmptySlotDoesNothing) {
  KeyboardCommandRegistry registry;
  EXPECT_FALSE(KeyboardCommandRegistry::call(registry.generate));
  EXPECT_FALSE(KeyboardCommandRegistry::call(registry.zoomToScale, 2.0));
  EXPECT_FALSE(KeyboardCommandRegistry::call(registry.scrollPan, 1.0, 2.0));
}

TEST(KeyboardCommandRegistryTest, ArgumentsReachTheHandler) {
  KeyboardCommandRegistry registry;
  double scale = 0;
  std::pair<double, double> pan;
  registry.zoomToScale = [&](double value) { scale = value; };
  registry.scrollPan = [&](double dx, double dy) { pan = {dx, dy}; };
  KeyboardCommandRegistry::call(registry.zoomToScale, 6.0);
  KeyboardCommandRegistry::call(registry.scrollPan, -3.0, 4.5);
  EXPECT_EQ(scale, 6.0);
  EXPECT_EQ(pan, (std::pair<double, double>{-3.0, 4.5}));
}

TEST(KeyboardCommandRegistryTest, PointerStateClearsTogether) {
  KeyboardCommandRegistry registry;
  registry.isPointerOverComparison = true;
  registry.lastPointerLocation = PointF{10, 20};
  registry.clearPointerState();
  EXPECT_FALSE(registry.isPointerOverComparison);
  EXPECT_FALSE(registry.lastPointerLocation);
}

TEST(DifferenceGainTest, StepsMoveOnePlaceAndStopAtTheEnds) {
  EXPECT_EQ(stepDifferenceGain(2, 1), 4);
  EXPECT_EQ(stepDifferenceGain(2, -1), 1);
  EXPECT_EQ(stepDifferenceGain(16, 1), 32);
  EXPECT_EQ(stepDifferenceGain(32, 1), 32);
  EXPECT_EQ(stepDifferenceGain(1, -1), 1);
  // A gain outside the list counts as the place of 2.
  EXPECT_EQ(stepDifferenceGain(3, 1), 4);
  EXPECT_EQ(stepDifferenceGain(0, -1), 1);
  EXPECT_EQ(stepDifferenceGain(64, 0), 2);
}

TEST(DifferenceGainTest, SetStepTakesOnlyIndicesZeroToFive) {
  EXPECT_EQ(setDifferenceGainStep(2, 0), 1);
  EXPECT_EQ(setDifferenceGainStep(2, 3), 8);
  EXPECT_EQ(setDifferenceGainStep(2, 5), 32);
  EXPECT_EQ(setDifferenceGainStep(16, 6), 16);
  EXPECT_EQ(setDifferenceGainStep(16, -1), 16);
}

}  // namespace
}  // namespace quorlin
