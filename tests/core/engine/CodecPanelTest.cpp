#include "core/engine/CodecPanel.h"

#include <gtest/gtest.h>

#include <clocale>
#include <set>
#include <string>

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

TEST(CodecPanelTest, SignatureRecordsEverySettingOfEveryCodecInManualMode) {
  CodecPanel panel = makeDefaultPanels()[0];
  const std::string original = panel.settingsSignature();
  // Settings that the JPEG XL encoder never reads still enter the signature.
  auto changed = [&](auto mutate) {
    CodecPanel copy = panel;
    mutate(copy);
    return copy.settingsSignature();
  };
  EXPECT_NE(changed([](CodecPanel& p) { p.webPLosslessLevel = 9; }), original);
  EXPECT_NE(changed([](CodecPanel& p) { p.quality = 86; }), original);
  EXPECT_EQ(changed([](CodecPanel& p) { p.jpegXLGroupOrder = JPEGXLGroupOrder::centerFirst; }),
            std::string(defaultJPEGXLSignature).replace(std::string(defaultJPEGXLSignature).find("Scanline"), 8,
                                                        "Center"));
  // Run state is not a setting.
  EXPECT_EQ(changed([](CodecPanel& p) {
              p.isRunning = true;
              p.errorMessage = "failed";
              p.progressMessage = "Encoding...";
            }),
            original);
}

TEST(CodecPanelTest, ChangingAnotherCodecsSettingMarksTheResultAsNeedingRegeneration) {
  CodecPanel panel = makeDefaultPanels()[0];
  EXPECT_FALSE(panel.needsRegeneration());  // no result yet
  panel.result = resultFor(panel);
  EXPECT_FALSE(panel.needsRegeneration());
  panel.webPLosslessLevel = 3;
  EXPECT_TRUE(panel.needsRegeneration());
  panel.webPLosslessLevel = 6;
  EXPECT_FALSE(panel.needsRegeneration());
}

TEST(CodecPanelTest, TargetModeRecordsOnlyTheTargetRoundedToOneDecimal) {
  CodecPanel panel = makeDefaultPanels()[0];
  panel.rateControlMode = RateControlMode::targetScore;
  std::string signature = panel.settingsSignature();
  EXPECT_TRUE(signature.ends_with("|jxlGroupOrder=Scanline|mode=target|target=85.0")) << signature;
  EXPECT_EQ(signature.find("quality="), std::string::npos);

  CodecPanel rateChanged = panel;
  rateChanged.quality = 20;
  rateChanged.distance = 7.5;
  rateChanged.isWebPLossless = true;
  rateChanged.isJPEGLosslessTranscode = true;
  EXPECT_EQ(rateChanged.settingsSignature(), signature);

  CodecPanel target = panel;
  target.targetScore = 85.04;
  EXPECT_TRUE(target.settingsSignature().ends_with("target=85.0"));
  target.targetScore = 85.06;
  EXPECT_TRUE(target.settingsSignature().ends_with("target=85.1"));
  // Effort is still a setting in target mode.
  CodecPanel effort = panel;
  effort.effort = 3;
  EXPECT_NE(effort.settingsSignature(), signature);
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
  EXPECT_FALSE(panel.result.has_value());
  EXPECT_FALSE(panel.errorMessage.has_value());
  // Run state other than result and error is the workspace's business.
  EXPECT_EQ(panel.progressMessage, "Encoding...");
  EXPECT_TRUE(panel.isRunning);

  CodecPanel edge = makeDefaultPanels()[1];
  edge.distance = 25.0;
  edge.selectCodec(C::jpegXL);
  EXPECT_EQ(edge.distance, 25.0);
  edge.distance = 25.0001;
  edge.selectCodec(C::jpegXL);
  EXPECT_EQ(edge.distance, 1.0);

  // Other codecs never touch the distance.
  CodecPanel other = makeDefaultPanels()[0];
  other.distance = 30.0;
  other.selectCodec(C::jpegli);
  EXPECT_EQ(other.distance, 30.0);
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

}  // namespace
}  // namespace quorlin
