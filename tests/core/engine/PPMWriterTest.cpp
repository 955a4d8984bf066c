#include "core/engine/PPMWriter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/common/CompressionError.h"
#include "core/engine/ColorSpace.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using test::TestAlpha;
using test::TestDepth;
using vips::VImage;

std::vector<unsigned char> fileBytes(const fs::path& file) {
  std::ifstream stream(file, std::ios::binary);
  return std::vector<unsigned char>((std::istreambuf_iterator<char>(stream)), {});
}

class PPMWriterTest : public ::testing::Test {
 protected:
  test::ScratchDirectory scratch;
};

TEST_F(PPMWriterTest, ThreeByTwoPictureIsAnElevenByteHeaderAndEighteenBytes) {
  test::makeTestPicture(3, 2).pngsave((scratch / "in.png").c_str());
  writePPM(scratch / "in.png", scratch / "source.ppm");
  auto bytes = fileBytes(scratch / "source.ppm");
  ASSERT_EQ(bytes.size(), 11u + 18u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 11), "P6\n3 2\n255\n");
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 3; ++x) {
      for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(bytes[static_cast<std::size_t>(11 + (y * 3 + x) * 3 + c)], test::testSampleValue(x, y, c, TestDepth::eight));
      }
    }
  }
}

TEST_F(PPMWriterTest, SixteenBitSRGBIsRoundedToEightBits) {
  test::makeTestPicture(5, 4, TestDepth::sixteen).pngsave((scratch / "deep.png").c_str());
  writePPM(scratch / "deep.png", scratch / "out.ppm");
  auto bytes = fileBytes(scratch / "out.ppm");
  ASSERT_EQ(bytes.size(), 11u + 60u);
  for (int c = 0; c < 3; ++c) {
    int value = test::testSampleValue(4, 3, c, TestDepth::sixteen);
    int expected = static_cast<int>(std::lround(value * 255.0 / 65535.0));
    EXPECT_EQ(bytes[static_cast<std::size_t>(11 + (3 * 5 + 4) * 3 + c)], expected);
  }
}

TEST_F(PPMWriterTest, TransparencyIsCompositedOntoBlack) {
  // Alpha 0 on the left column, full on the right.
  VImage x = VImage::xyz(2, 1).extract_band(0);
  VImage colour = (VImage::black(2, 1, VImage::option()->set("bands", 3)) + std::vector<double>{200, 100, 50})
                      .cast(VIPS_FORMAT_UCHAR);
  VImage alpha = (x >= 1).cast(VIPS_FORMAT_UCHAR);
  colour.bandjoin(alpha).copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB))
      .pngsave((scratch / "cutout.png").c_str());
  writePPM(scratch / "cutout.png", scratch / "out.ppm");
  auto bytes = fileBytes(scratch / "out.ppm");
  ASSERT_EQ(bytes.size(), std::string("P6\n2 1\n255\n").size() + 6);
  std::vector<unsigned char> pixels(bytes.end() - 6, bytes.end());
  EXPECT_EQ(pixels, (std::vector<unsigned char>{0, 0, 0, 200, 100, 50}));
}

TEST_F(PPMWriterTest, OtherColourSpacesAreConvertedToSRGB) {
  // Display P3 shares sRGB's white point and curve, so neutrals keep their
  // values while the P3 primaries fall outside sRGB and clip.
  auto p3 = ColorSpace::wellKnown(ColorSpace::WellKnown::displayP3);
  std::vector<double> red = {255, 0, 0}, grey = {128, 128, 128};
  VImage x = VImage::xyz(2, 1).extract_band(0);
  VImage picture = (x >= 1).ifthenelse(grey, red).cast(VIPS_FORMAT_UCHAR).copy();
  vips_image_set_blob_copy(picture.get_image(), VIPS_META_ICC_NAME, p3->iccProfile().data(), p3->iccProfile().size());
  picture.pngsave((scratch / "p3.png").c_str());
  writePPM(scratch / "p3.png", scratch / "out.ppm");
  auto bytes = fileBytes(scratch / "out.ppm");
  ASSERT_EQ(bytes.size(), 11u + 6u);
  EXPECT_EQ(bytes[11], 255);
  EXPECT_LE(bytes[12], 1);
  EXPECT_LE(bytes[13], 1);
  for (std::size_t c = 14; c < 17; ++c) EXPECT_NEAR(bytes[c], 128, 1);
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
