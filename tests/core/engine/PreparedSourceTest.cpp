#include "core/engine/PreparedSource.h"

#include <gtest/gtest.h>
#include <vips/vips8>
#include <lcms2.h>

#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <tuple>

#include "core/common/CompressionError.h"
#include "core/engine/ColorSpace.h"
#include "core/engine/DeclaredResolution.h"
#include "core/engine/DecodedImageReader.h"
#include "core/engine/DisplayImageReader.h"
#include "core/engine/LcmsHandles.h"
#include "core/engine/PNGColour.h"
#include "core/engine/PreparedPNGWriter.h"
#include "core/engine/SourceMetadata.h"
#include "core/engine/VipsRuntime.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using test::TestAlpha;
using test::TestDepth;
using vips::VImage;
using C = CompressionCodec;

std::vector<std::uint8_t> embeddedProfile(const fs::path& file) {
  VImage image = VImage::new_from_file(file.c_str());
  if (!image.get_typeof(VIPS_META_ICC_NAME)) return {};
  size_t length = 0;
  auto* data = static_cast<const std::uint8_t*>(image.get_blob(VIPS_META_ICC_NAME, &length));
  return std::vector<std::uint8_t>(data, data + length);
}

std::vector<std::uint8_t> fileBytes(const fs::path& file) {
  std::ifstream stream(file, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(stream)), {});
}

// The profile (when `tagged`) and the pixels; a pHYs size statement is the
// only other chunk (no gAMA, cHRM or sRGB, no eXIf, iTXt or tEXt).
void expectOnlyProfileAndPixels(const fs::path& png, bool tagged) {
  std::vector<std::string> chunks = test::pngChunkTypes(png);
  ASSERT_GE(chunks.size(), 4u);
  EXPECT_EQ(chunks.front(), "IHDR");
  EXPECT_EQ(chunks.back(), "IEND");
  for (const auto& chunk : chunks) {
    EXPECT_TRUE(chunk == "IHDR" || chunk == "iCCP" || chunk == "pHYs" || chunk == "IDAT" || chunk == "IEND")
        << chunk;
  }
  EXPECT_EQ(std::count(chunks.begin(), chunks.end(), "iCCP"), tagged ? 1 : 0);
}

// Width, height, bit depth and colour type (2 RGB, 6 RGBA) of a PNG.
std::array<int, 4> header(const fs::path& png) {
  auto h = test::readPNGHeader(png);
  return {h.width, h.height, h.bitDepth, h.colorType};
}

class PreparedSourceTest : public ::testing::Test {
 protected:
  test::ScratchDirectory scratch;
  fs::path root = scratch / "Brimwell";

  // Expects "source.png" to hold exactly the generated picture at its own
  // depth, with `channels` samples per pixel.
  void expectFaithful(const PreparedCompressionSource& prepared, int width, int height, int channels,
                      TestDepth depth) {
    auto samples = test::decodedSamples(prepared.preparedURL);
    ASSERT_EQ(samples.size(), static_cast<std::size_t>(width * height * channels));
    int mismatches = 0;
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        for (int c = 0; c < channels; ++c) {
          int expected = test::testSampleValue(x, y, c, depth);
          if (samples[static_cast<std::size_t>((y * width + x) * channels + c)] != expected) ++mismatches;
        }
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
};

TEST_F(PreparedSourceTest, EightBitUntaggedSourceStaysEightBitUntaggedRGB) {
  test::makeTestPicture(40, 30).pngsave((scratch / "photo.final.png").c_str());
  auto prepared = prepareSource(scratch / "photo.final.png", root);

  EXPECT_EQ(prepared.sourceURL, scratch / "photo.final.png");
  EXPECT_EQ(prepared.temporaryDirectory.parent_path(), root);
  EXPECT_EQ(prepared.preparedURL, prepared.temporaryDirectory / "source.png");
  EXPECT_EQ(prepared.sourceContentType, "public.png");
  ASSERT_TRUE(prepared.displayMetadata.colorSpace);
  EXPECT_EQ(prepared.displayMetadata.colorSpace->kind(), ColorSpace::WellKnown::sRGB);
  EXPECT_FALSE(prepared.displayMetadata.contentHeadroom.has_value());

  EXPECT_EQ(header(prepared.preparedURL), (std::array{40, 30, 8, 2}));
  // Untagged stays untagged: every reader takes it as plain sRGB, like the source.
  expectOnlyProfileAndPixels(prepared.preparedURL, false);
  EXPECT_FALSE(prepared.preparedProfile());
  EXPECT_TRUE(prepared.sourceHoldsPreparedPixels);
  expectFaithful(prepared, 40, 30, 3, TestDepth::eight);

  prepared.removeTemporaryDirectory();
  EXPECT_FALSE(fs::exists(prepared.temporaryDirectory));
  prepared.removeTemporaryDirectory();  // twice is harmless
  // Content decides the type of a misnamed source.
  test::makeTestPicture(8, 8).pngsave((scratch / "really-a-png.jpg").c_str());
  EXPECT_EQ(prepareSource(scratch / "really-a-png.jpg", root).sourceContentType, "public.png");
}

TEST_F(PreparedSourceTest, SixteenBitValuesAndAlphaPassThroughUnchanged) {
  test::makeTestPicture(33, 17, TestDepth::sixteen).pngsave((scratch / "deep.png").c_str());
  auto prepared = prepareSource(scratch / "deep.png", root);
  EXPECT_EQ(header(prepared.preparedURL), (std::array{33, 17, 16, 2}));
  expectFaithful(prepared, 33, 17, 3, TestDepth::sixteen);
  // Alpha is kept only when some pixel is transparent.
  test::makeTestPicture(20, 10, TestDepth::eight, 3, TestAlpha::varying).pngsave((scratch / "cutout.png").c_str());
  test::makeTestPicture(20, 10, TestDepth::eight, 3, TestAlpha::opaque).pngsave((scratch / "solid.png").c_str());
  auto cutout = prepareSource(scratch / "cutout.png", root);
  auto solid = prepareSource(scratch / "solid.png", root);
  EXPECT_EQ(test::readPNGHeader(cutout.preparedURL).colorType, 6);  // RGBA
  expectFaithful(cutout, 20, 10, 4, TestDepth::eight);
  EXPECT_EQ(test::readPNGHeader(solid.preparedURL).colorType, 2);  // RGB
  expectFaithful(solid, 20, 10, 3, TestDepth::eight);
}

TEST_F(PreparedSourceTest, TaggedSourceKeepsItsOwnProfileBytes) {
  auto p3 = ColorSpace::wellKnown(ColorSpace::WellKnown::displayP3);
  VImage picture = test::makeTestPicture(12, 9).copy();
  vips_image_set_blob_copy(picture.get_image(), VIPS_META_ICC_NAME, p3->iccProfile().data(), p3->iccProfile().size());
  picture.pngsave((scratch / "wide.png").c_str());
  auto prepared = prepareSource(scratch / "wide.png", root);
  EXPECT_EQ(embeddedProfile(prepared.preparedURL), p3->iccProfile());
  ASSERT_TRUE(prepared.preparedProfile());
  EXPECT_EQ(prepared.preparedProfile()->iccProfile(), p3->iccProfile());
  ASSERT_TRUE(prepared.displayMetadata.colorSpace);
  EXPECT_EQ(prepared.displayMetadata.colorSpace->name(), "Display P3");
  expectFaithful(prepared, 12, 9, 3, TestDepth::eight);
}

TEST_F(PreparedSourceTest, GreySourceKeepsItsValuesRepeatedIntoRGB) {
  test::makeTestPicture(16, 4, TestDepth::eight, 1).pngsave((scratch / "grey.png").c_str());
  auto prepared = prepareSource(scratch / "grey.png", root);
  EXPECT_TRUE(isPlainSRGB(prepared.displayMetadata.colorSpace));
  EXPECT_TRUE(embeddedProfile(prepared.preparedURL).empty());
  EXPECT_EQ(test::readPNGHeader(prepared.preparedURL).colorType, 2);
  auto samples = test::decodedSamples(prepared.preparedURL);
  ASSERT_EQ(samples.size(), 16u * 4u * 3u);
  for (std::size_t at = 0; at < samples.size(); ++at) {
    EXPECT_EQ(samples[at], test::testSampleValue(static_cast<int>(at / 3 % 16), static_cast<int>(at / 48), 0, TestDepth::eight));
  }
}

// gAMA and cHRM mean what the scorer says they mean: the prepared file keeps
// the 8-bit samples and says the same in an ICC profile.
TEST_F(PreparedSourceTest, GammaAndChromaticityChunksBecomeAnEquivalentProfile) {
  test::makeTestPicture(12, 9).pngsave((scratch / "gamma.png").c_str());
  insertPNGChunk(scratch / "gamma.png", "gAMA", {0x00, 0x00, 0xB1, 0x8F});  // 45455: 1 / 2.2
  auto prepared = prepareSource(scratch / "gamma.png", root);
  EXPECT_FALSE(prepared.sourceHoldsPreparedPixels);  // not every encoder reads gAMA
  ASSERT_TRUE(prepared.preparedProfile());
  EXPECT_EQ(embeddedProfile(prepared.preparedURL), prepared.preparedProfile()->iccProfile());
  expectFaithful(prepared, 12, 9, 3, TestDepth::eight);
  // A mid grey of the power curve is darker than the sRGB curve's.
  LcmsProfile profile = openProfile(*prepared.preparedProfile());
  ASSERT_TRUE(profile);
  auto* curve = static_cast<cmsToneCurve*>(cmsReadTag(profile.get(), cmsSigRedTRCTag));
  ASSERT_TRUE(curve);
  EXPECT_NEAR(cmsEvalToneCurveFloat(curve, 0.5f), std::pow(0.5, 1 / 0.45455), 1e-3);
}

TEST_F(PreparedSourceTest, CMYKSourceIsRenderedIntoSixteenBitSRGB) {
  // White paper and full black ink land at the ends of the range.
  VImage x = VImage::xyz(8, 8).extract_band(0);
  VImage none = VImage::black(8, 8).cast(VIPS_FORMAT_UCHAR);
  VImage blackInk = (x >= 4).cast(VIPS_FORMAT_UCHAR);  // 255 on the right half
  VImage cmyk = VImage::bandjoin({none, none, none, blackInk})
                    .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_CMYK));
  cmyk.jpegsave((scratch / "print.jpg").c_str(), VImage::option()->set("Q", 100));
  auto prepared = prepareSource(scratch / "print.jpg", root);
  EXPECT_TRUE(isPlainSRGB(prepared.displayMetadata.colorSpace));
  EXPECT_FALSE(prepared.sourceHoldsPreparedPixels);
  EXPECT_EQ(prepared.sourceContentType, "public.jpeg");
  EXPECT_EQ(header(prepared.preparedURL), (std::array{8, 8, 16, 2}));
  auto samples = test::decodedSamples(prepared.preparedURL);
  ASSERT_EQ(samples.size(), 8u * 8u * 3u);
  EXPECT_GT(samples[(4 * 8 + 1) * 3], 60000);  // paper white, left half
  EXPECT_LT(samples[(4 * 8 + 6) * 3], 20000);  // black ink, right half (sRGB-encoded)
  auto metadata = readSourceImageMetadata(scratch / "print.jpg", {});
  EXPECT_EQ(std::tuple(metadata.colorModel, metadata.colorProfileName), std::tuple("CMYK", std::nullopt));
}

// The metadata gives the orientation and the size before turning.
TEST_F(PreparedSourceTest, OrientationIsAppliedToThePreparedPixels) {
  VImage picture = test::makeTestPicture(6, 4).copy();
  picture.set(VIPS_META_ORIENTATION, 6);
  picture.jpegsave((scratch / "portrait.JPG").c_str(), VImage::option()->set("Q", 100));
  auto prepared = prepareSource(scratch / "portrait.JPG", root);
  EXPECT_EQ(header(prepared.preparedURL), (std::array{4, 6, 8, 2}));
  expectOnlyProfileAndPixels(prepared.preparedURL, false);  // the EXIF block stays behind
  EXPECT_FALSE(prepared.sourceHoldsPreparedPixels);
  auto metadata = readSourceImageMetadata(scratch / "portrait.JPG", {});
  EXPECT_EQ(std::tuple(metadata.orientation, metadata.pixelWidth, metadata.pixelHeight, metadata.isJPEG),
            std::tuple(6, 6, 4, true));
}

// Three routes lead to "source.png": streamed while decoding (opaque RGB),
// decoded into memory first (alpha, orientation, grey), and from the display
// image the workspace already holds. They must agree byte for byte.
TEST_F(PreparedSourceTest, EveryRouteToThePreparedFileGivesTheSameBytes) {
  test::makeTestPicture(25, 14, TestDepth::eight, 3, TestAlpha::varying).pngsave((scratch / "alpha.png").c_str());
  test::makeTestPicture(25, 14, TestDepth::sixteen).pngsave((scratch / "opaque.png").c_str());
  test::makeTestPicture(25, 14, TestDepth::sixteen, 3, TestAlpha::varying).pngsave((scratch / "deep-alpha.png").c_str());
  test::makeTestPicture(25, 14).jpegsave((scratch / "photo.jpg").c_str());
  for (const char* name : {"alpha.png", "opaque.png", "deep-alpha.png", "photo.jpg"}) {
    SCOPED_TRACE(name);
    auto display = readDisplayImage(scratch / name, nullptr, std::nullopt);
    ASSERT_TRUE(display);
    auto fromFile = prepareSource(scratch / name, root);
    auto fromMemory = prepareSource(scratch / name, root, display->image);
    EXPECT_NE(fromFile.temporaryDirectory, fromMemory.temporaryDirectory);
    EXPECT_EQ(fileBytes(fromFile.preparedURL), fileBytes(fromMemory.preparedURL));
    expectOnlyProfileAndPixels(fromFile.preparedURL, false);
    EXPECT_EQ(fromMemory.sourceContentType, fromFile.sourceContentType);
    EXPECT_EQ(fromMemory.displayMetadata.colorSpace, display->image->colorSpace());
    EXPECT_EQ(fromFile.displayMetadata.colorSpace->iccProfile(), display->image->colorSpace()->iccProfile());
  }
}

TEST_F(PreparedSourceTest, AFullDiskIsAFileSystemErrorNotAnUnreadableImage) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  test::makeTestPicture(256, 256).pngsave((scratch / "a.png").c_str());
  auto display = readDisplayImage(scratch / "a.png", nullptr, std::nullopt);
  ASSERT_TRUE(display);
  try {
    writePreparedPNG(*display->image, "/dev/full", scratch / "a.png");
    ADD_FAILURE() << "no error";
  } catch (const fs::filesystem_error& error) {
    EXPECT_EQ(error.code(), std::errc::no_space_on_device);
    EXPECT_EQ(error.path1(), fs::path("/dev/full"));
  }
}

// ---- Encoder input ----------------------------------------------------------

// Which encoders read the user's file ("s") rather than "source.png" ("p"; "?"
// unchecked), in catalog order: extensions are lower-cased, and the content type
// overrules a misleading extension.
TEST(EncoderInputTest, FormatAndExtensionDecideWhichEncodersReadTheSource) {
  struct Case {
    const char* file;
    std::optional<std::string> type;
    const char* routes;
  };
  const Case cases[] = {
      // JPEG XL, AVIF, WebP, JPEGli, libheif HEIF / AVIF / JPEG 2000, HEIF, libjpeg-turbo, JPEG.
      {"/photos/a.png", "public.png", "ssssssspsp"},
      // jpg is not cjpeg's; heif-enc would read the JPEG's YCbCr planes, not the pixels of source.png.
      {"/photos/IMG_0001.JPG", std::nullopt, "ss??pp?ppp"},
      {"/scans/photo.final.tiff", "public.tiff", "ppspss?ppp"},
      {"/photos/IMG_0002.HEIC", "public.heic", "pppppppppp"},
      {"/downloads/picture.bin", "public.png", "s??????psp"},
      // A GIF named .dat is direct for cjxl and cjpeg but not for avifenc.
      {"/downloads/anim.dat", "com.compuserve.gif", "sp?????psp"},
      {"/downloads/noextension", std::nullopt, "pppppppppp"},
  };
  for (const Case& c : cases) {
    PreparedCompressionSource prepared;
    prepared.sourceURL = c.file;
    prepared.temporaryDirectory = "/tmp/Brimwell/0D6F7C2A-1B3C-4D5E-8F90-0A1B2C3D4E5F";
    prepared.preparedURL = prepared.temporaryDirectory / "source.png";
    prepared.sourceContentType = c.type;
    prepared.sourceHoldsPreparedPixels = true;
    std::size_t i = 0;
    for (C codec : allCompressionCodecs()) {
      const char route = c.routes[i++];
      if (route == '?') continue;
      EXPECT_EQ(prepared.encoderInputURL(codec), route == 's' ? prepared.sourceURL : prepared.preparedURL)
          << c.file << " " << rawValue(codec);
    }
  }
}

VImage tagged(VImage image, ColorSpace::WellKnown kind) {
  const auto& icc = ColorSpace::wellKnown(kind)->iccProfile();
  image = image.copy();
  vips_image_set_blob_copy(image.get_image(), VIPS_META_ICC_NAME, icc.data(), icc.size());
  return image;
}

// Which files may go to an encoder as they are, per kind of source (the kinds
// the tests above do not make): the catalog's formats decide only for files
// holding the prepared pixels.
TEST_F(PreparedSourceTest, EncodersReadTheSourceOnlyWhenItHoldsThePreparedPixels) {
  using F = const fs::path&;
  auto picture = [](TestDepth depth = TestDepth::eight, int bands = 3) { return test::makeTestPicture(8, 6, depth, bands); };
  const std::tuple<const char*, bool, std::function<void(F)>> kinds[] = {
      {"deep.png", true, [&](F f) { picture(TestDepth::sixteen).pngsave(f.c_str()); }},
      {"grey.png", true, [&](F f) { picture(TestDepth::eight, 1).pngsave(f.c_str()); }},
      {"wide.png", true, [&](F f) { tagged(picture(), ColorSpace::WellKnown::displayP3).pngsave(f.c_str()); }},
      {"photo.jpg", true, [&](F f) { picture().jpegsave(f.c_str()); }},
      {"scan.tif", true, [&](F f) { picture().tiffsave(f.c_str()); }},
      {"palette.png", false, [&](F f) { picture().pngsave(f.c_str(), VImage::option()->set("palette", true)); }},
      {"float.tif", false, [&](F f) { (picture().cast(VIPS_FORMAT_FLOAT) / 255.0).tiffsave(f.c_str()); }}};
  for (const auto& [name, holds, write] : kinds) {
    SCOPED_TRACE(name);
    fs::path file = scratch / name;
    write(file);
    auto prepared = prepareSource(file, root);
    EXPECT_EQ(prepared.sourceHoldsPreparedPixels, holds);
    PreparedCompressionSource byFormatAlone = prepared;
    byFormatAlone.sourceHoldsPreparedPixels = true;
    bool anyDirect = false;
    for (C codec : allCompressionCodecs()) {
      EXPECT_EQ(prepared.encoderInputURL(codec), holds ? byFormatAlone.encoderInputURL(codec) : prepared.preparedURL);
      anyDirect |= byFormatAlone.encoderInputURL(codec) == file;
    }
    EXPECT_TRUE(anyDirect) << "some encoder reads this format";
  }
}

// ---- Bad input --------------------------------------------------------------

class BadSourceTest : public ::testing::Test {
 protected:
  test::ScratchDirectory scratch;
  fs::path root = scratch / "Brimwell";

  void expectRefused(const fs::path& source) {
    SCOPED_TRACE(source.string());
    EXPECT_FALSE(readDisplayImage(source, nullptr, std::nullopt).has_value());
    try {
      prepareSource(source, root);
      ADD_FAILURE() << "prepareSource accepted a bad source";
    } catch (const CompressionError& error) {
      EXPECT_EQ(error.kind(), CompressionError::Kind::unreadableImage);
      EXPECT_EQ(error.message(), "Could not read decoded image: " + source.filename().string() + ".");
    }
    ASSERT_TRUE(fs::is_directory(root));  // made, then emptied again
    EXPECT_TRUE(fs::is_empty(root));
  }
};

// A valid PNG whose header declares a huge picture, followed by one tiny IDAT.
void writePNGBomb(const fs::path& file, std::uint32_t width, std::uint32_t height, const fs::path& scratch) {
  test::makeTestPicture(1, 1).pngsave((scratch / "tiny.png").c_str());
  auto bytes = fileBytes(scratch / "tiny.png");
  ASSERT_EQ(test::readPNGHeader(scratch / "tiny.png").colorType, 2);
  auto put32 = [&](std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
  };
  put32(16, width);
  put32(20, height);
  // The IHDR checksum covers type and data.
  std::uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 12; i < 29; ++i) {
    crc ^= bytes[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  put32(29, ~crc);
  fs::remove(scratch / "tiny.png");
  std::ofstream(file.c_str(), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST_F(BadSourceTest, EveryKindOfUnreadableSourceIsRefusedAndLeavesNothing) {
  test::writeTextFile(scratch / "empty.png", "");
  test::writeTextFile(scratch / "notes.png", "These are notes, not a picture.\n");
  fs::create_directory(scratch / "folder.png");
  test::makeTestPicture(64, 64).pngsave((scratch / "whole.png").c_str(), VImage::option()->set("compression", 0));
  test::makeTestPicture(64, 64).jpegsave((scratch / "whole.jpg").c_str());
  for (auto [whole, cut, fraction] : {std::tuple{"whole.png", "cut.png", 0.5}, {"whole.jpg", "cut.jpg", 2.0 / 3}}) {
    auto bytes = fileBytes(scratch / whole);
    std::ofstream((scratch / cut).c_str(), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size() * fraction));
  }
  // 30000 x 30000 RGB would need 2.7 GB: over the pixel limit. 15000 x 15000 is
  // under it, but deflate cannot pack 675 MB of rows into a few dozen bytes.
  writePNGBomb(scratch / "bomb.png", 30000, 30000, scratch.path());
  writePNGBomb(scratch / "small-bomb.png", 15000, 15000, scratch.path());
  ASSERT_EQ(test::readPNGHeader(scratch / "bomb.png").width, 30000);
  for (const char* name :
       {"empty.png", "notes.png", "folder.png", "cut.png", "cut.jpg", "gone.png", "bomb.png", "small-bomb.png"}) {
    expectRefused(scratch / name);
  }
}

TEST_F(BadSourceTest, UnreadableFile) {
  if (::geteuid() != 0) {
    test::makeTestPicture(8, 8).pngsave((scratch / "locked.png").c_str());
    fs::permissions(scratch / "locked.png", fs::perms::none);
    expectRefused(scratch / "locked.png");
    return;
  }
  // Permissions do not stop root, but a write-only sysfs attribute refuses
  // reading even to root while it looks like a non-empty regular file.
  const fs::path writeOnly = "/sys/bus/pci/rescan";
  std::error_code error;
  if (!fs::is_regular_file(writeOnly, error) || std::ifstream(writeOnly).is_open()) {
    GTEST_SKIP() << "running as root without a file that refuses root";
  }
  expectRefused(writeOnly);
}

constexpr double millimetresPerInch = 25.4;

VImage withResolution(VImage image, double dpiWidth, double dpiHeight) {
  return image.copy(VImage::option()
                        ->set("xres", dpiWidth / millimetresPerInch)
                        ->set("yres", dpiHeight / millimetresPerInch));
}

// Cuts the named chunk out of a PNG (chunks carry their own checksums).
void removePNGChunk(const fs::path& file, std::string_view type) {
  std::string bytes = test::readTextFile(file);
  for (std::size_t at = 8; at + 8 <= bytes.size();) {
    auto u = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])); };
    std::size_t length = (u(0) << 24) | (u(1) << 16) | (u(2) << 8) | u(3);
    if (bytes.compare(at + 4, 4, type) == 0) {
      bytes.erase(at, length + 12);
      break;
    }
    at += length + 12;
  }
  test::writeTextFile(file, bytes);
}

class SourceMetadataTest : public ::testing::Test {
 protected:
  test::ScratchDirectory scratch;
  SourceImageMetadata read(const fs::path& file) { return readSourceImageMetadata(file, PixelSize{1, 1}); }
};

// The file states no resolution (the reader assumes 72 dpi here): no DPI line.
TEST_F(SourceMetadataTest, PlainEightBitPNG) {
  test::makeTestPicture(40, 30).pngsave((scratch / "plain.png").c_str());
  removePNGChunk(scratch / "plain.png", "pHYs");
  auto metadata = read(scratch / "plain.png");
  EXPECT_EQ(specLines(metadata, 5), (std::vector<std::string>{"File Size: 5 bytes", "Dimensions: 40 x 30 px",
                                                              "Format: PNG image", "Bit Depth: 8-bit",
                                                              "Color Model: RGB", "Color Profile: --", "Alpha: no"}));
  EXPECT_FALSE(metadata.dpiWidth || metadata.dpiHeight || metadata.isJPEG);
  auto p3 = ColorSpace::wellKnown(ColorSpace::WellKnown::displayP3);
  test::makeTestPicture(8, 8, TestDepth::eight, 1).pngsave((scratch / "grey.png").c_str());
  VImage tagged = test::makeTestPicture(8, 8).copy();
  vips_image_set_blob_copy(tagged.get_image(), VIPS_META_ICC_NAME, p3->iccProfile().data(), p3->iccProfile().size());
  tagged.pngsave((scratch / "p3.png").c_str());
  EXPECT_EQ(read(scratch / "grey.png").colorModel, "Gray");
  EXPECT_EQ(read(scratch / "p3.png").colorProfileName, "Display P3");
}

TEST_F(SourceMetadataTest, SixteenBitPNGWithAlphaAndResolution) {
  withResolution(test::makeTestPicture(8, 6, TestDepth::sixteen, 3, TestAlpha::varying), 300, 300)
      .pngsave((scratch / "deep.png").c_str());
  auto metadata = read(scratch / "deep.png");
  EXPECT_EQ(metadata.bitDepth, 16);
  EXPECT_EQ(metadata.hasAlpha, true);
  // pHYs holds whole pixels per metre: 11811 px/m is 299.9994 dpi.
  ASSERT_TRUE(metadata.dpiWidth && metadata.dpiHeight);
  EXPECT_NEAR(*metadata.dpiWidth, 11811 * 0.0254, 1e-9);
  EXPECT_EQ(dpiText(metadata), "300");
}

TEST_F(SourceMetadataTest, CMYKJPEG) {
  VImage tagged = test::makeTestPicture(8, 8).icc_transform("cmyk", VImage::option()->set("input_profile", "srgb"));
  ASSERT_EQ(tagged.interpretation(), VIPS_INTERPRETATION_CMYK);
  tagged.jpegsave((scratch / "print.jpeg").c_str());
  auto metadata = read(scratch / "print.jpeg");
  EXPECT_EQ(metadata.colorModel, "CMYK");
  EXPECT_EQ(metadata.formatDescription, "JPEG image");
  // The description of the CMYK profile that libvips converts with and embeds.
  EXPECT_EQ(metadata.colorProfileName, "Chemical proof");
}

TEST_F(SourceMetadataTest, ResolutionOfTIFFInEitherUnitAndOfJPEG) {
  VImage picture = test::makeTestPicture(10, 10);
  withResolution(picture, 300, 72)
      .tiffsave((scratch / "inch.tif").c_str(), VImage::option()->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_INCH));
  withResolution(picture, 300, 300)
      .tiffsave((scratch / "cm.tif").c_str(), VImage::option()->set("resunit", VIPS_FOREIGN_TIFF_RESUNIT_CM));
  auto inch = read(scratch / "inch.tif");
  EXPECT_EQ(inch.formatDescription, "TIFF image");
  EXPECT_NEAR(inch.dpiWidth.value_or(0), 300, 1e-6);
  EXPECT_NEAR(inch.dpiHeight.value_or(0), 72, 1e-6);
  EXPECT_EQ(dpiText(inch), "300 x 72");
  auto cm = read(scratch / "cm.tif");
  EXPECT_NEAR(cm.dpiWidth.value_or(0), 300, 0.01);
  EXPECT_EQ(dpiText(cm), "300");
  // A JPEG without any density has no resolution.
  withResolution(test::makeTestPicture(10, 10), 300, 300)
      .jpegsave((scratch / "bare.jpg").c_str(), VImage::option()->set("strip", true));
  withResolution(test::makeTestPicture(10, 10), 240, 240).jpegsave((scratch / "exif.jpg").c_str());
  EXPECT_EQ(read(scratch / "bare.jpg").dpiWidth, std::nullopt);
  EXPECT_NEAR(read(scratch / "exif.jpg").dpiWidth.value_or(0), 240, 1e-6);
}

TEST_F(SourceMetadataTest, UnreadableFileFallsBackToTheGivenSize) {
  test::writeTextFile(scratch / "notes.jpg", "not a picture");
  auto metadata = readSourceImageMetadata(scratch / "notes.jpg", PixelSize{10.6, 7.4});
  EXPECT_EQ(specLines(metadata, 13),
            (std::vector<std::string>{"File Size: 13 bytes", "Dimensions: 11 x 7 px", "Bit Depth: --", "Color Profile: --"}));
  EXPECT_TRUE(metadata.isJPEG);  // nothing read it, so the name decides
}

TEST(IsJPEGSourceTest, AKnownTypeDecidesAndTheNameIsTheFallback) {
  EXPECT_TRUE(isJPEGSource("public.jpeg", "/a/photo.png"));
  EXPECT_FALSE(isJPEGSource("public.png", "/a/really-a-png.jpg"));
  EXPECT_TRUE(isJPEGSource(std::nullopt, "/a/IMG_0001.JPG"));
  EXPECT_TRUE(isJPEGSource(std::string("com.example.unknown"), "/a/photo.jpeg"));
  EXPECT_FALSE(isJPEGSource(std::nullopt, "/a/photo.png"));
  EXPECT_FALSE(isJPEGSource(std::nullopt, "/a/noextension"));
}

TEST(DeclaredResolutionTest, EXIFBlockResolutionHonoursItsUnit) {
  // "Exif\0\0", little-endian TIFF header, IFD0 with XResolution, YResolution, ResolutionUnit.
  std::vector<std::uint8_t> block = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0, 8, 0, 0, 0, 3, 0,
                                     // 282 RATIONAL 1 @ 50
                                     0x1A, 1, 5, 0, 1, 0, 0, 0, 50, 0, 0, 0,
                                     // 283 RATIONAL 1 @ 58
                                     0x1B, 1, 5, 0, 1, 0, 0, 0, 58, 0, 0, 0,
                                     // 296 SHORT 1 = 3 (centimetre)
                                     0x28, 1, 3, 0, 1, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0,
                                     // 50: 100/1, 58: 200/2
                                     100, 0, 0, 0, 1, 0, 0, 0, 200, 0, 0, 0, 2, 0, 0, 0};
  auto resolution = exifDeclaredResolution(block);
  ASSERT_TRUE(resolution);
  EXPECT_DOUBLE_EQ(resolution->dpiWidth, 254.0);
  EXPECT_DOUBLE_EQ(resolution->dpiHeight, 254.0);
  block[14 + 2 + 24 + 8] = 1;  // unit "none": an aspect ratio only
  EXPECT_FALSE(exifDeclaredResolution(block));
  block.resize(30);  // cut inside the directory
  EXPECT_FALSE(exifDeclaredResolution(block));
}

// ---- Texts ------------------------------------------------------------------

SourceImageMetadata displayP3Photo() {
  return {4032, 3024, "HEIC image", 8, "RGB", "Display P3", std::nullopt, false, 1, 72, 72, false};
}

TEST(SourceTextsTest, SummaryAndSpecLinesLeaveOutWhatIsUnknown) {
  EXPECT_EQ(summaryLine(displayP3Photo(), 2'350'000), "4032 x 3024 px  |  8-bit  |  Display P3  |  2.35 MB");
  EXPECT_EQ(specLines(displayP3Photo(), 2'350'000),
            (std::vector<std::string>{"File Size: 2.35 MB", "Dimensions: 4032 x 3024 px", "Format: HEIC image",
                                      "Bit Depth: 8-bit", "Color Model: RGB", "Color Profile: Display P3",
                                      "Alpha: no", "DPI: 72", "Orientation: 1"}));
  SourceImageMetadata sparse{10, 20, {}, {}, {}, {}, {}, {}, {}, 300, {}, false};  // no DPI text without a height
  EXPECT_EQ(specLines(sparse, 18),
            (std::vector<std::string>{"File Size: 18 bytes", "Dimensions: 10 x 20 px", "Bit Depth: --",
                                      "Color Profile: --"}));
  sparse.hasAlpha = true;
  EXPECT_EQ(specLines(sparse, 18).back(), "Alpha: yes");
  EXPECT_EQ(summaryLine(sparse, 999), "10 x 20 px  |  bit depth unknown + alpha  |  profile unknown  |  999 bytes");
  sparse.bitDepth = 16;
  EXPECT_EQ(summaryLine(sparse, 1000), "10 x 20 px  |  16-bit + alpha  |  profile unknown  |  1.0 KB");
  sparse.dpiWidth = 299.6;
  sparse.dpiHeight = 300.4;  // differ, although both read 300
  EXPECT_EQ(dpiText(sparse), "300 x 300");
}

using K = ColorSpace::WellKnown;

int sampleAt(const DecodedImage& image, int x, int y, int channel) {
  std::size_t index = (static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width()) +
                       static_cast<std::size_t>(x)) *
                          static_cast<std::size_t>(image.channels()) +
                      static_cast<std::size_t>(channel);
  if (image.format() == SampleFormat::uint8) return std::to_integer<int>(image.data()[index]);
  std::uint16_t value;
  std::memcpy(&value, image.data() + index * 2, 2);
  return value;
}

float floatAt(const DecodedImage& image, std::size_t index) {
  float value;
  std::memcpy(&value, image.data() + index * 4, 4);
  return value;
}

class DisplayImageReaderTest : public ::testing::Test {
 protected:
  test::ScratchDirectory scratch;
};

TEST_F(DisplayImageReaderTest, AGivenColourSpaceReinterpretsThePixelsWithoutConverting) {
  auto p3 = ColorSpace::wellKnown(K::displayP3);
  auto srgb = ColorSpace::wellKnown(K::sRGB);
  VImage tagged = test::makeTestPicture(5, 5).copy();
  vips_image_set_blob_copy(tagged.get_image(), VIPS_META_ICC_NAME, srgb->iccProfile().data(), srgb->iccProfile().size());
  tagged.pngsave((scratch / "tagged.png").c_str());
  auto own = readDisplayImage(scratch / "tagged.png", nullptr, std::nullopt);
  auto asP3 = readDisplayImage(scratch / "tagged.png", p3, std::nullopt);
  ASSERT_TRUE(own && asP3);
  EXPECT_EQ(own->image->colorSpace()->kind(), K::sRGB);
  EXPECT_EQ(asP3->image->colorSpace(), p3);
  ASSERT_EQ(own->image->byteCount(), asP3->image->byteCount());
  EXPECT_EQ(std::memcmp(own->image->data(), asP3->image->data(), own->image->byteCount()), 0);

  // A grey file read in a given space repeats its grey value into R, G and B.
  test::makeTestPicture(4, 3, TestDepth::eight, 1).pngsave((scratch / "grey.png").c_str());
  auto grey = readDisplayImage(scratch / "grey.png", p3, std::nullopt);
  ASSERT_TRUE(grey);
  EXPECT_EQ(grey->image->channels(), 3);
  EXPECT_EQ(grey->image->format(), SampleFormat::uint8);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(sampleAt(*grey->image, 3, 2, c), test::testSampleValue(3, 2, 0, TestDepth::eight));
  // Without one, grey and alpha stay in plain sRGB: grey repeated, alpha carried over, nothing rounded.
  test::makeTestPicture(4, 4, TestDepth::eight, 1, TestAlpha::varying).pngsave((scratch / "ga.png").c_str());
  auto greyAlpha = readDisplayImage(scratch / "ga.png", nullptr, std::nullopt);
  ASSERT_TRUE(greyAlpha);
  EXPECT_TRUE(isPlainSRGB(greyAlpha->image->colorSpace()));
  EXPECT_EQ(greyAlpha->image->channels(), 4);
  EXPECT_EQ(greyAlpha->image->format(), SampleFormat::uint8);
  EXPECT_EQ(sampleAt(*greyAlpha->image, 2, 1, 2), test::testSampleValue(2, 1, 0, TestDepth::eight));
  EXPECT_EQ(sampleAt(*greyAlpha->image, 2, 1, 3), test::testSampleValue(2, 1, 3, TestDepth::eight));
}

TEST_F(DisplayImageReaderTest, ExifOrientationSixTurnsThePictureClockwise) {
  VImage picture = test::makeTestPicture(6, 4).copy();
  picture.set(VIPS_META_ORIENTATION, 6);
  // Lossless enough to compare: a TIFF keeps the values and the orientation tag.
  picture.tiffsave((scratch / "turned.tif").c_str());
  auto display = readDisplayImage(scratch / "turned.tif", nullptr, std::nullopt);
  ASSERT_TRUE(display);
  EXPECT_EQ(display->displaySize, (PixelSize{4, 6}));
  // Shown (x', y') is stored (y', H - 1 - x') for a quarter turn clockwise, H = 4.
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(sampleAt(*display->image, x, y, 0), test::testSampleValue(y, 3 - x, 0, TestDepth::eight));
    }
  }
}

TEST_F(DisplayImageReaderTest, FloatValuesAboveOneStayUnclipped) {
  VImage bright = (VImage::black(3, 2, VImage::option()->set("bands", 3)) + std::vector<double>{2.5, 0.5, -0.25})
                      .cast(VIPS_FORMAT_FLOAT)
                      .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_scRGB));
  bright.tiffsave((scratch / "hdr.tif").c_str());
  auto display = readDisplayImage(scratch / "hdr.tif", nullptr, std::nullopt);
  ASSERT_TRUE(display);
  const DecodedImage& image = *display->image;
  ASSERT_EQ(image.format(), SampleFormat::float32);
  EXPECT_FLOAT_EQ(floatAt(image, 0), 2.5f);
  EXPECT_FLOAT_EQ(floatAt(image, 1), 0.5f);
  EXPECT_FLOAT_EQ(floatAt(image, 2), -0.25f);
}

// A 2x1 16-bit RGB PNG with the two pixels (a, a, a) and (b, b, b), optionally tagged.
fs::path writeGreyPair(const fs::path& file, int a, int b, const ColorSpaceRef& tag) {
  ensureVipsInitialized();
  VImage left = VImage::black(1, 1, VImage::option()->set("bands", 3)) + a;
  VImage right = VImage::black(1, 1, VImage::option()->set("bands", 3)) + b;
  VImage image = left.join(right, VIPS_DIRECTION_HORIZONTAL)
                     .cast(VIPS_FORMAT_USHORT)
                     .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16));
  if (tag) {
    const auto& icc = tag->iccProfile();
    vips_image_set_blob_copy(image.get_image(), VIPS_META_ICC_NAME, icc.data(), icc.size());
  }
  image.pngsave(file.c_str(), VImage::option()->set("bitdepth", 16));
  return file;
}

std::vector<std::uint16_t> samplesOf(const DecodedImage& image) {
  EXPECT_EQ(image.format(), SampleFormat::uint16);
  std::vector<std::uint16_t> samples(image.byteCount() / 2);
  std::memcpy(samples.data(), image.data(), image.byteCount());
  return samples;
}

// The sRGB encoding of a linear value (IEC 61966-2.1), in 16 bits.
double srgbEncoded16(double linear) {
  double encoded = linear <= 0.0031308 ? 12.92 * linear : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
  return encoded * 65535.0;
}

class DecodedImageReaderTest : public ::testing::Test {
 protected:
  test::ScratchDirectory scratch;
};

TEST_F(DecodedImageReaderTest, UntaggedOrSameSpacePNGKeepsItsSamplesInTheWantedSpace) {
  auto file = writeGreyPair(scratch / "dwebp.png", 1000, 50000, nullptr);
  auto p3 = ColorSpace::wellKnown(K::displayP3);
  auto image = readDecodedImage(file, DisplayMetadata{p3, 4.0});
  ASSERT_TRUE(image);
  EXPECT_EQ(image->image->colorSpace(), p3);
  EXPECT_EQ(image->contentHeadroom, 4.0);
  EXPECT_EQ(samplesOf(*image->image), (std::vector<std::uint16_t>{1000, 1000, 1000, 50000, 50000, 50000}));
  // A PNG tagged with the wanted space keeps its samples too.
  auto tagged = readDecodedImage(writeGreyPair(scratch / "avifdec.png", 123, 65535, p3), DisplayMetadata{p3, {}});
  ASSERT_TRUE(tagged);
  EXPECT_EQ(samplesOf(*tagged->image), (std::vector<std::uint16_t>{123, 123, 123, 65535, 65535, 65535}));
}

TEST_F(DecodedImageReaderTest, TaggedPNGIsConvertedFromItsOwnProfileIntoTheWantedSpace) {
  // What djxl writes for an ICC-tagged lossy source: linear sRGB with that profile.
  auto file = writeGreyPair(scratch / "djxl.png", 32768, 6554, ColorSpace::wellKnown(K::linearSRGB));
  auto srgb = ColorSpace::wellKnown(K::sRGB);
  auto image = readDecodedImage(file, DisplayMetadata{srgb, std::nullopt});
  ASSERT_TRUE(image);
  EXPECT_EQ(image->image->colorSpace(), srgb);
  auto samples = samplesOf(*image->image);
  // Linear 0.5 and 0.1 encode as sRGB 0.7354 and 0.3492; lcms2's curves agree to a few 16-bit steps.
  for (int channel = 0; channel < 3; ++channel) {
    EXPECT_NEAR(samples[channel], srgbEncoded16(32768 / 65535.0), 40);
    EXPECT_NEAR(samples[3 + channel], srgbEncoded16(6554 / 65535.0), 40);
  }
  EXPECT_FALSE(image->contentHeadroom);
}

// Without a wanted space the file keeps its own; an unreadable one gives nothing.
TEST_F(DecodedImageReaderTest, OwnSpaceWithoutAWantedOneAndNothingForAnUnreadableFile) {
  auto own = readDecodedImage(writeGreyPair(scratch / "own.png", 10, 20, ColorSpace::wellKnown(K::linearSRGB)), {});
  ASSERT_TRUE(own);
  EXPECT_EQ(own->image->colorSpace()->kind(), K::linearSRGB);
  test::writeTextFile(scratch / "bad.png", "not a png");
  EXPECT_FALSE(readDecodedImage(scratch / "bad.png", DisplayMetadata{ColorSpace::wellKnown(K::sRGB), {}}));
  EXPECT_FALSE(readDecodedImage(scratch / "missing.png", DisplayMetadata{}));
}

class WellKnownColorSpaceTest : public ::testing::TestWithParam<K> {};

TEST_P(WellKnownColorSpaceTest, ProfileParsesAndIsRecognisedAgain) {
  auto space = ColorSpace::wellKnown(GetParam());
  ASSERT_TRUE(space);
  EXPECT_TRUE(space->isRGBModel());
  ASSERT_FALSE(space->iccProfile().empty());
  auto reread = ColorSpace::fromICC(space->iccProfile());
  ASSERT_TRUE(reread);
  EXPECT_EQ(reread->name(), space->name());
  if (GetParam() != K::deviceRGB) {
    EXPECT_EQ(reread->kind(), GetParam());
  }
}

INSTANTIATE_TEST_SUITE_P(AllSpaces, WellKnownColorSpaceTest,
                         ::testing::Values(K::sRGB, K::displayP3, K::linearSRGB, K::linearDisplayP3, K::bt2100PQ,
                                           K::bt2100HLG, K::deviceRGB));

// PQ code value 0.5081 is 100 nits, i.e. 0.01 of the 10000-nit range.
TEST(ColorSpaceTest, PQCurveMapsReferenceWhiteToOneHundredNits) {
  auto pq = openProfile(*ColorSpace::wellKnown(K::bt2100PQ));
  cmsToneCurve* curve = static_cast<cmsToneCurve*>(cmsReadTag(pq.get(), cmsSigRedTRCTag));
  ASSERT_NE(curve, nullptr);
  EXPECT_NEAR(cmsEvalToneCurveFloat(curve, 0.5081f), 0.01, 2e-4);
}

TEST(ColorSpaceTest, GarbageIsNotAProfile) {
  EXPECT_EQ(ColorSpace::fromICC({}), nullptr);
  EXPECT_EQ(ColorSpace::fromICC(std::vector<std::uint8_t>(200, 7)), nullptr);
}

}  // namespace
}  // namespace quorlin
