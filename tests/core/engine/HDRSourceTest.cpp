// HDR sources made with libvips and the real tools: named, carried by the prepared
// PNG, lossless round trips at 100, and the 8-bit SDR encoders refuse.
#include <gtest/gtest.h>
#include <vips/vips8>

#include "EngineHarness.h"
#include "core/common/CompressionError.h"
#include "core/engine/PNGColour.h"
#include "core/engine/PanelRunner.h"
#include "core/engine/SourceMetadata.h"
#include "core/engine/VipsRuntime.h"
#include "core/tools/ToolVersionRules.h"  // findTool
#include "support/TestImages.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using K = ColorSpace::WellKnown;

// format: "avif" (12-bit), "png", "jxl" or "tif" (float); cicp: avifenc --cicp, the cICP transfer, or cjxl's colour space.
struct HDRSource {
  std::string name, format;
  K profile;  // of the PNG made into the source
  std::string cicp, expectedName;
  K expectedKind;
  std::optional<double> expectedHeadroom;  // HDR rows only
};

// A 16-bit crop of the sample photograph with a ramp in the low byte, made into the row's file.
fs::path make(const HDRSource& row, test::EngineHarness& h) {
  const fs::path sample = fs::path(QUORLIN_SOURCE_DIR) / "samples" / "colorful-cups.jpg";
  vips::VImage photo = vips::VImage::thumbnail(sample.c_str(), 64);
  vips::VImage wide = (photo.cast(VIPS_FORMAT_USHORT) * 256 + vips::VImage::xyz(photo.width(), photo.height())[0] * 3)
                          .cast(VIPS_FORMAT_USHORT);
  vips_image_remove(wide.get_image(), VIPS_META_ICC_NAME);
  if (row.profile != K::none) {
    const auto& icc = ColorSpace::wellKnown(row.profile)->iccProfile();
    vips_image_set_blob_copy(wide.get_image(), VIPS_META_ICC_NAME, icc.data(), icc.size());
  }
  const fs::path png = h.scratch / "base.png", out = h.scratch / ("source." + row.format);
  wide.pngsave(png.c_str(), vips::VImage::option()->set("bitdepth", 16));
  if (row.format == "png") {
    insertPNGChunk(png, "cICP", {9, static_cast<std::uint8_t>(std::stoi(row.cicp)), 0, 1});
    return png;
  }
  if (row.format == "tif") {  // linear light up to 4 x reference white
    vips::VImage linear = vips::VImage::new_from_file(png.c_str()).cast(VIPS_FORMAT_FLOAT);
    linear = linear * (4.0 / linear.max());
    linear.copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_scRGB)).tiffsave(out.c_str());
  }
  if (row.format == "avif") h.runner.runTool("avifenc", {"-l", "-d", "12", "--cicp", row.cicp, png, out});
  if (row.format == "jxl") {
    h.runner.runTool("cjxl", {"-d", "0", "-x", "color_space=" + row.cicp, "--intensity_target=1000", png, out});
  }
  return out;
}

const double pq = 10000.0 / 203.0;
const HDRSource sources[] = {
    {"PQAVIF", "avif", K::none, "9/16/0", "ITU-R BT.2100 PQ", K::bt2100PQ, pq},
    {"PQAVIFWithICC", "avif", K::bt2100PQ, "9/16/0", "ITU-R BT.2100 PQ", K::bt2100PQ, pq},
    {"P3ICCWinsOverPQNCLX", "avif", K::displayP3, "9/16/0", "Display P3", K::displayP3, std::nullopt},
    {"HLGAVIF", "avif", K::none, "9/18/0", "ITU-R BT.2100 HLG", K::bt2100HLG, 1000.0 / 203.0},
    {"PQPNGWithCICP", "png", K::none, "16", "ITU-R BT.2100 PQ", K::bt2100PQ, pq},
    {"FloatTIFFAboveWhite", "tif", K::none, "", "Linear sRGB", K::bt2100PQ, 4.0},
    {"PQJPEGXL", "jxl", K::none, "RGB_D65_202_Rel_PeQ", "ITU-R BT.2100 PQ", K::bt2100PQ, 10.0},
};

// Every catalog codec at its most faithful setting: the least score of a carried HDR source, or the
// start of its refusal. heif-enc 1.15 -L is not lossless at 16 bits (4:2:0, 10 bits: about -65 on this
// small crop, as at -b 12 -q 100), a PQ source read in the wrong scale scores below -250.
struct CodecExpectation {
  CompressionCodec codec;
  double minimumScore;
  std::string refusal;  // " cannot encode HDR (PQ) images: ..." follows a leading tool name
};
using C = CompressionCodec;
const CodecExpectation codecs[] = {  // AVIF: 99.99 from a 12-bit AVIF, 16 bits are cut to 12 otherwise
    {C::jpegXL, 99.99, ""}, {C::avif, 98.5, ""}, {C::webP, 0, "cwebp:WebP is 8-bit SDR."},
    {C::jpegli, 99, ""},  // not packaged in Debian 12: unmeasured
    {C::heifLibheif, -80, ""}, {C::avifLibheif, -80, ""},
    {C::jpeg2000Libheif, 0, "heif-enc 1.15.1 cannot encode JPEG 2000."},  // its own older-tool row
    {C::heif, 45, ""},  // libvips heifsave at Q 100: 10 bits
    {C::jpegTurbo, 0, "cjpeg:JPEG is 8-bit SDR."}, {C::jpeg, 0, "JPEG (System):JPEG is 8-bit SDR."},
};

class HDRSourceTest : public ::testing::TestWithParam<HDRSource> {
 protected:
  void SetUp() override {
    ensureVipsInitialized();
    for (const char* tool : {"ssimulacra2", "cjxl", "djxl", "avifenc", "avifdec"})
      if (!findTool(tool, harness.searchPath.toolSearchDirectories())) GTEST_SKIP() << tool << " is missing";
  }
  test::EngineHarness harness{test::ToolSet::installed};
};

TEST_P(HDRSourceTest, IsNamedCarriedAndScoredOrRefused) {
  const HDRSource& row = GetParam();
  const fs::path file = make(row, harness);
  const SourceImageMetadata metadata = readSourceImageMetadata(file, {});
  EXPECT_EQ(metadata.colorProfileName, row.expectedName);
  EXPECT_NEAR(metadata.contentHeadroom.value_or(0), row.expectedHeadroom.value_or(0), 0.01);
  PreparedCompressionSource source = harness.prepare(file);
  const auto chunks = test::pngChunkTypes(source.preparedURL);
  const bool isHDR = row.expectedHeadroom.has_value();
  EXPECT_EQ(test::readPNGHeader(source.preparedURL).bitDepth, 16);
  EXPECT_EQ(std::count(chunks.begin(), chunks.end(), "cICP"), isHDR ? 1 : 0);
  EXPECT_EQ(std::count(chunks.begin(), chunks.end(), "iCCP"), 1);  // for readers without cICP
  auto prepared = readPNGColourDescription(source.preparedURL);
  ASSERT_EQ(prepared && prepared->colorSpace ? prepared->colorSpace->kind() : K::none, row.expectedKind);
  const std::string transfer = isHDR ? std::string(prepared->colorSpace->transferName()) : "";
  for (C codec : allCompressionCodecs()) {
    const auto expected = std::find_if(std::begin(codecs), std::end(codecs), [&](auto& c) { return c.codec == codec; });
    ASSERT_NE(expected, std::end(codecs)) << rawValue(codec) << " has no HDR expectation";
    const std::string_view tool = codecInfo(codec).encoderTool;
    if ((!tool.empty() && !findTool(tool, harness.searchPath.toolSearchDirectories())) ||
        (!isHDR && expected->minimumScore < 99.99))
      continue;
    std::string refusal = expected->refusal;
    if (auto colon = refusal.find(':'); colon != std::string::npos)
      refusal.replace(colon, 1, " cannot encode HDR (" + transfer + ") images: ");
    CodecPanel panel;
    std::tie(panel.codec, panel.distance, panel.quality, panel.isAVIFLossless) = std::tuple(codec, 0.0, 100, true);
    panel.isHEIFLossless = codec == C::heifLibheif;
    if (codec == C::avifLibheif) panel.heifBitDepth = HEIFDepth::twelve;
    try {
      CompressionResult result = runPanel(panel, source, harness.context());
      EXPECT_TRUE(refusal.empty()) << result.commandLine;
      const bool fromAVIF = codec == C::avif && row.format == "avif";
      EXPECT_GE(result.ssimulacra2Score, fromAVIF ? 99.99 : expected->minimumScore) << result.commandLine;
      result.removeWorkDirectory();
    } catch (const CompressionError& error) {
      EXPECT_TRUE(!refusal.empty() && error.message().starts_with(refusal)) << error.message();
    }
  }
  EXPECT_TRUE(harness.workDirectories(source).empty());
}

INSTANTIATE_TEST_SUITE_P(Sources, HDRSourceTest, ::testing::ValuesIn(sources),
                         [](const ::testing::TestParamInfo<HDRSource>& row) { return row.param.name; });

}  // namespace
}  // namespace quorlin
