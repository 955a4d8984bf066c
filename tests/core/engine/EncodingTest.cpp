#include "core/engine/Encoding.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "EngineHarness.h"
#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/engine/ColorSpace.h"
#include "core/engine/PPMWriter.h"
#include "core/tools/EncodedContainer.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using Arguments = std::vector<std::string>;
using C = CompressionCodec;

// The version lines the tools print, current releases and Debian 12's.
constexpr std::string_view avifencCurrent = "Version: 1.1.1 (dav1d [dec]:1.4.3, aom [enc/dec]:3.9.1)";
constexpr std::string_view avifencDebian12 = "Version: 0.11.1 (dav1d [dec]:1.0.0, aom [enc/dec]:v3.6.0)";
constexpr std::string_view heifEncCurrent = "1.19.7";
constexpr std::string_view heifEncDebian12 = "heif-enc: unrecognized option '--version'\n heif-enc  libheif version: 1.15.1";
constexpr std::string_view cjpegCurrent = "libjpeg-turbo version 3.1.0 (build 20241217)";
constexpr std::string_view cjpegDebian12 = "libjpeg-turbo version 2.1.5 (build 20230203)";

using Setup = std::function<void(CodecPanel&)>;

CodecPanel panelFor(C codec, int quality = 85, int effort = 7, const Setup& setup = nullptr) {
  CodecPanel panel;
  panel.codec = codec;
  panel.quality = quality;
  panel.effort = effort;
  if (setup) setup(panel);
  return panel;
}

TEST(EncodedBaseNameTest, DropsOnlyTheLastExtension) {
  EXPECT_EQ(encodedBaseName("/a/photo.final.tiff"), "photo.final");
  EXPECT_EQ(encodedBaseName("/a/README"), "README");
  EXPECT_EQ(encodedBaseName("/a/.hidden"), ".hidden");
}

TEST(SettingsCommandLineTest, LeavesOutPathsAndOutputFlagsAndQuotesTheRest) {
  EXPECT_EQ(settingsCommandLine("cjpeg", {"-quality", "85", "-outfile", "/o.jpg", "/i.ppm"}), "cjpeg -quality 85");
  EXPECT_EQ(settingsCommandLine("heif-enc", {"-q", "85", "/i.png", "-o", "/o.heic"}), "heif-enc -q 85");
  // Only absolute paths are left out; anything else holding a space is shown quoted.
  EXPECT_EQ(settingsCommandLine("tool", {"my photo.png", "it's", "plain"}), "tool 'my photo.png' 'it'\\''s' plain");
}

// A libjpeg-turbo panel at quality 70 without progressive or optimised coding.
CodecPanel plainTurbo(ChromaSubsampling subsampling) {
  return panelFor(C::jpegTurbo, 70, 7, [subsampling](CodecPanel& p) {
    p.isJPEGTurboProgressive = p.isJPEGTurboOptimized = false;
    p.chromaSubsampling = subsampling;
  });
}

// One encode per row with a fake encoder answering `version`. In the expected
// arguments "IN" is the user's file, "PREP" the prepared PNG, "OUT" the
// encoded file and "PPM" the work directory's source.ppm.
struct ArgumentCase {
  const char* name;
  const char* tool;
  std::string_view version;
  const char* source;
  CodecPanel panel;
  Arguments expected;
  std::string commandLine;  // empty: not checked
};

const ArgumentCase argumentCases[] = {
    // Default panel 1 with a PNG source: cjxl reads the PNG itself.
    {"JPEGXLDefault", "cjxl", {}, "photo.png", panelFor(C::jpegXL),
     {"--lossless_jpeg=0", "--effort", "7", "--distance", "1", "IN", "OUT"},
     "cjxl --lossless_jpeg=0 --effort 7 --distance 1"},
    {"JPEGXLTranscodeOfAJPEG", "cjxl", {}, "shot.jpg",
     panelFor(C::jpegXL, 85, 7, [](CodecPanel& p) {  // progressive is not passed when transcoding
       std::tie(p.isJPEGLosslessTranscode, p.isJPEGXLProgressive, p.distance) = std::tuple(true, true, 3.0);
     }),
     {"--lossless_jpeg=1", "--effort", "7", "IN", "OUT"}, "cjxl --lossless_jpeg=1 --effort 7"},
    // Mathematically lossless is still a distance, not a flag.
    {"JPEGXLTranscodeSwitchWithAPNG", "cjxl", {}, "art.png",
     panelFor(C::jpegXL, 85, 7, [](CodecPanel& p) { p.isJPEGLosslessTranscode = true; p.distance = 0; }),
     {"--lossless_jpeg=0", "--effort", "7", "--distance", "0", "IN", "OUT"}, ""},
    {"JPEGXLProgressiveFromTIFF", "cjxl", {}, "scan.tif",
     panelFor(C::jpegXL, 85, 3, [](CodecPanel& p) {
       std::tie(p.isJPEGXLProgressive, p.jpegXLGroupOrder, p.distance) =
           std::tuple(true, JPEGXLGroupOrder::centerFirst, 2.5);
     }),
     {"--lossless_jpeg=0", "--effort", "3", "--progressive", "--group_order=1", "--distance", "2.5", "PREP", "OUT"}, ""},
    {"AVIFEveryOption", "avifenc", avifencCurrent, "photo.png",
     panelFor(C::avif, 79, 10, [](CodecPanel& p) {
       std::tie(p.avifDepth, p.avifChromaSubsampling, p.isAVIFProgressive) =
           std::tuple(AVIFDepth::ten, AVIFChromaSubsampling::fourTwoZero, true);
     }),
     {"--speed", "0", "--qcolor", "79", "-d", "10", "-y", "420", "--progressive", "IN", "OUT"}, ""},
    {"AVIFLossless", "avifenc", avifencCurrent, "photo.png",
     panelFor(C::avif, 79, 0, [](CodecPanel& p) { p.isAVIFLossless = true; }), {"--speed", "10", "-l", "IN", "OUT"},
     ""},
    // Quality 79 is quantizer ((100 - 79) * 63 + 50) / 100 = 13.
    {"AVIFDebian12Quantizer", "avifenc", avifencDebian12, "photo.png", panelFor(C::avif, 79, 6),
     {"--speed", "4", "--min", "13", "--max", "13", "IN", "OUT"}, "avifenc --speed 4 --min 13 --max 13"},
    {"WebPLossy", "cwebp", {}, "photo.png", panelFor(C::webP, 85, 5),
     {"-q", "85", "-m", "5", "-metadata", "all", "IN", "-o", "OUT"}, "cwebp -q 85 -m 5 -metadata all"},
    {"WebPLossless", "cwebp", {}, "photo.png",
     panelFor(C::webP, 85, 5, [](CodecPanel& p) { p.isWebPLossless = true; p.webPLosslessLevel = 9; }),
     {"-lossless", "-z", "9", "-metadata", "all", "IN", "-o", "OUT"}, "cwebp -lossless -z 9 -metadata all"},
    {"JPEGliSubsamplingSecond", "cjpegli", {}, "photo.png",
     panelFor(C::jpegli, 85, 7, [](CodecPanel& p) {
       std::tie(p.chromaSubsampling, p.progressiveLevel, p.distance) =
           std::tuple(ChromaSubsampling::fourTwoZero, 1, 1.25);
     }),
     {"--distance=1.25", "--chroma_subsampling=420", "--progressive_level=1", "IN", "OUT"}, ""},
    {"JPEGliAutomaticSubsampling", "cjpegli", {}, "photo.png",
     panelFor(C::jpegli, 85, 7, [](CodecPanel& p) { p.progressiveLevel = 1; p.distance = 1.25; }),
     {"--distance=1.25", "--progressive_level=1", "IN", "OUT"}, ""},
    // heif-enc never gets --hevc.
    {"HeifEncHEVC", "heif-enc", heifEncCurrent, "deep.png", panelFor(C::heifLibheif),
     {"-q", "85", "IN", "-o", "OUT"}, "heif-enc -q 85"},
    // 16-bit input is fine from 1.16 on.
    {"HeifEncAVIFDepth", "heif-enc", heifEncCurrent, "deep.png",
     panelFor(C::avifLibheif, 60, 7, [](CodecPanel& p) { p.heifBitDepth = HEIFDepth::ten; }),
     {"--avif", "-q", "60", "-b", "10", "IN", "-o", "OUT"}, ""},
    {"HeifEncJPEG2000Lossless", "heif-enc", heifEncCurrent, "deep.png",
     panelFor(C::jpeg2000Libheif, 85, 7, [](CodecPanel& p) { p.isHEIFLossless = true; }),
     {"--jpeg2000", "-L", "IN", "-o", "OUT"}, ""},
    {"HeifEncDebian12SixteenBitAtTwelve", "heif-enc", heifEncDebian12, "deep.png",
     panelFor(C::avifLibheif, 85, 7, [](CodecPanel& p) { p.heifBitDepth = HEIFDepth::twelve; }),
     {"--avif", "-q", "85", "-b", "12", "IN", "-o", "OUT"}, ""},
    // An 8-bit PNG reaches heif-enc as it is, so any depth will do; so does HEVC.
    {"HeifEncDebian12EightBitAVIF", "heif-enc", heifEncDebian12, "shallow.png", panelFor(C::avifLibheif),
     {"--avif", "-q", "85", "IN", "-o", "OUT"}, ""},
    {"HeifEncDebian12SixteenBitHEVC", "heif-enc", heifEncDebian12, "deep.png", panelFor(C::heifLibheif),
     {"-q", "85", "IN", "-o", "OUT"}, ""},
    {"CjpegReadsPNG", "cjpeg", cjpegCurrent, "photo.png", panelFor(C::jpegTurbo),
     {"-quality", "85", "-progressive", "-optimize", "-outfile", "OUT", "IN"},
     "cjpeg -quality 85 -progressive -optimize"},
    // Each explicit subsampling has its cjpeg factor.
    {"CjpegGetsPPMForTIFF", "cjpeg", cjpegCurrent, "scan.tif", plainTurbo(ChromaSubsampling::fourTwoZero),
     {"-quality", "70", "-sample", "2x2", "-outfile", "OUT", "PPM"}, ""},
    {"Cjpeg444", "cjpeg", cjpegCurrent, "scan.tif", plainTurbo(ChromaSubsampling::fourFourFour),
     {"-quality", "70", "-sample", "1x1", "-outfile", "OUT", "PPM"}, ""},
    {"Cjpeg440", "cjpeg", cjpegCurrent, "scan.tif", plainTurbo(ChromaSubsampling::fourFourZero),
     {"-quality", "70", "-sample", "1x2", "-outfile", "OUT", "PPM"}, ""},
    {"Cjpeg422", "cjpeg", cjpegCurrent, "scan.tif", plainTurbo(ChromaSubsampling::fourTwoTwo),
     {"-quality", "70", "-sample", "2x1", "-outfile", "OUT", "PPM"}, ""},
    {"CjpegDebian12GetsPPMForPNG", "cjpeg", cjpegDebian12, "photo.png", panelFor(C::jpegTurbo),
     {"-quality", "85", "-progressive", "-optimize", "-outfile", "OUT", "PPM"}, ""},
};

void PrintTo(const ArgumentCase& c, std::ostream* out) { *out << c.name; }

class EncoderArgumentsTest : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(EncoderArgumentsTest, ToolGetsExactlyTheseArguments) {
  const ArgumentCase& c = GetParam();
  test::EngineHarness harness;
  harness.recordingEncoder(c.tool, c.version);
  const std::string name = c.source;
  auto source = harness.prepare(harness.makeSource(name, name == "deep.png"));
  EncodeStageResult stage = encodePanel(c.panel, source, harness.context());
  EXPECT_TRUE(fs::exists(stage.encodedURL));
  EXPECT_EQ(stage.encodedURL.extension().string(), "." + std::string(encodedFileExtension(c.panel.codec)));
  const fs::path ppm = stage.workDirectory / "source.ppm";
  Arguments expected;
  for (const std::string& argument : c.expected) {
    expected.push_back(argument == "IN"     ? source.sourceURL.string()
                       : argument == "PREP" ? source.preparedURL.string()
                       : argument == "OUT"  ? stage.encodedURL.string()
                       : argument == "PPM"  ? ppm.string()
                                            : argument);
  }
  EXPECT_EQ(harness.recordedArguments(c.tool), expected);
  if (!c.commandLine.empty()) {
    EXPECT_EQ(stage.commandLine, c.commandLine);
  }
  const bool usesPPM = expected.back() == ppm.string();
  EXPECT_EQ(fs::exists(ppm), usesPPM);
  EXPECT_TRUE(!usesPPM || test::readTextFile(ppm).starts_with("P6\n24 16\n255\n"));
}

INSTANTIATE_TEST_SUITE_P(Encoders, EncoderArgumentsTest, ::testing::ValuesIn(argumentCases),
                         [](const ::testing::TestParamInfo<ArgumentCase>& c) { return std::string(c.param.name); });

TEST(EncodingTest, InProcessCodecsEncodeThePreparedPNGWithoutAnyTool) {
  test::EngineHarness harness;
  auto source = harness.prepare(harness.makeSource("photo.png"));
  EncodeStageResult heif = encodePanel(panelFor(C::heif, 85), source, harness.context());
  EXPECT_EQ(heif.commandLine, "ImageIO HEIF quality=85");
  EXPECT_EQ(heif.encodedURL.filename(), "photo.heic");
  EXPECT_TRUE(fileHasContainerSignature(heif.encodedURL, EncodedContainer::heif));
  EncodeStageResult jpeg = encodePanel(panelFor(C::jpeg, 40), source, harness.context());
  EXPECT_EQ(jpeg.commandLine, "ImageIO JPEG quality=40");
  EXPECT_TRUE(fileHasContainerSignature(jpeg.encodedURL, EncodedContainer::jpeg));
  // A higher quality makes a bigger file of the same picture.
  EncodeStageResult better = encodePanel(panelFor(C::jpeg, 95), source, harness.context());
  EXPECT_GT(fs::file_size(better.encodedURL), fs::file_size(jpeg.encodedURL));
  EXPECT_TRUE(harness.consoleEntries().empty());
}

// Every failure leaves no work directory; `ran` says whether `tool` was run.
struct FailureCase {
  const char* name;
  const char* tool;
  std::function<void(test::EngineHarness&, const PreparedCompressionSource&)> arrange;
  const char* source;
  CodecPanel panel;
  std::string message;
  bool ran;
};

using H = test::EngineHarness&;
using S = const PreparedCompressionSource&;
const std::string sixteenBitRefusal =
    "heif-enc 1.15.1 cannot encode 16-bit input as AVIF at this bit depth. Choose Bit Depth 12 or install a "
    "newer libheif.";
const auto oldHeifEnc = [](H h, S) { h.recordingEncoder("heif-enc", heifEncDebian12); };

const FailureCase failureCases[] = {
    {"AVIFDebian12Progressive", "avifenc", [](H h, S) { h.recordingEncoder("avifenc", avifencDebian12); },
     "photo.png", panelFor(C::avif, 79, 6, [](CodecPanel& p) { p.isAVIFProgressive = true; }),
     "avifenc 0.11.1 cannot encode progressive AVIF. Install libavif 1.0 or later.", false},
    {"HeifEncDebian12JPEG2000", "heif-enc", oldHeifEnc, "photo.png", panelFor(C::jpeg2000Libheif),
     "heif-enc 1.15.1 cannot encode JPEG 2000. Install a newer libheif with its OpenJPEG encoder plugin.", false},
    {"HeifEncDebian12SixteenBitAutomatic", "heif-enc", oldHeifEnc, "deep.png", panelFor(C::avifLibheif),
     sixteenBitRefusal, false},
    {"HeifEncDebian12SixteenBitLossless", "heif-enc", oldHeifEnc, "deep.png",
     panelFor(C::avifLibheif, 85, 7, [](CodecPanel& p) { p.isHEIFLossless = true; }), sixteenBitRefusal, false},
    // A release that claims to know JPEG 2000 but, lacking the plugin, writes
    // HEVC; the codec is named by its raw value.
    {"HeifEncWritingHEVCForJPEG2000", "heif-enc",
     [](H h, S) { h.recordingEncoder("heif-enc", heifEncCurrent, "sample.heic"); }, "photo.png",
     panelFor(C::jpeg2000Libheif), "heif-enc wrote no JPEG 2000 (libheif) data.", true},
    {"MissingEncoder", "cwebp", [](H, S) {}, "photo.png", panelFor(C::webP),
     "Missing command-line tool: cwebp. Install it with your package manager (see Required Tools) or add it to PATH.",
     false},
    {"NonZeroExit", "cwebp",
     [](H h, S) {
       h.tool("cwebp",
              "touch " + (h.logs / "cwebp.args").string() + "\necho 'Error! Could not process file' >&2\nexit 255");
     },
     "photo.png", panelFor(C::webP), "cwebp failed. Error! Could not process file", true},
    {"ZeroExitWithoutOutput", "cwebp", [](H h, S) { h.recordingToolPrinting("cwebp", ""); }, "photo.png",
     panelFor(C::webP), "Expected output was not created: photo.webp.", true},
    {"AnotherFormatWritten", "cwebp", [](H h, S) { h.recordingEncoder("cwebp", {}, "sample.jpg"); }, "photo.png",
     panelFor(C::webP), "cwebp wrote no WebP data.", true},
    {"PPMThatCannotBeMade", "cjpeg",
     [](H h, S source) { h.recordingEncoder("cjpeg", cjpegCurrent); fs::remove(source.preparedURL); },
     "scan.tif", panelFor(C::jpegTurbo), "Could not read decoded image: source.png.", false},
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class EncodingFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(EncodingFailureTest, FailsWithItsMessageAndLeavesNoDirectory) {
  const FailureCase& c = GetParam();
  test::EngineHarness harness;
  const std::string name = c.source;
  auto source = harness.prepare(harness.makeSource(name, name == "deep.png"));
  c.arrange(harness, source);
  try {
    encodePanel(c.panel, source, harness.context());
    ADD_FAILURE() << "the encode succeeded";
  } catch (const CompressionError& error) {
    EXPECT_EQ(error.message(), c.message);
    if (c.message.find("cannot encode") != std::string::npos || c.message.find("wrote no") != std::string::npos) {
      EXPECT_EQ(error.kind(), CompressionError::Kind::unsupportedByTool);
    }
  }
  EXPECT_EQ(harness.hasRun(c.tool), c.ran);
  EXPECT_TRUE(harness.workDirectories(source).empty());
}

INSTANTIATE_TEST_SUITE_P(Encoders, EncodingFailureTest, ::testing::ValuesIn(failureCases),
                         [](const ::testing::TestParamInfo<FailureCase>& c) { return std::string(c.param.name); });

TEST(EncodingTest, CancelledBeforeStartingMakesNothing) {
  test::EngineHarness harness;
  harness.recordingEncoder("cwebp");
  auto source = harness.prepare(harness.makeSource("photo.png"));
  std::stop_source stop;
  stop.request_stop();
  EXPECT_THROW(encodePanel(panelFor(C::webP), source, harness.context(), stop.get_token()), CancellationError);
  EXPECT_FALSE(harness.hasRun("cwebp"));
  EXPECT_TRUE(harness.workDirectories(source).empty());
}

using test::TestAlpha;
using test::TestDepth;
using vips::VImage;

std::vector<unsigned char> fileBytes(const fs::path& file) {
  std::ifstream stream(file, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(stream)), {});
}

class PPMWriterTest : public ::testing::Test {
 protected:
  // The pixel bytes of the PPM written from `image` saved as a PNG, after its header.
  std::vector<unsigned char> pixelsOf(const VImage& image, int bitDepth = 8) {
    image.pngsave((scratch / "in.png").c_str(), VImage::option()->set("bitdepth", bitDepth));
    writePPM(scratch / "in.png", scratch / "source.ppm");
    auto bytes = fileBytes(scratch / "source.ppm");
    const std::string header =
        "P6\n" + std::to_string(image.width()) + " " + std::to_string(image.height()) + "\n255\n";
    EXPECT_EQ(bytes.size(), header.size() + static_cast<std::size_t>(image.width() * image.height() * 3));
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(header.size())), header);
    return {bytes.begin() + static_cast<std::ptrdiff_t>(header.size()), bytes.end()};
  }
  test::ScratchDirectory scratch;
};

// 8-bit samples as they are, 16-bit ones rounded to 8 bits, transparency
// composited onto black, other spaces converted to sRGB.
TEST_F(PPMWriterTest, PixelsAreEightBitSRGBOnBlack) {
  std::vector<unsigned char> expected;
  for (int at = 0; at < 18; ++at) {
    expected.push_back(static_cast<unsigned char>(test::testSampleValue(at / 3 % 3, at / 9, at % 3, TestDepth::eight)));
  }
  EXPECT_EQ(pixelsOf(test::makeTestPicture(3, 2)), expected);
  auto deep = pixelsOf(test::makeTestPicture(5, 4, TestDepth::sixteen), 16);
  for (std::size_t c = 0; c < 3; ++c) {
    const int value = test::testSampleValue(4, 3, static_cast<int>(c), TestDepth::sixteen);
    EXPECT_EQ(deep.at((3 * 5 + 4) * 3 + c), std::lround(value * 255.0 / 65535.0));
  }
  // Alpha 0 on the left column, full on the right.
  VImage x = VImage::xyz(2, 1).extract_band(0);
  VImage colour = (VImage::black(2, 1, VImage::option()->set("bands", 3)) + std::vector<double>{200, 100, 50})
                      .cast(VIPS_FORMAT_UCHAR);
  EXPECT_EQ(pixelsOf(colour.bandjoin((x >= 1).cast(VIPS_FORMAT_UCHAR))
                         .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))),
            (std::vector<unsigned char>{0, 0, 0, 200, 100, 50}));
  // Display P3 shares sRGB's white point and curve, so neutrals keep their
  // values while the P3 primaries fall outside sRGB and clip.
  auto p3 = ColorSpace::wellKnown(ColorSpace::WellKnown::displayP3);
  VImage picture = (x >= 1).ifthenelse(std::vector<double>{128, 128, 128}, {255, 0, 0}).cast(VIPS_FORMAT_UCHAR).copy();
  vips_image_set_blob_copy(picture.get_image(), VIPS_META_ICC_NAME, p3->iccProfile().data(), p3->iccProfile().size());
  auto converted = pixelsOf(picture);
  ASSERT_EQ(converted.size(), 6u);
  EXPECT_EQ(converted[0], 255);
  EXPECT_LE(std::max(converted[1], converted[2]), 1);
  for (std::size_t c = 3; c < 6; ++c) EXPECT_NEAR(converted[c], 128, 1);
}

TEST_F(PPMWriterTest, FailuresNameTheFileConcerned) {
  test::writeTextFile(scratch / "notes.png", "not a picture");
  try {
    writePPM(scratch / "notes.png", scratch / "out.ppm");
    ADD_FAILURE() << "no error";
  } catch (const CompressionError& error) {
    EXPECT_EQ(error.message(), "Could not read decoded image: notes.png.");
  }
  EXPECT_FALSE(fs::exists(scratch / "out.ppm"));

  test::makeTestPicture(2, 2).pngsave((scratch / "good.png").c_str());
  EXPECT_THROW(writePPM(scratch / "good.png", scratch / "missing-directory" / "out.ppm"), fs::filesystem_error);
  // A full disk is a file-system error too.
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  test::makeTestPicture(64, 64).pngsave((scratch / "good.png").c_str());
  try {
    writePPM(scratch / "good.png", "/dev/full");
    ADD_FAILURE() << "no error";
  } catch (const fs::filesystem_error& error) {
    EXPECT_EQ(error.code(), std::errc::no_space_on_device);
    EXPECT_EQ(error.path1(), fs::path("/dev/full"));
  }
}

}  // namespace
}  // namespace quorlin
