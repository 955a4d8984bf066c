#include "core/engine/DisplayImageReader.h"

#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace
}  // namespace quorlin
