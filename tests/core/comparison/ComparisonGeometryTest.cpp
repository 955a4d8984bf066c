#include "core/comparison/ComparisonGeometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace quorlin {
namespace {

// A 4000 × 3000 source in a 1000 × 800 view: fit = min(0.25, 0.2667) = 0.25.
constexpr SizeF wideView{1000, 800};
constexpr SizeF largeSource{4000, 3000};
// View 1000 × 1000 with a 1000 × 1000 source: fit 1, so the maximum pan is
// half the overflow, (zoom − 1) × 500 per axis.
constexpr SizeF squareView{1000, 1000};
constexpr SizeF squareSource{1000, 1000};

TEST(ZoomLimitsTest, MaximumIsEightHundredPercentButNeverBelowAQuarterAndEightWithoutAFit) {
  ASSERT_DOUBLE_EQ(*fitScale(wideView, largeSource), 0.25);
  ZoomLimits limits = zoomLimits(wideView, largeSource);
  EXPECT_DOUBLE_EQ(limits.minimum, 0.25);
  EXPECT_DOUBLE_EQ(limits.maximum, 32.0);
  EXPECT_EQ(displayedScalePercent(32.0, wideView, largeSource), 800);
  EXPECT_DOUBLE_EQ(clampZoom(100, wideView, largeSource), 32.0);
  EXPECT_DOUBLE_EQ(clampZoom(0.1, wideView, largeSource), 0.25);
  // fit 20: 8 / 20 = 0.4 is the maximum; a fit of 64 would give 0.125, raised to 0.25.
  EXPECT_DOUBLE_EQ(zoomLimits({1000, 1000}, {50, 50}).maximum, 0.4);
  EXPECT_DOUBLE_EQ(zoomLimits({6400, 6400}, {100, 100}).maximum, 0.25);
  EXPECT_FALSE(fitScale({0, 800}, largeSource));
  EXPECT_FALSE(fitScale(wideView, {0, 0}));
  EXPECT_DOUBLE_EQ(zoomLimits(wideView, {}).maximum, 8.0);
  EXPECT_DOUBLE_EQ(zoomLimits({-5, 10}, largeSource).maximum, 8.0);
}

TEST(ZoomOperationsTest, StepsMultiplyBySquareRootOfTwoWithinTheLimits) {
  // Fit is 0.25 here, so zoom 32 is 800 %: five doublings from fit, two presses each.
  ComparisonViewState state;
  int presses = 0;
  for (; state.zoom < 32 && presses < 20; ++presses) state = zoomIn(state, wideView, largeSource);
  EXPECT_EQ(presses, 10);
  EXPECT_DOUBLE_EQ(zoomIn(state, wideView, largeSource).zoom, 32);
  state.zoom = 1.0;
  state = zoomIn(zoomIn(state, wideView, largeSource), wideView, largeSource);
  EXPECT_NEAR(state.zoom, 2.0, 1e-12);
  EXPECT_NEAR(zoomOut(state, wideView, largeSource).zoom, std::sqrt(2.0), 1e-12);
  state.zoom = 0.25;
  EXPECT_DOUBLE_EQ(zoomOut(state, wideView, largeSource).zoom, 0.25);
}

TEST(ZoomOperationsTest, ActualSizeScaleAndResetTargetTheEffectiveScale) {
  ComparisonViewState panned;
  panned.panOffset = {30, 40};
  ComparisonViewState actual = zoomActualSize(panned, {1000, 500}, {2000, 1000});
  EXPECT_DOUBLE_EQ(actual.zoom, 2.0);
  EXPECT_EQ(actual.panOffset, SizeF{});
  EXPECT_EQ(displayedScalePercent(actual.zoom, {1000, 500}, {2000, 1000}), 100);
  EXPECT_DOUBLE_EQ(zoomToScale({}, 4.0, wideView, largeSource).zoom, 16.0);
  EXPECT_DOUBLE_EQ(zoomToScale({}, 8.0, wideView, largeSource).zoom, 32.0);
  // A tiny source (fit 20) is at 800 % already at zoom 0.4, its maximum.
  EXPECT_DOUBLE_EQ(zoomToScale({}, 8.0, {1000, 1000}, {50, 50}).zoom, 0.4);
  // Without a source the zoom falls back to fit.
  ComparisonViewState zoomed{3.0, {100, -50}, 0.5, 0.5};
  EXPECT_DOUBLE_EQ(zoomToScale(zoomed, 2.0, wideView, {}).zoom, 1.0);
  EXPECT_DOUBLE_EQ(zoomActualSize(zoomed, wideView, {}).zoom, 1.0);
  ComparisonViewState reset = resetImage(zoomed, wideView, largeSource);
  EXPECT_DOUBLE_EQ(reset.zoom, 1.0);
  EXPECT_EQ(reset.panOffset, SizeF{});
}

TEST(PanLimitsTest, PanIsHalfTheOverflowAndZoomingOutKeepsThePictureAtTheViewEdge) {
  for (double zoom : {1.0, 0.5}) EXPECT_EQ(maximumPan(squareView, squareSource, zoom), SizeF{}) << zoom;
  EXPECT_EQ(maximumPan(squareView, {}, 4.0), SizeF{});
  EXPECT_EQ(maximumPan(squareView, squareSource, 2.0), (SizeF{500, 500}));
  // A wide picture overflows only horizontally at zoom 1.5: 1500 × 750 in 1000 × 1000.
  EXPECT_EQ(maximumPan(squareView, {2000, 1000}, 1.5), (SizeF{250, 0}));
  // Below fit the pan resets; above it the pan is clamped to the new limit.
  ComparisonViewState belowFit = zoomOut({1.25, {100, 100}, 0.5, 0.5}, squareView, squareSource);
  EXPECT_DOUBLE_EQ(belowFit.zoom, 1.25 / std::sqrt(2.0));
  EXPECT_EQ(belowFit.panOffset, SizeF{});
  ComparisonViewState aboveFit = zoomOut({2.0 * std::sqrt(2.0), {1000, -1000}, 0.5, 0.5}, squareView, squareSource);
  EXPECT_NEAR(aboveFit.zoom, 2.0, 1e-12);
  EXPECT_NEAR(aboveFit.panOffset.width, 500, 1e-9);
  EXPECT_NEAR(aboveFit.panOffset.height, -500, 1e-9);
}

TEST(PanLimitsTest, ScrollPanOnlyWhenZoomedInAndClampedPerAxisAndHoverPanFollowsThePointer) {
  ComparisonViewState fitted;
  EXPECT_EQ(scrollPan(fitted, 50, 50, squareView, squareSource), fitted);
  ComparisonViewState panned = scrollPan({2.0, {450, 0}, 0.5, 0.5}, 100, -30, squareView, squareSource);
  EXPECT_EQ(panned.panOffset, (SizeF{500, -30}));
  panned = scrollPan(panned, -2000, -2000, squareView, squareSource);
  EXPECT_EQ(panned.panOffset, (SizeF{-500, -500}));
  // A pointer at an edge shows that edge of the picture.
  EXPECT_EQ(commandHoverPan({0, 0}, squareView, squareSource, 2.0), (SizeF{500, 500}));
  EXPECT_EQ(commandHoverPan({1000, 1000}, squareView, squareSource, 2.0), (SizeF{-500, -500}));
  EXPECT_EQ(commandHoverPan({500, 500}, squareView, squareSource, 2.0), (SizeF{0, 0}));
  EXPECT_EQ(commandHoverPan({0, 0}, squareView, squareSource, 1.0), SizeF{});
  EXPECT_EQ(commandHoverPan({0, 0}, {0, 0}, squareSource, 2.0), SizeF{});
}

TEST(ScrollZoomTest, FactorIsLimitedToThirtyFivePercentAndZoomsAroundThePointer) {
  const std::pair<double, double> factors[] = {{-100, 0.65}, {-35, 0.65}, {-20, 0.8}, {100, 1.35}, {10, 1.1}};
  for (const auto& [delta, factor] : factors) EXPECT_DOUBLE_EQ(scrollZoomFactor(delta), factor) << delta;
  ComparisonViewState state{2.0, {}, 0.5, 0.5};
  EXPECT_DOUBLE_EQ(optionScrollZoom(state, -100, std::nullopt, wideView, largeSource).zoom, 1.3);
  EXPECT_DOUBLE_EQ(optionScrollZoom(state, 10, std::nullopt, wideView, largeSource).zoom, 2.2);
  // Square case at zoom 2 → 2.7: maximum pan (850, 850). A pointer at the
  // left quarter (u = 0.25) gives 850 × 0.5 to the right; the top edge, 850 down.
  ComparisonViewState zoomed = optionScrollZoom(state, 100, PointF{250, 0}, squareView, squareSource);
  EXPECT_DOUBLE_EQ(zoomed.zoom, 2.7);
  EXPECT_NEAR(zoomed.panOffset.width, 425, 1e-9);
  EXPECT_NEAR(zoomed.panOffset.height, 850, 1e-9);
  // Zooming out to fit leaves nothing to pan.
  ComparisonViewState out = optionScrollZoom({1.2, {30, 30}, 0.5, 0.5}, -100, PointF{0, 0}, squareView, squareSource);
  EXPECT_EQ(out.panOffset, SizeF{});
}

TEST(DisplayedPercentTest, RoundsHalvesAwayFromZero) {
  // fit 0.125 (1000-point view, 8000-pixel source): 12.5 % → 13 %.
  EXPECT_EQ(displayedScalePercent(1.0, {1000, 1000}, {8000, 8000}), 13);
  EXPECT_EQ(displayedScalePercent(1.0, {1000, 1000}, {8000, 7000}), 13);
  EXPECT_EQ(displayedScalePercent(3.0, {1000, 1000}, {8000, 8000}), 38);   // 37.5
  // Undefined sizes: zoom × 100.
  EXPECT_EQ(displayedScalePercent(0.125, {}, {}), 13);
  EXPECT_EQ(displayedScalePercent(1.0, {}, {}), 100);
}

TEST(SplitClampTest, DragsStayOnePointInsideTheViewAndOnThePicture) {
  PointF corner = splitFractionsForDrag({-40, 2000}, squareView, squareSource, 1.0, {});
  EXPECT_DOUBLE_EQ(corner.x, 1.0 / 1000);
  EXPECT_DOUBLE_EQ(corner.y, 999.0 / 1000);
  PointF inside = splitFractionsForDrag({300, 700}, squareView, squareSource, 1.0, {});
  EXPECT_DOUBLE_EQ(inside.x, 0.3);
  EXPECT_DOUBLE_EQ(inside.y, 0.7);
  // Zoom 0.5: the picture covers (250, 250)–(750, 750); panned right by 100 it starts at 350.
  PointF fractions = splitFractionsForDrag({100, 900}, squareView, squareSource, 0.5, {});
  EXPECT_DOUBLE_EQ(fractions.x, 0.25);
  EXPECT_DOUBLE_EQ(fractions.y, 0.75);
  EXPECT_DOUBLE_EQ(splitFractionsForDrag({0, 500}, squareView, squareSource, 0.5, {100, 0}).x, 0.35);
  // A picture moved entirely out of the view: only the inset view counts.
  EXPECT_DOUBLE_EQ(splitFractionsForDrag({-10, -10}, squareView, squareSource, 0.5, {5000, 0}).x, 0.001);
  // A 1 × 1 view has no inset rectangle; the whole view is used; fractions divide by max(1, W).
  EXPECT_EQ(splitClampRect({1, 1}, {}, 1.0, {}), (RectF{0, 0, 1, 1}));
  EXPECT_DOUBLE_EQ(splitFractionsForDrag({5, 5}, {0.5, 0.5}, {}, 1.0, {}).x, 0.5);
}

TEST(SplitClampTest, ReclampMovesTheSplitOntoThePictureAfterZoomingOut) {
  ComparisonViewState state{1.0, {}, 0.1, 0.5};
  EXPECT_EQ(reclampSplit(state, squareView, squareSource), state);
  state.zoom = 0.5;
  ComparisonViewState moved = reclampSplit(state, squareView, squareSource);
  EXPECT_DOUBLE_EQ(moved.comparisonX, 0.25);
  EXPECT_DOUBLE_EQ(moved.comparisonY, 0.5);
  // Operations re-clamp too.
  ComparisonViewState out = zoomOut({std::sqrt(0.5), {}, 0.1, 0.95}, squareView, squareSource);
  EXPECT_NEAR(out.comparisonX, 0.25, 1e-12);
  EXPECT_NEAR(out.comparisonY, 0.75, 1e-12);
}

TEST(CanvasRectTest, QuadrantsAndImagesOfOtherSizesShareTheScreenRectangles) {
  SizeF view{800, 600};
  const RectF centred[] = {{0, 0, 400, 300}, {400, 0, 400, 300}, {0, 300, 400, 300}, {400, 300, 400, 300}};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(quadrantRect(i, view, 0.5, 0.5), centred[i]) << i;
  // Split at the top-left corner only quadrant 3 has area; at the bottom-right only quadrant 0.
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(quadrantRect(i, view, 0, 0).isEmpty()) << i;
  EXPECT_EQ(quadrantRect(3, view, 0, 0), (RectF{0, 0, 800, 600}));
  EXPECT_EQ(quadrantRect(0, view, 1, 1), (RectF{0, 0, 800, 600}));
  EXPECT_TRUE(quadrantRect(3, view, 1, 1).isEmpty());
  RectF full = canvasImageRect({1000, 800}, {4000, 3000}, 1.0, {});
  EXPECT_EQ(full, (RectF{0, 25, 1000, 750}));
  EXPECT_EQ(canvasImageRect({1000, 800}, {2000, 1500}, 1.0, {}), full);
  // Positive pan height moves the picture down (y points down here).
  EXPECT_EQ(canvasImageRect({1000, 800}, {4000, 3000}, 2.0, {10, 20}), (RectF{-490, -330, 2000, 1500}));
  EXPECT_EQ(canvasImageRect({1000, 800}, {0, 3000}, 1.0, {}), RectF{});
  EXPECT_EQ(canvasImageRect({}, {4000, 3000}, 1.0, {}), RectF{});
  // The picture rectangle, by contrast, is the whole view when undefined.
  EXPECT_EQ(pictureRect({1000, 800}, {}, 1.0, {}), (RectF{0, 0, 1000, 800}));
}

}  // namespace
}  // namespace quorlin
