// Behaviour of the metric on images made in memory: identity, size rules,
// bit depth, grey, alpha and thread independence; and its thread pool.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <stdexcept>

#include "MetricTestImages.h"
#include "metric/Ssimulacra2.h"
#include "metric/ThreadPool.h"

namespace quorlin::metric {
namespace {

using test::addNoise;
using test::makePicture;

double score(const DecodedImage& original, const DecodedImage& distorted, unsigned threads = 0) {
  const MetricResult result = computeSsimulacra2(original, distorted, {threads});
  EXPECT_TRUE(result.ok()) << result.message();
  return result.score();
}
DecodedImage image(int width, int height, int channels, const std::vector<std::uint8_t>& samples) {
  return DecodedImage::fromUint8(width, height, channels, samples);
}

// Stronger noise scores lower, on any thread count (700 x 300 with alpha: several
// bands of rows and column chunks, both background runs split differently);
// float samples outside 0..1 are not clipped.
TEST(Ssimulacra2Test, StrongerDistortionScoresLowerOnAnyThreadCount) {
  const auto original = image(96, 80, 3, makePicture(96, 80, 3));
  double previous = 100.0;
  for (int amplitude : {1, 3, 8, 20}) {
    const double value = score(original, image(96, 80, 3, addNoise(makePicture(96, 80, 3), 3, amplitude)));
    EXPECT_LT(value, previous) << "noise amplitude " << amplitude;
    previous = value;
  }
  EXPECT_LT(previous, 50.0);  // +-20 levels of noise is very visible
  const auto sixteen = DecodedImage::fromUint16(96, 80, 3, test::widen(makePicture(96, 80, 3)));
  EXPECT_EQ(score(sixteen, sixteen), 100.0);
  const auto large = image(700, 300, 4, makePicture(700, 300, 4));
  const auto largeNoisy = image(700, 300, 4, addNoise(makePicture(700, 300, 4), 4, 4));
  const double one = score(large, largeNoisy, 1);
  EXPECT_EQ(score(large, largeNoisy, 2), one);
  EXPECT_EQ(score(large, largeNoisy, 7), one);
  std::vector<float> bright(64 * 64 * 3), clipped(64 * 64 * 3);
  for (std::size_t i = 0; i < bright.size(); ++i) {
    bright[i] = 0.5f + 0.8f * static_cast<float>(i % 193) / 193.0f;
    clipped[i] = std::min(bright[i], 1.0f);
  }
  const auto brightImage = DecodedImage::fromFloat(64, 64, 3, bright);
  EXPECT_EQ(score(brightImage, brightImage), 100.0);
  EXPECT_LT(score(brightImage, DecodedImage::fromFloat(64, 64, 3, clipped)), 100.0);
}

TEST(Ssimulacra2Test, ImagesBelowEightPixelsAndMismatchedSizesAreRejectedAndGreyIsRgb) {
  const auto ok = image(8, 8, 3, makePicture(8, 8, 3));
  for (auto [width, height] : {std::pair{7, 8}, {8, 7}, {1, 1}}) {
    const auto small = image(width, height, 3, makePicture(width, height, 3));
    for (const MetricResult& result : {computeSsimulacra2(small, ok), computeSsimulacra2(ok, small)}) {
      EXPECT_EQ(result.status(), MetricStatus::imageTooSmall);
      EXPECT_EQ(result.message(), "Minimum image size is 8x8 pixels.");
    }
  }
  const MetricResult mismatch = computeSsimulacra2(ok, image(9, 8, 3, makePicture(9, 8, 3)));
  EXPECT_EQ(mismatch.status(), MetricStatus::sizeMismatch);
  EXPECT_EQ(mismatch.message(), "Image size mismatch.");
  const auto grey = makePicture(64, 64, 1), noisy = addNoise(grey, 1, 5);
  auto asRgb = [](const std::vector<std::uint8_t>& samples) {
    std::vector<std::uint8_t> rgb;
    for (std::uint8_t v : samples) rgb.insert(rgb.end(), {v, v, v});
    return image(64, 64, 3, rgb);
  };
  EXPECT_EQ(score(image(64, 64, 1, grey), asRgb(grey)), 100.0);
  EXPECT_EQ(score(image(64, 64, 1, grey), image(64, 64, 1, noisy)), score(asRgb(grey), asRgb(noisy)));
}

// Blends like the metric does, in float: f32(f32(a*c) + f32(f32(1-a)*bg)).
DecodedImage flatten(const std::vector<std::uint8_t>& rgba, float background) {
  std::vector<float> rgb;
  for (std::size_t i = 0; i < rgba.size(); i += 4) {
    const float alpha = static_cast<float>(rgba[i + 3]) * (1.0f / 255.0f);
    const float behind = (1.0f - alpha) * background;
    for (int c = 0; c < 3; ++c) rgb.push_back(alpha * (static_cast<float>(rgba[i + c]) * (1.0f / 255.0f)) + behind);
  }
  return DecodedImage::fromFloat(80, 64, 3, rgb);
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
    const double both = score(image(80, 64, 4, picture), image(80, 64, 4, distorted));
    const double dark = score(flatten(picture, 0.1f), flatten(distorted, 0.1f));
    const double light = score(flatten(picture, 0.9f), flatten(distorted, 0.9f));
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
  EXPECT_EQ(score(image(80, 64, 4, original), image(80, 64, 4, repainted)), 100.0);
  // Dropping the alpha of an original with transparency scores badly; against an
  // opaque original, a distorted image with alpha is blended onto mid grey, and
  // an alpha opaque everywhere changes nothing.
  std::vector<std::uint8_t> rgb;
  for (std::size_t i = 0; i < original.size(); i += 4) rgb.insert(rgb.end(), {original[i], original[i + 1], original[i + 2]});
  EXPECT_LT(score(image(80, 64, 4, original), image(80, 64, 3, rgb)), 50.0);
  EXPECT_EQ(score(image(80, 64, 3, rgb), image(80, 64, 4, original)), score(image(80, 64, 3, rgb), flatten(original, 0.5f)));
  auto opaque = original;
  for (std::size_t i = 3; i < opaque.size(); i += 4) opaque[i] = 255;
  EXPECT_EQ(score(image(80, 64, 3, rgb), image(80, 64, 4, opaque)), 100.0);
}

// Zero means one thread per hardware thread; a worker id is never held by two
// tasks at once; the first exception reaches the caller and the pool stays usable.
TEST(ThreadPoolTest, RunsEveryIndexExactlyOnceWithWorkerIdsInRangeAndNeverShared) {
  EXPECT_GE(resolveThreadCount(0), 1u);
  EXPECT_EQ(resolveThreadCount(3), 3u);
  EXPECT_EQ(ThreadPool(0).threadCount(), resolveThreadCount(0));
  for (unsigned threads : {1u, 2u, 5u}) {
    ThreadPool pool(threads);
    EXPECT_EQ(pool.threadCount(), threads);
    for (std::size_t count : {0u, 1u, 3u, 2000u}) {
      std::vector<std::atomic<int>> runs(count), inUse(threads);
      std::atomic<bool> badWorker = false;
      pool.parallelFor(count, [&](std::size_t index, unsigned worker) {
        runs[index].fetch_add(1);
        if (worker >= threads || inUse[worker].fetch_add(1) != 0) badWorker = true;
        volatile int spin = 0;
        for (int i = 0; i < 1000; ++i) spin = spin + i;
        if (worker < threads) inUse[worker].fetch_sub(1);
      });
      for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(runs[i].load(), 1) << "index " << i;
      EXPECT_FALSE(badWorker);
    }
    EXPECT_THROW(pool.parallelFor(100, [](std::size_t index, unsigned) {
      if (index == 17) throw std::runtime_error("task failed");
    }), std::runtime_error);
    std::atomic<int> runs = 0;
    pool.parallelFor(50, [&](std::size_t, unsigned) { ++runs; });
    EXPECT_EQ(runs.load(), 50);
  }
}

}  // namespace
}  // namespace quorlin::metric
