// What the samples mean: PNG colour chunks, ICC profiles (recognised or
// converted with lcms2), and the PNG decoder's handling of bit depths.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>

#include "MetricTestImages.h"
#include "core/engine/ColorSpace.h"
#include "metric/IccProfiles.h"
#include "metric/PngColourChunks.h"
#include "metric/Ssimulacra2.h"
#include "support/TestSupport.h"

namespace quorlin::metric {
namespace {

using test::makePicture;
using test::PngChunks;
using test::writePng;

// --- Precedence of the PNG colour chunks -----------------------------------

TEST(PngColourChunksTest, NoChunksMeanSrgb) {
  EXPECT_EQ(colourEncodingForPng({}).kind, ColourEncoding::Kind::srgb);
}

TEST(PngColourChunksTest, GammaAloneIsAPurePowerLawNotTheSrgbCurve) {
  PngColourChunks chunks;
  chunks.gamma = 45455;
  const ColourEncoding encoding = colourEncodingForPng(chunks);
  ASSERT_EQ(encoding.kind, ColourEncoding::Kind::described);
  EXPECT_EQ(encoding.transfer, TransferCurve::power);
  EXPECT_DOUBLE_EQ(encoding.exponent, 1.0 / 0.45455);
  EXPECT_EQ(encoding.chromaticities, kSrgbChromaticities);
}

TEST(PngColourChunksTest, ChromaticitiesAloneKeepTheSrgbCurve) {
  PngColourChunks chunks;
  chunks.chromaticities = std::array<std::uint32_t, 8>{31270, 32900, 68000, 32000, 26500, 69000, 15000, 6000};
  const ColourEncoding encoding = colourEncodingForPng(chunks);
  ASSERT_EQ(encoding.kind, ColourEncoding::Kind::described);
  EXPECT_EQ(encoding.transfer, TransferCurve::srgb);
  EXPECT_DOUBLE_EQ(encoding.chromaticities.redX, 0.68);
  EXPECT_DOUBLE_EQ(encoding.chromaticities.whiteY, 0.329);
}

TEST(PngColourChunksTest, SrgbOverridesGammaAndChromaticities) {
  PngColourChunks chunks;
  chunks.srgb = true;
  chunks.gamma = 100000;
  chunks.chromaticities = std::array<std::uint32_t, 8>{31270, 32900, 68000, 32000, 26500, 69000, 15000, 6000};
  EXPECT_EQ(colourEncodingForPng(chunks).kind, ColourEncoding::Kind::srgb);
}

TEST(PngColourChunksTest, AnIccProfileOverridesSrgbAndCicpOverridesBoth) {
  PngColourChunks chunks;
  chunks.srgb = true;
  chunks.iccp = true;
  chunks.iccProfile = {1, 2, 3};
  EXPECT_EQ(colourEncodingForPng(chunks).kind, ColourEncoding::Kind::icc);

  chunks.cicp = PngColourChunks::Cicp{12, 16, 0, 1};  // Display P3 primaries, PQ
  const ColourEncoding encoding = colourEncodingForPng(chunks);
  ASSERT_EQ(encoding.kind, ColourEncoding::Kind::described);
  EXPECT_EQ(encoding.transfer, TransferCurve::pq);
  EXPECT_DOUBLE_EQ(encoding.chromaticities.redX, 0.68);
}

TEST(PngColourChunksTest, CicpThatCannotDescribeRgbSamplesIsIgnored) {
  PngColourChunks chunks;
  chunks.iccp = true;
  chunks.iccProfile = {1, 2, 3};
  for (const auto cicp : {PngColourChunks::Cicp{1, 13, 1, 1},     // YCbCr matrix
                          PngColourChunks::Cicp{1, 13, 0, 0},     // narrow range
                          PngColourChunks::Cicp{1, 99, 0, 1},     // unknown transfer
                          PngColourChunks::Cicp{42, 13, 0, 1}}) {  // unknown primaries
    chunks.cicp = cicp;
    EXPECT_EQ(colourEncodingForPng(chunks).kind, ColourEncoding::Kind::icc);
  }
}

// --- Recognising standard profiles ------------------------------------------

TEST(IccRecognitionTest, SrgbAndLinearSrgbProfilesAreRecognisedOthersAreNot) {
  ProfileHandle srgb(cmsCreate_sRGBProfile());
  auto recognised = recogniseStandardProfile(srgb.get(), false);
  ASSERT_TRUE(recognised);
  EXPECT_EQ(recognised->transfer, TransferCurve::srgb);

  const auto& linearBytes = ColorSpace::wellKnown(ColorSpace::WellKnown::linearSRGB)->iccProfile();
  ProfileHandle linear(cmsOpenProfileFromMem(linearBytes.data(), static_cast<cmsUInt32Number>(linearBytes.size())));
  recognised = recogniseStandardProfile(linear.get(), false);
  ASSERT_TRUE(recognised);
  EXPECT_EQ(recognised->transfer, TransferCurve::linear);

  const auto& p3Bytes = ColorSpace::wellKnown(ColorSpace::WellKnown::displayP3)->iccProfile();
  ProfileHandle p3(cmsOpenProfileFromMem(p3Bytes.data(), static_cast<cmsUInt32Number>(p3Bytes.size())));
  EXPECT_FALSE(recogniseStandardProfile(p3.get(), false));
  EXPECT_FALSE(recogniseStandardProfile(srgb.get(), true));  // an RGB profile is no grey profile
}

TEST(IccRecognitionTest, GreyProfilesAreRecognisedByTheirCurve) {
  const cmsFloat64Number params[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, params);
  ProfileHandle grey(cmsCreateGrayProfile(cmsD50_xyY(), curve));
  cmsFreeToneCurve(curve);
  auto recognised = recogniseStandardProfile(grey.get(), true);
  ASSERT_TRUE(recognised);
  EXPECT_EQ(recognised->transfer, TransferCurve::srgb);
}

// --- Whole comparisons with colour-managed input -----------------------------

class ColourManagedComparisonTest : public ::testing::Test {
 protected:
  static constexpr int kWidth = 128, kHeight = 96;
  void SetUp() override {
    picture_ = makePicture(kWidth, kHeight, 3);
    original_ = scratch_ / "original.png";
    writePng(original_, kWidth, kHeight, 3, picture_);
  }
  double scoreAgainstOriginal(const std::filesystem::path& distorted, std::string* warnings = nullptr) {
    const MetricResult result = scoreImageFiles(original_, distorted, {}, warnings);
    EXPECT_TRUE(result.ok()) << result.message();
    return result.score();
  }
  std::vector<std::uint8_t> iccOf(ColorSpace::WellKnown kind) { return ColorSpace::wellKnown(kind)->iccProfile(); }

  quorlin::test::ScratchDirectory scratch_;
  std::vector<std::uint8_t> picture_;
  std::filesystem::path original_;
};

TEST_F(ColourManagedComparisonTest, SrgbChunkAndEmbeddedSrgbProfileScoreLikeAnUntaggedFile) {
  PngChunks srgbChunk;
  srgbChunk.srgb = true;
  srgbChunk.gamma = 45455;
  writePng(scratch_ / "chunk.png", kWidth, kHeight, 3, picture_, srgbChunk);
  EXPECT_EQ(scoreAgainstOriginal(scratch_ / "chunk.png"), 100.0);

  PngChunks profile;
  profile.iccProfile = iccOf(ColorSpace::WellKnown::sRGB);
  writePng(scratch_ / "profile.png", kWidth, kHeight, 3, picture_, profile);
  EXPECT_EQ(scoreAgainstOriginal(scratch_ / "profile.png"), 100.0);
}

TEST_F(ColourManagedComparisonTest, GammaWithoutSrgbIsAPowerLawAndScoresLower) {
  PngChunks gamma;
  gamma.gamma = 45455;
  writePng(scratch_ / "gamma.png", kWidth, kHeight, 3, picture_, gamma);
  const double value = scoreAgainstOriginal(scratch_ / "gamma.png");
  EXPECT_LT(value, 97.0);
  EXPECT_GT(value, 50.0);
}

TEST_F(ColourManagedComparisonTest, CicpWinsOverAnUnusableProfile) {
  PngChunks chunks;
  chunks.cicp = std::array<std::uint8_t, 4>{1, 13, 0, 1};
  chunks.iccProfile = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'I', 'C', 'C'};
  writePng(scratch_ / "cicp.png", kWidth, kHeight, 3, picture_, chunks);
  std::string warnings;
  EXPECT_EQ(scoreAgainstOriginal(scratch_ / "cicp.png", &warnings), 100.0);
  EXPECT_EQ(warnings, "");
}

TEST_F(ColourManagedComparisonTest, AnUnparseableProfileIsTakenAsSrgbWithAWarning) {
  PngChunks chunks;
  chunks.iccProfile = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'I', 'C', 'C'};
  writePng(scratch_ / "bad-profile.png", kWidth, kHeight, 3, picture_, chunks);
  std::string warnings;
  EXPECT_EQ(scoreAgainstOriginal(scratch_ / "bad-profile.png", &warnings), 100.0);
  EXPECT_EQ(warnings, "Warning: error setting ICC profile, assuming SRGB");
}

TEST_F(ColourManagedComparisonTest, AGreyImageWithAnRgbProfileCannotBeDecoded) {
  const auto grey = makePicture(kWidth, kHeight, 1);
  PngChunks chunks;
  chunks.iccProfile = iccOf(ColorSpace::WellKnown::displayP3);
  const auto file = scratch_ / "grey-p3.png";
  writePng(file, kWidth, kHeight, 1, grey, chunks);
  const MetricResult result = scoreImageFiles(original_, file);
  EXPECT_EQ(result.status(), MetricStatus::distortedUndecodable);
  EXPECT_EQ(result.message(), "Could not decode distorted image: " + file.string());

  const auto inMemory = DecodedImage::fromUint8(kWidth, kHeight, 1, grey, ColourEncoding::icc(chunks.iccProfile));
  EXPECT_EQ(computeSsimulacra2(inMemory, inMemory).status(), MetricStatus::originalUndecodable);
}

// Converts the 8-bit sRGB picture to 16-bit samples in `space` with lcms2.
std::vector<std::uint16_t> convertFromSrgb(const std::vector<std::uint8_t>& pixels, ColorSpace::WellKnown space) {
  ProfileHandle srgb(cmsCreate_sRGBProfile());
  const auto& bytes = ColorSpace::wellKnown(space)->iccProfile();
  ProfileHandle target(cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
  TransformHandle transform(cmsCreateTransform(srgb.get(), TYPE_RGB_8, target.get(), TYPE_RGB_16,
                                               INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
  std::vector<std::uint16_t> out(pixels.size());
  cmsDoTransform(transform.get(), pixels.data(), out.data(), static_cast<cmsUInt32Number>(pixels.size() / 3));
  return out;
}

// The same picture converted to Display P3 (or linear sRGB) and tagged with
// that profile is compared in the right colours: only 16-bit rounding and
// float noise separate it from the original. The same samples without the
// profile are read as sRGB and score far lower.
TEST_F(ColourManagedComparisonTest, TaggedWideGamutAndLinearImagesAreComparedInTheRightColourSpace) {
  for (const auto space : {ColorSpace::WellKnown::displayP3, ColorSpace::WellKnown::linearSRGB}) {
    const auto converted = convertFromSrgb(picture_, space);
    PngChunks tagged;
    tagged.iccProfile = iccOf(space);
    writePng(scratch_ / "tagged.png", kWidth, kHeight, 3, picture_, tagged, &converted);
    writePng(scratch_ / "untagged.png", kWidth, kHeight, 3, picture_, {}, &converted);
    const double taggedScore = scoreAgainstOriginal(scratch_ / "tagged.png");
    const double untaggedScore = scoreAgainstOriginal(scratch_ / "untagged.png");
    EXPECT_GT(taggedScore, 95.0) << ColorSpace::wellKnown(space)->name();
    EXPECT_LT(untaggedScore, taggedScore - 5.0) << ColorSpace::wellKnown(space)->name();
  }
}

// The same check with the colour space named by cICP code points (Display P3
// primaries, sRGB transfer) instead of a profile.
TEST_F(ColourManagedComparisonTest, CicpNamedWideGamutImagesAreComparedInTheRightColourSpace) {
  const auto converted = convertFromSrgb(picture_, ColorSpace::WellKnown::displayP3);
  PngChunks cicp;
  cicp.cicp = std::array<std::uint8_t, 4>{12, 13, 0, 1};
  writePng(scratch_ / "p3-cicp.png", kWidth, kHeight, 3, picture_, cicp, &converted);
  writePng(scratch_ / "p3-untagged.png", kWidth, kHeight, 3, picture_, {}, &converted);
  const double tagged = scoreAgainstOriginal(scratch_ / "p3-cicp.png");
  EXPECT_GT(tagged, 95.0);
  EXPECT_LT(scoreAgainstOriginal(scratch_ / "p3-untagged.png"), tagged - 5.0);
}

// PQ content: the curve and the 10000-nit intensity target apply to both
// images alike, so identical files still score 100 and noise still costs.
TEST_F(ColourManagedComparisonTest, PqImagesCompareConsistently) {
  PngChunks pq;
  pq.cicp = std::array<std::uint8_t, 4>{9, 16, 0, 1};
  const auto wide = test::widen(picture_);
  const auto noisy = test::widen(test::addNoise(picture_, 3, 4));
  writePng(scratch_ / "pq.png", kWidth, kHeight, 3, picture_, pq, &wide);
  writePng(scratch_ / "pq-noisy.png", kWidth, kHeight, 3, picture_, pq, &noisy);
  const MetricResult same = scoreImageFiles(scratch_ / "pq.png", scratch_ / "pq.png");
  const MetricResult different = scoreImageFiles(scratch_ / "pq.png", scratch_ / "pq-noisy.png");
  ASSERT_TRUE(same.ok() && different.ok());
  EXPECT_EQ(same.score(), 100.0);
  EXPECT_LT(different.score(), 99.0);
  EXPECT_TRUE(std::isfinite(different.score()));
}

// --- Decoding PNG layouts -----------------------------------------------------

TEST_F(ColourManagedComparisonTest, InterlacedFilesDecodeToTheSamePixels) {
  PngChunks interlaced;
  interlaced.interlaced = true;
  writePng(scratch_ / "interlaced.png", kWidth, kHeight, 3, picture_, interlaced);
  EXPECT_EQ(scoreAgainstOriginal(scratch_ / "interlaced.png"), 100.0);
}

TEST_F(ColourManagedComparisonTest, SixteenBitFilesKeepTheirDepth) {
  const auto wide = test::widen(picture_);
  writePng(scratch_ / "sixteen.png", kWidth, kHeight, 3, picture_, {}, &wide);
  const double value = scoreAgainstOriginal(scratch_ / "sixteen.png");
  EXPECT_GT(value, 96.0);
  EXPECT_LT(value, 99.9);  // 1/65535 scaling, not 8-bit values read back
}

TEST_F(ColourManagedComparisonTest, OneBitGreyIsExpandedToFullRangeEightBit) {
  std::vector<std::uint8_t> bits(kWidth * kHeight), bytes(kWidth * kHeight);
  for (std::size_t i = 0; i < bits.size(); ++i) {
    bits[i] = ((i / 7) + (i / kWidth / 5)) % 2;
    bytes[i] = bits[i] ? 255 : 0;
  }
  PngChunks oneBit;
  oneBit.greyBits = 1;
  writePng(scratch_ / "one-bit.png", kWidth, kHeight, 1, bits, oneBit);
  writePng(scratch_ / "eight-bit.png", kWidth, kHeight, 1, bytes);
  const MetricResult result = scoreImageFiles(scratch_ / "eight-bit.png", scratch_ / "one-bit.png");
  ASSERT_TRUE(result.ok()) << result.message();
  EXPECT_EQ(result.score(), 100.0);
}

}  // namespace
}  // namespace quorlin::metric
