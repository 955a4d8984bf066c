// HDR sources made with libvips and the real tools of this system: the space
// is named, the prepared PNG carries it, lossless round trips score 100, and
// the 8-bit SDR encoders refuse with their message.
#include <gtest/gtest.h>
#include <vips/vips8>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>

#include "EngineHarness.h"
#include "core/common/CompressionError.h"
#include "core/engine/PNGColour.h"
#include "core/engine/PanelRunner.h"
#include "core/engine/SourceMetadata.h"
#include "core/engine/VipsRuntime.h"
#include "core/tools/ToolVersionRules.h"
#include "support/TestImages.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using vips::VImage;
using K = ColorSpace::WellKnown;

// A 16-bit crop of the sample photograph with a ramp in the low byte, optionally with a profile.
fs::path basePNG(const fs::path& file, K profile = K::none) {
  fs::path sample = fs::path(QUORLIN_SOURCE_DIR) / "samples" / "colorful-cups.jpg";
  VImage photo = VImage::thumbnail(sample.c_str(), 64).copy();
  vips_image_remove(photo.get_image(), VIPS_META_ICC_NAME);
  VImage ramp = VImage::xyz(photo.width(), photo.height()).extract_band(0) * 3;
  VImage wide = (photo.cast(VIPS_FORMAT_USHORT) * 256 + ramp).cast(VIPS_FORMAT_USHORT);
  if (profile != K::none) {
    const auto& icc = ColorSpace::wellKnown(profile)->iccProfile();
    vips_image_set_blob_copy(wide.get_image(), VIPS_META_ICC_NAME, icc.data(), icc.size());
  }
  wide.pngsave(file.c_str(), VImage::option()->set("bitdepth", 16));
  return file;
}

struct HDRSource {
  std::string name;
  std::function<fs::path(test::EngineHarness&, const fs::path&)> make;
  K expectedKind;
  std::string expectedName;
  std::optional<double> expectedHeadroom;
  bool holdsTwelveBits = false;  // an AVIF: a lossless AVIF keeps every sample
};

fs::path avif(test::EngineHarness& h, const fs::path& d, K profile, const char* cicp) {
  fs::path out = d / (std::string("source-") + cicp[2] + cicp[3] + ".avif");
  h.runner.runTool("avifenc", {"-l", "-d", "12", "--cicp", cicp, basePNG(d / "base.png", profile).string(), out.string()});
  return out;
}

std::vector<HDRSource> sources() {
  const double pqNominal = 10000.0 / 203.0;
  return {
      {"PQAVIF", [](auto& h, auto& d) { return avif(h, d, K::none, "9/16/0"); }, K::bt2100PQ, "ITU-R BT.2100 PQ",
       pqNominal, true},
      {"PQAVIFWithICC", [](auto& h, auto& d) { return avif(h, d, K::bt2100PQ, "9/16/0"); }, K::bt2100PQ,
       "ITU-R BT.2100 PQ", pqNominal, true},
      // The format's rule: an ICC profile wins over nclx.
      {"P3ICCOverPQNCLX", [](auto& h, auto& d) { return avif(h, d, K::displayP3, "9/16/0"); }, K::displayP3,
       "Display P3", std::nullopt, true},
      {"HLGAVIF", [](auto& h, auto& d) { return avif(h, d, K::none, "9/18/0"); }, K::bt2100HLG, "ITU-R BT.2100 HLG",
       1000.0 / 203.0, true},
      {"PQPNGWithCICP",
       [](auto&, auto& d) {
         fs::path png = basePNG(d / "cicp.png");
         insertPNGChunk(png, "cICP", {9, 16, 0, 1});
         return png;
       },
       K::bt2100PQ, "ITU-R BT.2100 PQ", pqNominal},
      {"PQJPEGXL",
       [](auto& h, auto& d) {
         fs::path out = d / "source.jxl";
         h.runner.runTool("cjxl", {"-d", "0", "-x", "color_space=RGB_D65_202_Rel_PeQ", "--intensity_target=1000",
                                   basePNG(d / "base.png").string(), out.string()});
         return out;
       },
       K::bt2100PQ, "ITU-R BT.2100 PQ", 10.0},
  };
}

class HDRSourceTest : public ::testing::TestWithParam<HDRSource> {
 protected:
  void SetUp() override {
    ensureVipsInitialized();
    for (const char* tool : {"ssimulacra2", "cjxl", "djxl", "avifenc", "avifdec"}) {
      if (!findTool(tool, harness.searchPath.toolSearchDirectories())) GTEST_SKIP() << tool << " is missing";
    }
  }
  test::EngineHarness harness{test::ToolSet::installed};
};

TEST_P(HDRSourceTest, IsNamedCarriedAndScoredOrRefused) {
  const HDRSource& kind = GetParam();
  const fs::path file = kind.make(harness, harness.scratch.path());
  SourceImageMetadata metadata = readSourceImageMetadata(file, {});
  EXPECT_EQ(metadata.colorProfileName, kind.expectedName);
  ASSERT_EQ(metadata.contentHeadroom.has_value(), kind.expectedHeadroom.has_value());
  if (kind.expectedHeadroom) {
    EXPECT_NEAR(*metadata.contentHeadroom, *kind.expectedHeadroom, 0.01);
  }

  PreparedCompressionSource source = harness.prepare(file);
  const auto chunks = test::pngChunkTypes(source.preparedURL);
  const bool isHDR = kind.expectedKind == K::bt2100PQ || kind.expectedKind == K::bt2100HLG;
  EXPECT_EQ(test::readPNGHeader(source.preparedURL).bitDepth, 16);
  EXPECT_EQ(std::count(chunks.begin(), chunks.end(), "cICP"), isHDR ? 1 : 0);
  EXPECT_EQ(std::count(chunks.begin(), chunks.end(), "iCCP"), 1);  // for readers without cICP
  auto prepared = readPNGColourDescription(source.preparedURL);
  ASSERT_TRUE(prepared && prepared->colorSpace);
  EXPECT_EQ(prepared->colorSpace->kind(), kind.expectedKind);

  auto losslessPanel = [](CompressionCodec codec) {
    CodecPanel p;
    p.codec = codec;
    p.distance = 0;
    p.isAVIFLossless = true;
    return p;
  };
  for (const CodecPanel& panel : {losslessPanel(CompressionCodec::jpegXL), losslessPanel(CompressionCodec::avif)}) {
    if (panel.codec == CompressionCodec::avif && !kind.holdsTwelveBits) continue;  // AVIF holds 12 bits
    CompressionResult result = runPanel(panel, source, harness.context());
    EXPECT_GE(result.ssimulacra2Score, 99.99) << rawValue(panel.codec) << ": " << result.commandLine;
    result.removeWorkDirectory();
  }
  const std::string transfer(prepared->colorSpace->transferName());
  for (auto [codec, message] : {std::pair{CompressionCodec::webP, "cwebp cannot encode HDR (" + transfer +
                                                                      ") images: WebP is 8-bit SDR."},
                                std::pair{CompressionCodec::jpegTurbo, "cjpeg cannot encode HDR (" + transfer +
                                                                           ") images: JPEG is 8-bit SDR."}}) {
    if (!isHDR) continue;
    try {
      runPanel(losslessPanel(codec), source, harness.context());
      ADD_FAILURE() << rawValue(codec) << " encoded an HDR source";
    } catch (const CompressionError& error) {
      EXPECT_EQ(error.message(), message);
    }
  }
  EXPECT_EQ(harness.workDirectories(source), std::vector<fs::path>{});
  source.removeTemporaryDirectory();
}

INSTANTIATE_TEST_SUITE_P(Sources, HDRSourceTest, ::testing::ValuesIn(sources()),
                         [](const ::testing::TestParamInfo<HDRSource>& kind) { return kind.param.name; });

}  // namespace
}  // namespace quorlin
