#include "core/comparison/DifferenceRendering.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ComparisonTestImages.h"

namespace quorlin {
namespace {

using test::makeImage;
using test::makeUniformImage;
using test::Pixel8;
using test::pixelAt;

std::shared_ptr<const RasterizedImage> difference(const std::shared_ptr<const DecodedImage>& source,
                                                  const std::shared_ptr<const DecodedImage>& comparison, int gain) {
  auto result = rasterizeDifference(*source, *comparison, gain, 1.0);
  EXPECT_TRUE(result);
  return result;
}

TEST(DifferenceRenderingTest, DifferenceIsTakenInLinearLightTimesTheGainAndSaturates) {
  auto image = makeUniformImage<std::uint8_t>(5, 4, {200, 100, 50});
  auto same = difference(image, image, 32);
  EXPECT_EQ(same->bitmap()->width, 5);
  EXPECT_EQ(same->bitmap()->height, 4);
  EXPECT_EQ(pixelAt(*same, 4, 3), (Pixel8{0, 0, 0, 255}));
  EXPECT_FALSE(same->isHDR);
  // sRGB 200 → 0.57758, 190 → 0.51492; 0.06266 × 4 = 0.25065 encodes to 0.5379 → 137.
  // (Subtracting the encoded values would give |200 − 190| × 4 = 40.) Blue:
  // lin(50) = 0.03190, lin(60) = 0.04519; 0.01329 × 4 = 0.05316 → 0.2564 → 65.
  Pixel8 pixel = pixelAt(*difference(image, makeUniformImage<std::uint8_t>(2, 2, {190, 100, 60}), 4), 1, 1);
  EXPECT_NEAR(pixel.r, 137, 1);
  EXPECT_EQ(pixel.g, 0);
  EXPECT_NEAR(pixel.b, 65, 1);
  EXPECT_EQ(pixel.a, 255);
  // Mid grey 128 vs 129 differs by 0.003757 in linear light: about 12 at gain 1, 96 at gain 32.
  auto grey = makeUniformImage<std::uint8_t>(1, 1, {128, 128, 128});
  auto nextGrey = makeUniformImage<std::uint8_t>(1, 1, {129, 128, 128});
  EXPECT_NEAR(pixelAt(*difference(grey, nextGrey, 1), 0, 0).r, 12, 1);
  EXPECT_NEAR(pixelAt(*difference(grey, nextGrey, 32), 0, 0).r, 96, 1);
  // Large differences saturate instead of wrapping; lin(255) − lin(250) = 0.0386 × 32 = 1.23 clips.
  EXPECT_EQ(pixelAt(*difference(makeUniformImage<std::uint8_t>(1, 1, {255, 0, 255}),
                                makeUniformImage<std::uint8_t>(1, 1, {0, 255, 250}), 32), 0, 0),
            (Pixel8{255, 255, 255, 255}));
}

TEST(DifferenceRenderingTest, AlphaIsTheProductOfBothAlphasAtEveryDepth) {
  // The source against itself: black with alpha squared (128 × 128 / 255 = 64.25).
  auto translucent = makeUniformImage<std::uint8_t>(2, 1, {90, 180, 30, 128});
  EXPECT_EQ(pixelAt(*difference(translucent, translucent, 8), 1, 0), (Pixel8{0, 0, 0, 64}));
  // Opaque source, half-covered comparison: alpha 128 and the colour premultiplied by it.
  auto opaque = makeUniformImage<std::uint8_t>(2, 1, {200, 100, 50, 255});
  Pixel8 pixel = pixelAt(*difference(opaque, makeUniformImage<std::uint8_t>(2, 1, {190, 100, 60, 128}), 4), 0, 0);
  EXPECT_EQ(pixel.a, 128);
  EXPECT_NEAR(pixel.r, 137 * 128 / 255.0, 1);
  auto wide = makeUniformImage<std::uint16_t>(1, 1, {51400, 25700, 12850, 32896});   // alpha 128 of 255
  EXPECT_EQ(pixelAt(*difference(wide, opaque, 32), 0, 0), (Pixel8{0, 0, 0, 128}));
  EXPECT_EQ(pixelAt(*difference(wide, wide, 32), 0, 0), (Pixel8{0, 0, 0, 64}));
}

TEST(DifferenceRenderingTest, ComparisonIsReadAtTheSamePixelAndCroppedToTheSource) {
  // 3 × 2 source, 2 × 1 comparison: only (0, 0) and (1, 0) are covered.
  auto source = makeUniformImage<std::uint8_t>(3, 2, {100, 100, 100});
  auto result = difference(source, makeUniformImage<std::uint8_t>(2, 1, {100, 100, 100}), 2);
  EXPECT_EQ(pixelAt(*result, 1, 0), (Pixel8{0, 0, 0, 255}));
  EXPECT_EQ(pixelAt(*result, 2, 0), (Pixel8{0, 0, 0, 0}));
  EXPECT_EQ(pixelAt(*result, 0, 1), (Pixel8{0, 0, 0, 0}));
  // A larger comparison is cropped; its extra pixels change nothing.
  auto cropped = difference(source, makeImage<std::uint8_t>(4, 3, 3, std::vector<std::uint8_t>(36, 100)), 2);
  EXPECT_EQ(cropped->bitmap()->width, 3);
  EXPECT_EQ(cropped->bitmap()->height, 2);
  EXPECT_EQ(pixelAt(*cropped, 2, 1), (Pixel8{0, 0, 0, 255}));
}

TEST(DifferenceRenderingTest, SixteenBitAndFloatPathsAgreeWithTheEightBitTable) {
  // The same pixels as 8 bits (table path), 16 bits (fixed-point rows, v × 257) and floats against the
  // 8-bit source (general rows, which decode the 8-bit samples too).
  std::vector<std::uint8_t> eight, source8;
  std::vector<std::uint16_t> sixteen, source16;
  std::vector<float> floats;
  for (int i = 0; i < 64; ++i) {
    auto value = static_cast<std::uint8_t>((i * 37) % 256);
    auto other = static_cast<std::uint8_t>(i % 4 == 3 ? 255 - i * 3 : i * 4);
    eight.push_back(value);
    sixteen.push_back(static_cast<std::uint16_t>(value * 257));
    floats.push_back(value / 255.0f);
    source8.push_back(other);
    source16.push_back(static_cast<std::uint16_t>(other * 257));
  }
  auto byTable = difference(makeImage<std::uint8_t>(16, 1, 4, source8), makeImage<std::uint8_t>(16, 1, 4, eight), 8);
  auto byFixedPoint =
      difference(makeImage<std::uint16_t>(16, 1, 4, source16), makeImage<std::uint16_t>(16, 1, 4, sixteen), 8);
  auto byRows = difference(makeImage<std::uint8_t>(16, 1, 4, source8), makeImage<float>(16, 1, 4, floats), 8);
  for (int x = 0; x < 16; ++x) {
    Pixel8 table = pixelAt(*byTable, x, 0), fixed = pixelAt(*byFixedPoint, x, 0), rows = pixelAt(*byRows, x, 0);
    for (Pixel8 other : {fixed, rows}) {
      EXPECT_NEAR(table.r, other.r, 1) << x;
      EXPECT_NEAR(table.g, other.g, 1) << x;
      EXPECT_NEAR(table.b, other.b, 1) << x;
      EXPECT_NEAR(table.a, other.a, 1) << x;
    }
  }
}

TEST(DifferenceRenderingTest, DifferentColourSpacesAreComparedByTheirColours) {
  // Linear sRGB 16-bit holding exactly the light of sRGB (200, 100, 50).
  auto linearCode = [](double encoded) {
    double value = encoded / 255.0;
    double linear = value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    return static_cast<std::uint16_t>(std::lround(linear * 65535));
  };
  auto srgb = makeUniformImage<std::uint8_t>(1, 1, {200, 100, 50});
  auto linear = makeUniformImage<std::uint16_t>(1, 1, {linearCode(200), linearCode(100), linearCode(50)},
                                                ColorSpace::WellKnown::linearSRGB);
  Pixel8 pixel = pixelAt(*difference(srgb, linear, 32), 0, 0);
  EXPECT_LE(pixel.r, 6);
  EXPECT_LE(pixel.g, 6);
  EXPECT_LE(pixel.b, 6);
  // Read as if it were sRGB, the same numbers would be far apart.
  auto mislabelled = makeUniformImage<std::uint16_t>(1, 1, {linearCode(200), linearCode(100), linearCode(50)});
  EXPECT_GT(pixelAt(*difference(srgb, mislabelled, 1), 0, 0).r, 60);
}

}  // namespace
}  // namespace quorlin
