#include "core/engine/PanelRunner.h"

#include <gtest/gtest.h>

#include "EngineHarness.h"
#include "core/common/CompressionError.h"
#include "core/engine/PNGColour.h"
#include "support/TestImages.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using Arguments = std::vector<std::string>;

fs::path fixture(std::string_view name) {
  return fs::path(QUORLIN_SOURCE_DIR) / "tests" / "core" / "engine" / "fixtures" / name;
}

CodecPanel panelFor(CompressionCodec codec) {
  CodecPanel panel;
  panel.codec = codec;
  return panel;
}

class PanelRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override { source = harness.prepare(harness.makeSource("photo.png")); }

  test::EngineHarness harness;
  PreparedCompressionSource source;
};

TEST_F(PanelRunnerTest, WebPRunMakesACompleteResultWithoutDescription) {
  harness.recordingEncoder("cwebp");
  harness.recordingDecoder("dwebp");
  harness.recordingToolPrinting("jxlinfo", "JPEG XL image, 16x16, lossy, 8-bit RGB");
  harness.fakeScorer("85.3");
  CodecPanel panel = panelFor(CompressionCodec::webP);
  panel.quality = 72;

  CompressionResult result = runPanel(panel, source, harness.context());
  EXPECT_EQ(result.encodedURL, result.workDirectory / "photo.webp");
  EXPECT_EQ(result.decodedURL, result.workDirectory / "photo-decoded.png");
  EXPECT_EQ(result.encodedSize, static_cast<std::int64_t>(fs::file_size(harness.sample("sample.webp"))));
  EXPECT_DOUBLE_EQ(result.ssimulacra2Score, 85.3);
  EXPECT_EQ(result.commandLine, "cwebp -q 72 -m 7 -metadata all");
  EXPECT_EQ(result.settingsSignature, panel.settingsSignature());
  EXPECT_TRUE(result.encodedMetadataLines.empty());
  ASSERT_TRUE(result.decodedImage.image);
  EXPECT_EQ(result.decodedImage.displaySize, (PixelSize{16, 16}));

  EXPECT_EQ(harness.recordedArguments("dwebp"),
            (Arguments{result.encodedURL.string(), "-o", result.decodedURL.string()}));
  // Scored against the prepared PNG, never the user's file.
  EXPECT_EQ(harness.recordedArguments("ssimulacra2"),
            (Arguments{"--map", (result.workDirectory / "photo-error-map.pfm").string(), source.preparedURL.string(),
                       result.decodedURL.string()}));
  EXPECT_FALSE(harness.hasRun("jxlinfo"));

  auto entries = harness.consoleEntries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_TRUE(entries[0].commandLine.starts_with("cwebp -q 72"));
  EXPECT_TRUE(entries[1].commandLine.starts_with("dwebp "));
  EXPECT_TRUE(entries[2].commandLine.starts_with("ssimulacra2 "));
  result.removeWorkDirectory();
  EXPECT_TRUE(harness.workDirectories(source).empty());
}

// One colour rule for display and score: a decoded PNG that says nothing
// about its colours gets the source's profile (pixels untouched); one with
// its own description, or any result of an untagged source, stays as it is.
TEST_F(PanelRunnerTest, DecodedPNGWithoutColourInformationIsGivenTheSourceProfile) {
  const auto& p3 = ColorSpace::wellKnown(ColorSpace::WellKnown::displayP3)->iccProfile();
  vips::VImage wide = test::makeTestPicture(16, 16).copy();
  vips_image_set_blob_copy(wide.get_image(), VIPS_META_ICC_NAME, p3.data(), p3.size());
  wide.pngsave((harness.scratch / "wide.png").c_str());
  const fs::path ownProfile = harness.scratch / "own.png";
  insertPNGChunk(harness.sample("decoded.png"), "sRGB", {0});
  fs::copy_file(harness.sample("decoded.png"), ownProfile);
  auto wideSource = harness.prepare(harness.scratch / "wide.png");
  harness.recordingEncoder("cwebp");
  harness.recordingEncoder("cjxl");
  harness.fakeScorer("99.5");

  // dwebp drops the profile: its PNG says nothing about colours.
  const fs::path untagged = harness.scratch / "untagged.png";
  test::makeTestPicture(16, 16).pngsave(untagged.c_str());
  harness.recordingDecoder("dwebp", {}, untagged);
  CompressionResult tagged = runPanel(panelFor(CompressionCodec::webP), wideSource, harness.context());
  EXPECT_TRUE(tagged.scoredWithSourceProfile);
  auto colour = readPNGColourDescription(tagged.decodedURL);
  ASSERT_TRUE(colour && colour->isICCProfile);
  EXPECT_EQ(colour->colorSpace->iccProfile(), p3);
  EXPECT_EQ(test::decodedSamples(tagged.decodedURL), test::decodedSamples(untagged));
  EXPECT_EQ(tagged.decodedImage.image->colorSpace()->name(), "Display P3");
  // The console shows the step between decoding and scoring.
  auto entries = harness.consoleEntries();
  ASSERT_GE(entries.size(), 4u);
  EXPECT_TRUE(entries[1].commandLine.starts_with("dwebp "));
  EXPECT_EQ(entries[2].commandLine, "Tag wide-decoded.png with the source's profile");
  EXPECT_NE(entries[2].output.find("Display P3"), std::string::npos);
  EXPECT_TRUE(entries[3].commandLine.starts_with("ssimulacra2 "));

  harness.recordingDecoder("djxl", {}, ownProfile);
  CompressionResult own = runPanel(panelFor(CompressionCodec::jpegXL), wideSource, harness.context());
  EXPECT_FALSE(own.scoredWithSourceProfile);
  EXPECT_EQ(test::pngChunkTypes(own.decodedURL), test::pngChunkTypes(ownProfile));

  harness.recordingDecoder("dwebp", {}, untagged);
  CompressionResult plain = runPanel(panelFor(CompressionCodec::webP), source, harness.context());
  EXPECT_FALSE(plain.scoredWithSourceProfile);
  EXPECT_EQ(test::pngChunkTypes(plain.decodedURL), test::pngChunkTypes(untagged));
  for (const auto* result : {&tagged, &own, &plain}) result->removeWorkDirectory();
  wideSource.removeTemporaryDirectory();
}

// The map stays with the result; a scorer that does not know --map is asked
// again for the score alone.
TEST_F(PanelRunnerTest, TheErrorMapIsKeptWithTheResultOrLeftOutByAScorerWithoutIt) {
  harness.recordingEncoder("cwebp");
  harness.recordingDecoder("dwebp");
  harness.tool("ssimulacra2", "if [ \"$1\" = --map ]; then printf map > \"$2\"; fi\necho 85.5");
  CompressionResult mapped = runPanel(panelFor(CompressionCodec::webP), source, harness.context());
  ASSERT_TRUE(mapped.errorMapURL);
  EXPECT_EQ(*mapped.errorMapURL, mapped.workDirectory / "photo-error-map.pfm");
  EXPECT_EQ(test::readTextFile(*mapped.errorMapURL), "map");
  mapped.removeWorkDirectory();
  EXPECT_FALSE(fs::exists(*mapped.errorMapURL));

  harness.tool("ssimulacra2",
               "if [ \"$1\" = --map ]; then echo 'Usage: ssimulacra2 orig.png distorted.png' >&2; exit 1; fi\n"
               "echo 71.25");
  CompressionResult unmapped = runPanel(panelFor(CompressionCodec::webP), source, harness.context());
  EXPECT_DOUBLE_EQ(unmapped.ssimulacra2Score, 71.25);
  EXPECT_FALSE(unmapped.errorMapURL);
  unmapped.removeWorkDirectory();
}

// ---- Descriptions --------------------------------------------------------------

// Without jxlinfo, or with a failing one, the result is shown in the source's
// space; with an HDR description, in PQ with its headroom.
TEST_F(PanelRunnerTest, JPEGXLIsShownAsJxlinfoDescribesIt) {
  harness.recordingEncoder("cjxl");
  harness.recordingDecoder("djxl");
  harness.fakeScorer("-12.5");
  for (const char* jxlinfo : {"", "echo 'Error reading file' >&2\nexit 1"}) {
    if (*jxlinfo) harness.tool("jxlinfo", jxlinfo);
    harness.executables.invalidate();  // the lookup remembers the earlier miss
    CompressionResult result = runPanel(panelFor(CompressionCodec::jpegXL), source, harness.context());
    EXPECT_EQ(result.decodedImage.image->colorSpace(), source.displayMetadata.colorSpace);
    EXPECT_FALSE(result.decodedImage.contentHeadroom);
    EXPECT_TRUE(result.encodedMetadataLines.empty());
    result.removeWorkDirectory();
  }
  EXPECT_EQ(harness.consoleEntries().size(), 3u + 4u);  // the second run's jxlinfo was logged
  harness.recordingToolPrinting("jxlinfo", test::readTextFile(fixture("jxlinfo-0.7-pq-intensity-10000.txt")));
  CompressionResult result = runPanel(panelFor(CompressionCodec::jpegXL), source, harness.context());
  EXPECT_EQ(harness.recordedArguments("jxlinfo"), (Arguments{result.encodedURL.string()}));
  EXPECT_EQ(result.decodedImage.image->colorSpace()->kind(), ColorSpace::WellKnown::bt2100PQ);
  EXPECT_EQ(result.decodedImage.contentHeadroom, 100.0);
  EXPECT_EQ(result.encodedMetadataLines.size(), 6u);
  EXPECT_DOUBLE_EQ(result.ssimulacra2Score, -12.5);
  result.removeWorkDirectory();
}

// The description comes from the decode output; only when that has no details
// is avifdec run once more with "--info", whose failure gives no lines and no error.
TEST_F(PanelRunnerTest, AVIFDescriptionComesFromTheDecodeOutputOrOneInfoRun) {
  harness.recordingEncoder("avifenc");
  harness.recordingDecoder("avifdec", test::readTextFile(fixture("avifdec-0.11-decode.txt")));
  harness.fakeScorer("80");
  CompressionResult result = runPanel(panelFor(CompressionCodec::avif), source, harness.context());
  EXPECT_EQ(result.encodedMetadataLines, (Arguments{"Pixel Depth: 8-bit"}));
  EXPECT_EQ(harness.recordedArguments("avifdec").size(), 2u);
  EXPECT_EQ(harness.consoleEntries().size(), 3u);
  result.removeWorkDirectory();

  fs::path info = harness.scratch / "info.txt";
  test::writeTextFile(info, "Image format: YUV420 (AV1)\n * Bit Depth : 10\n");
  harness.tool("avifdec",
               "printf '%s\\n' \"$@\" >> '" + (harness.logs / "avifdec.calls").string() + "'\n"
               "if [ \"$1\" = --info ]; then cat '" + info.string() + "'; exit 0; fi\n"
               "cp '" + harness.sample("decoded.png").string() + "' \"$2\"\n");
  result = runPanel(panelFor(CompressionCodec::avif), source, harness.context());
  EXPECT_EQ(result.encodedMetadataLines, (Arguments{"Format: YUV420", "Pixel Depth: 10-bit"}));
  EXPECT_EQ(test::readTextFile(harness.logs / "avifdec.calls"),
            result.encodedURL.string() + "\n" + result.decodedURL.string() + "\n--info\n" +
                result.encodedURL.string() + "\n");
  result.removeWorkDirectory();
  harness.tool("avifdec", "if [ \"$1\" = --info ]; then exit 1; fi\ncp '" + harness.sample("decoded.png").string() +
                              "' \"$2\"\n");
  result = runPanel(panelFor(CompressionCodec::avif), source, harness.context());
  EXPECT_TRUE(result.encodedMetadataLines.empty());
  result.removeWorkDirectory();
}

// ---- Every failure leaves nothing behind ------------------------------------------

using H = test::EngineHarness&;
const std::string missingScorer =
    "Missing command-line tool: ssimulacra2. Install it with your package manager (see Required Tools) or add it to "
    "PATH.";

struct FailureRow {
  const char* name;
  CompressionCodec codec;
  void (*arrange)(H);
  std::string message;
};

const FailureRow failureRows[] = {
    {"decoder missing", CompressionCodec::jpegXL, [](H h) { h.recordingEncoder("cjxl"); h.fakeScorer("80"); },
     "Missing command-line tool: djxl. Install it with your package manager (see Required Tools) or add it to PATH."},
    {"decoder exits non-zero", CompressionCodec::jpegXL,
     [](H h) { h.recordingEncoder("cjxl"); h.tool("djxl", "echo 'Failed to decode' >&2\nexit 1"); h.fakeScorer("80"); },
     "djxl failed. Failed to decode"},
    {"decoder exits 0 without output", CompressionCodec::jpegXL,
     [](H h) { h.recordingEncoder("cjxl"); h.recordingToolPrinting("djxl", "Decoded."); h.fakeScorer("80"); },
     "Expected output was not created: photo-decoded.png."},
    {"decoder writes garbage", CompressionCodec::jpegXL,
     [](H h) {
       test::writeTextFile(h.scratch / "garbage.png", "\x89PNG\r\n\x1a\n this is not a picture");
       h.recordingEncoder("cjxl"); h.recordingDecoder("djxl", {}, h.scratch / "garbage.png"); h.fakeScorer("80");
     },
     "Could not read decoded image: photo-decoded.png."},
    {"ssimulacra2 prints no number", CompressionCodec::jpegXL,
     [](H h) { h.recordingEncoder("cjxl"); h.recordingDecoder("djxl"); h.fakeScorer("no score today"); },
     "ssimulacra2 failed. no score today"},
    {"ssimulacra2 fails", CompressionCodec::jpegXL,
     [](H h) {
       h.recordingEncoder("cjxl"); h.recordingDecoder("djxl");
       h.tool("ssimulacra2", "echo 'Image size mismatch.' >&2\nexit 1");
     },
     "ssimulacra2 failed. Image size mismatch."},
    {"ssimulacra2 missing", CompressionCodec::jpegXL, [](H h) { h.recordingEncoder("cjxl"); h.recordingDecoder("djxl"); },
     missingScorer},
    {"no tool at all for an in-process codec", CompressionCodec::jpeg, [](H) {}, missingScorer},
    // cjpeg "succeeds" with a JPEG that ends after its first bytes.
    {"corrupt file for the in-process decoder", CompressionCodec::jpegTurbo,
     [](H h) {
       test::writeTextFile(h.scratch / "cut.jpg", test::readTextFile(h.sample("sample.jpg")).substr(0, 40));
       h.recordingEncoder("cjpeg", {}, "../cut.jpg"); h.fakeScorer("80");
     },
     "Could not read decoded image: photo.jpg."},
    // The user's file went away after preparation; cwebp reads it directly.
    {"source deleted after preparation", CompressionCodec::webP,
     [](H h) {
       h.tool("cwebp", "[ -f \"$7\" ] || { echo \"Could not read input file $7\" >&2; exit 255; }\nexit 9");
       fs::remove(h.scratch / "photo.png");
     },
     "cwebp failed. Could not read input file PHOTO"},
};

TEST(PanelRunnerFailureTest, EveryFailureRowReportsItsMessageAndDeletesTheWorkDirectory) {
  for (const auto& row : failureRows) {
    SCOPED_TRACE(row.name);
    test::EngineHarness harness;
    auto source = harness.prepare(harness.makeSource("photo.png"));
    row.arrange(harness);
    std::string message = row.message;
    if (message.ends_with("PHOTO")) message.replace(message.size() - 5, 5, source.sourceURL.string());
    try {
      runPanel(panelFor(row.codec), source, harness.context());
      ADD_FAILURE() << "the run succeeded";
    } catch (const CompressionError& error) {
      EXPECT_EQ(error.message(), message);
      // libvips' reason, for which the message has no room, gets a failed console entry of its own.
      EXPECT_EQ(error.detail().empty(), error.kind() != CompressionError::Kind::unreadableImage);
      const auto entries = harness.consoleEntries();
      EXPECT_EQ(std::any_of(entries.begin(), entries.end(), [&](const CommandConsoleEntry& entry) {
                  return entry.commandLine == message && entry.output == error.detail() && entry.exitStatus == 1;
                }), !error.detail().empty());
    }
    EXPECT_TRUE(harness.workDirectories(source).empty());
    EXPECT_TRUE(fs::exists(source.preparedURL));  // the pass's source stays
  }
}

}  // namespace
}  // namespace quorlin
