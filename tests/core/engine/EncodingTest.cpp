#include "core/engine/Encoding.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "EngineHarness.h"
#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/common/Uuid.h"
#include "core/tools/EncodedContainer.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using Arguments = std::vector<std::string>;

// The version lines the tools print, current releases and Debian 12's.
constexpr std::string_view avifencCurrent = "Version: 1.1.1 (dav1d [dec]:1.4.3, aom [enc/dec]:3.9.1)";
constexpr std::string_view avifencDebian12 = "Version: 0.11.1 (dav1d [dec]:1.0.0, aom [enc/dec]:v3.6.0)";
constexpr std::string_view heifEncCurrent = "1.19.7";
constexpr std::string_view heifEncDebian12 = "heif-enc: unrecognized option '--version'\n heif-enc  libheif version: 1.15.1";
constexpr std::string_view cjpegCurrent = "libjpeg-turbo version 3.1.0 (build 20241217)";
constexpr std::string_view cjpegDebian12 = "libjpeg-turbo version 2.1.5 (build 20230203)";

CodecPanel panelFor(CompressionCodec codec, int quality = 85, int effort = 7) {
  CodecPanel panel;
  panel.codec = codec;
  panel.quality = quality;
  panel.effort = effort;
  return panel;
}

class EncodingTest : public ::testing::Test {
 protected:
  // Encodes, checks that the work directory holds the encoded file, and removes it.
  EncodeStageResult encode(const CodecPanel& panel, const PreparedCompressionSource& source) {
    EncodeStageResult stage = encodePanel(panel, source, harness.context());
    EXPECT_TRUE(fs::exists(stage.encodedURL));
    directories.push_back(stage.workDirectory);
    return stage;
  }
  CompressionError encodeFailure(const CodecPanel& panel, const PreparedCompressionSource& source) {
    try {
      encode(panel, source);
    } catch (const CompressionError& error) {
      return error;
    }
    ADD_FAILURE() << "the encode succeeded";
    return CompressionError::missingTool("none");
  }

  test::EngineHarness harness;
  std::vector<fs::path> directories;
};

// ---- Work directory and file names ------------------------------------------

TEST_F(EncodingTest, MakesAPrivateUuidDirectoryNamedFilesAndTheSettingsText) {
  harness.recordingEncoder("cjxl");
  auto source = harness.prepare(harness.makeSource("photo.final.png"));
  EncodeStageResult stage = encode(panelFor(CompressionCodec::jpegXL), source);

  EXPECT_EQ(stage.workDirectory.parent_path(), harness.temporaryRoot);
  auto name = stage.workDirectory.filename().string();
  ASSERT_TRUE(Uuid::fromString(name).has_value()) << name;
  EXPECT_EQ(name, Uuid::fromString(name)->uuidString());  // canonical upper case
  struct stat info {};
  ASSERT_EQ(::stat(stage.workDirectory.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(stage.encodedURL, stage.workDirectory / "photo.final.jxl");
  EXPECT_EQ(stage.decodedURL, stage.workDirectory / "photo.final-decoded.png");
  EXPECT_FALSE(fs::exists(stage.decodedURL));
  EXPECT_GE(stage.encodeDuration, 0.0);

  // Default panel 1 with a PNG source: cjxl reads the PNG itself.
  EXPECT_EQ(harness.recordedArguments("cjxl"),
            (Arguments{"--lossless_jpeg=0", "--effort", "7", "--distance", "1", source.sourceURL.string(),
                       stage.encodedURL.string()}));
  EXPECT_EQ(stage.commandLine, "cjxl --lossless_jpeg=0 --effort 7 --distance 1");
}

TEST(EncodedBaseNameTest, DropsOnlyTheLastExtension) {
  EXPECT_EQ(encodedBaseName("/a/photo.final.tiff"), "photo.final");
  EXPECT_EQ(encodedBaseName("/a/photo.png"), "photo");
  EXPECT_EQ(encodedBaseName("/a/README"), "README");
  EXPECT_EQ(encodedBaseName("/a/.hidden"), ".hidden");
}

TEST(SettingsCommandLineTest, LeavesOutPathsAndOutputFlagsAndQuotesTheRest) {
  EXPECT_EQ(settingsCommandLine("cwebp", {"-q", "85", "-m", "5", "-metadata", "all", "/tmp/in put.png", "-o",
                                          "/tmp/W/out.webp"}),
            "cwebp -q 85 -m 5 -metadata all");
  EXPECT_EQ(settingsCommandLine("cjpeg", {"-quality", "85", "-progressive", "-optimize", "-outfile", "/o.jpg",
                                          "/i.ppm"}),
            "cjpeg -quality 85 -progressive -optimize");
  EXPECT_EQ(settingsCommandLine("heif-enc", {"-q", "85", "/i.png", "-o", "/o.heic"}), "heif-enc -q 85");
  // Only absolute paths are left out; anything else holding a space is shown quoted.
  EXPECT_EQ(settingsCommandLine("tool", {"my photo.png", "it's", "plain"}), "tool 'my photo.png' 'it'\\''s' plain");
  EXPECT_EQ(imageIOCommandLine(CompressionCodec::heif, 85), "ImageIO HEIF quality=85");
  EXPECT_EQ(imageIOCommandLine(CompressionCodec::jpeg, 7), "ImageIO JPEG quality=7");
}

// ---- JPEG XL ------------------------------------------------------------------

TEST_F(EncodingTest, JPEGXLTranscodesAJPEGSourceFromTheUsersFileWithoutDistance) {
  harness.recordingEncoder("cjxl");
  auto source = harness.prepare(harness.makeSource("shot.jpg"));
  CodecPanel panel = panelFor(CompressionCodec::jpegXL);
  panel.isJPEGLosslessTranscode = true;
  panel.isJPEGXLProgressive = true;  // not passed when transcoding
  panel.distance = 3;
  EncodeStageResult stage = encode(panel, source);
  EXPECT_EQ(harness.recordedArguments("cjxl"), (Arguments{"--lossless_jpeg=1", "--effort", "7",
                                                          source.sourceURL.string(), stage.encodedURL.string()}));
  EXPECT_EQ(stage.commandLine, "cjxl --lossless_jpeg=1 --effort 7");
}

TEST_F(EncodingTest, JPEGXLTranscodeSwitchWithAPNGSourceEncodesNormally) {
  harness.recordingEncoder("cjxl");
  auto source = harness.prepare(harness.makeSource("art.png"));
  CodecPanel panel = panelFor(CompressionCodec::jpegXL);
  panel.isJPEGLosslessTranscode = true;
  panel.distance = 0;  // mathematically lossless: still a distance, not a flag
  EncodeStageResult stage = encode(panel, source);
  EXPECT_EQ(harness.recordedArguments("cjxl"), (Arguments{"--lossless_jpeg=0", "--effort", "7", "--distance", "0",
                                                          source.sourceURL.string(), stage.encodedURL.string()}));
}

TEST_F(EncodingTest, JPEGXLProgressiveOptionsComeBeforeTheDistanceAndTIFFGoesThroughThePreparedPNG) {
  harness.recordingEncoder("cjxl");
  auto source = harness.prepare(harness.makeSource("scan.tif"));
  CodecPanel panel = panelFor(CompressionCodec::jpegXL, 85, 3);
  panel.isJPEGXLProgressive = true;
  panel.jpegXLGroupOrder = JPEGXLGroupOrder::centerFirst;
  panel.distance = 2.5;
  EncodeStageResult stage = encode(panel, source);
  EXPECT_EQ(harness.recordedArguments("cjxl"),
            (Arguments{"--lossless_jpeg=0", "--effort", "3", "--progressive", "--group_order=1", "--distance", "2.5",
                       source.preparedURL.string(), stage.encodedURL.string()}));
}

// ---- AVIF (avifenc), current release and Debian 12 -----------------------------

TEST_F(EncodingTest, AVIFCurrentReleaseMapsEffortToSpeedAndPassesEveryOption) {
  harness.recordingEncoder("avifenc", avifencCurrent);
  auto source = harness.prepare(harness.makeSource("photo.png"));
  CodecPanel panel = panelFor(CompressionCodec::avif, 79, 10);
  panel.avifDepth = AVIFDepth::ten;
  panel.avifChromaSubsampling = AVIFChromaSubsampling::fourTwoZero;
  panel.isAVIFProgressive = true;
  EncodeStageResult stage = encode(panel, source);
  EXPECT_EQ(harness.recordedArguments("avifenc"),
            (Arguments{"--speed", "0", "--qcolor", "79", "-d", "10", "-y", "420", "--progressive",
                       source.sourceURL.string(), stage.encodedURL.string()}));

  panel = panelFor(CompressionCodec::avif, 79, 0);
  panel.isAVIFLossless = true;
  stage = encode(panel, source);
  EXPECT_EQ(harness.recordedArguments("avifenc"),
            (Arguments{"--speed", "10", "-l", source.sourceURL.string(), stage.encodedURL.string()}));
}

TEST_F(EncodingTest, AVIFOnDebian12PassesTheQuantizerAndShowsWhatRan) {
  harness.recordingEncoder("avifenc", avifencDebian12);
  auto source = harness.prepare(harness.makeSource("photo.png"));
  // Default panel 2: quality 79 is quantizer ((100 - 79) * 63 + 50) / 100 = 13.
  EncodeStageResult stage = encode(panelFor(CompressionCodec::avif, 79, 6), source);
  EXPECT_EQ(harness.recordedArguments("avifenc"),
            (Arguments{"--speed", "4", "--min", "13", "--max", "13", source.sourceURL.string(),
                       stage.encodedURL.string()}));
  EXPECT_EQ(stage.commandLine, "avifenc --speed 4 --min 13 --max 13");
}

TEST_F(EncodingTest, AVIFOnDebian12RefusesProgressiveBeforeRunning) {
  harness.recordingEncoder("avifenc", avifencDebian12);
  auto source = harness.prepare(harness.makeSource("photo.png"));
  CodecPanel panel = panelFor(CompressionCodec::avif, 79, 6);
  panel.isAVIFProgressive = true;
  CompressionError error = encodeFailure(panel, source);
  EXPECT_EQ(error.message(), "avifenc 0.11.1 cannot encode progressive AVIF. Install libavif 1.0 or later.");
  EXPECT_FALSE(harness.hasRun("avifenc"));
  EXPECT_TRUE(harness.workDirectories(source).empty());
}

// ---- WebP and JPEGli ---------------------------------------------------------------

TEST_F(EncodingTest, WebPLossyAndLosslessArguments) {
  harness.recordingEncoder("cwebp");
  auto source = harness.prepare(harness.makeSource("photo.png"));
  EncodeStageResult stage = encode(panelFor(CompressionCodec::webP, 85, 5), source);
  EXPECT_EQ(harness.recordedArguments("cwebp"), (Arguments{"-q", "85", "-m", "5", "-metadata", "all",
                                                           source.sourceURL.string(), "-o", stage.encodedURL.string()}));
  EXPECT_EQ(stage.commandLine, "cwebp -q 85 -m 5 -metadata all");

  CodecPanel lossless = panelFor(CompressionCodec::webP, 85, 5);
  lossless.isWebPLossless = true;
  lossless.webPLosslessLevel = 9;
  stage = encode(lossless, source);
  EXPECT_EQ(harness.recordedArguments("cwebp"), (Arguments{"-lossless", "-z", "9", "-metadata", "all",
                                                           source.sourceURL.string(), "-o", stage.encodedURL.string()}));
  EXPECT_EQ(stage.commandLine, "cwebp -lossless -z 9 -metadata all");
}

TEST_F(EncodingTest, JPEGliPutsTheSubsamplingSecond) {
  harness.recordingEncoder("cjpegli");
  auto source = harness.prepare(harness.makeSource("photo.png"));
  CodecPanel panel = panelFor(CompressionCodec::jpegli);
  panel.chromaSubsampling = ChromaSubsampling::fourTwoZero;
  panel.progressiveLevel = 1;
  panel.distance = 1.25;
  EncodeStageResult stage = encode(panel, source);
  EXPECT_EQ(harness.recordedArguments("cjpegli"),
            (Arguments{"--distance=1.25", "--chroma_subsampling=420", "--progressive_level=1",
                       source.sourceURL.string(), stage.encodedURL.string()}));

  panel.chromaSubsampling = ChromaSubsampling::automatic;
  stage = encode(panel, source);
  EXPECT_EQ(harness.recordedArguments("cjpegli"), (Arguments{"--distance=1.25", "--progressive_level=1",
                                                             source.sourceURL.string(), stage.encodedURL.string()}));
}

// ---- libheif (heif-enc), current release and Debian 12 ------------------------------

TEST_F(EncodingTest, HeifEncCurrentReleaseNeverPassesHevcButPassesTheOtherModes) {
  harness.recordingEncoder("heif-enc", heifEncCurrent);
  auto source = harness.prepare(harness.makeSource("photo.png", /*sixteenBit=*/true));
  EncodeStageResult stage = encode(panelFor(CompressionCodec::heifLibheif), source);
  EXPECT_EQ(harness.recordedArguments("heif-enc"),
            (Arguments{"-q", "85", source.sourceURL.string(), "-o", stage.encodedURL.string()}));
  EXPECT_EQ(stage.commandLine, "heif-enc -q 85");

  CodecPanel avif = panelFor(CompressionCodec::avifLibheif, 60);
  avif.heifBitDepth = HEIFDepth::ten;  // 16-bit input is fine from 1.16 on
  stage = encode(avif, source);
  EXPECT_EQ(harness.recordedArguments("heif-enc"),
            (Arguments{"--avif", "-q", "60", "-b", "10", source.sourceURL.string(), "-o", stage.encodedURL.string()}));

  CodecPanel jpeg2000 = panelFor(CompressionCodec::jpeg2000Libheif);
  jpeg2000.isHEIFLossless = true;
  stage = encode(jpeg2000, source);
  EXPECT_EQ(stage.encodedURL.extension(), ".hej2");
  EXPECT_EQ(harness.recordedArguments("heif-enc"),
            (Arguments{"--jpeg2000", "-L", source.sourceURL.string(), "-o", stage.encodedURL.string()}));
}

TEST_F(EncodingTest, HeifEncOnDebian12RefusesJPEG2000BeforeRunning) {
  harness.recordingEncoder("heif-enc", heifEncDebian12);
  auto source = harness.prepare(harness.makeSource("photo.png"));
  CompressionError error = encodeFailure(panelFor(CompressionCodec::jpeg2000Libheif), source);
  EXPECT_EQ(error.kind(), CompressionError::Kind::unsupportedByTool);
  EXPECT_EQ(error.message(),
            "heif-enc 1.15.1 cannot encode JPEG 2000. Install a newer libheif with its OpenJPEG encoder plugin.");
  EXPECT_FALSE(harness.hasRun("heif-enc"));
  EXPECT_TRUE(harness.workDirectories(source).empty());
}

TEST_F(EncodingTest, HeifEncOnDebian12EncodesSixteenBitInputAsAVIFOnlyAtTwelveBits) {
  harness.recordingEncoder("heif-enc", heifEncDebian12);
  auto deep = harness.prepare(harness.makeSource("deep.png", /*sixteenBit=*/true));
  const std::string refusal =
      "heif-enc 1.15.1 cannot encode 16-bit input as AVIF at this bit depth. Choose Bit Depth 12 or install a "
      "newer libheif.";
  for (HEIFDepth depth : {HEIFDepth::automatic, HEIFDepth::eight, HEIFDepth::ten}) {
    CodecPanel panel = panelFor(CompressionCodec::avifLibheif);
    panel.heifBitDepth = depth;
    EXPECT_EQ(encodeFailure(panel, deep).message(), refusal) << rawValue(depth);
  }
  CodecPanel lossless = panelFor(CompressionCodec::avifLibheif);
  lossless.isHEIFLossless = true;
  EXPECT_EQ(encodeFailure(lossless, deep).message(), refusal);
  EXPECT_FALSE(harness.hasRun("heif-enc"));

  CodecPanel twelve = panelFor(CompressionCodec::avifLibheif);
  twelve.heifBitDepth = HEIFDepth::twelve;
  EncodeStageResult stage = encode(twelve, deep);
  EXPECT_EQ(harness.recordedArguments("heif-enc"),
            (Arguments{"--avif", "-q", "85", "-b", "12", deep.sourceURL.string(), "-o", stage.encodedURL.string()}));

  // An 8-bit PNG reaches heif-enc as it is, so any depth will do; so does HEVC.
  auto shallow = harness.prepare(harness.makeSource("shallow.png"));
  stage = encode(panelFor(CompressionCodec::avifLibheif), shallow);
  EXPECT_EQ(harness.recordedArguments("heif-enc"),
            (Arguments{"--avif", "-q", "85", shallow.sourceURL.string(), "-o", stage.encodedURL.string()}));
  encode(panelFor(CompressionCodec::heifLibheif), deep);
}

TEST_F(EncodingTest, HeifEncThatWritesHEVCForAJPEG2000RequestFailsTheGuard) {
  // A release that claims to know JPEG 2000 but, lacking the plugin, writes HEVC.
  harness.recordingEncoderWriting("heif-enc", "sample.heic", heifEncCurrent);
  auto source = harness.prepare(harness.makeSource("photo.png"));
  CompressionError error = encodeFailure(panelFor(CompressionCodec::jpeg2000Libheif), source);
  // The codec is named by its raw value.
  EXPECT_EQ(error.message(), "heif-enc wrote no JPEG 2000 (libheif) data.");
  EXPECT_TRUE(harness.hasRun("heif-enc"));
  EXPECT_TRUE(harness.workDirectories(source).empty());
}

// ---- libjpeg-turbo (cjpeg) -------------------------------------------------------

TEST_F(EncodingTest, CjpegReadsADirectPNGWithoutAPPMOnCurrentReleases) {
  harness.recordingEncoder("cjpeg", cjpegCurrent);
  auto source = harness.prepare(harness.makeSource("photo.png"));
  EncodeStageResult stage = encode(panelFor(CompressionCodec::jpegTurbo), source);
  EXPECT_EQ(harness.recordedArguments("cjpeg"), (Arguments{"-quality", "85", "-progressive", "-optimize", "-outfile",
                                                           stage.encodedURL.string(), source.sourceURL.string()}));
  EXPECT_EQ(stage.commandLine, "cjpeg -quality 85 -progressive -optimize");
  EXPECT_FALSE(fs::exists(stage.workDirectory / "source.ppm"));
}

TEST_F(EncodingTest, CjpegGetsAPPMForATIFFSourceAndForPNGBefore3_1) {
  harness.recordingEncoder("cjpeg", cjpegCurrent);
  auto tiff = harness.prepare(harness.makeSource("scan.tif"));
  CodecPanel panel = panelFor(CompressionCodec::jpegTurbo, 70);
  panel.isJPEGTurboProgressive = false;
  panel.isJPEGTurboOptimized = false;
  panel.chromaSubsampling = ChromaSubsampling::fourTwoZero;
  EncodeStageResult stage = encode(panel, tiff);
  fs::path ppm = stage.workDirectory / "source.ppm";
  EXPECT_EQ(harness.recordedArguments("cjpeg"),
            (Arguments{"-quality", "70", "-sample", "2x2", "-outfile", stage.encodedURL.string(), ppm.string()}));
  EXPECT_TRUE(test::readTextFile(ppm).starts_with("P6\n24 16\n255\n"));

  // Each explicit subsampling has its cjpeg factor.
  const std::pair<ChromaSubsampling, std::string> factors[] = {{ChromaSubsampling::fourFourFour, "1x1"},
                                                               {ChromaSubsampling::fourFourZero, "1x2"},
                                                               {ChromaSubsampling::fourTwoTwo, "2x1"}};
  for (const auto& [subsampling, factor] : factors) {
    panel.chromaSubsampling = subsampling;
    encode(panel, tiff);
    EXPECT_EQ(harness.recordedArguments("cjpeg").at(3), factor);
  }

  test::EngineHarness debian;
  debian.recordingEncoder("cjpeg", cjpegDebian12);
  auto png = debian.prepare(debian.makeSource("photo.png"));
  stage = encodePanel(panelFor(CompressionCodec::jpegTurbo), png, debian.context());
  EXPECT_EQ(debian.recordedArguments("cjpeg").back(), (stage.workDirectory / "source.ppm").string());
  EXPECT_TRUE(fs::exists(stage.workDirectory / "source.ppm"));
}

// ---- The in-process codecs -----------------------------------------------------------

TEST_F(EncodingTest, InProcessCodecsEncodeThePreparedPNGWithoutAnyTool) {
  auto source = harness.prepare(harness.makeSource("photo.png"));
  EncodeStageResult heif = encode(panelFor(CompressionCodec::heif, 85), source);
  EXPECT_EQ(heif.commandLine, "ImageIO HEIF quality=85");
  EXPECT_EQ(heif.encodedURL.filename(), "photo.heic");
  EXPECT_TRUE(fileHasContainerSignature(heif.encodedURL, EncodedContainer::heif));

  EncodeStageResult jpeg = encode(panelFor(CompressionCodec::jpeg, 40), source);
  EXPECT_EQ(jpeg.commandLine, "ImageIO JPEG quality=40");
  EXPECT_TRUE(fileHasContainerSignature(jpeg.encodedURL, EncodedContainer::jpeg));
  // A higher quality makes a bigger file of the same picture.
  EncodeStageResult better = encode(panelFor(CompressionCodec::jpeg, 95), source);
  EXPECT_GT(fs::file_size(better.encodedURL), fs::file_size(jpeg.encodedURL));
  EXPECT_TRUE(harness.consoleEntries().empty());
}

// ---- Failures -------------------------------------------------------------------------

TEST_F(EncodingTest, MissingEncoderFailsAndLeavesNoDirectory) {
  auto source = harness.prepare(harness.makeSource("photo.png"));
  CompressionError error = encodeFailure(panelFor(CompressionCodec::webP), source);
  EXPECT_EQ(error.message(), "Missing command-line tool: cwebp. Install it with your package manager (see Required Tools) or add it to PATH.");
  EXPECT_TRUE(harness.workDirectories(source).empty());
}

TEST_F(EncodingTest, EncoderExitingNonZeroFailsWithItsOutput) {
  harness.tool("cwebp", "echo 'Error! Could not process file' >&2\nexit 255");
  auto source = harness.prepare(harness.makeSource("photo.png"));
  CompressionError error = encodeFailure(panelFor(CompressionCodec::webP), source);
  EXPECT_EQ(error.message(), "cwebp failed. Error! Could not process file");
  EXPECT_TRUE(harness.workDirectories(source).empty());
}

TEST_F(EncodingTest, EncoderExitingZeroWithoutOutputIsAMissingOutput) {
  harness.tool("cwebp", "exit 0");
  auto source = harness.prepare(harness.makeSource("photo.png"));
  CompressionError error = encodeFailure(panelFor(CompressionCodec::webP), source);
  EXPECT_EQ(error.message(), "Expected output was not created: photo.webp.");
  EXPECT_TRUE(harness.workDirectories(source).empty());
}

TEST_F(EncodingTest, EncoderWritingAnotherFormatFailsTheGuard) {
  harness.recordingEncoderWriting("cwebp", "sample.jpg");
  auto source = harness.prepare(harness.makeSource("photo.png"));
  EXPECT_EQ(encodeFailure(panelFor(CompressionCodec::webP), source).message(), "cwebp wrote no WebP data.");
  EXPECT_TRUE(harness.workDirectories(source).empty());
}

TEST_F(EncodingTest, CancelledBeforeStartingMakesNothing) {
  harness.recordingEncoder("cwebp");
  auto source = harness.prepare(harness.makeSource("photo.png"));
  std::stop_source stop;
  stop.request_stop();
  EXPECT_THROW(encodePanel(panelFor(CompressionCodec::webP), source, harness.context(), stop.get_token()),
               CancellationError);
  EXPECT_FALSE(harness.hasRun("cwebp"));
  EXPECT_TRUE(harness.workDirectories(source).empty());
}

TEST_F(EncodingTest, PPMThatCannotBeMadeFailsAsAnUnreadablePreparedSource) {
  harness.recordingEncoder("cjpeg", cjpegCurrent);
  auto source = harness.prepare(harness.makeSource("scan.tif"));
  fs::remove(source.preparedURL);
  CompressionError error = encodeFailure(panelFor(CompressionCodec::jpegTurbo), source);
  EXPECT_EQ(error.message(), "Could not read decoded image: source.png.");
  EXPECT_FALSE(harness.hasRun("cjpeg"));
  EXPECT_TRUE(harness.workDirectories(source).empty());
}

}  // namespace
}  // namespace quorlin
