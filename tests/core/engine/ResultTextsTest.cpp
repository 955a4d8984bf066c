#include "core/engine/ResultTexts.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

TEST(ResultTextsTest, DurationsSwitchFromMillisecondsToSecondsAtOneSecond) {
  EXPECT_EQ(durationText(0.1234), "123 ms");
  EXPECT_EQ(durationText(0.9994), "999 ms");
  EXPECT_EQ(durationText(0.0), "0 ms");
  EXPECT_EQ(durationText(1.0), "1.00 s");
  EXPECT_EQ(durationText(12.345), "12.35 s");  // 12.345 is stored just above, so it rounds up
}

TEST(ResultTextsTest, RatesNeedAPixelCountAndSizesAndTimesAboveZero) {
  // 12,000 bytes over a 400 x 300 picture: 96,000 bits / 120,000 pixels.
  EXPECT_EQ(bitsPerPixelText(12000, 120000), "0.80 bpp");
  EXPECT_EQ(bitsPerPixel(12000, 120000), 0.8);
  EXPECT_EQ(bitsPerPixelText(12000, std::nullopt), "--");
  EXPECT_EQ(bitsPerPixelText(12000, 0), "--");
  // Savings against the source file; decode speed in megapixels per second.
  EXPECT_EQ(savingsText(250, 1000), "75.0%");
  EXPECT_EQ(savingsText(1500, 1000), "-50.0%");  // bigger than the source
  EXPECT_EQ(savingsText(1, 3), "66.7%");
  EXPECT_EQ(savingsText(10, 0), "--");
  EXPECT_FALSE(savingsPercent(10, 0));
  EXPECT_EQ(decodeSpeedText(12'000'000, 0.5), "24.0 MP/s");
  EXPECT_EQ(decodeSpeedText(std::nullopt, 0.5), "--");
  EXPECT_EQ(decodeSpeedText(12'000'000, 0.0), "--");
}

TEST(ResultTextsTest, SearchResultNamesTheFoundParameterAndAMissedTarget) {
  CompressionResult result;
  result.ssimulacra2Score = 83.9;
  EXPECT_FALSE(searchResultText(result, 85));
  result.foundQuality = 72;
  EXPECT_EQ(searchResultText(result, 85), "Quality 72 \u2014 target 85 not reachable");
  result.ssimulacra2Score = 84.5;  // exactly within the margin
  EXPECT_EQ(searchResultText(result, 85), "Quality 72");
  result.foundQuality.reset();
  result.foundDistance = 1.35;
  result.ssimulacra2Score = 90;
  EXPECT_EQ(searchResultText(result, 85), "Distance 1.35");
  EXPECT_EQ(scoreText(84.96), "85.0");
  EXPECT_EQ(scoreText(-12.54), "-12.5");
}

}  // namespace
}  // namespace quorlin
