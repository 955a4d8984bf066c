// The metric on images made in memory and in files: identity, size rules, bit
// depth, grey, alpha, thread independence and the error map; its thread pool;
// the building blocks where the reference vectors cannot reach (blur widths
// below the metric's minimum, negative samples, norms no image produces); and
// what the samples mean: PNG colour chunks, ICC profiles (recognised or
// converted with lcms2), and the PNG decoder's handling of bit depths.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <numeric>
#include <optional>
#include <stdexcept>

#include "MetricTestImages.h"
#include "core/engine/ColorSpace.h"
#include "metric/ErrorMap.h"
#include "metric/IccProfiles.h"
#include "metric/LinearLight.h"
#include "metric/PngColourChunks.h"
#include "metric/RecursiveGaussian.h"
#include "metric/ScoreMapping.h"
#include "metric/Ssimulacra2.h"
#include "metric/ThreadPool.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

// Chunk sets are written as designated initialisers naming only what they hold.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

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

// The same score on any thread count (700 x 300 with alpha: several bands of
// rows and column chunks, both background runs split differently); float
// samples outside 0..1 are not clipped. (How the score falls with the
// distortion, the reference vectors fix digit by digit.)
TEST(Ssimulacra2Test, ScoresDoNotDependOnTheThreadCountAndBadSizesAreRefused) {
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
  // Images below 8 x 8 and mismatched sizes are refused; grey scores as RGB with equal channels.
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


// Scores with the error map written, checks the score is the one without it
// and the map the one a single thread writes (the work split differently),
// and reads the map back: top row first, three layers per pixel.
std::vector<float> readMap(const std::filesystem::path& file, const DecodedImage& original) {
  std::ifstream stream(file, std::ios::binary);
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
  return values;
}
std::pair<MetricResult, std::vector<float>> scoreWithMap(const DecodedImage& original, const DecodedImage& distorted) {
  quorlin::test::ScratchDirectory scratch;
  MetricOptions options{3}, oneThread{1};  // rows shared out, and not
  options.errorMap = scratch / "map.pfm", oneThread.errorMap = scratch / "one-thread.pfm";
  const MetricResult result = computeSsimulacra2(original, distorted, options);
  EXPECT_TRUE(result.ok()) << result.message();
  EXPECT_EQ(result.score(), computeSsimulacra2(original, distorted).score());
  EXPECT_TRUE(computeSsimulacra2(original, distorted, oneThread).ok());
  std::vector<float> values = readMap(options.errorMap, original);
  EXPECT_EQ(readMap(oneThread.errorMap, original), values);
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
TEST(MetricKernelsTest, LinesBlurLikeTheNineTapKernelWithZeroPaddingAndTheSrgbCurveIsExact) {
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
  // The sRGB curve follows IEC 61966 within float precision and is odd.
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

using test::PngChunks;
using Kind = ColourEncoding::Kind;
using Cicp = PngColourChunks::Cicp;

std::vector<std::uint8_t> profileBytes(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::vector<std::uint8_t> bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  return bytes;
}
ProfileHandle openProfile(const std::vector<std::uint8_t>& bytes) {
  return ProfileHandle(cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
}
std::vector<std::uint8_t> iccOf(ColorSpace::WellKnown kind) { return ColorSpace::wellKnown(kind)->iccProfile(); }

// Each chunk added outranks the ones before: gAMA or cHRM alone, sRGB, iCCP, cICP.
TEST(PngColourChunksTest, EachChunkOutranksTheOnesBeforeAndUnfitProfilesCountAsAbsent) {
  const Chromaticities p3{0.68, 0.32, 0.265, 0.69, 0.15, 0.06, 0.3127, 0.329};
  PngColourChunks chunks;
  const auto expect = [&](Kind kind, TransferCurve transfer, double exponent, const Chromaticities& primaries) {
    const ColourEncoding e = colourEncodingForPng(chunks);
    EXPECT_TRUE(e.kind == kind && e.transfer == transfer && e.exponent == exponent && e.chromaticities == primaries)
        << int(e.kind) << " " << int(e.transfer) << " " << e.exponent << " " << e.chromaticities.redX;
  };
  expect(Kind::srgb, TransferCurve::srgb, 1.0, kSrgbChromaticities);
  chunks.gamma = 45455;  // alone: a pure power law, not the sRGB curve
  expect(Kind::described, TransferCurve::power, 1.0 / 0.45455, kSrgbChromaticities);
  chunks.gamma.reset();  // chromaticities alone keep the sRGB curve
  chunks.chromaticities = std::array<std::uint32_t, 8>{31270, 32900, 68000, 32000, 26500, 69000, 15000, 6000};
  expect(Kind::described, TransferCurve::srgb, 1.0, p3);
  chunks.gamma = 100000;
  chunks.srgb = true;
  expect(Kind::srgb, TransferCurve::srgb, 1.0, kSrgbChromaticities);
  chunks.iccp = true;
  chunks.iccProfile = iccOf(ColorSpace::WellKnown::displayP3);
  chunks.colourType = 2;
  EXPECT_EQ(colourEncodingForPng(chunks).kind, Kind::icc);
  chunks.cicp = Cicp{12, 16, 0, 1};  // Display P3 primaries, PQ
  expect(Kind::described, TransferCurve::pq, 1.0, p3);
  // A cICP that cannot describe RGB samples is ignored: YCbCr matrix, narrow
  // range, unknown transfer, unknown primaries.
  for (const auto cicp : {Cicp{1, 13, 1, 1}, Cicp{1, 13, 0, 0}, Cicp{1, 99, 0, 1}, Cicp{42, 13, 0, 1}}) {
    chunks.cicp = cicp;
    EXPECT_EQ(colourEncodingForPng(chunks).kind, Kind::icc);
  }

  // A profile that cannot describe the samples counts as absent, so the gAMA
  // beside it applies, and the reason is given; a grey profile on grey samples
  // is kept, inflated bytes past its length are not.
  const auto rgb = iccOf(ColorSpace::WellKnown::displayP3);
  auto truncated = rgb, cmyk = rgb, notIcc = rgb, deviceLink = rgb;
  truncated.resize(300);
  std::copy_n("CMYK", 4, cmyk.begin() + 16);
  notIcc[36] = 'x';
  std::copy_n("link", 4, deviceLink.begin() + 12);
  cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
  ProfileHandle grey(cmsCreateGrayProfile(cmsD50_xyY(), curve));
  cmsFreeToneCurve(curve);
  auto greyBytes = profileBytes(grey.get());
  const std::size_t greyLength = greyBytes.size();
  greyBytes.resize(greyLength + 5);
  const std::pair<std::vector<std::uint8_t>, std::uint8_t> cases[] = {
      {truncated, 2}, {cmyk, 2}, {notIcc, 6}, {deviceLink, 2}, {rgb, 0}, {rgb, 4}, {{}, 2}, {greyBytes, 4}};
  for (const auto& [profile, colourType] : cases) {
    SCOPED_TRACE(testing::Message() << profile.size() << " bytes, colour type " << int{colourType});
    const PngColourChunks tagged{.iccp = true, .iccProfile = profile, .colourType = colourType, .gamma = 100000};
    std::string reason = "stale";
    const ColourEncoding encoding = colourEncodingForPng(tagged, &reason);
    const bool kept = &profile == &cases[7].first;
    EXPECT_EQ(encoding.kind, kept ? Kind::icc : Kind::described);
    EXPECT_EQ(encoding.exponent, 1.0);
    EXPECT_TRUE(reason.empty() == kept && reason != "stale") << reason;
    EXPECT_EQ(encoding.iccProfile.size(), kept ? greyLength : 0u);
  }
}

// White points and curves as profile writers store them.
constexpr std::array<int, 3> kD65White{62289, 65536, 71372};
constexpr std::array<int, 3> kD50White{63190, 65536, 54061};
enum class StoredCurve { srgbTable, gammaOne, gamma22 };

// A version 2 matrix/TRC profile (grey when `colorants` is empty) with the
// given numbers in units of 1/65536, written and parsed again.
ProfileHandle storedProfile(const std::vector<int>& colorants, StoredCurve stored, const std::array<int, 3>& white) {
  std::vector<cmsUInt16Number> table(1024);
  for (std::size_t i = 0; i < table.size(); ++i) {
    const double v = static_cast<double>(i) / 1023.0;
    table[i] = static_cast<cmsUInt16Number>(std::lround(65535.0 * (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4))));
  }
  cmsToneCurve* curve = stored == StoredCurve::srgbTable ? cmsBuildTabulatedToneCurve16(nullptr, 1024, table.data())
                                                         : cmsBuildGamma(nullptr, stored == StoredCurve::gammaOne ? 1.0 : 2.2);
  ProfileHandle profile(cmsCreateProfilePlaceholder(nullptr));
  cmsSetProfileVersion(profile.get(), 2.1);
  cmsSetDeviceClass(profile.get(), cmsSigDisplayClass);
  cmsSetColorSpace(profile.get(), colorants.empty() ? cmsSigGrayData : cmsSigRgbData);
  cmsSetPCS(profile.get(), cmsSigXYZData);
  const cmsCIEXYZ whiteXyz{white[0] / 65536.0, white[1] / 65536.0, white[2] / 65536.0};
  cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, &whiteXyz);
  if (colorants.empty()) cmsWriteTag(profile.get(), cmsSigGrayTRCTag, curve);
  const cmsTagSignature colorantTags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
  const cmsTagSignature curveTags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
  for (std::size_t i = 0; i < 3 && !colorants.empty(); ++i) {
    const cmsCIEXYZ colorant{colorants[3 * i] / 65536.0, colorants[3 * i + 1] / 65536.0, colorants[3 * i + 2] / 65536.0};
    cmsWriteTag(profile.get(), colorantTags[i], &colorant);
    cmsWriteTag(profile.get(), curveTags[i], curve);
  }
  cmsFreeToneCurve(curve);
  return openProfile(profileBytes(profile.get()));
}

// Red, green and blue colorants (X, Y, Z each) of sRGB profiles from three
// writers: within 8 units of ours, 19 units off in blue Z, and off by up to
// 24 units.
TEST(IccRecognitionTest, OnlyProfilesGivingTheSameColoursAsSrgbOrLinearSrgbAreRecognised) {
  const std::vector<int> close{28578, 14581, 912, 25241, 46981, 6362, 9376, 3972, 46799};
  const std::vector<int> border{28576, 14581, 912, 25239, 46983, 6361, 9375, 3972, 46787};
  const std::vector<int> loose{28564, 14574, 912, 25253, 46992, 6366, 9373, 3971, 46782};
  const struct {
    std::vector<int> colorants;
    StoredCurve curve;
    std::array<int, 3> white;
    std::optional<TransferCurve> expected;
  } cases[] = {
      {close, StoredCurve::srgbTable, kD65White, TransferCurve::srgb},
      {close, StoredCurve::gammaOne, kD65White, TransferCurve::linear},
      // The same error weighs more on linear values than on sRGB-encoded ones.
      {border, StoredCurve::srgbTable, kD65White, TransferCurve::srgb},
      {border, StoredCurve::gammaOne, kD65White, std::nullopt},
      {loose, StoredCurve::srgbTable, kD65White, std::nullopt},
      {close, StoredCurve::gamma22, kD65White, std::nullopt},
      {{}, StoredCurve::srgbTable, kD65White, TransferCurve::srgb},
      {{}, StoredCurve::gammaOne, kD65White, TransferCurve::linear},
      {{}, StoredCurve::srgbTable, kD50White, std::nullopt},
      {{}, StoredCurve::gamma22, kD65White, std::nullopt},
  };
  for (const auto& c : cases) {
    ProfileHandle profile = storedProfile(c.colorants, c.curve, c.white);
    ASSERT_TRUE(profile);
    const auto recognised = recogniseStandardProfile(profile.get(), c.colorants.empty());
    EXPECT_EQ(recognised ? std::optional(recognised->transfer) : std::nullopt, c.expected) << "case " << &c - cases;
  }
  EXPECT_FALSE(recogniseStandardProfile(openProfile(iccOf(ColorSpace::WellKnown::displayP3)).get(), false));
  EXPECT_FALSE(recogniseStandardProfile(storedProfile(close, StoredCurve::srgbTable, kD65White).get(), true));
}

// Converts the 8-bit sRGB picture to 16-bit samples in `space` with lcms2.
std::vector<std::uint16_t> convertFromSrgb(const std::vector<std::uint8_t>& pixels, ColorSpace::WellKnown space) {
  ProfileHandle srgb(cmsCreate_sRGBProfile());
  ProfileHandle target = openProfile(iccOf(space));
  TransformHandle transform(cmsCreateTransform(srgb.get(), TYPE_RGB_8, target.get(), TYPE_RGB_16,
                                               INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
  std::vector<std::uint16_t> out(pixels.size());
  cmsDoTransform(transform.get(), pixels.data(), out.data(), static_cast<cmsUInt32Number>(pixels.size() / 3));
  return out;
}

// Whole comparisons of files whose pixels are written with other chunks,
// depths and layouts: each pair's score range, and the warning it gives.
TEST(ColourManagedComparisonTest, TheSamePixelsScoreByWhatTheirChunksSay) {
  constexpr int kWidth = 128, kHeight = 96;
  quorlin::test::ScratchDirectory scratch;
  const auto picture = test::makePicture(kWidth, kHeight, 3), grey = test::makePicture(kWidth, kHeight, 1);
  const auto wide = test::widen(picture), noisy = test::widen(test::addNoise(picture, 3, 4));
  std::vector<std::uint8_t> bits(kWidth * kHeight), bytes(kWidth * kHeight);
  for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = ((i / 7) + (i / kWidth / 5)) % 2, bytes[i] = bits[i] * 255;
  // Writes `name` (the colour picture unless other samples are given) and returns its path.
  auto png = [&](const char* name, const PngChunks& chunks = {}, const std::vector<std::uint16_t>* sixteen = nullptr,
                 const std::vector<std::uint8_t>* samples = nullptr) {
    const int channels = samples ? 1 : 3;
    test::writePng(scratch / name, kWidth, kHeight, channels, samples ? *samples : picture, chunks, sixteen);
    return scratch / name;
  };
  const auto original = png("original.png");
  const auto p3 = iccOf(ColorSpace::WellKnown::displayP3);
  auto truncated = p3;
  truncated.resize(200);
  // A well-formed header without a single tag: lcms2 cannot use it.
  PngChunks tagless;
  tagless.iccProfile.assign(132, 0);
  tagless.iccProfile[3] = 132;  // length
  for (auto [at, text] : {std::pair{12, "mntr"}, {16, "RGB "}, {20, "XYZ "}, {36, "acsp"}}) {
    std::copy_n(text, 4, tagless.iccProfile.begin() + at);
  }
  const std::array<std::uint8_t, 4> srgbCicp{1, 13, 0, 1}, pqCicp{9, 16, 0, 1};
  const std::vector<std::uint8_t> garbage{'n', 'o', 't', ' ', 'a', 'n', ' ', 'I', 'C', 'C'};
  const struct {
    const char* name;
    std::function<std::pair<std::filesystem::path, std::filesystem::path>()> files;
    double low, high;
    const char* warning;  // "@" stands for the second file's path; null: not checked
  } cases[] = {
      {"sRGB chunk beside gAMA", [&] { return std::pair(original, png("a.png", {.srgb = true, .gamma = 45455})); },
       100, 100, ""},
      {"embedded sRGB profile",
       [&] { return std::pair(original, png("a.png", {.iccProfile = iccOf(ColorSpace::WellKnown::sRGB)})); }, 100, 100, ""},
      {"cICP wins over an unusable profile",
       [&] { return std::pair(original, png("a.png", {.cicp = srgbCicp, .iccProfile = garbage})); }, 100, 100, ""},
      {"a profile lcms2 cannot use", [&] { return std::pair(original, png("a.png", tagless)); }, 100, 100,
       "Warning: error setting ICC profile, assuming SRGB"},
      {"interlaced", [&] { return std::pair(original, png("a.png", {.interlaced = true})); }, 100, 100, ""},
      {"gAMA alone is a power law", [&] { return std::pair(original, png("a.png", {.gamma = 45455})); }, 50, 97, ""},
      // 8-bit values scale by f32(1/255), 16-bit ones by f32(1/65535): v and
      // v*257 differ in the last bit, which the metric amplifies at coarse
      // scales. The reference gives 97.5 to 98.7 for such pairs, never 100.
      {"16-bit samples keep their depth", [&] { return std::pair(original, png("a.png", {}, &wide)); }, 96, 99.9, ""},
      // An iCCP profile the samples cannot use is ignored with a warning: the
      // file reads as if it had none, so a gAMA chunk beside it applies.
      {"an RGB profile on grey samples",
       [&] { return std::pair(png("g.png", {}, nullptr, &grey), png("a.png", {.iccProfile = p3}, nullptr, &grey)); },
       100, 100, "Warning: ignoring the ICC profile of @: it is an RGB profile on a grey image"},
      {"a truncated profile beside gAMA",
       [&] { return std::pair(png("g.png", {.gamma = 100000}), png("a.png", {.gamma = 100000, .iccProfile = truncated})); },
       100, 100, nullptr},
      {"the truncated profile's gAMA applies", [&] { return std::pair(original, scratch / "a.png"); }, -1e9, 50, nullptr},
      // PQ: the curve and the 10000-nit intensity target apply to both images
      // alike, so identical files still score 100 and noise still costs.
      {"PQ identical", [&] { return std::pair(png("g.png", {.cicp = pqCicp}, &wide), scratch / "g.png"); }, 100, 100, ""},
      {"PQ noisy", [&] { return std::pair(scratch / "g.png", png("a.png", {.cicp = pqCicp}, &noisy)); }, -1e9, 99, ""},
      {"one-bit grey is full-range eight-bit",
       [&] { return std::pair(png("g.png", {}, nullptr, &bytes), png("a.png", {.greyBits = 1}, nullptr, &bits)); },
       100, 100, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto [first, second] = c.files();
    std::string warnings;
    const MetricResult result = scoreImageFiles(first, second, {}, &warnings);
    ASSERT_TRUE(result.ok()) << result.message();
    EXPECT_GE(result.score(), c.low);
    EXPECT_LE(result.score(), c.high);
    std::string warning = c.warning ? c.warning : warnings;
    if (auto at = warning.find('@'); at != std::string::npos) warning.replace(at, 1, second.string());
    EXPECT_EQ(warnings, warning);
  }
  EXPECT_EQ(quorlin::test::readPNGHeader(scratch / "a.png").bitDepth, 1);
  // Samples handed over in memory with a mismatched profile are refused.
  const auto inMemory = DecodedImage::fromUint8(kWidth, kHeight, 1, grey, ColourEncoding::icc(p3));
  EXPECT_EQ(computeSsimulacra2(inMemory, inMemory).status(), MetricStatus::originalUndecodable);

  // The picture converted to Display P3 (or linear sRGB) and tagged with that
  // profile or named by cICP code points (Display P3 primaries, sRGB transfer)
  // is compared in the right colours: only 16-bit rounding and float noise
  // separate it from the original. The same samples untagged read as sRGB.
  const std::array<std::uint8_t, 4> p3Cicp{12, 13, 0, 1};
  for (const auto& [space, tagged] :
       {std::pair{ColorSpace::WellKnown::displayP3, PngChunks{.iccProfile = p3}},
        {ColorSpace::WellKnown::linearSRGB, PngChunks{.iccProfile = iccOf(ColorSpace::WellKnown::linearSRGB)}},
        {ColorSpace::WellKnown::displayP3, PngChunks{.cicp = p3Cicp}}}) {
    SCOPED_TRACE(std::string(ColorSpace::wellKnown(space)->name()) + (tagged.cicp ? " by cICP" : " by profile"));
    const auto converted = convertFromSrgb(picture, space);
    const double taggedScore = scoreImageFiles(original, png("tagged.png", tagged, &converted)).score();
    EXPECT_GT(taggedScore, 95.0);
    EXPECT_LT(scoreImageFiles(original, png("untagged.png", {}, &converted)).score(), taggedScore - 5.0);
  }
}

}  // namespace
}  // namespace quorlin::metric
