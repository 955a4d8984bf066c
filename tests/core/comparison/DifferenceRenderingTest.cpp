#include "core/comparison/DifferenceRendering.h"

#include <gtest/gtest.h>

#include <cmath>

#include "ComparisonTestImages.h"

namespace quorlin {
namespace {

using test::makeImage;
using test::makeUniformImage;
using test::Pixel8;

Pixel8 pixelAt(const RasterizedImage& image, int x, int y) {
  const std::uint8_t* p = image.bitmap()->row(y) + 4 * x;
  return {p[0], p[1], p[2], p[3]};
}

std::shared_ptr<const RasterizedImage> difference(const std::shared_ptr<const DecodedImage>& source,
                                                  const std::shared_ptr<const DecodedImage>& comparison, int gain) {
  auto result = rasterizeDifference(*source, *comparison, gain, 1.0);
  EXPECT_TRUE(result);
  return result;
}

TEST(DifferenceRenderingTest, IdenticalImagesAreBlack) {
  auto image = makeUniformImage<std::uint8_t>(5, 4, {200, 100, 50});
  auto result = difference(image, image, 32);
  EXPECT_EQ(result->bitmap()->width, 5);
  EXPECT_EQ(result->bitmap()->height, 4);
  EXPECT_EQ(pixelAt(*result, 4, 3), (Pixel8{0, 0, 0, 255}));
  EXPECT_FALSE(result->isHDR);
}

// Hand-worked in linear light: sRGB 200 → 0.57758, 190 → 0.51492; the
// difference 0.06266 × 4 = 0.25065 encodes to 0.5379 → 137. (Subtracting the
// encoded values would give |200 − 190| × 4 = 40.)
TEST(DifferenceRenderingTest, DifferenceIsTakenInLinearLight) {
  auto source = makeUniformImage<std::uint8_t>(2, 2, {200, 100, 50});
  auto comparison = makeUniformImage<std::uint8_t>(2, 2, {190, 100, 60});
  Pixel8 pixel = pixelAt(*difference(source, comparison, 4), 1, 1);
  EXPECT_NEAR(pixel.r, 137, 1);
  EXPECT_EQ(pixel.g, 0);
  // Blue: lin(50) = 0.03190, lin(60) = 0.04519; 0.01329 × 4 = 0.05316 → 0.2564 → 65.
  EXPECT_NEAR(pixel.b, 65, 1);
  EXPECT_EQ(pixel.a, 255);
}

// Mid grey 128 vs 129 differs by 0.003757 in linear light: at gain 1 that
// encodes to about 12 of 255, at gain 32 (0.1202) to about 96.
TEST(DifferenceRenderingTest, OneLevelAtGainThirtyTwoIsClearlyVisible) {
  auto source = makeUniformImage<std::uint8_t>(1, 1, {128, 128, 128});
  auto comparison = makeUniformImage<std::uint8_t>(1, 1, {129, 128, 128});
  EXPECT_NEAR(pixelAt(*difference(source, comparison, 1), 0, 0).r, 12, 1);
  EXPECT_NEAR(pixelAt(*difference(source, comparison, 32), 0, 0).r, 96, 1);
}

TEST(DifferenceRenderingTest, LargeDifferencesSaturateInsteadOfWrapping) {
  auto source = makeUniformImage<std::uint8_t>(1, 1, {255, 0, 255});
  auto comparison = makeUniformImage<std::uint8_t>(1, 1, {0, 255, 250});
  Pixel8 pixel = pixelAt(*difference(source, comparison, 32), 0, 0);
  EXPECT_EQ(pixel.r, 255);
  EXPECT_EQ(pixel.g, 255);
  // lin(255) − lin(250) = 0.0386, × 32 = 1.23: above 1, clipped at the end.
  EXPECT_EQ(pixel.b, 255);
}

TEST(DifferenceRenderingTest, AlphaIsTheProductOfBothAlphas) {
  // The source against itself: black with alpha squared (128 × 128 / 255 = 64.25).
  auto translucent = makeUniformImage<std::uint8_t>(2, 1, {90, 180, 30, 128});
  EXPECT_EQ(pixelAt(*difference(translucent, translucent, 8), 1, 0), (Pixel8{0, 0, 0, 64}));
  // Opaque source, half-covered comparison: alpha 128 and the colour premultiplied by it.
  auto opaque = makeUniformImage<std::uint8_t>(2, 1, {200, 100, 50, 255});
  auto half = makeUniformImage<std::uint8_t>(2, 1, {190, 100, 60, 128});
  Pixel8 pixel = pixelAt(*difference(opaque, half, 4), 0, 0);
  EXPECT_EQ(pixel.a, 128);
  EXPECT_NEAR(pixel.r, 137 * 128 / 255.0, 1);
}

TEST(DifferenceRenderingTest, ComparisonIsReadAtTheSamePixelAndCroppedToTheSource) {
  // 3 × 2 source, 2 × 1 comparison: only (0, 0) and (1, 0) are covered.
  auto source = makeUniformImage<std::uint8_t>(3, 2, {100, 100, 100});
  auto smaller = makeUniformImage<std::uint8_t>(2, 1, {100, 100, 100});
  auto result = difference(source, smaller, 2);
  EXPECT_EQ(pixelAt(*result, 1, 0), (Pixel8{0, 0, 0, 255}));
  EXPECT_EQ(pixelAt(*result, 2, 0), (Pixel8{0, 0, 0, 0}));
  EXPECT_EQ(pixelAt(*result, 0, 1), (Pixel8{0, 0, 0, 0}));
  // A larger comparison is cropped; its extra pixels change nothing.
  auto larger = makeImage<std::uint8_t>(4, 3, 3, std::vector<std::uint8_t>(36, 100));
  auto cropped = difference(source, larger, 2);
  EXPECT_EQ(cropped->bitmap()->width, 3);
  EXPECT_EQ(cropped->bitmap()->height, 2);
  EXPECT_EQ(pixelAt(*cropped, 2, 1), (Pixel8{0, 0, 0, 255}));
}

TEST(DifferenceRenderingTest, SixteenBitPathAgreesWithTheEightBitTable) {
  // The same pixels as 8 bits (table path) and 16 bits (row path, v × 257).
  std::vector<std::uint8_t> sourceSamples, comparisonSamples;
  for (int i = 0; i < 64; ++i) {
    sourceSamples.push_back(static_cast<std::uint8_t>(i * 4));
    comparisonSamples.push_back(static_cast<std::uint8_t>(255 - i * 3));
  }
  auto widen = [](const std::vector<std::uint8_t>& samples) {
    std::vector<std::uint16_t> wide;
    for (auto value : samples) wide.push_back(static_cast<std::uint16_t>(value * 257));
    return wide;
  };
  auto narrow = difference(makeImage<std::uint8_t>(16, 1, 4, sourceSamples),
                           makeImage<std::uint8_t>(16, 1, 4, comparisonSamples), 2);
  auto wide = difference(makeImage<std::uint16_t>(16, 1, 4, widen(sourceSamples)),
                         makeImage<std::uint16_t>(16, 1, 4, widen(comparisonSamples)), 2);
  for (int x = 0; x < 16; ++x) {
    Pixel8 a = pixelAt(*narrow, x, 0), b = pixelAt(*wide, x, 0);
    EXPECT_NEAR(a.r, b.r, 1) << x;
    EXPECT_NEAR(a.g, b.g, 1) << x;
    EXPECT_NEAR(a.b, b.b, 1) << x;
    EXPECT_EQ(a.a, b.a) << x;
  }
}

TEST(DifferenceRenderingTest, FloatSamplesAgreeWithTheIntegerPaths) {
  // Float samples take the general row path; 8 and 16 bits the integer ones.
  std::vector<std::uint8_t> eight;
  std::vector<std::uint16_t> sixteen;
  std::vector<float> floats;
  for (int i = 0; i < 48; ++i) {
    auto value = static_cast<std::uint8_t>((i * 37) % 256);
    eight.push_back(value);
    sixteen.push_back(static_cast<std::uint16_t>(value * 257));
    floats.push_back(value / 255.0f);
  }
  auto reference = makeUniformImage<std::uint8_t>(16, 1, {120, 130, 140});
  auto byTable = difference(reference, makeImage<std::uint8_t>(16, 1, 3, eight), 8);
  auto byFixedPoint = difference(reference, makeImage<std::uint16_t>(16, 1, 3, sixteen), 8);
  auto byRows = difference(reference, makeImage<float>(16, 1, 3, floats), 8);
  for (int x = 0; x < 16; ++x) {
    Pixel8 table = pixelAt(*byTable, x, 0), fixed = pixelAt(*byFixedPoint, x, 0), rows = pixelAt(*byRows, x, 0);
    EXPECT_NEAR(table.r, fixed.r, 1) << x;
    EXPECT_NEAR(table.g, rows.g, 1) << x;
    EXPECT_NEAR(fixed.b, rows.b, 1) << x;
    EXPECT_EQ(rows.a, 255);
  }
}

TEST(DifferenceRenderingTest, SixteenBitAlphaIsMultipliedToo) {
  auto source = makeUniformImage<std::uint16_t>(1, 1, {51400, 25700, 12850, 32896});   // alpha 128 of 255
  auto comparison = makeUniformImage<std::uint8_t>(1, 1, {200, 100, 50, 255});
  EXPECT_EQ(pixelAt(*difference(source, comparison, 32), 0, 0), (Pixel8{0, 0, 0, 128}));
  EXPECT_EQ(pixelAt(*difference(source, source, 32), 0, 0), (Pixel8{0, 0, 0, 64}));
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
