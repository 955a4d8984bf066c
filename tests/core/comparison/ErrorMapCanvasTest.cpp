#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <functional>

#include <sys/stat.h>

#include "ComparisonTestImages.h"
#include "support/TestSupport.h"
#include "core/comparison/ErrorMapRendering.h"
#include "core/comparison/FourWayCanvasModel.h"
#include "core/comparison/KeyboardShortcuts.h"

namespace quorlin {
namespace {

constexpr int width = 40;
constexpr int height = 30;
constexpr SizeF view{400, 300};   // the picture fills the view exactly

// A little-endian three-layer PFM; `shares(x, y)` gives structure, artifacts, blur.
void writeMap(const std::filesystem::path& file, const std::function<std::array<float, 3>(int, int)>& shares) {
  std::ofstream stream(file, std::ios::binary);
  stream << "PF\n" << width << ' ' << height << "\n-1.0\n";
  for (int y = height - 1; y >= 0; --y) {
    for (int x = 0; x < width; ++x) stream.write(reinterpret_cast<const char*>(shares(x, y).data()), 12);
  }
}

std::array<std::uint8_t, 3> pixelOf(const CanvasLayerState& layer, int x, int y) {
  const std::uint8_t* p = layer.contents->bitmap()->row(y) + 4 * x;
  return {p[0], p[1], p[2]};
}

class ErrorMapCanvasTest : public ::testing::Test {
 protected:
  ErrorMapCanvasTest() {
    // Quadrant 0: structure 1e-6 everywhere. Quadrant 1: the same on the left
    // half, ten times that (as blur) on the right, so its 99.9th percentile
    // sets the shared scale.
    writeMap(scratch / "cool.pfm", [](int, int) { return std::array<float, 3>{1e-6f, 0, 0}; });
    writeMap(scratch / "hot.pfm", [](int x, int) {
      return x < width / 2 ? std::array<float, 3>{1e-6f, 0, 0} : std::array<float, 3>{0, 0, 1e-5f};
    });
    values.sourceImage = test::displayImageOf(test::makeUniformImage<std::uint8_t>(width, height, {128, 128, 128}));
    for (int panel = 0; panel < 2; ++panel) {
      values.panelImages.push_back(
          test::displayImageOf(test::makeUniformImage<std::uint8_t>(width, height, {128, 128, 128})));
    }
    values.panelErrorMaps = {scratch / "cool.pfm", scratch / "hot.pfm"};
    values.isShowingErrorMap = true;
  }

  const CanvasLayerState& quadrant(int index) const { return model.layer(FourWayCanvasModel::quadrantLayer(index)); }
  // Maps are read in the background and taken in by the update after.
  void showMaps() {
    model.update(values, view, 1.0);
    model.waitForErrorMaps();
    model.update(values, view, 1.0);
  }

  test::ScratchDirectory scratch;
  FourWayImageCanvas values;
  FourWayCanvasModel model;
};

TEST_F(ErrorMapCanvasTest, OneScaleColoursTheSameShareAlikeInEveryQuadrant) {
  showMaps();
  EXPECT_NEAR(model.errorMapScale(), 1e-5, 1e-7);   // kept to three digits
  // The same share at the same grey: one colour, two thirds up the scale, not
  // the top colour the cool map would give itself on a scale of its own.
  EXPECT_EQ(pixelOf(quadrant(0), 3, 3), pixelOf(quadrant(1), 3, 3));
  EXPECT_EQ(pixelOf(quadrant(0), 3, 3), errorMapPixel(2.0 / 3.0, 128));
  EXPECT_EQ(pixelOf(quadrant(1), 30, 3), errorMapPixel(1.0, 128));
  // A quadrant without a result has no map: only the dimmed backdrop.
  EXPECT_EQ(pixelOf(quadrant(2), 3, 3), errorMapPixel(0.0, 128));

  // The structure layer alone: the hot map's right half has none, and the
  // scale falls to the cool map's share.
  values.errorMapLayer = ErrorMapLayer::structure;
  showMaps();
  EXPECT_NEAR(model.errorMapScale(), 1e-6, 1e-8);
  EXPECT_EQ(pixelOf(quadrant(1), 30, 3), errorMapPixel(0.0, 128));
  EXPECT_EQ(pixelOf(quadrant(1), 3, 3), errorMapPixel(1.0, 128));

  // The original and the difference, while held, show over the map.
  values.isShowingDifference = true;
  model.update(values, view, 1.0);
  EXPECT_FALSE(model.isShowingErrorMap());
  EXPECT_FALSE(model.errorMapReadingAt({300, 50}));
}

TEST_F(ErrorMapCanvasTest, MapAndReadingFollowTheSplit) {
  showMaps();
  const auto reading = model.errorMapReadingAt({300, 50});   // image x 30, in quadrant 1
  ASSERT_TRUE(reading);
  EXPECT_EQ(reading->quadrant, 1);
  EXPECT_NEAR(reading->share, 1e-5, 1e-7);
  EXPECT_DOUBLE_EQ(reading->position, 1.0);

  // The split moves right past the point: quadrant 0's map is shown there,
  // from the same bitmaps (a split move never renders).
  const auto bitmap = quadrant(0).contents;
  values.comparisonX = 0.9;
  model.update(values, view, 1.0);
  EXPECT_EQ(quadrant(0).contents, bitmap);
  EXPECT_EQ(quadrant(0).clip.width, 360);
  const auto moved = model.errorMapReadingAt({300, 50});
  ASSERT_TRUE(moved);
  EXPECT_EQ(moved->quadrant, 0);
  EXPECT_NEAR(moved->share, 1e-6, 1e-8);
  EXPECT_FALSE(model.errorMapReadingAt({300, 250}));   // quadrant 2: no map
}

TEST_F(ErrorMapCanvasTest, LegendShowsTheSharedScaleDecadeByDecade) {
  showMaps();
  const auto ticks = errorMapLegendTicks(model.errorMapScale());
  ASSERT_EQ(ticks.size(), 4u);
  EXPECT_EQ(ticks.front().text, "1e-08");
  EXPECT_EQ(ticks.back().text, "1e-05");
  EXPECT_DOUBLE_EQ(ticks.front().position, 0.0);
  EXPECT_NEAR(ticks[1].position, 1.0 / 3.0, 1e-9);
  EXPECT_DOUBLE_EQ(ticks.back().position, 1.0);
  EXPECT_TRUE(errorMapLegendTicks(0.0).empty());
}

TEST_F(ErrorMapCanvasTest, AMapStillReadingWhenItsResultIsReplacedIsNeverShown) {
  const auto pipe = scratch / "held.pfm";   // the read blocks until the test opens the pipe
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  values.panelErrorMaps[0] = pipe;
  model.update(values, view, 1.0);
  EXPECT_TRUE(model.isErrorMapLoading(0));
  values.panelImages[0] = test::displayImageOf(test::makeUniformImage<std::uint8_t>(width, height, {90, 90, 90}));
  values.panelErrorMaps[0] = scratch / "hot.pfm";
  model.update(values, view, 1.0);
  { std::ofstream release(pipe); }   // the old read ends, finding nothing
  showMaps();
  ASSERT_TRUE(model.quadrantErrorMap(0));
  EXPECT_NEAR(model.quadrantErrorMap(0)->topShare, 1e-5, 1e-7);
}

TEST(ErrorMapKeysTest, HoldingEShowsTheErrorMapUnlessACommandModifierIsHeld) {
  EXPECT_EQ(decideKeyDown({PhysicalKey::e, {}, false}), (ShortcutDecision{RegistryAction::showErrorMap, true}));
  EXPECT_EQ(decideKeyDown({PhysicalKey::e, {}, true}), (ShortcutDecision{std::monostate{}, true}));
  EXPECT_FALSE(decideKeyDown({PhysicalKey::e, {.command = true}, false}).isConsumed);
  EXPECT_EQ(decideKeyUp({PhysicalKey::e, {}, false}), (ShortcutDecision{RegistryAction::hideErrorMap, true}));
  EXPECT_EQ(physicalKeyFromEvdevCode(18), PhysicalKey::e);
}

}  // namespace
}  // namespace quorlin
