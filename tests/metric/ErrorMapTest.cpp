// The error map: where the score was lost, pixel by pixel.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "MetricTestImages.h"
#include "metric/ErrorMap.h"
#include "metric/Ssimulacra2.h"
#include "support/TestSupport.h"

namespace quorlin::metric {
namespace {

struct Map {
  int width = 0, height = 0;
  std::vector<float> values;  // top row first, three layers per pixel
  double total() const { return std::accumulate(values.begin(), values.end(), 0.0); }
};

Map readPfm(const std::filesystem::path& file) {
  std::ifstream stream(file, std::ios::binary);
  std::string magic, scale;
  Map map;
  stream >> magic >> map.width >> map.height >> scale;
  stream.get();
  EXPECT_EQ(magic, "PF");
  EXPECT_EQ(scale, "-1.0");
  const std::size_t row = static_cast<std::size_t>(map.width) * 3;
  map.values.resize(row * static_cast<std::size_t>(map.height));
  for (int y = map.height - 1; y >= 0; --y) {
    stream.read(reinterpret_cast<char*>(map.values.data() + row * static_cast<std::size_t>(y)),
                static_cast<std::streamsize>(row * sizeof(float)));
  }
  EXPECT_TRUE(stream) << file;
  EXPECT_EQ(stream.peek(), EOF) << file;
  return map;
}

class ErrorMapTest : public ::testing::Test {
 protected:
  MetricResult compare(const DecodedImage& original, const DecodedImage& distorted) {
    MetricOptions options;
    options.errorMap = scratch_ / "map.pfm";
    const MetricResult result = computeSsimulacra2(original, distorted, options);
    EXPECT_TRUE(result.ok()) << result.message();
    EXPECT_EQ(result.score(), computeSsimulacra2(original, distorted).score());
    map_ = readPfm(options.errorMap);
    MetricOptions oneThread{1};  // the work split differently, the same map
    oneThread.errorMap = scratch_ / "one-thread.pfm";
    EXPECT_TRUE(computeSsimulacra2(original, distorted, oneThread).ok());
    EXPECT_EQ(readPfm(oneThread.errorMap).values, map_.values);
    EXPECT_EQ(map_.width, original.width());
    EXPECT_EQ(map_.height, original.height());
    return result;
  }
  quorlin::test::ScratchDirectory scratch_;
  Map map_;
};

// Sizes with six scales down to one (odd sizes leave edge pixels covering
// fewer full-resolution ones), grey, and originals with alpha (two runs):
// identical images score exactly 100 with an all-zero map, distorted ones
// have a map summing to the weighted error sum.
TEST_F(ErrorMapTest, TheMapSumsToTheWeightedErrorSumAtEverySize) {
  for (auto [width, height, channels] : {std::tuple{260, 200, 3}, {129, 67, 3}, {37, 23, 3}, {300, 9, 3},
                                         {8, 8, 3}, {97, 61, 4}, {37, 23, 1}, {129, 67, 2}, {8, 8, 4}}) {
    SCOPED_TRACE(testing::Message() << width << "x" << height << " with " << channels << " channels");
    const auto original = test::makePicture(width, height, channels);
    const auto image = DecodedImage::fromUint8(width, height, channels, original);
    EXPECT_EQ(compare(image, image).score(), 100.0);
    for (float value : map_.values) ASSERT_EQ(value, 0.0f);
    const MetricResult result =
        compare(image, DecodedImage::fromUint8(width, height, channels, test::addNoise(original, channels, 6)));
    EXPECT_GT(result.weightedSum(), 0.0);
    EXPECT_NEAR(map_.total(), result.weightedSum(), 1e-5 * result.weightedSum());
    for (float value : map_.values) ASSERT_GE(value, 0.0f);
  }
}

TEST_F(ErrorMapTest, ADistortionInOneBlockPutsTheMapThere) {
  constexpr int kSize = 512, kBlock = 64, kLeft = 320, kTop = 128;
  const auto original = test::makePicture(kSize, kSize, 3);
  auto distorted = original;
  const auto noisy = test::addNoise(original, 3, 12);
  for (int y = kTop; y < kTop + kBlock; ++y) {
    for (int x = kLeft * 3; x < (kLeft + kBlock) * 3; ++x) {
      distorted[static_cast<std::size_t>(y * kSize * 3 + x)] = noisy[static_cast<std::size_t>(y * kSize * 3 + x)];
    }
  }
  const MetricResult result = compare(DecodedImage::fromUint8(kSize, kSize, 3, original),
                                      DecodedImage::fromUint8(kSize, kSize, 3, distorted));
  const int grow = 1 << (scaleCount(kSize, kSize) - 1);  // a pixel of the coarsest scale
  double inside = 0.0;
  for (int y = kTop - grow; y < kTop + kBlock + grow; ++y) {
    for (int x = kLeft - grow; x < kLeft + kBlock + grow; ++x) {
      for (int layer = 0; layer < 3; ++layer) inside += map_.values[static_cast<std::size_t>((y * kSize + x) * 3 + layer)];
    }
  }
  EXPECT_GE(inside, 0.9 * map_.total()) << "score " << result.score();
}

}  // namespace
}  // namespace quorlin::metric
