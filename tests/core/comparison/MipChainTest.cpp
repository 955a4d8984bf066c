#include "core/comparison/MipChain.h"

#include <gtest/gtest.h>

#include "core/comparison/CheckerboardTile.h"

namespace quorlin {
namespace {

std::shared_ptr<RasterBitmap> filledBitmap(int width, int height, std::uint8_t (*value)(int x, int y, int channel)) {
  auto bitmap = RasterBitmap::allocate(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 4; ++c) bitmap->row(y)[4 * x + c] = value(x, y, c);
    }
  }
  return bitmap;
}

TEST(MipChainTest, LevelsHalveRoundingUpDownToOnePixelAndAverageEachChannelWithRounding) {
  auto base = filledBitmap(5, 3, [](int, int, int) -> std::uint8_t { return 7; });
  auto levels = buildMipLevels(*base);
  std::vector<std::pair<int, int>> sizes;
  for (const auto& level : levels) sizes.emplace_back(level->width, level->height);
  EXPECT_EQ(sizes, (std::vector<std::pair<int, int>>{{3, 2}, {2, 1}, {1, 1}}));
  // A uniform bitmap stays uniform on every level, odd edges included.
  for (const auto& level : levels) {
    for (int y = 0; y < level->height; ++y) {
      for (int i = 0; i < level->width * 4; ++i) EXPECT_EQ(level->row(y)[i], 7);
    }
  }
  EXPECT_TRUE(buildMipLevels(*filledBitmap(1, 1, [](int, int, int) -> std::uint8_t { return 0; })).empty());
  // Pixel value 4 × (x + 2y) + channel offset: the 2 × 2 block (0..1, 0..1)
  // holds 0, 4, 8, 12 (+c), whose rounded mean is 6 (+c). Channel 3 holds
  // 255 everywhere except one 0, to catch carries between bytes: (765 + 2) / 4 = 191.
  auto ramp = filledBitmap(3, 2, [](int x, int y, int c) -> std::uint8_t {
    if (c == 3) return x == 0 && y == 0 ? 0 : 255;
    return static_cast<std::uint8_t>(4 * (x + 2 * y) + c);
  });
  auto rampLevels = buildMipLevels(*ramp);
  const std::uint8_t* averaged = rampLevels.front()->row(0);
  // The odd last column (x = 2) is averaged with itself: (8 + 16) / 2 = 12.
  EXPECT_EQ((std::vector<int>(averaged, averaged + 8)), (std::vector<int>{6, 7, 8, 191, 12, 13, 14, 255}));
}

TEST(MipChainTest, LevelChoiceNeverMagnifiesAMinifiedLevel) {
  const std::tuple<double, int, int> cases[] = {{2.0, 10, 0}, {1.0, 10, 0},  {0.75, 10, 0},  {0.5, 10, 1},
                                                {0.3, 10, 1}, {0.25, 10, 2}, {0.001, 4, 3}, {0.1, 1, 0}};
  for (const auto& [scale, levels, expected] : cases) EXPECT_EQ(mipLevelForScale(scale, levels), expected) << scale;
}

RasterizedImage imageOfSize(int width, int height) {
  return makeRasterizedImage(filledBitmap(width, height, [](int, int, int) -> std::uint8_t { return 1; }), false);
}

TEST(MipChainTest, PlanDrawsOnlyTheVisiblePartOfTheRightLevelWidenedToWholePixels) {
  // 4000 × 4000 shown in 1000 points at ratio 1: scale 0.25, level 2 (1000 × 1000).
  RasterizedImage image = imageOfSize(4000, 4000);
  MipDrawPlan plan = planMipDraw(image, {0, 0, 1000, 1000}, {500, 0, 500, 500}, 1.0);
  ASSERT_FALSE(plan.isEmpty);
  EXPECT_EQ(plan.level, 2);
  // The visible 500..1000 × 0..500 plus one pixel for filtering where the level has one.
  EXPECT_EQ(plan.source, (RectF{499, 0, 501, 501}));
  EXPECT_EQ(plan.target, (RectF{499, 0, 501, 501}));
  // On a 2× screen the same picture needs level 1.
  EXPECT_EQ(planMipDraw(image, {0, 0, 1000, 1000}, {0, 0, 1000, 1000}, 2.0).level, 1);
  // 1000 × 1000 drawn at 2000 points from (−500.5, −500): the view (0..1000)
  // sees level-0 pixels 250.25..750.25 × 250..750, widened to whole pixels
  // 250..751 × 250..750 and by one neighbour each side: 249..752 × 249..751.
  plan = planMipDraw(imageOfSize(1000, 1000), {-500.5, -500, 2000, 2000}, {0, 0, 1000, 1000}, 1.0);
  EXPECT_EQ(plan.level, 0);
  EXPECT_EQ(plan.source, (RectF{249, 249, 503, 502}));
  EXPECT_EQ(plan.target, (RectF{-2.5, -2, 1006, 1004}));
  // Nothing to draw outside the clip.
  image = imageOfSize(10, 10);
  EXPECT_TRUE(planMipDraw(image, {0, 0, 100, 100}, {200, 0, 50, 50}, 1.0).isEmpty);
  EXPECT_TRUE(planMipDraw(image, {0, 0, 100, 100}, {0, 0, 0, 100}, 1.0).isEmpty);
  EXPECT_TRUE(planMipDraw(image, {}, {0, 0, 100, 100}, 1.0).isEmpty);
}

TEST(CheckerboardTileTest, LighterSquaresSitTopRightAndBottomLeft) {
  auto tile = checkerboardTile(2);
  ASSERT_EQ(tile->width, 64);
  auto level = [&](int x, int y) { return tile->row(y)[4 * x]; };
  EXPECT_EQ(level(0, 0), 199);     // 0.78
  EXPECT_EQ(level(63, 0), 230);    // 0.9, top right
  EXPECT_EQ(level(0, 63), 230);    // bottom left
  EXPECT_EQ(level(63, 63), 199);
  EXPECT_EQ(level(31, 31), 199);
  EXPECT_EQ(level(32, 31), 230);
  EXPECT_EQ(tile->row(10)[4 * 10 + 3], 255);
  EXPECT_EQ(checkerboardTile(2), tile);   // made once per scale
}

TEST(BitmapMemoryPoolTest, LargeBlocksAreReusedForTheSameSizeUpToTheLimitAndCanBeReleased) {
  releaseIdleBitmapMemory();
  const std::uint8_t* first = nullptr;
  {
    auto bitmap = RasterBitmap::allocate(1024, 512);   // 2 MB
    first = bitmap->bytes.get();
  }
  EXPECT_EQ(idleBitmapMemory(), std::size_t{2} << 20);
  auto other = RasterBitmap::allocate(1000, 512);      // another size: fresh memory
  EXPECT_NE(other->bytes.get(), first);
  auto again = RasterBitmap::allocate(1024, 512);
  EXPECT_EQ(again->bytes.get(), first);
  EXPECT_EQ(idleBitmapMemory(), 0u);
  // Small bitmaps bypass the pool.
  { auto small = RasterBitmap::allocate(16, 16); }
  EXPECT_EQ(idleBitmapMemory(), 0u);
  other.reset();
  EXPECT_GT(idleBitmapMemory(), 0u);
  releaseIdleBitmapMemory();
  EXPECT_EQ(idleBitmapMemory(), 0u);
  releaseIdleBitmapMemory();
  {
    std::vector<std::shared_ptr<RasterBitmap>> bitmaps;
    // Eleven 64 MB bitmaps: more than the 640 MB the pool may keep.
    for (int i = 0; i < 11; ++i) bitmaps.push_back(RasterBitmap::allocate(4096, 4096));
  }
  EXPECT_LE(idleBitmapMemory(), bitmapPoolRetainedBytes);
  EXPECT_EQ(idleBitmapMemory(), std::size_t{640} << 20);
  releaseIdleBitmapMemory();
}

}  // namespace
}  // namespace quorlin
