#include "core/comparison/FourWayCanvasModel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ComparisonTestImages.h"
#include "core/comparison/DisplayHeadroom.h"

namespace quorlin {
namespace {

using test::displayImageOf;
using test::makeUniformImage;

// Records every rendering and hands back a tiny distinct bitmap for each.
class CountingRasterizer final : public CanvasRasterizer {
 public:
  int normalRenders = 0;
  int differenceRenders = 0;
  bool isFailing = false;
  std::vector<std::uint64_t> renderedImages;

  std::shared_ptr<const RasterizedImage> rasterize(const DecodedImage& image, std::optional<double>,
                                                   double) override {
    ++normalRenders;
    renderedImages.push_back(image.identifier());
    return isFailing ? nullptr : makeResult();
  }
  std::shared_ptr<const RasterizedImage> rasterizeDifference(const DecodedImage&, const DecodedImage& comparison, int,
                                                             double) override {
    ++differenceRenders;
    renderedImages.push_back(comparison.identifier());
    return isFailing ? nullptr : makeResult();
  }
  int renders() const { return normalRenders + differenceRenders; }

 private:
  static std::shared_ptr<const RasterizedImage> makeResult() {
    auto image = std::make_shared<RasterizedImage>();
    image->levels.push_back(RasterBitmap::allocate(1, 1));
    return image;
  }
};

constexpr SizeF view{800, 600};

class FourWayCanvasModelTest : public ::testing::Test {
 protected:
  FourWayCanvasModelTest() : rasterizer(std::make_shared<CountingRasterizer>()), model(rasterizer) {
    values.sourceImage = displayImageOf(makeUniformImage<std::uint8_t>(40, 30, {10, 20, 30}));
    values.panelImages = {displayImageOf(makeUniformImage<std::uint8_t>(40, 30, {11, 20, 30})),
                          std::nullopt,
                          displayImageOf(makeUniformImage<std::uint8_t>(20, 15, {12, 20, 30})),
                          displayImageOf(makeUniformImage<std::uint8_t>(40, 30, {13, 20, 30}))};
  }

  const CanvasLayerState& quadrant(int index) const { return model.layer(FourWayCanvasModel::quadrantLayer(index)); }
  std::uint64_t idOf(const std::optional<DisplayImage>& image) const { return image->image->identifier(); }

  std::shared_ptr<CountingRasterizer> rasterizer;
  FourWayCanvasModel model;
  FourWayImageCanvas values;
};

TEST_F(FourWayCanvasModelTest, FirstUpdateRendersEachDistinctImageOnce) {
  model.update(values, view, 1.0);
  // Source (original layer and quadrant 1, which has no result) plus three results.
  EXPECT_EQ(rasterizer->normalRenders, 4);
  EXPECT_EQ(rasterizer->differenceRenders, 0);
  EXPECT_EQ(model.rasterCache().size(), 4u);
  EXPECT_TRUE(model.layer(CanvasLayer::original).isHidden);
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(quadrant(i).isHidden) << i;
    EXPECT_TRUE(quadrant(i).contents) << i;
  }
  // Quadrant 1 has no result: it shows the source's very bitmap.
  EXPECT_EQ(quadrant(1).contents, model.layer(CanvasLayer::original).contents);
  EXPECT_EQ(model.appliedLayerKey(FourWayCanvasModel::quadrantLayer(1))->imageIdentifier, idOf(values.sourceImage));
}

TEST_F(FourWayCanvasModelTest, LayersAreClippedToQuadrantsAndShareOneImageRectangle) {
  values.comparisonX = 0.25;
  model.update(values, view, 1.0);
  EXPECT_EQ(quadrant(0).clip, (RectF{0, 0, 200, 300}));
  EXPECT_EQ(quadrant(3).clip, (RectF{200, 300, 600, 300}));
  // 40 × 30 in 800 × 600 fits at 20; the half-size result of panel 2 fits at 40.
  RectF expected{0, 0, 800, 600};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(quadrant(i).frame, expected) << i;
  EXPECT_EQ(model.background().frame, expected);
  EXPECT_FALSE(model.background().isCheckerboard);
}

TEST_F(FourWayCanvasModelTest, ZoomPanAndSplitChangesNeverRender) {
  model.update(values, view, 1.0);
  int before = rasterizer->renders();
  values.zoom = 3.0;
  values.panOffset = {40, -25};
  values.comparisonX = 0.1;
  values.comparisonY = 0.9;
  model.update(values, view, 1.0);
  model.update(values, {1024, 768}, 1.0);
  EXPECT_EQ(rasterizer->renders(), before);
  // 40 × 30 in 1024 × 768: fit 25.6, × 3 → 3072 × 2304 centred, moved by the pan.
  EXPECT_EQ(quadrant(0).frame, (RectF{512 - 1536 + 40, 384 - 1152 - 25, 3072, 2304}));
}

TEST_F(FourWayCanvasModelTest, GainChangeRendersOnlyDifferenceLayers) {
  values.isShowingDifference = true;
  model.update(values, view, 1.0);
  int normalBefore = rasterizer->normalRenders;
  EXPECT_EQ(normalBefore, 1);   // the original layer keeps the source's normal rendering
  EXPECT_EQ(rasterizer->differenceRenders, 4);

  values.differenceGain = 8;
  model.update(values, view, 1.0);
  EXPECT_EQ(rasterizer->normalRenders, normalBefore);
  EXPECT_EQ(rasterizer->differenceRenders, 8);
  EXPECT_EQ(model.appliedLayerKey(CanvasLayer::quadrant2)->differenceGain, 8);
}

TEST_F(FourWayCanvasModelTest, DifferencesForOtherGainsOrReplacedResultsAreDropped) {
  values.isShowingDifference = true;
  model.update(values, view, 1.0);
  values.differenceGain = 4;
  model.update(values, view, 1.0);
  // In difference mode only the original layer shows a normal rendering (the
  // source's); with the four gain-4 differences that makes five entries.
  EXPECT_EQ(model.rasterCache().size(), 5u);
  values.panelImages[3] = displayImageOf(makeUniformImage<std::uint8_t>(40, 30, {14, 20, 30}));
  model.update(values, view, 1.0);
  EXPECT_EQ(model.rasterCache().size(), 5u);
  EXPECT_EQ(rasterizer->differenceRenders, 9);
  // Back to gain 2: rendered again.
  values.differenceGain = 2;
  model.update(values, view, 1.0);
  EXPECT_EQ(rasterizer->differenceRenders, 13);
}

// Stale bitmaps leave before their replacements are made, so a gain change
// needs memory for one extra bitmap at most, not for four.
class LiveBitmapRasterizer final : public CanvasRasterizer {
 public:
  std::vector<std::weak_ptr<const RasterizedImage>> made;
  std::vector<int> liveAtEachRender;

  std::shared_ptr<const RasterizedImage> rasterize(const DecodedImage&, std::optional<double>, double) override {
    return make();
  }
  std::shared_ptr<const RasterizedImage> rasterizeDifference(const DecodedImage&, const DecodedImage&, int,
                                                             double) override {
    return make();
  }

 private:
  std::shared_ptr<const RasterizedImage> make() {
    int live = 0;
    for (const auto& bitmap : made) live += bitmap.expired() ? 0 : 1;
    liveAtEachRender.push_back(live);
    auto image = std::make_shared<RasterizedImage>();
    image->levels.push_back(RasterBitmap::allocate(1, 1));
    made.push_back(image);
    return image;
  }
};

TEST_F(FourWayCanvasModelTest, StaleBitmapsAreReleasedBeforeTheirReplacementsRender) {
  auto counting = std::make_shared<LiveBitmapRasterizer>();
  FourWayCanvasModel liveModel(counting);
  values.isShowingDifference = true;
  liveModel.update(values, view, 1.0);   // source normal + 4 differences
  counting->liveAtEachRender.clear();
  values.differenceGain = 16;
  liveModel.update(values, view, 1.0);
  // At each render: the source's normal bitmap and one difference per other
  // quadrant, old or new. Keeping the old ones until the end would show 5, 6, 7, 8.
  EXPECT_EQ(counting->liveAtEachRender, (std::vector<int>{4, 4, 4, 4}));
}

TEST_F(FourWayCanvasModelTest, TogglingTheDifferenceAtTheSameGainReusesBitmaps) {
  model.update(values, view, 1.0);
  values.isShowingDifference = true;
  model.update(values, view, 1.0);
  auto differenceBitmap = quadrant(0).contents;
  values.isShowingDifference = false;
  model.update(values, view, 1.0);
  values.isShowingDifference = true;
  model.update(values, view, 1.0);
  EXPECT_EQ(rasterizer->normalRenders, 4);
  EXPECT_EQ(rasterizer->differenceRenders, 4);
  EXPECT_EQ(quadrant(0).contents, differenceBitmap);
  // A gain change while the difference is off renders nothing.
  values.isShowingDifference = false;
  values.differenceGain = 32;
  model.update(values, view, 1.0);
  EXPECT_EQ(rasterizer->renders(), 8);
}

TEST_F(FourWayCanvasModelTest, PanelWithoutResultComparesTheSourceWithItself) {
  values.isShowingDifference = true;
  model.update(values, view, 1.0);
  auto key = model.appliedLayerKey(CanvasLayer::quadrant1);
  ASSERT_TRUE(key);
  EXPECT_TRUE(key->isDifference);
  EXPECT_EQ(key->imageIdentifier, idOf(values.sourceImage));
  EXPECT_EQ(key->comparisonImageIdentifier, idOf(values.sourceImage));
  EXPECT_FALSE(key->contentHeadroom);
  EXPECT_EQ(model.appliedLayerKey(CanvasLayer::quadrant3)->comparisonImageIdentifier, idOf(values.panelImages[3]));
}

TEST_F(FourWayCanvasModelTest, NewImageNeverReusesAnOldBitmap) {
  model.update(values, view, 1.0);
  auto oldBitmap = quadrant(0).contents;
  std::uint64_t oldIdentifier = idOf(values.panelImages[0]);
  // Same pixels, new decoded image: a new identity.
  values.panelImages[0] = displayImageOf(makeUniformImage<std::uint8_t>(40, 30, {11, 20, 30}));
  ASSERT_NE(idOf(values.panelImages[0]), oldIdentifier);
  model.update(values, view, 1.0);
  EXPECT_EQ(rasterizer->normalRenders, 5);
  EXPECT_NE(quadrant(0).contents, oldBitmap);
  // The old image's entry is pruned.
  EXPECT_EQ(model.rasterCache().size(), 4u);
  EXPECT_FALSE(model.rasterCache().contains({oldIdentifier, std::nullopt, 1.0, std::nullopt, std::nullopt, false}));
}

TEST_F(FourWayCanvasModelTest, NoSourceOrNoAreaHidesEverythingAndKeepsTheCache) {
  model.update(values, view, 1.0);
  int renders = rasterizer->renders();
  FourWayImageCanvas empty = values;
  empty.sourceImage.reset();
  empty.usesTransparencyBackground = true;
  model.update(empty, view, 1.0);
  EXPECT_TRUE(model.background().isCheckerboard);
  EXPECT_EQ(model.background().frame, (RectF{0, 0, 800, 600}));
  EXPECT_TRUE(model.layer(CanvasLayer::original).isHidden);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(quadrant(i).isHidden);
  EXPECT_EQ(model.rasterCache().size(), 4u);

  model.update(values, {0, 600}, 1.0);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(quadrant(i).isHidden);
  model.update(values, {800, -1}, 1.0);
  EXPECT_EQ(model.rasterCache().size(), 4u);
  EXPECT_EQ(rasterizer->renders(), renders);
}

TEST_F(FourWayCanvasModelTest, ShowingTheOriginalHidesTheQuadrants) {
  values.isShowingOriginal = true;
  values.zoom = 2.0;
  model.update(values, view, 1.0);
  const CanvasLayerState& original = model.layer(CanvasLayer::original);
  EXPECT_FALSE(original.isHidden);
  EXPECT_EQ(original.frame, (RectF{-400, -300, 1600, 1200}));
  EXPECT_EQ(original.clip, (RectF{0, 0, 800, 600}));
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(quadrant(i).isHidden);
}

TEST_F(FourWayCanvasModelTest, OtherDisplayHeadroomRendersAgainAndPrunesTheOld) {
  model.update(values, view, 1.0);
  model.update(values, view, 2.5);
  EXPECT_EQ(rasterizer->normalRenders, 8);
  EXPECT_EQ(model.rasterCache().size(), 4u);
  EXPECT_EQ(model.appliedLayerKey(CanvasLayer::original)->displayHeadroom, 2.5);
  // Headrooms of 1.0 and below (or NaN) are all standard range.
  model.update(values, view, 0.5);
  model.update(values, view, std::numeric_limits<double>::quiet_NaN());
  model.update(values, view, 1.0);
  EXPECT_EQ(rasterizer->normalRenders, 12);
}

TEST_F(FourWayCanvasModelTest, FailedRenderingShowsNothingAndIsRetried) {
  rasterizer->isFailing = true;
  model.update(values, view, 1.0);
  EXPECT_FALSE(quadrant(0).contents);
  EXPECT_EQ(model.rasterCache().size(), 0u);
  EXPECT_FALSE(model.appliedLayerKey(CanvasLayer::quadrant0));
  rasterizer->isFailing = false;
  model.update(values, view, 1.0);
  EXPECT_TRUE(quadrant(0).contents);
}

TEST_F(FourWayCanvasModelTest, NaNHeadroomKeysNeverPileUpInTheCache) {
  values.sourceImage->contentHeadroom = std::numeric_limits<double>::quiet_NaN();
  model.update(values, view, 1.0);
  model.update(values, view, 1.0);
  EXPECT_TRUE(model.layer(CanvasLayer::original).contents);
  // Only the three results are cached; the NaN-keyed source is rendered anew.
  EXPECT_EQ(model.rasterCache().size(), 3u);
}

TEST(FourWayCanvasRenderingTest, PanelWithoutResultShowsBlackWithTheSourceAlphaSquaredInDifferenceMode) {
  FourWayCanvasModel model;   // the real rasteriser
  FourWayImageCanvas values;
  values.sourceImage = displayImageOf(makeUniformImage<std::uint8_t>(4, 4, {90, 180, 30, 128}));
  values.panelImages = {displayImageOf(makeUniformImage<std::uint8_t>(4, 4, {90, 180, 30, 255}))};
  model.update(values, view, 1.0);
  // Normal mode: quadrant 1 has no result and shows the source, premultiplied.
  const std::uint8_t* shown = model.layer(CanvasLayer::quadrant1).contents->bitmap()->row(0);
  EXPECT_EQ((std::vector<int>{shown[0], shown[1], shown[2], shown[3]}), (std::vector<int>{45, 90, 15, 128}));

  values.isShowingDifference = true;
  model.update(values, view, 1.0);
  const std::uint8_t* black = model.layer(CanvasLayer::quadrant1).contents->bitmap()->row(3);
  EXPECT_EQ((std::vector<int>{black[0], black[1], black[2], black[3]}), (std::vector<int>{0, 0, 0, 64}));
  // Panel 0 differs only in alpha: black, alpha 128 × 255 / 255.
  const std::uint8_t* panel = model.layer(CanvasLayer::quadrant0).contents->bitmap()->row(0);
  EXPECT_EQ((std::vector<int>{panel[0], panel[1], panel[2], panel[3]}), (std::vector<int>{0, 0, 0, 128}));
}

TEST(RasterCacheKeyTest, KeysCompareFieldByFieldAndNaNEqualsNothing) {
  RasterCacheKey key{7, 2.0, 1.0, std::nullopt, std::nullopt, false};
  RasterCacheKey same = key;
  EXPECT_EQ(key, same);
  EXPECT_EQ(RasterCacheKeyHash{}(key), RasterCacheKeyHash{}(same));
  RasterCacheKey difference{7, std::nullopt, 1.0, 9, 2, true};
  EXPECT_NE(key, difference);
  RasterCacheKey otherGain = difference;
  otherGain.differenceGain = 4;
  EXPECT_NE(difference, otherGain);
  RasterCacheKey noHeadroom = key;
  noHeadroom.contentHeadroom.reset();
  EXPECT_NE(key, noHeadroom);
  RasterCacheKey nan = key;
  nan.contentHeadroom = std::nan("");
  EXPECT_FALSE(nan == nan);
  RasterCacheKey negativeZero{7, -0.0, 1.0, std::nullopt, std::nullopt, false};
  RasterCacheKey positiveZero{7, 0.0, 1.0, std::nullopt, std::nullopt, false};
  EXPECT_EQ(negativeZero, positiveZero);
  EXPECT_EQ(RasterCacheKeyHash{}(negativeZero), RasterCacheKeyHash{}(positiveZero));
}

}  // namespace
}  // namespace quorlin

namespace quorlin {
namespace {

TEST(DisplayHeadroomTest, OnlyValuesAboveOneCount) {
  EXPECT_EQ(normalizedDisplayHeadroom(std::nullopt), 1.0);
  EXPECT_EQ(normalizedDisplayHeadroom(0.8), 1.0);
  EXPECT_EQ(normalizedDisplayHeadroom(std::nan("")), 1.0);
  EXPECT_EQ(normalizedDisplayHeadroom(std::numeric_limits<double>::infinity()), 1.0);
  EXPECT_EQ(normalizedDisplayHeadroom(2.5), 2.5);
  // Linux screens report no extended range; a replaced provider is read as is.
  EXPECT_EQ(displayHeadroom(platformDisplayHeadroomProvider()), 1.0);
  EXPECT_EQ(displayHeadroom([] { return std::optional<double>(4.0); }), 4.0);
  EXPECT_EQ(displayHeadroom(DisplayHeadroomProvider{}), 1.0);
}

}  // namespace
}  // namespace quorlin
