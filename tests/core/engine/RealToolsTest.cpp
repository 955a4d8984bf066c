// The scoring invariant with the real codec tools of this system: whatever the
// kind of source, a truly lossless encode scores 100 (at least 99.99 when the
// decoded pixels are not bit-identical to "source.png") and a default lossy
// encode scores between 30 and 100. Each source kind is made here with libvips.
#include <gtest/gtest.h>
#include <vips/vips8>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "EngineHarness.h"
#include "core/common/CompressionError.h"
#include "core/engine/CoreBudget.h"
#include "core/engine/PNGColour.h"
#include "core/engine/PanelRunner.h"
#include "core/engine/SourceMetadata.h"
#include "core/tools/ToolThreadFlags.h"
#include "core/tools/ToolVersionRules.h"
#include "core/tools/ToolVersionRules.h"  // findTool
#include "support/TestImages.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using vips::VImage;
using C = CompressionCodec;

const fs::path cups = fs::path(QUORLIN_SOURCE_DIR) / "samples" / "colorful-cups.jpg";

// The sample photograph at 128 x 80 without its profile.
VImage photo() {
  VImage image = VImage::thumbnail(cups.c_str(), 128).copy_memory();
  vips_image_remove(image.get_image(), VIPS_META_ICC_NAME);
  return image;
}

// The photograph with a ramp from transparent to opaque across it.
VImage withAlphaRamp(const VImage& image) {
  return image.bandjoin((VImage::xyz(128, 80).extract_band(0) * (255.0 / 127)).cast(VIPS_FORMAT_UCHAR));
}

std::vector<std::uint8_t> bigEndian(std::initializer_list<std::uint32_t> values) {
  std::vector<std::uint8_t> bytes;
  for (std::uint32_t value : values) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  }
  return bytes;
}

struct SourceKind {
  std::string name;
  std::function<fs::path(const fs::path& directory)> make;
};

void PrintTo(const SourceKind& kind, std::ostream* out) { *out << kind.name; }

// Saves by extension; `options` go to the saver.
fs::path save(const VImage& image, const fs::path& file, vips::VOption* options = nullptr) {
  image.write_to_file(file.c_str(), options);
  return file;
}

std::vector<SourceKind> sourceKinds() {
  std::vector<SourceKind> kinds = {
      {"PNG8Untagged", [](const fs::path& d) { return save(photo(), d / "plain.png"); }},
      {"PNG8GammaChromaticities",
       [](const fs::path& d) {
         // What ImageMagick writes by default: gamma 1/2.2 and the sRGB primaries.
         fs::path f = save(photo(), d / "gamma.png");
         insertPNGChunk(f, "cHRM", bigEndian({31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000}));
         insertPNGChunk(f, "gAMA", bigEndian({45455}));
         return f;
       }},
      // The sample keeps its own lcms-made sRGB profile.
      {"PNG8SRGBLikeICC", [](const fs::path& d) { return save(VImage::thumbnail(cups.c_str(), 128), d / "tagged.png"); }},
      {"PNG8DisplayP3ICC",
       [](const fs::path& d) {
         VImage wide = photo().copy();
         const auto& icc = ColorSpace::wellKnown(ColorSpace::WellKnown::displayP3)->iccProfile();
         vips_image_set_blob_copy(wide.get_image(), VIPS_META_ICC_NAME, icc.data(), icc.size());
         return save(wide, d / "wide.png");
       }},
      {"PNG16",
       [](const fs::path& d) {
         // Real 16-bit content: the low byte varies too.
         VImage xyz = VImage::xyz(128, 80);
         VImage wide = photo().cast(VIPS_FORMAT_USHORT) * 256 + (xyz[0] * 37 + xyz[1] * 11) % 256;
         return save(wide.cast(VIPS_FORMAT_USHORT).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16)),
                     d / "deep.png", VImage::option()->set("bitdepth", 16));
       }},
      {"Grey", [](const fs::path& d) { return save(photo().colourspace(VIPS_INTERPRETATION_B_W), d / "grey.png"); }},
      {"GreyAlpha",
       [](const fs::path& d) { return save(withAlphaRamp(photo().colourspace(VIPS_INTERPRETATION_B_W)), d / "ga.png"); }},
      {"RGBA", [](const fs::path& d) { return save(withAlphaRamp(photo()), d / "cutout.png"); }},
      {"PaletteWithTransparency", [](const fs::path& d) {
         return save(withAlphaRamp(photo()), d / "palette.png", VImage::option()->set("palette", true)); }},
      {"CMYKJPEG", [](const fs::path& d) {
         return save(photo().icc_export(VImage::option()->set("output_profile", "cmyk")), d / "print.jpg",
                     VImage::option()->set("Q", 92)); }},
      {"TIFF", [](const fs::path& d) { return save(photo(), d / "scan.tif"); }},
  };
  for (int orientation = 1; orientation <= 8; ++orientation) {
    kinds.push_back({"JPEGOrientation" + std::to_string(orientation), [orientation](const fs::path& d) {
                       VImage image = photo().copy();
                       image.set(VIPS_META_ORIENTATION, orientation);
                       return save(image, d / ("turned" + std::to_string(orientation) + ".jpg"),
                                   VImage::option()->set("Q", 92));
                     }});
  }
  return kinds;
}

struct Encode {
  std::string label;
  CodecPanel panel;
  std::vector<std::string_view> tools;
  bool isLossless = false;
  bool keepsAlpha = true;
};

CodecPanel makePanel(C codec, int quality = 85, int effort = 5, const std::function<void(CodecPanel&)>& set = nullptr) {
  CodecPanel p;
  std::tie(p.codec, p.quality, p.effort) = std::tuple(codec, quality, effort);
  if (set) set(p);
  return p;
}

std::vector<Encode> encodes() {
  return {
      {"JXL d0", makePanel(C::jpegXL, 85, 7, [](CodecPanel& p) { p.distance = 0; }), {"cjxl", "djxl"}, true},
      {"WebP lossless", makePanel(C::webP, 85, 5, [](CodecPanel& p) { p.isWebPLossless = true; }), {"cwebp", "dwebp"}, true},
      {"AVIF lossless", makePanel(C::avif, 79, 6, [](CodecPanel& p) { p.isAVIFLossless = true; }), {"avifenc", "avifdec"},
       true},
      {"JXL", makePanel(C::jpegXL, 85, 7), {"cjxl", "djxl"}},
      {"AVIF", makePanel(C::avif, 79, 6), {"avifenc", "avifdec"}},
      {"WebP", makePanel(C::webP, 85, 5), {"cwebp", "dwebp"}},
      {"HEIF libheif", makePanel(C::heifLibheif, 85, 5), {"heif-enc", "heif-dec"}},
      {"AVIF libheif", makePanel(C::avifLibheif, 85, 5), {"heif-enc", "heif-dec"}},
      {"libjpeg-turbo", makePanel(C::jpegTurbo, 85, 5), {"cjpeg"}, false, false},
      {"HEIF system", makePanel(C::heif, 85, 5), {}},
      {"JPEG system", makePanel(C::jpeg, 85, 5), {}, false, false},
  };
}

// The samples of a PNG as 16-bit RGBA (grey repeated, opaque alpha added).
VImage asRGBA16(const fs::path& file) {
  VImage image = VImage::new_from_file(file.c_str());
  if (image.format() == VIPS_FORMAT_UCHAR) image = image.cast(VIPS_FORMAT_USHORT) * 257;
  if (image.bands() <= 2) {
    VImage rgb = VImage::bandjoin({image[0], image[0], image[0]});
    image = image.bands() == 2 ? rgb.bandjoin(image[1]) : rgb;
  }
  if (image.bands() == 3) image = image.bandjoin_const({65535});
  return image.cast(VIPS_FORMAT_USHORT);
}

bool sameSamples(const fs::path& a, const fs::path& b) {
  VImage first = asRGBA16(a), second = asRGBA16(b);
  return first.width() == second.width() && first.height() == second.height() && (first - second).abs().max() == 0;
}

class ScoreInvariantTest : public ::testing::TestWithParam<SourceKind> {
 protected:
  bool installed(std::initializer_list<std::string_view> tools) {
    for (std::string_view tool : tools) {
      if (!findTool(tool, harness.searchPath.toolSearchDirectories())) return false;
    }
    return true;
  }
  test::EngineHarness harness{test::ToolSet::installed};
};

TEST_P(ScoreInvariantTest, LosslessScoresOneHundredAndLossyScoresInRange) {
  if (!installed({"ssimulacra2"})) GTEST_SKIP() << "ssimulacra2 is missing";
  PreparedCompressionSource source = harness.prepare(GetParam().make(harness.scratch.path()));
  const test::PNGHeader prepared = test::readPNGHeader(source.preparedURL);
  const bool preparedIsEightBit = prepared.bitDepth == 8;
  const bool hasTransparency = prepared.colorType == 6;
  const std::vector<Encode> all = encodes();
  std::atomic<std::size_t> next{0};
  std::mutex failures;
  auto work = [&] {
    for (std::size_t i = next++; i < all.size(); i = next++) {
      const Encode& encode = all[i];
      bool present = true;
      for (std::string_view tool : encode.tools) present = present && installed({tool});
      if (!present) continue;
      // Only JPEG XL keeps more than 8 bits losslessly; WebP holds 8, AVIF 12.
      const bool trulyLossless = encode.isLossless && (preparedIsEightBit || encode.panel.codec == C::jpegXL);
      try {
        CompressionResult result = runPanel(encode.panel, source, harness.context());
        const double score = result.ssimulacra2Score;
        const bool exact = sameSamples(source.preparedURL, result.decodedURL);
        std::lock_guard lock(failures);
        if (trulyLossless) {
          EXPECT_GE(score, 99.99) << encode.label;
          if (exact) {
            EXPECT_EQ(score, 100.0) << encode.label << " is bit-exact";
          }
        } else if (encode.keepsAlpha || !hasTransparency) {
          // (A JPEG cannot hold transparency: its score says so, whatever it is.)
          EXPECT_GT(score, 30.0) << encode.label << ": " << result.commandLine;
          EXPECT_LE(score, 100.0) << encode.label;
        }
        result.removeWorkDirectory();
      } catch (const CompressionError& error) {
        std::lock_guard lock(failures);
        // heif-enc 1.15 cannot make AVIF from 16-bit input: refused, never run.
        if (encode.panel.codec != C::avifLibheif || preparedIsEightBit ||
            error.message().find("16-bit input") == std::string::npos) {
          ADD_FAILURE() << encode.label << ": " << error.message();
        }
      }
    }
  };
  {
    std::jthread helper(work);
    work();
  }
  source.removeTemporaryDirectory();
}

INSTANTIATE_TEST_SUITE_P(SourceKinds, ScoreInvariantTest, ::testing::ValuesIn(sourceKinds()),
                         [](const ::testing::TestParamInfo<SourceKind>& kind) { return kind.param.name; });

// Whole panel runs with the real codec tools of this system and the project's
// own ssimulacra2 from the build tree, for what the score invariant does not
// cover. Each test skips, saying why, when a tool it needs is not installed.

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    requireTools({"ssimulacra2"});
    if (IsSkipped()) return;
    source = harness.prepare(makePhoto("cups.png"));
  }

  // A small photograph: the sample picture scaled down to 128 x 80.
  fs::path makePhoto(std::string_view name, bool sixteenBit = false) {
    VImage deep = (photo().cast(VIPS_FORMAT_USHORT) * 257).cast(VIPS_FORMAT_USHORT);
    return save(sixteenBit ? deep.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16)) : photo(),
                harness.scratch / name, VImage::option()->set("bitdepth", sixteenBit ? 16 : 8));
  }

  void requireTools(std::initializer_list<std::string_view> tools) {
    for (std::string_view tool : tools) {
      if (!findTool(tool, harness.searchPath.toolSearchDirectories())) {
        GTEST_SKIP() << tool << " is not installed (ssimulacra2 is looked for in " << test::buildDirectory() / "src/metric"
                     << " first)";
      }
    }
  }

  // Runs the panel and checks what every successful result has.
  CompressionResult run(const CodecPanel& panel, const PreparedCompressionSource& runSource) {
    CompressionResult result = runPanel(panel, runSource, harness.context());
    EXPECT_GT(result.encodedSize, 0);
    EXPECT_EQ(result.encodedSize, static_cast<std::int64_t>(fs::file_size(result.encodedURL)));
    EXPECT_EQ(result.decodedImage.displaySize, (PixelSize{128, 80}));
    // A broken pipeline (wrong colours, wrong size) scores far below zero.
    EXPECT_GT(result.ssimulacra2Score, 0.0) << result.commandLine;
    EXPECT_LE(result.ssimulacra2Score, 100.0);
    EXPECT_GT(result.encodeDuration, 0.0);
    EXPECT_GT(result.decodeDuration, 0.0);
    EXPECT_EQ(result.commandLine.find('/'), std::string::npos) << result.commandLine;
    results.push_back(result);
    return result;
  }
  CompressionResult run(const CodecPanel& panel) { return run(panel, source); }

  void TearDown() override {
    for (const auto& result : results) result.removeWorkDirectory();
    if (!source.temporaryDirectory.empty()) {
      EXPECT_TRUE(harness.workDirectories(source).empty());
    }
  }

  test::EngineHarness harness{test::ToolSet::installed};
  PreparedCompressionSource source;
  std::vector<CompressionResult> results;
};

TEST_F(EndToEndTest, JPEGXLTranscodeOfAJPEG) {
  requireTools({"cjxl", "djxl"});
  fs::path jpeg = harness.scratch / "cups.jpg";
  VImage::new_from_file(source.preparedURL.c_str()).jpegsave(jpeg.c_str(), VImage::option()->set("Q", 90));
  auto jpegSource = harness.prepare(jpeg);
  CodecPanel panel = makePanel(CompressionCodec::jpegXL);
  panel.isJPEGLosslessTranscode = true;
  CompressionResult result = run(panel, jpegSource);
  EXPECT_EQ(result.commandLine, "cjxl --lossless_jpeg=1 --effort 5");
  // The transcode keeps the JPEG's pixels, so it scores like the JPEG itself.
  EXPECT_GT(result.ssimulacra2Score, 70.0);
  result.removeWorkDirectory();
  jpegSource.removeTemporaryDirectory();
}

TEST_F(EndToEndTest, LibheifAVIFFromSixteenBitInput) {
  requireTools({"heif-enc", "heif-dec"});
  auto deep = harness.prepare(makePhoto("deep.png", /*sixteenBit=*/true));
  auto version = harness.context().installedVersion("heif-enc");
  CodecPanel panel = makePanel(CompressionCodec::avifLibheif, 70);
  if (!heifEncCanEncode16BitAVIF(version, HEIFDepth::automatic)) {
    try {
      run(panel, deep);
      ADD_FAILURE() << "heif-enc " << version->text() << " was run on 16-bit input";
    } catch (const CompressionError& error) {
      EXPECT_EQ(error.message(), "heif-enc " + version->text() +
                                     " cannot encode 16-bit input as AVIF at this bit depth. Choose Bit Depth 12 or "
                                     "install a newer libheif.");
    }
  }
  panel.heifBitDepth = HEIFDepth::twelve;
  CompressionResult result = run(panel, deep);
  EXPECT_EQ(result.commandLine, "heif-enc --avif -q 70 -b 12");
  result.removeWorkDirectory();
  deep.removeTemporaryDirectory();
}

TEST_F(EndToEndTest, OddSourceNameIsPassedIntactToEveryTool) {
  requireTools({"cwebp", "dwebp", "cjxl", "djxl"});
  fs::path odd = harness.scratch / "it's a \"quoted\" $HOME ünïcode photo.final.png";
  fs::copy_file(source.sourceURL, odd);
  auto oddSource = harness.prepare(odd);
  for (CompressionCodec codec : {CompressionCodec::webP, CompressionCodec::jpegXL}) {
    CompressionResult result = run(makePanel(codec), oddSource);
    EXPECT_EQ(result.encodedURL.filename().string(),
              "it's a \"quoted\" $HOME ünïcode photo.final." + std::string(encodedFileExtension(codec)));
    result.removeWorkDirectory();
  }
  // The console shows the path quoted, as a shell would need it.
  bool sawQuoted = false;
  for (const auto& entry : harness.consoleEntries()) {
    sawQuoted |= entry.commandLine.find("'\\''s a \"quoted\" $HOME ünïcode") != std::string::npos;
  }
  EXPECT_TRUE(sawQuoted);
  oddSource.removeTemporaryDirectory();
}

// HDR sources made with libvips and the real tools: named, carried by the prepared
// PNG, lossless round trips at 100, and the 8-bit SDR encoders refuse.

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
  vips::VImage photo = vips::VImage::thumbnail(cups.c_str(), 64);
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

// The core budget may only change how long a run takes: each codec of the
// catalog, run with the real tools on one small photograph with a budget of
// one thread and of two, must write the same encoded and decoded files, get
// the same score and store the same command. Codecs whose tools are missing
// or refused by the installed release are skipped.

class ThreadCountTest : public ::testing::TestWithParam<CompressionCodec> {
 protected:
  // The console line of the latest run of `tool`.
  std::string latestCommand(std::string_view tool) {
    auto entries = harness.consoleEntries();
    auto found = std::find_if(entries.rbegin(), entries.rend(), [&](const CommandConsoleEntry& entry) {
      return entry.commandLine.starts_with(std::string(tool) + " ");
    });
    return found == entries.rend() ? std::string() : found->commandLine;
  }

  test::EngineHarness harness{test::ToolSet::installed};
};

TEST_P(ThreadCountTest, OneThreadAndTwoGiveTheSameBytesScoreAndCommand) {
  const CompressionCodec codec = GetParam();
  const CodecInfo& info = codecInfo(codec);
  for (std::string_view tool : {info.encoderTool, info.decoderTool, std::string_view("ssimulacra2")}) {
    if (!tool.empty() && !findTool(tool, harness.searchPath.toolSearchDirectories())) {
      GTEST_SKIP() << tool << " is not installed";
    }
  }
  // 256 pixels wide: at 128, avifenc's one-job and two-job files are still alike.
  fs::path photo = harness.scratch / "cups.png";
  vips::VImage::thumbnail(cups.c_str(), 256)
      .pngsave(photo.c_str());
  PreparedCompressionSource source = harness.prepare(photo);

  CodecPanel panel = makePanel(codec, 80);
  CoreBudget budget(2);
  EngineContext context = harness.context();
  context.budget = &budget;

  std::optional<CompressionResult> results[2];
  for (int threads : {1, 2}) {
    budget.setThreadsPerPass(threads);
    try {
      results[threads - 1] = runPanel(panel, source, context);
    } catch (const CompressionError& error) {
      if (error.kind() != CompressionError::Kind::unsupportedByTool) throw;
      GTEST_SKIP() << error.message();
    }
    if (!info.encoderTool.empty()) {
      // The console shows the flag the encoder really got.
      std::string expected = std::string(info.encoderTool);
      for (const auto& argument : threadArguments(info.encoderTool, threads, codec)) expected += " " + argument;
      EXPECT_TRUE(latestCommand(info.encoderTool).starts_with(expected + " ")) << latestCommand(info.encoderTool);
    }
  }
  const CompressionResult& one = *results[0];
  const CompressionResult& two = *results[1];
  // Compared whole, reported by size: a dump of two binary files helps nobody.
  auto expectSameBytes = [](const fs::path& a, const fs::path& b) {
    EXPECT_TRUE(test::readTextFile(a) == test::readTextFile(b))
        << a.filename() << " differs: " << fs::file_size(a) << " bytes with one thread, " << fs::file_size(b)
        << " with two";
  };
  expectSameBytes(one.encodedURL, two.encodedURL);
  expectSameBytes(one.decodedURL, two.decodedURL);
  EXPECT_EQ(one.ssimulacra2Score, two.ssimulacra2Score);
  // The stored command is the result's settings only.
  EXPECT_EQ(one.commandLine, two.commandLine);
  const auto flag = threadArguments(info.encoderTool, 2, codec);
  std::istringstream words(two.commandLine);
  for (std::string word; words >> word;) {
    EXPECT_TRUE(flag.empty() || word != flag.front()) << two.commandLine;
  }
  one.removeWorkDirectory();
  two.removeWorkDirectory();
}

INSTANTIATE_TEST_SUITE_P(EveryCodec, ThreadCountTest, ::testing::ValuesIn(allCompressionCodecs()),
                         [](const ::testing::TestParamInfo<CompressionCodec>& codecParameter) {
                           std::string name;
                           for (char c : rawValue(codecParameter.param)) {
                             if (std::isalnum(static_cast<unsigned char>(c))) name += c;
                           }
                           return name;
                         });

TEST(CoreBudgetTest, AutoIsTheHardwareAndAChosenCountReplacesIt) {
  CoreBudget budget(8);
  EXPECT_EQ(budget.totalThreads(), 8);
  budget.setThreadsPerPass(3);
  EXPECT_EQ(budget.totalThreads(), 3);
  budget.setThreadsPerPass(0);
  EXPECT_EQ(budget.totalThreads(), 8) << "counts below one are Auto";
  budget.setThreadsPerPass(12);
  budget.setThreadsPerPass(std::nullopt);
  EXPECT_EQ(budget.totalThreads(), 8);
  EXPECT_EQ(CoreBudget(0).totalThreads(), 1);
  EXPECT_GE(CoreBudget::availableHardwareThreads(), 1);
}

TEST(CoreBudgetTest, EachToolGetsTheTotalDividedAmongTheRunningPanelsRoundedDownButAtLeastOne) {
  CoreBudget budget(8);
  EXPECT_EQ(budget.threadsPerTool(), 8) << "a run outside any counted panel";
  std::vector<CoreBudget::RunningPanel> panels;
  // 8 / 1, 8 / 2, 8 / 3 = 2.67, 8 / 4; then more panels than threads.
  const int expected[] = {8, 4, 2, 2, 1, 1, 1, 1, 1};
  for (int share : expected) {
    panels.push_back(budget.panelStarted());
    EXPECT_EQ(budget.threadsPerTool(), share) << panels.size() << " running";
  }
  // As panels finish, the ones still running get more; a moved-from panel counts nothing.
  while (panels.size() > 1) panels.pop_back();
  EXPECT_EQ(budget.runningPanels(), 1);
  CoreBudget::RunningPanel moved = std::move(panels.front());
  panels.clear();
  EXPECT_EQ(budget.runningPanels(), 1);
  budget.setThreadsPerPass(2);
  EXPECT_EQ(budget.threadsPerTool(), 2);
}

}  // namespace
}  // namespace quorlin
