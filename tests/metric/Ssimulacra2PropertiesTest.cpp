// The metric on images made in memory: identity, size rules, bit depth, grey,
// alpha, thread independence and the error map; its thread pool; and the
// building blocks where the reference vectors cannot reach (blur widths below
// the metric's minimum, negative samples, norms no image produces).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <numeric>
#include <stdexcept>

#include "MetricTestImages.h"
#include "metric/ErrorMap.h"
#include "metric/LinearLight.h"
#include "metric/RecursiveGaussian.h"
#include "metric/ScoreMapping.h"
#include "metric/Ssimulacra2.h"
#include "metric/ThreadPool.h"
#include "support/TestSupport.h"

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


// Scores with the error map written, checks the score is the one without it,
// and reads the map back: top row first, three layers per pixel.
std::pair<MetricResult, std::vector<float>> scoreWithMap(const DecodedImage& original, const DecodedImage& distorted) {
  quorlin::test::ScratchDirectory scratch;
  MetricOptions options;
  options.errorMap = scratch / "map.pfm";
  const MetricResult result = computeSsimulacra2(original, distorted, options);
  EXPECT_TRUE(result.ok()) << result.message();
  EXPECT_EQ(result.score(), computeSsimulacra2(original, distorted).score());
  std::ifstream stream(options.errorMap, std::ios::binary);
  std::string magic, scale;
  int width = 0, height = 0;
  stream >> magic >> width >> height >> scale;
  stream.get();
  EXPECT_EQ(std::tuple(magic, width, height, scale), std::tuple("PF", original.width(), original.height(), "-1.0"));
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  std::vector<float> values(row * static_cast<std::size_t>(height));
  for (int y = height - 1; y >= 0; --y) {
    stream.read(reinterpret_cast<char*>(values.data() + row * static_cast<std::size_t>(y)),
                static_cast<std::streamsize>(row * sizeof(float)));
  }
  EXPECT_TRUE(stream && stream.peek() == EOF);
  return {result, values};
}
double total(const std::vector<float>& values) { return std::accumulate(values.begin(), values.end(), 0.0); }

// Sizes with six scales down to one (odd sizes leave edge pixels covering
// fewer full-resolution ones), grey, and originals with alpha (two runs):
// identical images score exactly 100 with an all-zero map, distorted ones
// have a map summing to the weighted error sum; a distortion in one block
// puts the map there.
TEST(ErrorMapTest, TheMapSumsToTheWeightedErrorSumAtEverySizeAndStaysWhereTheErrorIs) {
  for (auto [width, height, channels] : {std::tuple{260, 200, 3}, {129, 67, 3}, {37, 23, 3}, {300, 9, 3},
                                         {8, 8, 3}, {97, 61, 4}, {37, 23, 1}, {129, 67, 2}, {8, 8, 4}}) {
    SCOPED_TRACE(testing::Message() << width << "x" << height << " with " << channels << " channels");
    const auto original = makePicture(width, height, channels);
    const auto [same, zeros] = scoreWithMap(image(width, height, channels, original), image(width, height, channels, original));
    EXPECT_EQ(same.score(), 100.0);
    EXPECT_EQ(std::count(zeros.begin(), zeros.end(), 0.0f), static_cast<std::ptrdiff_t>(zeros.size()));
    const auto [result, map] = scoreWithMap(image(width, height, channels, original),
                                            image(width, height, channels, addNoise(original, channels, 6)));
    EXPECT_GT(result.weightedSum(), 0.0);
    EXPECT_NEAR(total(map), result.weightedSum(), 1e-5 * result.weightedSum());
    EXPECT_GE(*std::min_element(map.begin(), map.end()), 0.0f);
  }
  constexpr int kSize = 512, kBlock = 64, kLeft = 320, kTop = 128;
  const auto original = makePicture(kSize, kSize, 3), noisy = addNoise(original, 3, 12);
  auto distorted = original;
  for (int y = kTop; y < kTop + kBlock; ++y) {
    std::copy_n(&noisy[(y * kSize + kLeft) * 3], kBlock * 3, &distorted[(y * kSize + kLeft) * 3]);
  }
  const auto [result, map] = scoreWithMap(image(kSize, kSize, 3, original), image(kSize, kSize, 3, distorted));
  const int grow = 1 << (scaleCount(kSize, kSize) - 1);  // a pixel of the coarsest scale
  double inside = 0.0;
  for (int y = kTop - grow; y < kTop + kBlock + grow; ++y) {
    inside += std::accumulate(&map[(y * kSize + kLeft - grow) * 3], &map[(y * kSize + kLeft + kBlock + grow) * 3], 0.0);
  }
  EXPECT_GE(inside, 0.9 * total(map)) << "score " << result.score();
}


// The effective kernel of the recursive blur (sigma 1.5), centred, +-4 taps.
constexpr double kKernel[9] = {0.00941437, 0.03601111, 0.10933537, 0.21292859, 0.26462111,
                               0.21292859, 0.10933537, 0.03601111, 0.00941437};

// Blurs one line along rows (lane 0 of the lane layout) and along columns.
std::vector<float> blurRow(const std::vector<float>& line) {
  const int width = static_cast<int>(line.size());
  std::vector<float> lanes(line.size() * kLanes, 0.0f), out(line.size() * kLanes);
  for (int x = 0; x < width; ++x) lanes[static_cast<std::size_t>(x) * kLanes] = line[static_cast<std::size_t>(x)];
  blurLanesHorizontally(lanes.data(), out.data(), width);
  std::vector<float> result(line.size());
  for (int x = 0; x < width; ++x) result[static_cast<std::size_t>(x)] = out[static_cast<std::size_t>(x) * kLanes];
  return result;
}

std::vector<float> blurColumn(const std::vector<float>& column) {
  const int height = static_cast<int>(column.size());
  float stateRows[6] = {};
  float* state[6] = {&stateRows[0], &stateRows[1], &stateRows[2], &stateRows[3], &stateRows[4], &stateRows[5]};
  std::vector<float> result(column.size());
  for (int n = -kBlurRadius + 1; n < height; ++n) {
    const float* top = n - 6 >= 0 ? &column[static_cast<std::size_t>(n - 6)] : nullptr;
    const float* bottom = n + 4 < height ? &column[static_cast<std::size_t>(n + 4)] : nullptr;
    float out = 0.0f;
    blurColumnsStep(top, bottom, state, &out, 1);
    if (n >= 0) result[static_cast<std::size_t>(n)] = out;
  }
  return result;
}

// Zero padding without renormalisation: a constant line darkens towards the
// edges as the kernel loses its outer taps (0.632 at the edge). The short
// widths are those where the one-at-a-time head and tail meet or the 4-wide
// body is empty.
TEST(RecursiveGaussianTest, LinesBlurLikeTheNineTapKernelWithZeroPaddingAlongRowsAndColumns) {
  std::vector<std::vector<float>> lines{std::vector<float>(41, 0.0f), std::vector<float>(30, 1.0f)};
  lines[0][20] = 1.0f;
  for (int width : {1, 4, 7, 8, 9, 11, 12, 13}) {
    lines.emplace_back(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) lines.back()[static_cast<std::size_t>(x)] = static_cast<float>((x * 7) % 5);
  }
  EXPECT_NEAR(kKernel[4] + kKernel[5] + kKernel[6] + kKernel[7] + kKernel[8], 0.632, 1e-3);
  for (const auto& line : lines) {
    const int width = static_cast<int>(line.size());
    for (const auto& blurred : {blurRow(line), blurColumn(line)}) {
      for (int x = 0; x < width; ++x) {
        double expected = 0.0;
        for (int t = -4; t <= 4; ++t) {
          if (x + t >= 0 && x + t < width) expected += kKernel[t + 4] * line[static_cast<std::size_t>(x + t)];
        }
        EXPECT_NEAR(blurred[static_cast<std::size_t>(x)], expected, 2e-6 + 2e-6 * expected)
            << "width " << width << " at " << x;
      }
    }
  }
}

TEST(SrgbCurveTest, FollowsIec61966WithinFloatPrecisionAndIsOdd) {
  for (int i = 0; i <= 1000; ++i) {
    const double x = i / 1000.0;
    const double exact = x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
    EXPECT_NEAR(srgbToLinear(static_cast<float>(x)), exact, 2e-6 + 2e-6 * exact) << x;
    EXPECT_EQ(srgbToLinear(static_cast<float>(-x)), -srgbToLinear(static_cast<float>(x)));
  }
  EXPECT_EQ(srgbToLinear(0.0f), 0.0f);
}

std::vector<std::array<ChannelNorms, 3>> oneTerm(std::size_t scales, std::size_t channel, std::size_t scale,
                                                 std::size_t norm, std::size_t map, double value) {
  std::vector<std::array<ChannelNorms, 3>> perScale(scales);
  perScale[scale][channel].norms[norm][map] = value;
  return perScale;
}

// The mapping of one weighted sum to the score, written out from the formula.
double expectedScore(double weightedSum) {
  double x = weightedSum * 0.9562382616834844;
  x = 2.326765642916932 * x - 0.020884521182843837 * x * x + 6.248496625763138e-05 * x * x * x;
  return x > 0 ? 100.0 - 10.0 * std::pow(x, 0.6276336467831387) : 100.0;
}

// The committed reference vectors fix every weight digit by digit; these are
// the inputs they never produce.
TEST(ScoreMappingTest, NegativeNormsCountByMagnitudeAndWeightZeroNotAtAll) {
  EXPECT_EQ(scoreFromNorms(std::vector<std::array<ChannelNorms, 3>>(2)), 100.0);
  EXPECT_DOUBLE_EQ(scoreFromNorms(oneTerm(6, 2, 4, 1, 1, -0.01)), expectedScore(171.2667255897307 * 0.01));
  EXPECT_EQ(scoreFromNorms(oneTerm(6, 0, 0, 0, 0, 5.0)), 100.0);
}

}  // namespace
}  // namespace quorlin::metric
