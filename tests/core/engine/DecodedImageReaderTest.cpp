#include "core/engine/DecodedImageReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include <vips/vips8>

#include "core/engine/VipsRuntime.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using vips::VImage;
using K = ColorSpace::WellKnown;

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

}  // namespace
}  // namespace quorlin
