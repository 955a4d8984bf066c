#include "core/engine/CodecAvailability.h"

#include <gtest/gtest.h>

#include "core/engine/CompressionRunner.h"
#include "EngineHarness.h"

namespace quorlin {
namespace {

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
