#include "core/engine/CodecPanel.h"

#include <gtest/gtest.h>

#include <clocale>
#include <set>

#include "EngineHarness.h"
#include "core/engine/CodecAvailability.h"
#include "core/engine/CompressionRunner.h"

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
  CodecPanel panel = changed(makeDefaultPanels()[0], [](CodecPanel& p) { p.rateControlMode = RateControlMode::targetScore; });
  std::string signature = panel.settingsSignature();
  EXPECT_TRUE(signature.ends_with("|jxlGroupOrder=Scanline|mode=target|target=85.0")) << signature;
  EXPECT_EQ(signature.find("quality="), std::string::npos);
  EXPECT_EQ(changed(panel, [](CodecPanel& p) {
              p.quality = 20;
              p.distance = 7.5;
              p.isWebPLossless = p.isJPEGLosslessTranscode = true;
            }).settingsSignature(), signature);
  EXPECT_TRUE(changed(panel, [](CodecPanel& p) { p.targetScore = 85.04; }).settingsSignature().ends_with("target=85.0"));
  EXPECT_TRUE(changed(panel, [](CodecPanel& p) { p.targetScore = 85.06; }).settingsSignature().ends_with("target=85.1"));
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

}  // namespace
}  // namespace quorlin
