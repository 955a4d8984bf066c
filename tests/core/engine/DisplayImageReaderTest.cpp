#include "core/engine/DisplayImageReader.h"

#include <gtest/gtest.h>
#include <vips/vips8>
#include <lcms2.h>

#include <cmath>
#include <cstring>

#include "core/engine/ColorSpace.h"
#include "core/engine/DecodedImageReader.h"
#include "core/engine/LcmsHandles.h"
#include "core/engine/VipsRuntime.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using test::TestAlpha;
using test::TestDepth;
using vips::VImage;
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
