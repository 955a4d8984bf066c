// Whole panel runs with the real codec tools of this system and the project's
// own ssimulacra2 from the build tree, for what the score invariant does not
// cover. Each test skips, saying why, when a tool it needs is not installed.
#include <gtest/gtest.h>
#include <vips/vips8>


#include "EngineHarness.h"
#include "core/common/CompressionError.h"
#include "core/engine/PanelRunner.h"
#include "core/engine/VipsRuntime.h"
#include "core/tools/ToolVersionRules.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using vips::VImage;

CodecPanel panelFor(CompressionCodec codec, int quality = 85) {
  CodecPanel panel;
  panel.codec = codec;
  panel.quality = quality;
  panel.effort = codec == CompressionCodec::webP ? 4 : 5;
  return panel;
}

class EndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    requireTools({"ssimulacra2"});
    if (IsSkipped()) return;
    source = harness.prepare(makePhoto("cups.png"));
  }

  // A small photograph: the sample picture scaled down to 128 x 80.
  fs::path makePhoto(std::string_view name, bool sixteenBit = false) {
    ensureVipsInitialized();
    fs::path sample = fs::path(QUORLIN_SOURCE_DIR) / "samples" / "colorful-cups.jpg";
    VImage photo = VImage::thumbnail(sample.c_str(), 128);
    if (sixteenBit) {
      photo = (photo.cast(VIPS_FORMAT_USHORT) * 257)
                  .cast(VIPS_FORMAT_USHORT)
                  .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
    }
    fs::path file = harness.scratch / name;
    photo.pngsave(file.c_str(), VImage::option()->set("bitdepth", sixteenBit ? 16 : 8));
    return file;
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
  ensureVipsInitialized();
  fs::path jpeg = harness.scratch / "cups.jpg";
  VImage::new_from_file(source.preparedURL.c_str()).jpegsave(jpeg.c_str(), VImage::option()->set("Q", 90));
  auto jpegSource = harness.prepare(jpeg);
  CodecPanel panel = panelFor(CompressionCodec::jpegXL);
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
  CodecPanel panel = panelFor(CompressionCodec::avifLibheif, 70);
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
    CompressionResult result = run(panelFor(codec), oddSource);
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

}  // namespace
}  // namespace quorlin
