#include "core/engine/SourceMetadata.h"

#include <gtest/gtest.h>

#include <fstream>

#include "core/engine/DeclaredResolution.h"
#include "core/engine/DisplayImageReader.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using test::TestAlpha;
using test::TestDepth;
using vips::VImage;

constexpr double millimetresPerInch = 25.4;

VImage withResolution(VImage image, double dpiWidth, double dpiHeight) {
  return image.copy(VImage::option()
                        ->set("xres", dpiWidth / millimetresPerInch)
                        ->set("yres", dpiHeight / millimetresPerInch));
}

std::vector<char> fileBytes(const fs::path& file) {
  std::ifstream stream(file, std::ios::binary);
  return std::vector<char>((std::istreambuf_iterator<char>(stream)), {});
}

void writeBytes(const fs::path& file, const std::vector<char>& bytes) {
  std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// Cuts the named chunk out of a PNG (chunks carry their own checksums).
void removePNGChunk(const fs::path& file, std::string_view type) {
  auto bytes = fileBytes(file);
  for (std::size_t at = 8; at + 8 <= bytes.size();) {
    auto u = [&](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])); };
    std::size_t length = (u(0) << 24) | (u(1) << 16) | (u(2) << 8) | u(3);
    if (std::string_view(bytes.data() + at + 4, 4) == type) {
      bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                  bytes.begin() + static_cast<std::ptrdiff_t>(at + length + 12));
      break;
    }
    at += length + 12;
  }
  writeBytes(file, bytes);
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

  VImage untagged = VImage::bandjoin({test::makeTestPicture(8, 8), test::makeTestPicture(8, 8, TestDepth::eight, 1)})
                        .copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_CMYK));
  untagged.jpegsave((scratch / "plain-cmyk.jpg").c_str());
  EXPECT_EQ(read(scratch / "plain-cmyk.jpg").colorModel, "CMYK");
  EXPECT_EQ(read(scratch / "plain-cmyk.jpg").colorProfileName, std::nullopt);
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

TEST_F(SourceMetadataTest, OrientationIsReportedBeforeTurningAndTheDisplaySizeAfter) {
  VImage picture = test::makeTestPicture(64, 48).copy();
  picture.set(VIPS_META_ORIENTATION, 6);
  picture.jpegsave((scratch / "portrait.JPG").c_str());
  auto display = readDisplayImage(scratch / "portrait.JPG", nullptr, std::nullopt);
  ASSERT_TRUE(display);
  EXPECT_EQ(display->displaySize, (PixelSize{48, 64}));
  auto metadata = readSourceImageMetadata(scratch / "portrait.JPG", display->displaySize);
  EXPECT_EQ(metadata.orientation, 6);
  EXPECT_EQ(metadata.pixelWidth, 64);
  EXPECT_EQ(metadata.pixelHeight, 48);
  EXPECT_TRUE(metadata.isJPEG);
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

}  // namespace
}  // namespace quorlin
