#include "core/engine/ResultTexts.h"

#include <gtest/gtest.h>

#include "core/common/CompressionError.h"
#include "core/engine/EncodedDescription.h"
#include "core/engine/Ssimulacra2Score.h"
#include "support/TestSupport.h"

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

// The first piece that is wholly a number ("3x" and "v2.1," are not); a number
// no score can be fails the panel; no number at all fails with the whole output.
TEST(Ssimulacra2ScoreTest, TakesTheFirstPieceThatIsWhollyANumberAndAPossibleScore) {
  const std::pair<const char*, double> scores[] = {
      {"85.3", 85.3}, {"85.30000000\n", 85.3}, {"score: 87.25", 87.25}, {"-12.5", -12.5}, {"score:90,extra 3", 90.0},
      {"3x v2.1, then 71.75 and 5", 71.75}, {"\t 1e2 ", 100.0}, {"100.0001", 100.0001}};
  for (auto [output, score] : scores) EXPECT_DOUBLE_EQ(parseSsimulacra2Score(output), score) << output;
  std::vector<std::pair<std::string, std::string>> failures = {
      {"no score today", ""}, {"", ""}, {"   \n", ""}, {"85x,3y", ""}};
  for (const char* piece : {"100.00011", "1e308", "1e999", "inf", "nan", "-1e999"}) {
    failures.emplace_back("score: " + std::string(piece) + "\n12",
                          "ssimulacra2 printed an impossible score: " + std::string(piece) + ".");
  }
  for (const auto& [output, message] : failures) {
    try {
      parseSsimulacra2Score(output);
      ADD_FAILURE() << "accepted " << output;
    } catch (const CompressionError& error) {
      EXPECT_EQ(error.message(), message.empty() ? error.message() : message);
      EXPECT_TRUE(!message.empty() || (error.kind() == CompressionError::Kind::processFailed &&
                                       error.tool() == "ssimulacra2" && error.output() == output)) << output;
    }
  }
}

using Lines = std::vector<std::string>;

// Outputs saved from the Debian 12 tools (jxlinfo 0.7, avifdec 0.11.1).
std::string fixture(std::string_view name) {
  return test::readTextFile(std::filesystem::path(QUORLIN_SOURCE_DIR) / "tests" / "core" / "engine" / "fixtures" /
                            name);
}

TEST(JPEGXLDescriptionTest, LinesOfRealJxlinfoOutputs) {
  EXPECT_EQ(jpegXLDescriptionLines(fixture("jxlinfo-0.7-lossy-srgb.txt")),
            (Lines{"Pixel Format: 8-bit RGB",
                   "Color Space: RGB, D65, sRGB primaries, gamma(0.454550) transfer function, rendering intent: "
                   "Perceptual"}));
  // The container line and the reconstruction line give nothing; "(possibly) lossless" is no bare "lossless".
  EXPECT_EQ(jpegXLDescriptionLines(fixture("jxlinfo-0.7-jpeg-transcode.txt")),
            (Lines{"Pixel Format: (possibly) lossless, 8-bit RGB",
                   "Color Space: RGB, D65, sRGB primaries, sRGB transfer function, rendering intent: Relative"}));
  EXPECT_EQ(jpegXLDescriptionLines(fixture("jxlinfo-0.7-pq-intensity-10000.txt")),
            (Lines{"Pixel Format: 16-bit RGB", "Intensity Target: 10000.0 nits", "Minimum Nits: 0.0",
                   "Relative to Max Display: 0", "Linear Below: 0.0",
                   "Color Space: RGB, D65, Rec.2100 primaries, PQ transfer function, rendering intent: Relative"}));
  // jxlinfo exits 0 for a file that is not JPEG XL; its text describes nothing.
  EXPECT_TRUE(jpegXLDescriptionLines(fixture("jxlinfo-0.7-not-jpegxl.txt")).empty());
}

TEST(JPEGXLDescriptionTest, PixelFormatPiecesAreFilteredOneByOne) {
  EXPECT_EQ(jpegXLDescriptionLines("  JPEG XL image, 640x480, LOSSLESS, 16-bit RGBA, animated  \n\n"),
            (Lines{"Pixel Format: 16-bit RGBA, animated"}));
  // Nothing left after filtering: no line at all.
  EXPECT_TRUE(jpegXLDescriptionLines("JPEG XL image, 64x48, lossy").empty());
  // A size that is not digits x digits stays.
  EXPECT_EQ(jpegXLDescriptionLines("JPEG XL image, 64 x 48"), (Lines{"Pixel Format: 64 x 48"}));
}

// Ten decimals at most, rounded; "1.2.3" is a word, not a number.
TEST(DescribedNumberTest, FormatsOnlyDottedNumbers) {
  const std::pair<const char*, const char*> cases[] = {
      {"1000", "1000"}, {"255.000000", "255.0"}, {"0.0050", "0.005"}, {"4000 nits", "4000"}, {"203.5 nits", "203.5"},
      {"0.123456789012", "0.123456789"}, {"1.2.3", "1.2.3"}, {"n/a", "n/a"}};
  for (auto [text, shown] : cases) EXPECT_EQ(describedNumber(text), shown);
}

// An intensity target of 255 is not printed: PQ found, no headroom.
TEST(JPEGXLDescribedDisplayTest, HeadroomIsTheIntensityTargetOverAHundredButAtLeastOne) {
  auto plain = jpegXLDescribedDisplay(fixture("jxlinfo-0.7-pq-default-intensity.txt"));
  EXPECT_TRUE(plain.colorSpace && !plain.contentHeadroom);
  auto srgb = jpegXLDescribedDisplay(fixture("jxlinfo-0.7-lossy-srgb.txt"));
  EXPECT_FALSE(srgb.colorSpace || srgb.contentHeadroom);
  EXPECT_EQ(jpegXLDescribedDisplay("intensity_target: 1000.000000 nits").contentHeadroom, 10.0);
  EXPECT_EQ(jpegXLDescribedDisplay("intensity_target: 100").contentHeadroom, 1.0);
  EXPECT_EQ(jpegXLDescribedDisplay("intensity_target:50.5 nits").contentHeadroom, 1.0);
  EXPECT_EQ(jpegXLDescribedDisplay("intensity_target: 203 nits").contentHeadroom, 2.03);
  EXPECT_FALSE(jpegXLDescribedDisplay("intensity_target: none").contentHeadroom);
  EXPECT_FALSE(jpegXLDescribedDisplay("Intensity_Target: 1000").contentHeadroom);  // case-sensitive
  // Both phrases are needed, in any case, for PQ.
  EXPECT_TRUE(jpegXLDescribedDisplay("REC.2100 primaries, PQ Transfer function").colorSpace);
  EXPECT_FALSE(jpegXLDescribedDisplay("Rec.2100 primaries, HLG transfer function").colorSpace);
  EXPECT_FALSE(jpegXLDescribedDisplay("sRGB primaries, PQ transfer function").colorSpace);
}

// The bulleted " * Format         : YUV444" line of real avifdec output does not begin with "format:".
TEST(AVIFDescriptionTest, FormatAndDepthRules) {
  EXPECT_EQ(avifDescriptionLines(fixture("avifdec-0.11-info.txt")), (Lines{"Pixel Depth: 8-bit"}));
  EXPECT_EQ(avifDescriptionLines("  Format: YUV420 (8 bit)\nbit depth = 10"),
            (Lines{"Format: YUV420", "Pixel Depth: 10-bit"}));
  EXPECT_EQ(avifDescriptionLines("IMAGE FORMAT:   AV1 still\n"), (Lines{"Format: AV1"}));
  // "depth" must be a whole word; the digits may come later, after other text.
  EXPECT_TRUE(avifDescriptionLines("bitdepth 10\ndepthless 12").empty());
  EXPECT_EQ(avifDescriptionLines("Depth of field: unknown\nplanes: 3"), (Lines{"Pixel Depth: 3-bit"}));
  EXPECT_TRUE(avifDescriptionLines("").empty());
  EXPECT_TRUE(avifDescriptionLines("Decoding failed").empty());
}

}  // namespace
}  // namespace quorlin
