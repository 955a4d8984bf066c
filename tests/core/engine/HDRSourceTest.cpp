// HDR sources made with libvips and the real tools: the space is named, the
// prepared PNG carries it, lossless round trips score 100 and the 8-bit SDR
// encoders refuse with their message.
#include <gtest/gtest.h>
#include <vips/vips8>

#include <algorithm>

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
using K = ColorSpace::WellKnown;
using vips::VImage;

struct HDRSource {
  std::string name, format;  // format: "avif" (12-bit, nclx --cicp), "png" (cICP chunk) or "jxl"
  K profile;                  // ICC profile of the input PNG
  std::string cicp;           // avifenc --cicp, the PNG's cICP, or cjxl's colour space
  K expectedKind;
  std::string expectedName;
  std::optional<double> expectedHeadroom;
};

// A 16-bit crop of the sample photograph with a ramp in the low byte, made into the row's file.
fs::path make(const HDRSource& row, test::EngineHarness& h) {
  VImage photo = VImage::thumbnail((fs::path(QUORLIN_SOURCE_DIR) / "samples" / "colorful-cups.jpg").c_str(), 64);
  VImage wide = (photo.cast(VIPS_FORMAT_USHORT) * 256 + VImage::xyz(photo.width(), photo.height())[0] * 3)
                    .cast(VIPS_FORMAT_USHORT);
  vips_image_remove(wide.get_image(), VIPS_META_ICC_NAME);
  if (row.profile != K::none) {
    const auto& icc = ColorSpace::wellKnown(row.profile)->iccProfile();
    vips_image_set_blob_copy(wide.get_image(), VIPS_META_ICC_NAME, icc.data(), icc.size());
  }
  const fs::path png = h.scratch / "base.png", out = h.scratch / ("source." + row.format);
  wide.pngsave(png.c_str(), VImage::option()->set("bitdepth", 16));
  if (row.format == "png") {
    insertPNGChunk(png, "cICP", {9, static_cast<std::uint8_t>(std::stoi(row.cicp)), 0, 1});
    return png;
  }
  if (row.format == "avif") h.runner.runTool("avifenc", {"-l", "-d", "12", "--cicp", row.cicp, png, out});
  if (row.format == "jxl") {
    h.runner.runTool("cjxl", {"-d", "0", "-x", "color_space=" + row.cicp, "--intensity_target=1000", png, out});
  }
  return out;
}

const double pq = 10000.0 / 203.0;
const HDRSource sources[] = {
    {"PQAVIF", "avif", K::none, "9/16/0", K::bt2100PQ, "ITU-R BT.2100 PQ", pq},
    {"PQAVIFWithICC", "avif", K::bt2100PQ, "9/16/0", K::bt2100PQ, "ITU-R BT.2100 PQ", pq},
    {"P3ICCWinsOverPQNCLX", "avif", K::displayP3, "9/16/0", K::displayP3, "Display P3", std::nullopt},
    {"HLGAVIF", "avif", K::none, "9/18/0", K::bt2100HLG, "ITU-R BT.2100 HLG", 1000.0 / 203.0},
    {"PQPNGWithCICP", "png", K::none, "16", K::bt2100PQ, "ITU-R BT.2100 PQ", pq},
    {"PQJPEGXL", "jxl", K::none, "RGB_D65_202_Rel_PeQ", K::bt2100PQ, "ITU-R BT.2100 PQ", 10.0},
};

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
  const HDRSource& row = GetParam();
  const fs::path file = make(row, harness);
  SourceImageMetadata metadata = readSourceImageMetadata(file, {});
  EXPECT_EQ(metadata.colorProfileName, row.expectedName);
  EXPECT_NEAR(metadata.contentHeadroom.value_or(0), row.expectedHeadroom.value_or(0), 0.01);

  PreparedCompressionSource source = harness.prepare(file);
  const auto chunks = test::pngChunkTypes(source.preparedURL);
  const bool isHDR = row.expectedKind == K::bt2100PQ || row.expectedKind == K::bt2100HLG;
  EXPECT_EQ(test::readPNGHeader(source.preparedURL).bitDepth, 16);
  EXPECT_EQ(std::count(chunks.begin(), chunks.end(), "cICP"), isHDR ? 1 : 0);
  EXPECT_EQ(std::count(chunks.begin(), chunks.end(), "iCCP"), 1);  // for readers without cICP
  auto prepared = readPNGColourDescription(source.preparedURL);
  ASSERT_TRUE(prepared && prepared->colorSpace);
  EXPECT_EQ(prepared->colorSpace->kind(), row.expectedKind);

  CodecPanel panel;
  panel.distance = 0;
  panel.isAVIFLossless = true;
  // Lossless JPEG XL keeps 16 bits, lossless AVIF the 12 of an AVIF source.
  for (CompressionCodec codec : {CompressionCodec::jpegXL, CompressionCodec::avif}) {
    if (codec == CompressionCodec::avif && row.format != "avif") continue;
    panel.codec = codec;
    CompressionResult result = runPanel(panel, source, harness.context());
    EXPECT_GE(result.ssimulacra2Score, 99.99) << result.commandLine;
    result.removeWorkDirectory();
  }
  const std::string transfer(prepared->colorSpace->transferName());
  for (auto [codec, message] : {std::pair{CompressionCodec::webP, "cwebp cannot encode HDR (" + transfer +
                                                                      ") images: WebP is 8-bit SDR."},
                                {CompressionCodec::jpegTurbo, "cjpeg cannot encode HDR (" + transfer +
                                                                  ") images: JPEG is 8-bit SDR."}}) {
    panel.codec = codec;
    if (!isHDR) continue;
    try {
      runPanel(panel, source, harness.context());
      ADD_FAILURE() << rawValue(codec) << " encoded an HDR source";
    } catch (const CompressionError& error) {
      EXPECT_EQ(error.message(), message);
    }
  }
  EXPECT_TRUE(harness.workDirectories(source).empty());
  source.removeTemporaryDirectory();
}

INSTANTIATE_TEST_SUITE_P(Sources, HDRSourceTest, ::testing::ValuesIn(sources),
                         [](const ::testing::TestParamInfo<HDRSource>& row) { return row.param.name; });

}  // namespace
}  // namespace quorlin
