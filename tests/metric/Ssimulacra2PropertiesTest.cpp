// Behaviour of the metric on images made in memory: identity, size rules,
// bit depth, grey, alpha and thread independence.
#include <gtest/gtest.h>

#include <cmath>

#include "MetricTestImages.h"
#include "metric/Ssimulacra2.h"

namespace quorlin::metric {
namespace {

using test::addNoise;
using test::makePicture;

double score(const DecodedImage& original, const DecodedImage& distorted, unsigned threads = 0) {
  const MetricResult result = computeSsimulacra2(original, distorted, {threads});
  EXPECT_TRUE(result.ok()) << result.message();
  return result.score();
}

TEST(Ssimulacra2Test, StrongerDistortionScoresLower) {
  const auto original = DecodedImage::fromUint8(96, 80, 3, makePicture(96, 80, 3));
  double previous = 100.0;
  for (int amplitude : {1, 3, 8, 20}) {
    const auto noisy = DecodedImage::fromUint8(96, 80, 3, addNoise(makePicture(96, 80, 3), 3, amplitude));
    const double value = score(original, noisy);
    EXPECT_LT(value, previous) << "noise amplitude " << amplitude;
    previous = value;
  }
  EXPECT_LT(previous, 50.0);  // +-20 levels of noise is very visible
  const auto sixteen = DecodedImage::fromUint16(96, 80, 3, test::widen(makePicture(96, 80, 3)));
  EXPECT_EQ(score(sixteen, sixteen), 100.0);
}

TEST(Ssimulacra2Test, ImagesBelowEightPixelsAndMismatchedSizesAreRejected) {
  const auto ok = DecodedImage::fromUint8(8, 8, 3, makePicture(8, 8, 3));
  for (auto [width, height] : {std::pair{7, 8}, {8, 7}, {1, 1}}) {
    const auto small = DecodedImage::fromUint8(width, height, 3, makePicture(width, height, 3));
    for (const MetricResult& result : {computeSsimulacra2(small, ok), computeSsimulacra2(ok, small)}) {
      EXPECT_EQ(result.status(), MetricStatus::imageTooSmall);
      EXPECT_EQ(result.message(), "Minimum image size is 8x8 pixels.");
    }
  }
  const auto wider = DecodedImage::fromUint8(9, 8, 3, makePicture(9, 8, 3));
  const MetricResult mismatch = computeSsimulacra2(ok, wider);
  EXPECT_EQ(mismatch.status(), MetricStatus::sizeMismatch);
  EXPECT_EQ(mismatch.message(), "Image size mismatch.");
}

TEST(Ssimulacra2Test, GreyEqualsRgbWithEqualChannels) {
  const auto grey = makePicture(64, 64, 1), noisy = addNoise(grey, 1, 5);
  auto asGrey = [](const std::vector<std::uint8_t>& samples) { return DecodedImage::fromUint8(64, 64, 1, samples); };
  auto asRgb = [](const std::vector<std::uint8_t>& samples) {
    std::vector<std::uint8_t> rgb;
    for (std::uint8_t v : samples) rgb.insert(rgb.end(), {v, v, v});
    return DecodedImage::fromUint8(64, 64, 3, rgb);
  };
  EXPECT_EQ(score(asGrey(grey), asRgb(grey)), 100.0);
  EXPECT_EQ(score(asGrey(grey), asGrey(noisy)), score(asRgb(grey), asRgb(noisy)));
}

// Blends like the metric does, in float: f32(f32(a*c) + f32(f32(1-a)*bg)).
std::vector<float> flatten(const std::vector<std::uint8_t>& rgba, float background) {
  std::vector<float> rgb;
  for (std::size_t i = 0; i < rgba.size(); i += 4) {
    const float alpha = static_cast<float>(rgba[i + 3]) * (1.0f / 255.0f);
    const float behind = (1.0f - alpha) * background;
    for (int c = 0; c < 3; ++c) {
      const float front = alpha * (static_cast<float>(rgba[i + c]) * (1.0f / 255.0f));
      rgb.push_back(front + behind);
    }
  }
  return rgb;
}

TEST(Ssimulacra2Test, AlphaIsBlendedOntoTheBackgroundsItsOriginalCalls) {
  // Noise shows most on the dark background; fading a near-black picture's
  // alpha on the light one: each background decides once.
  const auto original = makePicture(80, 64, 4);
  auto shadow = original, faded = original;
  for (std::size_t i = 0; i < shadow.size(); ++i) {
    shadow[i] = i % 4 == 3 ? shadow[i] : shadow[i] / 8;
    faded[i] = i % 4 == 3 ? faded[i] * 3 / 4 : shadow[i];
  }
  int lightIsWorse = 0;
  for (const auto& [picture, distorted] : {std::pair{original, addNoise(original, 4, 6)}, {shadow, faded}}) {
    const double both = score(DecodedImage::fromUint8(80, 64, 4, picture), DecodedImage::fromUint8(80, 64, 4, distorted));
    const double dark = score(DecodedImage::fromFloat(80, 64, 3, flatten(picture, 0.1f)),
                              DecodedImage::fromFloat(80, 64, 3, flatten(distorted, 0.1f)));
    const double light = score(DecodedImage::fromFloat(80, 64, 3, flatten(picture, 0.9f)),
                               DecodedImage::fromFloat(80, 64, 3, flatten(distorted, 0.9f)));
    EXPECT_EQ(both, std::min(dark, light));
    lightIsWorse += light < dark;
  }
  EXPECT_EQ(lightIsWorse, 1);
  // Colours under fully transparent pixels do not matter.
  auto repainted = original;
  int transparent = 0;
  for (std::size_t i = 0; i < repainted.size(); i += 4) {
    if (repainted[i + 3] == 0) repainted[i] = 255, repainted[i + 1] = 0, repainted[i + 2] = 128, ++transparent;
  }
  ASSERT_GT(transparent, 0);
  EXPECT_EQ(score(DecodedImage::fromUint8(80, 64, 4, original), DecodedImage::fromUint8(80, 64, 4, repainted)), 100.0);
  // Dropping the alpha of an original with transparency scores badly; against an
  // opaque original, a distorted image with alpha is blended onto mid grey, and
  // an alpha opaque everywhere changes nothing.
  std::vector<std::uint8_t> rgb;
  for (std::size_t i = 0; i < original.size(); i += 4) rgb.insert(rgb.end(), {original[i], original[i + 1], original[i + 2]});
  EXPECT_LT(score(DecodedImage::fromUint8(80, 64, 4, original), DecodedImage::fromUint8(80, 64, 3, rgb)), 50.0);
  const auto opaqueOriginal = DecodedImage::fromUint8(80, 64, 3, rgb);
  EXPECT_EQ(score(opaqueOriginal, DecodedImage::fromUint8(80, 64, 4, original)),
            score(opaqueOriginal, DecodedImage::fromFloat(80, 64, 3, flatten(original, 0.5f))));
  auto opaque = original;
  for (std::size_t i = 3; i < opaque.size(); i += 4) opaque[i] = 255;
  EXPECT_EQ(score(opaqueOriginal, DecodedImage::fromUint8(80, 64, 4, opaque)), 100.0);
}

// Several bands of rows and several column chunks, so that the work really is
// split differently between the runs; alpha, so that both background runs are.
TEST(Ssimulacra2Test, TheScoreDoesNotDependOnTheThreadCount) {
  const auto original = DecodedImage::fromUint8(700, 300, 4, makePicture(700, 300, 4));
  const auto distorted = DecodedImage::fromUint8(700, 300, 4, addNoise(makePicture(700, 300, 4), 4, 4));
  const double one = score(original, distorted, 1);
  EXPECT_EQ(score(original, distorted, 2), one);
  EXPECT_EQ(score(original, distorted, 7), one);
}

TEST(Ssimulacra2Test, FloatSamplesOutsideZeroToOneAreKept) {
  // Out-of-range values are not clipped: a picture pushed above 1 in one
  // corner differs from its clipped copy.
  std::vector<float> bright(64 * 64 * 3), clipped(64 * 64 * 3);
  for (std::size_t i = 0; i < bright.size(); ++i) {
    bright[i] = 0.5f + 0.8f * static_cast<float>(i % 193) / 193.0f;
    clipped[i] = std::min(bright[i], 1.0f);
  }
  const auto original = DecodedImage::fromFloat(64, 64, 3, bright);
  EXPECT_EQ(score(original, original), 100.0);
  EXPECT_LT(score(original, DecodedImage::fromFloat(64, 64, 3, clipped)), 100.0);
}

}  // namespace
}  // namespace quorlin::metric
