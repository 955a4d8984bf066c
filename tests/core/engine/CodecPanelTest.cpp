#include "core/engine/CodecPanel.h"

#include <gtest/gtest.h>

#include <clocale>
#include <set>

#include "EngineHarness.h"
#include "core/common/CompressionError.h"
#include "core/engine/CodecAvailability.h"
#include "core/engine/CompressionRunner.h"
#include "core/engine/EncodedDescription.h"
#include "core/engine/ResultTexts.h"
#include "core/engine/Ssimulacra2Score.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

using C = CompressionCodec;

constexpr const char* defaultJPEGXLSignature =
    "JPEG XL|effort=7|jpegliChroma=Auto|progressive=2|avifDepth=-|avifChroma=Auto|avifProgressive=false|"
    "heifDepth=-|jpegTurboProgressive=true|jpegTurboOptimize=true|jxlProgressive=false|jxlGroupOrder=Scanline|"
    "mode=manual|quality=85|distance=1|webpLossless=false|webpZ=6|avifLossless=false|heifLossless=false|"
    "jxlLosslessJPEG=false";

CompressionResult resultFor(const CodecPanel& panel) {
  CompressionResult result;
  result.codec = panel.codec;
  result.settingsSignature = panel.settingsSignature();
  return result;
}

TEST(CodecPanelTest, DefaultPanelsAreJPEGXLAVIFWebPAndJPEGli) {
  auto panels = makeDefaultPanels();
  ASSERT_EQ(panels.size(), 4u);
  EXPECT_EQ(panels[0].settingsSignature(), defaultJPEGXLSignature);
  std::set<Uuid> ids;
  for (const auto& panel : panels) {
    EXPECT_FALSE(panel.isRunning || panel.result || panel.errorMessage || panel.progressMessage);
    ids.insert(panel.id);
  }
  EXPECT_EQ(ids.size(), 4u);
}

// A copy of `panel` changed by `mutate`.
template <typename Mutate>
CodecPanel changed(CodecPanel panel, Mutate mutate) {
  mutate(panel);
  return panel;
}

// Settings that the JPEG XL encoder never reads still enter the signature and
// mark a result as needing regeneration; run state is not a setting.
TEST(CodecPanelTest, SignatureRecordsEverySettingOfEveryCodecInManualMode) {
  CodecPanel panel = makeDefaultPanels()[0];
  const std::string original = panel.settingsSignature();
  EXPECT_NE(changed(panel, [](CodecPanel& p) { p.webPLosslessLevel = 9; }).settingsSignature(), original);
  EXPECT_NE(changed(panel, [](CodecPanel& p) { p.quality = 86; }).settingsSignature(), original);
  EXPECT_EQ(changed(panel, [](CodecPanel& p) { p.jpegXLGroupOrder = JPEGXLGroupOrder::centerFirst; }).settingsSignature(),
            std::string(defaultJPEGXLSignature).replace(std::string(defaultJPEGXLSignature).find("Scanline"), 8,
                                                        "Center"));
  EXPECT_EQ(changed(panel, [](CodecPanel& p) {
              p.isRunning = true;
              p.errorMessage = "failed";
              p.progressMessage = "Encoding...";
            }).settingsSignature(), original);
  EXPECT_FALSE(panel.needsRegeneration());  // no result yet
  panel.result = resultFor(panel);
  EXPECT_FALSE(panel.needsRegeneration());
  panel.webPLosslessLevel = 3;
  EXPECT_TRUE(panel.needsRegeneration());
  panel.webPLosslessLevel = 6;
  EXPECT_FALSE(panel.needsRegeneration());
}

// Target mode records only the target, rounded to one decimal, and the effort.
TEST(CodecPanelTest, TargetModeRecordsOnlyTheTargetRoundedToOneDecimal) {
  CodecPanel panel = makeDefaultPanels()[0];
  panel.rateControlMode = RateControlMode::targetScore;
  std::string signature = panel.settingsSignature();
  EXPECT_TRUE(signature.ends_with("|jxlGroupOrder=Scanline|mode=target|target=85.0")) << signature;
  EXPECT_EQ(signature.find("quality="), std::string::npos);
  EXPECT_EQ(changed(panel, [](CodecPanel& p) {
              p.quality = 20;
              p.distance = 7.5;
              p.isWebPLossless = p.isJPEGLosslessTranscode = true;
            }).settingsSignature(), signature);
  for (auto [target, text] : {std::pair{85.04, "target=85.0"}, {85.06, "target=85.1"}}) {
    EXPECT_TRUE(changed(panel, [&](CodecPanel& p) { p.targetScore = target; }).settingsSignature().ends_with(text));
  }
  EXPECT_NE(changed(panel, [](CodecPanel& p) { p.effort = 3; }).settingsSignature(), signature);
}

TEST(CodecPanelTest, FormatDistanceRoundsHalvesAwayFromZeroInDoublePrecision) {
  struct Case {
    double value;
    const char* text;
  };
  // 1.005 is stored as 1.00499999999999989..., so x100 stays below 100.5;
  // 2.345 x 100 rounds to exactly 234.5 in double and then away from zero.
  const Case cases[] = {{1.0, "1"},  {0.999, "1"},   {1.004, "1"},  {1.005, "1"},   {1.006, "1.01"},
                        {2.345, "2.35"}, {0.1, "0.1"}, {0.004, "0"}, {0.0, "0"},    {0.25, "0.25"},
                        {1.5, "1.5"},  {3.0, "3"},     {25.0, "25"}, {0.005, "0.01"}, {-0.004, "0"},
                        {12.3456, "12.35"}, {0.999999, "1"}};
  for (const Case& c : cases) {
    EXPECT_EQ(formatDistance(c.value), c.text) << c.value;
  }
}

TEST(CodecPanelTest, NumberTextsIgnoreADecimalCommaLocale) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = previous ? previous : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  }
  CodecPanel panel = makeDefaultPanels()[0];
  panel.distance = 1.5;
  std::string distance = formatDistance(1.5);
  panel.rateControlMode = RateControlMode::targetScore;
  std::string signature = panel.settingsSignature();
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(distance, "1.5");
  EXPECT_TRUE(signature.ends_with("target=85.0")) << signature;
}

TEST(CodecPanelTest, SwitchingToJPEGXLResetsOnlyFarDistances) {
  CodecPanel panel = makeDefaultPanels()[1];  // AVIF
  panel.distance = 30.0;
  panel.result = resultFor(panel);
  panel.errorMessage = "AVIF failed: no";
  panel.progressMessage = "Encoding...";
  panel.isRunning = true;
  panel.selectCodec(C::jpegXL);
  EXPECT_EQ(panel.codec, C::jpegXL);
  EXPECT_EQ(panel.distance, 1.0);
  EXPECT_FALSE(panel.result || panel.errorMessage);
  // Run state other than result and error is the workspace's business.
  EXPECT_EQ(panel.progressMessage, "Encoding...");
  EXPECT_TRUE(panel.isRunning);
  // Other codecs never touch the distance.
  for (auto [from, distance, to, kept] : {std::tuple{1, 25.0, C::jpegXL, 25.0}, {1, 25.0001, C::jpegXL, 1.0},
                                          {0, 30.0, C::jpegli, 30.0}}) {
    CodecPanel edge = makeDefaultPanels()[static_cast<std::size_t>(from)];
    edge.distance = distance;
    edge.selectCodec(to);
    EXPECT_EQ(edge.distance, kept) << distance;
  }
}

TEST(CodecPanelTest, SwitchingAwayFromJPEGXLTurnsTheTranscodeOffForGood) {
  CodecPanel panel = makeDefaultPanels()[0];
  panel.isJPEGLosslessTranscode = true;
  panel.selectCodec(C::jpegXL);  // picking the same codec keeps it
  EXPECT_TRUE(panel.isJPEGLosslessTranscode);
  const CodecPanel before = panel;
  panel.selectCodec(C::webP);
  EXPECT_FALSE(panel.isJPEGLosslessTranscode);
  panel.selectCodec(C::jpegXL);
  EXPECT_FALSE(panel.isJPEGLosslessTranscode);
  CodecPanel expected = before;  // nothing else changed on the way
  expected.isJPEGLosslessTranscode = false;
  EXPECT_EQ(panel.settingsSignature(), expected.settingsSignature());
}

TEST(CodecPanelTest, CompressionModeLabelFollowsTheCodecsLosslessSwitch) {
  CodecPanel panel = makeDefaultPanels()[0];
  EXPECT_EQ(compressionModeLabel(panel), "lossy");
  panel.distance = 0.0001;
  EXPECT_EQ(compressionModeLabel(panel), "lossless");
  panel.distance = 0.00011;
  EXPECT_EQ(compressionModeLabel(panel), "lossy");
  panel.isJPEGLosslessTranscode = true;  // whatever the source is
  EXPECT_EQ(compressionModeLabel(panel), "lossless JPEG transcode");
  panel.rateControlMode = RateControlMode::targetScore;
  EXPECT_EQ(compressionModeLabel(panel), "lossy");

  auto label = [](C codec, auto mutate) {
    CodecPanel p = makeDefaultPanels()[0];
    p.codec = codec;
    mutate(p);
    return compressionModeLabel(p);
  };
  EXPECT_EQ(label(C::avif, [](CodecPanel& p) { p.isAVIFLossless = true; }), "lossless");
  EXPECT_EQ(label(C::avif, [](CodecPanel& p) { p.isWebPLossless = true; }), "lossy");
  EXPECT_EQ(label(C::webP, [](CodecPanel& p) { p.isWebPLossless = true; }), "lossless");
  for (C codec : {C::heifLibheif, C::avifLibheif, C::jpeg2000Libheif}) {
    EXPECT_EQ(label(codec, [](CodecPanel& p) { p.isHEIFLossless = true; }), "lossless");
  }
  EXPECT_EQ(label(C::heif, [](CodecPanel& p) { p.isHEIFLossless = true; }), "lossy");
  EXPECT_EQ(label(C::jpegli, [](CodecPanel& p) { p.distance = 0; }), "lossy");
}

TEST(CompressionResultTest, FoundParameterLabelPrefersQuality) {
  CompressionResult result;
  EXPECT_EQ(foundParameterLabel(result), std::nullopt);
  result.foundDistance = 1.005;
  EXPECT_EQ(foundParameterLabel(result), "Distance 1");
  result.foundQuality = 72;
  EXPECT_EQ(foundParameterLabel(result), "Quality 72");
}

using test::EngineHarness;

std::vector<CompressionCodec> codecsOf(const std::vector<CodecPanel>& panels) {
  std::vector<CompressionCodec> codecs;
  for (const CodecPanel& panel : panels) codecs.push_back(panel.codec);
  return codecs;
}

// Debian 12's tools: everything but jpegli, and a heif-enc too old for JPEG 2000.
void installDebianTools(EngineHarness& harness) {
  for (const char* tool : {"cjxl", "djxl", "avifenc", "avifdec", "cwebp", "dwebp", "cjpeg", "djpeg", "heif-dec"}) {
    harness.tool(tool, "exit 0");
  }
  harness.tool("heif-enc", "echo \"heif-enc: unrecognized option '--version'\" >&2; echo ' heif-enc  libheif version: 1.15.1' >&2");
}

TEST(CodecAvailabilityTest, DefaultPanelsSkipCodecsThatCannotRunAndThePickerSaysWhy) {
  EngineHarness harness;
  installDebianTools(harness);
  CompressionRunner engine(harness.context());
  auto reason = [&engine](CompressionCodec codec) { return engine.codecUnavailableReason(codec); };

  EXPECT_EQ(reason(CompressionCodec::jpegli), "cjpegli not installed");
  EXPECT_EQ(reason(CompressionCodec::jpeg2000Libheif), "heif-enc 1.15.1 cannot encode JPEG 2000");
  for (CompressionCodec runnable : {CompressionCodec::jpegXL, CompressionCodec::avif, CompressionCodec::webP,
                                    CompressionCodec::jpegTurbo, CompressionCodec::avifLibheif,
                                    CompressionCodec::heif, CompressionCodec::jpeg}) {
    EXPECT_EQ(reason(runnable), std::nullopt) << rawValue(runnable);
  }
  const std::vector<CodecPanel> panels = makeDefaultPanels(reason);
  EXPECT_EQ(codecsOf(panels), (std::vector{CompressionCodec::jpegXL, CompressionCodec::avif, CompressionCodec::webP,
                                           CompressionCodec::jpegTurbo}));
  // The slot keeps its designed settings apart from the codec.
  EXPECT_EQ(panels[3].quality, makeDefaultPanels()[3].quality);
  // An HDR source starts with codecs that carry it: WebP and both JPEG writers refuse.
  EXPECT_EQ(codecsOf(makeDefaultPanels(reason, "HLG")), (std::vector{CompressionCodec::jpegXL, CompressionCodec::avif,
                                                                     CompressionCodec::heifLibheif,
                                                                     CompressionCodec::avifLibheif}));
}

TEST(CodecAvailabilityTest, APanelWithoutRunnableStandInKeepsItsDesignedCodec) {
  EngineHarness harness;   // no tools at all
  CompressionRunner engine(harness.context());
  auto reason = [&engine](CompressionCodec codec) { return engine.codecUnavailableReason(codec); };
  EXPECT_EQ(reason(CompressionCodec::webP), "cwebp not installed");
  // JPEGli falls through libjpeg-turbo to the system writer, which needs no tool.
  EXPECT_EQ(codecsOf(makeDefaultPanels(reason)), (std::vector{CompressionCodec::jpegXL, CompressionCodec::avif,
                                                              CompressionCodec::webP, CompressionCodec::jpeg}));
}

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
