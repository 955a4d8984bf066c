// What a codec panel shows for a panel value: rows per codec and mode, the
// distance slider's mapping and texts, and the result lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>

#include "core/workspace/CodecPanelPresentation.h"

namespace quorlin {
namespace {

CodecPanel panelWith(CompressionCodec codec, RateControlMode mode = RateControlMode::manual) {
  CodecPanel panel;
  panel.codec = codec;
  panel.rateControlMode = mode;
  return panel;
}

TEST(CodecPanelRowsTest, EffortRowOnlyForTheThreeEffortCodecsAndRateRowDistanceOrQualityOrCaption) {
  EXPECT_EQ(effortRange(CompressionCodec::jpegXL), (IntegerRange{1, 10}));
  EXPECT_EQ(effortRange(CompressionCodec::avif), (IntegerRange{0, 10}));
  EXPECT_EQ(effortRange(CompressionCodec::webP), (IntegerRange{0, 6}));
  for (CompressionCodec codec : allCompressionCodecs()) {
    const bool hasEffort =
        codec == CompressionCodec::jpegXL || codec == CompressionCodec::avif || codec == CompressionCodec::webP;
    EXPECT_EQ(effortRange(codec).has_value(), hasEffort) << rawValue(codec);
    EXPECT_EQ(!effortTooltip(codec).empty(), hasEffort) << rawValue(codec);
  }
  for (CompressionCodec codec : allCompressionCodecs()) {
    const bool distance = codec == CompressionCodec::jpegXL || codec == CompressionCodec::jpegli;
    EXPECT_EQ(rateParameterRow(panelWith(codec)),
              distance ? RateParameterRow::distanceSlider : RateParameterRow::qualitySlider)
        << rawValue(codec);
    EXPECT_EQ(rateParameterRow(panelWith(codec, RateControlMode::targetScore)), RateParameterRow::searchCaption);
    EXPECT_EQ(searchCaption(codec), distance ? "Distance set by target score search"
                                             : "Quality set by target score search");
    EXPECT_FALSE(rateParameterTooltip(codec).empty()) << rawValue(codec);
  }
  EXPECT_NE(rateParameterTooltip(CompressionCodec::jpegli).find("cjpegli --distance"), std::string_view::npos);
}

TEST(CodecPanelRowsTest, LosslessTogglesShowOnlyInSetQualityModeAndTranscodeDimsOnlyJPEGXLControls) {
  const CompressionCodec withToggle[] = {CompressionCodec::webP, CompressionCodec::avif,
                                         CompressionCodec::heifLibheif, CompressionCodec::avifLibheif,
                                         CompressionCodec::jpeg2000Libheif};
  for (CompressionCodec codec : allCompressionCodecs()) {
    const bool expected = std::find(std::begin(withToggle), std::end(withToggle), codec) != std::end(withToggle);
    EXPECT_EQ(showsLosslessToggle(panelWith(codec)), expected) << rawValue(codec);
    EXPECT_FALSE(showsLosslessToggle(panelWith(codec, RateControlMode::targetScore))) << rawValue(codec);
    EXPECT_EQ(showsLosslessJPEGTranscodeToggle(panelWith(codec)), codec == CompressionCodec::jpegXL);
  }
  EXPECT_FALSE(showsLosslessJPEGTranscodeToggle(panelWith(CompressionCodec::jpegXL, RateControlMode::targetScore)));
  CodecPanel panel = panelWith(CompressionCodec::jpegXL);
  EXPECT_EQ(distanceSliderOpacity(panel), 1.0);
  panel.isJPEGLosslessTranscode = true;
  EXPECT_EQ(distanceSliderOpacity(panel), 0.45);
  EXPECT_EQ(jpegXLProgressiveOpacity(panel), 0.45);
  panel.codec = CompressionCodec::jpegli;   // the switch can linger in the stored settings
  EXPECT_EQ(distanceSliderOpacity(panel), 1.0);
}

TEST(DistanceSliderMappingTest, PositionIsTheRootOfTheDistanceShareAndMovingSetsTheSquareRoundedToTwentieths) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::pair<double, double> positions[] = {{1.0, 0.2},     {6.25, 0.5}, {25.0, 1.0}, {25.01, 1.0},
                                                 {1000.0, 1.0}, {0.0, 0.0},  {-3.0, 0.0}, {nan, 0.0}};
  for (const auto& [distance, position] : positions) EXPECT_DOUBLE_EQ(distanceSliderPosition(distance), position);
  // Clamped at both ends (not squared to a positive distance); 0.3^2 x 25 = 2.25 lies on a twentieth,
  // 0.31^2 x 25 = 2.4025 rounds to 2.4, and a position just right of 0 still rounds to 0.
  const std::pair<double, double> distances[] = {{1.0, 25.0}, {0.0, 0.0},  {0.5, 6.25}, {0.2, 1.0}, {1.7, 25.0},
                                                 {-0.4, 0.0}, {0.3, 2.25}, {0.31, 2.4}, {0.01, 0.0}};
  for (const auto& [position, distance] : distances) EXPECT_DOUBLE_EQ(distanceForSliderPosition(position), distance);
  // Every slider stop maps back onto itself once rounded.
  for (int step = 0; step <= 100; ++step) {
    double d = distanceForSliderPosition(step / 100.0);
    EXPECT_DOUBLE_EQ(distanceForSliderPosition(distanceSliderPosition(d)), d) << step;
  }
}

TEST(DistanceSliderMappingTest, ValueTexts) {
  using C = CompressionCodec;
  const std::tuple<double, C, const char*> texts[] = {
      {1.0, C::jpegXL, "1.00 visually lossless"},  {1.0, C::jpegli, "1.00 visually lossless"},
      {0.55, C::jpegli, "0.55 visually lossless"}, {1.05, C::jpegXL, "1.1"},
      {3.0, C::jpegXL, "3.0"},                      {25.0, C::jpegli, "25.0"},
      {0.0, C::jpegXL, "0.0 mathematically lossless"}, {0.0, C::jpegli, "0.00 visually lossless"},
      {0.05, C::jpegXL, "0.05 visually lossless"}};
  for (const auto& [distance, codec, text] : texts) EXPECT_EQ(distanceValueText(distance, codec), text) << distance;
}

class ResultMetricRowsTest : public ::testing::Test {
 protected:
  ResultMetricRowsTest() {
    panel.codec = CompressionCodec::webP;
    CompressionResult result;
    result.codec = CompressionCodec::webP;
    result.encodedSize = 250'000;
    result.ssimulacra2Score = 84.26;
    result.encodeDuration = 0.1234;
    result.decodeDuration = 0.05;
    panel.result = result;
  }
  std::string valueOf(const std::vector<ResultMetricRow>& rows, std::string_view label) {
    for (const auto& row : rows) {
      if (row.label == label) return row.value;
    }
    return "<absent>";
  }
  CodecPanel panel;
};

TEST_F(ResultMetricRowsTest, EveryLineInOrderSecondsFromOneSecondAndDashesWithoutMetadata) {
  auto rows = resultMetricRows(panel, 1'000'000, 2'000'000);
  std::vector<ResultMetricRow> expected{
      {"File Size", "250.0 KB", ResultEmphasis::strong},
      {"Savings", "75.0%"},
      {"Encode Time", "123 ms"},
      {"Decode Speed", "40.0 MP/s"},
      {"Bits Per Pixel", "1.00 bpp"},
      {"SSIMULACRA2", "84.3", ResultEmphasis::strong},
      {"Compression", "lossy"},
  };
  EXPECT_EQ(rows, expected);
  panel.result->encodeDuration = 1.0;
  rows = resultMetricRows(panel, 0, std::nullopt);
  EXPECT_EQ(valueOf(rows, "Encode Time"), "1.00 s");
  EXPECT_EQ(valueOf(rows, "Savings"), "--");
  EXPECT_EQ(valueOf(rows, "Decode Speed"), "--");
  EXPECT_EQ(valueOf(rows, "Bits Per Pixel"), "--");
  panel.result->encodeDuration = 0.9994;
  EXPECT_EQ(valueOf(resultMetricRows(panel, 0, std::nullopt), "Encode Time"), "999 ms");
}

TEST_F(ResultMetricRowsTest, SavingsMayBeNegativeCompressionFollowsThePanelAndSearchResultsSayWhenOutOfReach) {
  panel.isWebPLossless = true;
  auto rows = resultMetricRows(panel, 200'000, 1);
  EXPECT_EQ(valueOf(rows, "Savings"), "-25.0%");
  EXPECT_EQ(valueOf(rows, "Compression"), "lossless");
  EXPECT_EQ(valueOf(rows, "Search Result"), "<absent>");
  panel.rateControlMode = RateControlMode::targetScore;
  panel.targetScore = 85.0;
  panel.result->foundQuality = 72;
  panel.result->ssimulacra2Score = 83.9;
  rows = resultMetricRows(panel, 1, 1);
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows.back(), (ResultMetricRow{"Search Result", "Quality 72 \u2014 target 85 not reachable",
                                          ResultEmphasis::warning}));
  panel.result->ssimulacra2Score = 84.5;   // within half a point: reached
  EXPECT_EQ(resultMetricRows(panel, 1, 1).back(),
            (ResultMetricRow{"Search Result", "Quality 72", ResultEmphasis::strong}));
  panel.codec = CompressionCodec::jpegXL;
  panel.result->foundQuality.reset();
  panel.result->foundDistance = 1.35;
  EXPECT_EQ(valueOf(resultMetricRows(panel, 1, 1), "Search Result"), "Distance 1.35");
  panel.result.reset();
  EXPECT_TRUE(resultMetricRows(panel, 1000, 1000).empty());
}

}  // namespace
}  // namespace quorlin
