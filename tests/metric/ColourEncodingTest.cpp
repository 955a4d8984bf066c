// What the samples mean: PNG colour chunks, ICC profiles (recognised or
// converted with lcms2), and the PNG decoder's handling of bit depths.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "MetricTestImages.h"
#include "core/engine/ColorSpace.h"
#include "metric/IccProfiles.h"
#include "metric/PngColourChunks.h"
#include "metric/Ssimulacra2.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

namespace quorlin::metric {
namespace {

using test::makePicture;
using test::PngChunks;
using test::writePng;
using Kind = ColourEncoding::Kind;

std::vector<std::uint8_t> profileBytes(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::vector<std::uint8_t> bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  return bytes;
}

std::vector<std::uint8_t> iccOf(ColorSpace::WellKnown kind) { return ColorSpace::wellKnown(kind)->iccProfile(); }
std::vector<std::uint8_t> displayP3Profile() { return iccOf(ColorSpace::WellKnown::displayP3); }

// Each chunk added outranks the ones before: gAMA or cHRM alone, sRGB, iCCP, cICP.
TEST(PngColourChunksTest, EachChunkOutranksTheOnesBefore) {
  PngColourChunks chunks;
  EXPECT_EQ(colourEncodingForPng(chunks).kind, Kind::srgb);
  chunks.gamma = 45455;  // alone: a pure power law, not the sRGB curve
  ColourEncoding encoding = colourEncodingForPng(chunks);
  ASSERT_EQ(encoding.kind, Kind::described);
  EXPECT_EQ(encoding.transfer, TransferCurve::power);
  EXPECT_DOUBLE_EQ(encoding.exponent, 1.0 / 0.45455);
  EXPECT_EQ(encoding.chromaticities, kSrgbChromaticities);
  chunks.gamma.reset();  // chromaticities alone keep the sRGB curve
  chunks.chromaticities = std::array<std::uint32_t, 8>{31270, 32900, 68000, 32000, 26500, 69000, 15000, 6000};
  encoding = colourEncodingForPng(chunks);
  ASSERT_EQ(encoding.kind, Kind::described);
  EXPECT_EQ(encoding.transfer, TransferCurve::srgb);
  EXPECT_DOUBLE_EQ(encoding.chromaticities.redX, 0.68);
  EXPECT_DOUBLE_EQ(encoding.chromaticities.whiteY, 0.329);
  chunks.gamma = 100000;
  chunks.srgb = true;
  EXPECT_EQ(colourEncodingForPng(chunks).kind, Kind::srgb);
  chunks.iccp = true;
  chunks.iccProfile = displayP3Profile();
  chunks.colourType = 2;
  EXPECT_EQ(colourEncodingForPng(chunks).kind, Kind::icc);
  chunks.cicp = PngColourChunks::Cicp{12, 16, 0, 1};  // Display P3 primaries, PQ
  encoding = colourEncodingForPng(chunks);
  ASSERT_EQ(encoding.kind, Kind::described);
  EXPECT_EQ(encoding.transfer, TransferCurve::pq);
  EXPECT_DOUBLE_EQ(encoding.chromaticities.redX, 0.68);
  // A cICP that cannot describe RGB samples is ignored: YCbCr matrix, narrow
  // range, unknown transfer, unknown primaries.
  for (const auto cicp : {PngColourChunks::Cicp{1, 13, 1, 1}, PngColourChunks::Cicp{1, 13, 0, 0},
                          PngColourChunks::Cicp{1, 99, 0, 1}, PngColourChunks::Cicp{42, 13, 0, 1}}) {
    chunks.cicp = cicp;
    EXPECT_EQ(colourEncodingForPng(chunks).kind, Kind::icc);
  }
}

// A profile that cannot describe the samples counts as absent, so the gAMA
// beside it applies, and the reason is given.
TEST(PngColourChunksTest, AProfileUnfitForTheSamplesGivesWayToTheOtherChunks) {
  const auto rgb = displayP3Profile();
  auto truncated = rgb;
  truncated.resize(300);
  auto cmyk = rgb;
  std::copy_n("CMYK", 4, cmyk.begin() + 16);
  auto notIcc = rgb;
  notIcc[36] = 'x';
  auto deviceLink = rgb;
  std::copy_n("link", 4, deviceLink.begin() + 12);
  const struct {
    std::vector<std::uint8_t> profile;
    std::uint8_t colourType;
  } cases[] = {{truncated, 2}, {cmyk, 2}, {notIcc, 6}, {deviceLink, 2}, {rgb, 0}, {rgb, 4}, {{}, 2}};
  for (const auto& [profile, colourType] : cases) {
    PngColourChunks chunks;
    chunks.iccp = true;
    chunks.iccProfile = profile;
    chunks.colourType = colourType;
    chunks.gamma = 100000;
    std::string reason;
    const ColourEncoding encoding = colourEncodingForPng(chunks, &reason);
    EXPECT_EQ(encoding.kind, Kind::described) << reason;
    EXPECT_EQ(encoding.exponent, 1.0);
    EXPECT_FALSE(reason.empty()) << profile.size() << " bytes, colour type " << int{colourType};
  }

  // A grey profile on grey samples is kept, inflated bytes past its length are not.
  cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
  ProfileHandle grey(cmsCreateGrayProfile(cmsD50_xyY(), curve));
  cmsFreeToneCurve(curve);
  PngColourChunks chunks;
  chunks.iccp = true;
  chunks.iccProfile = profileBytes(grey.get());
  const std::size_t length = chunks.iccProfile.size();
  chunks.iccProfile.resize(length + 5);
  chunks.colourType = 4;
  std::string reason = "stale";
  const ColourEncoding encoding = colourEncodingForPng(chunks, &reason);
  EXPECT_EQ(encoding.kind, Kind::icc);
  EXPECT_EQ(encoding.iccProfile.size(), length);
  EXPECT_EQ(reason, "");
}

// --- Recognising standard profiles ------------------------------------------

// White points and curves as profile writers store them.
constexpr std::array<int, 3> kD65White{62289, 65536, 71372};
constexpr std::array<int, 3> kD50White{63190, 65536, 54061};
enum class StoredCurve { srgbTable, gammaOne, gamma22 };

// A version 2 matrix/TRC profile (grey when `colorants` is empty) with the
// given numbers in units of 1/65536, written and parsed again.
ProfileHandle storedProfile(const std::vector<int>& colorants, StoredCurve stored,
                            const std::array<int, 3>& white = kD65White) {
  cmsToneCurve* curve = nullptr;
  if (stored == StoredCurve::srgbTable) {
    std::vector<cmsUInt16Number> table(1024);
    for (std::size_t i = 0; i < table.size(); ++i) {
      const double v = static_cast<double>(i) / 1023.0;
      const double linear = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
      table[i] = static_cast<cmsUInt16Number>(std::lround(linear * 65535.0));
    }
    curve = cmsBuildTabulatedToneCurve16(nullptr, 1024, table.data());
  } else {
    curve = cmsBuildGamma(nullptr, stored == StoredCurve::gammaOne ? 1.0 : 2.2);
  }
  ProfileHandle profile(cmsCreateProfilePlaceholder(nullptr));
  cmsSetProfileVersion(profile.get(), 2.1);
  cmsSetDeviceClass(profile.get(), cmsSigDisplayClass);
  cmsSetColorSpace(profile.get(), colorants.empty() ? cmsSigGrayData : cmsSigRgbData);
  cmsSetPCS(profile.get(), cmsSigXYZData);
  const cmsCIEXYZ whiteXyz{white[0] / 65536.0, white[1] / 65536.0, white[2] / 65536.0};
  cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, &whiteXyz);
  if (colorants.empty()) {
    cmsWriteTag(profile.get(), cmsSigGrayTRCTag, curve);
  } else {
    const cmsTagSignature colorantTags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    const cmsTagSignature curveTags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (int i = 0; i < 3; ++i) {
      const cmsCIEXYZ colorant{colorants[3 * i] / 65536.0, colorants[3 * i + 1] / 65536.0,
                               colorants[3 * i + 2] / 65536.0};
      cmsWriteTag(profile.get(), colorantTags[i], &colorant);
      cmsWriteTag(profile.get(), curveTags[i], curve);
    }
  }
  cmsFreeToneCurve(curve);
  const auto bytes = profileBytes(profile.get());
  return ProfileHandle(cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
}

// Red, green and blue colorants (X, Y, Z each) of sRGB profiles from three
// writers: within 8 units of ours, 19 units off in blue Z, and off by up to
// 24 units.
const std::vector<int> kCloseColorants{28578, 14581, 912, 25241, 46981, 6362, 9376, 3972, 46799};
const std::vector<int> kBorderColorants{28576, 14581, 912, 25239, 46983, 6361, 9375, 3972, 46787};
const std::vector<int> kLooseColorants{28564, 14574, 912, 25253, 46992, 6366, 9373, 3971, 46782};

TEST(IccRecognitionTest, OnlyProfilesGivingTheSameColoursAsSrgbOrLinearSrgbAreRecognised) {
  const struct {
    std::vector<int> colorants;
    StoredCurve curve;
    std::array<int, 3> white;
    std::optional<TransferCurve> expected;
  } cases[] = {
      {kCloseColorants, StoredCurve::srgbTable, kD65White, TransferCurve::srgb},
      {kCloseColorants, StoredCurve::gammaOne, kD65White, TransferCurve::linear},
      // The same error weighs more on linear values than on sRGB-encoded ones.
      {kBorderColorants, StoredCurve::srgbTable, kD65White, TransferCurve::srgb},
      {kBorderColorants, StoredCurve::gammaOne, kD65White, std::nullopt},
      {kLooseColorants, StoredCurve::srgbTable, kD65White, std::nullopt},
      {kCloseColorants, StoredCurve::gamma22, kD65White, std::nullopt},
      {{}, StoredCurve::srgbTable, kD65White, TransferCurve::srgb},
      {{}, StoredCurve::gammaOne, kD65White, TransferCurve::linear},
      {{}, StoredCurve::srgbTable, kD50White, std::nullopt},
      {{}, StoredCurve::gamma22, kD65White, std::nullopt},
  };
  int index = 0;
  for (const auto& c : cases) {
    ProfileHandle profile = storedProfile(c.colorants, c.curve, c.white);
    ASSERT_TRUE(profile);
    const auto recognised = recogniseStandardProfile(profile.get(), c.colorants.empty());
    EXPECT_EQ(recognised ? std::optional(recognised->transfer) : std::nullopt, c.expected) << "case " << index;
    ++index;
  }
  const auto p3Bytes = displayP3Profile();
  ProfileHandle p3(cmsOpenProfileFromMem(p3Bytes.data(), static_cast<cmsUInt32Number>(p3Bytes.size())));
  EXPECT_FALSE(recogniseStandardProfile(p3.get(), false));
  EXPECT_FALSE(recogniseStandardProfile(storedProfile(kCloseColorants, StoredCurve::srgbTable).get(), true));
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

  quorlin::test::ScratchDirectory scratch_;
  std::vector<std::uint8_t> picture_;
  std::filesystem::path original_;
};

// The original's pixels written with other chunks and layouts: what each
// scores against the untagged original, and the warning it gives.
TEST_F(ColourManagedComparisonTest, TheSamePixelsScoreByWhatTheirChunksSay) {
  PngChunks srgbChunk, srgbProfile, cicpOverGarbage, tagless, interlaced, gamma, sixteen;
  srgbChunk.srgb = true;
  srgbChunk.gamma = gamma.gamma = 45455;
  srgbProfile.iccProfile = iccOf(ColorSpace::WellKnown::sRGB);
  cicpOverGarbage.cicp = std::array<std::uint8_t, 4>{1, 13, 0, 1};
  cicpOverGarbage.iccProfile = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'I', 'C', 'C'};
  // A well-formed header without a single tag: lcms2 cannot use it.
  tagless.iccProfile.assign(132, 0);
  tagless.iccProfile[3] = 132;  // length
  for (auto [at, text] : {std::pair{12, "mntr"}, {16, "RGB "}, {20, "XYZ "}, {36, "acsp"}}) {
    std::copy_n(text, 4, tagless.iccProfile.begin() + at);
  }
  interlaced.interlaced = true;
  const auto wide = test::widen(picture_);
  const struct {
    const char* name;
    const PngChunks& chunks;
    bool sixteenBit;
    double low, high;  // the score's range
    std::string warning;
  } cases[] = {
      {"sRGB chunk beside gAMA", srgbChunk, false, 100, 100, ""},
      {"embedded sRGB profile", srgbProfile, false, 100, 100, ""},
      {"cICP wins over an unusable profile", cicpOverGarbage, false, 100, 100, ""},
      {"a profile lcms2 cannot use", tagless, false, 100, 100, "Warning: error setting ICC profile, assuming SRGB"},
      {"interlaced", interlaced, false, 100, 100, ""},
      {"gAMA alone is a power law", gamma, false, 50, 97, ""},
      // 8-bit values scale by f32(1/255), 16-bit ones by f32(1/65535): v and
      // v*257 differ in the last bit, which the metric amplifies at coarse
      // scales. The reference gives 97.5 to 98.7 for such pairs, never 100.
      {"16-bit samples keep their depth", sixteen, true, 96, 99.9, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writePng(scratch_ / "distorted.png", kWidth, kHeight, 3, picture_, c.chunks, c.sixteenBit ? &wide : nullptr);
    std::string warnings;
    const double score = scoreAgainstOriginal(scratch_ / "distorted.png", &warnings);
    EXPECT_GE(score, c.low);
    EXPECT_LE(score, c.high);
    EXPECT_EQ(warnings, c.warning);
  }
}

// An iCCP profile the samples cannot use is ignored with a warning: the file
// reads as if it had none, so a gAMA chunk beside it applies.
TEST_F(ColourManagedComparisonTest, AProfileUnfitForTheSamplesIsIgnoredWithAWarning) {
  const auto grey = makePicture(kWidth, kHeight, 1);
  PngChunks rgbProfile;
  rgbProfile.iccProfile = displayP3Profile();
  writePng(scratch_ / "grey.png", kWidth, kHeight, 1, grey);
  writePng(scratch_ / "grey-p3.png", kWidth, kHeight, 1, grey, rgbProfile);
  std::string warnings;
  MetricResult result = scoreImageFiles(scratch_ / "grey.png", scratch_ / "grey-p3.png", {}, &warnings);
  EXPECT_EQ(result.score(), 100.0);
  EXPECT_EQ(warnings, "Warning: ignoring the ICC profile of " + (scratch_ / "grey-p3.png").string() +
                          ": it is an RGB profile on a grey image");

  PngChunks linear, truncatedAndLinear;
  linear.gamma = truncatedAndLinear.gamma = 100000;
  truncatedAndLinear.iccProfile = rgbProfile.iccProfile;
  truncatedAndLinear.iccProfile.resize(200);
  writePng(scratch_ / "linear.png", kWidth, kHeight, 3, picture_, linear);
  writePng(scratch_ / "truncated.png", kWidth, kHeight, 3, picture_, truncatedAndLinear);
  result = scoreImageFiles(scratch_ / "linear.png", scratch_ / "truncated.png");
  EXPECT_EQ(result.score(), 100.0);
  EXPECT_LT(scoreAgainstOriginal(scratch_ / "truncated.png"), 50.0);

  // Samples handed over in memory with a mismatched profile are refused.
  const auto inMemory = DecodedImage::fromUint8(kWidth, kHeight, 1, grey, ColourEncoding::icc(rgbProfile.iccProfile));
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
// that profile or named by cICP code points (Display P3 primaries, sRGB
// transfer) is compared in the right colours: only 16-bit rounding and float
// noise separate it from the original. The same samples untagged are read as
// sRGB and score far lower.
TEST_F(ColourManagedComparisonTest, TaggedWideGamutAndLinearImagesAreComparedInTheRightColourSpace) {
  PngChunks p3Profile, linearProfile, p3Cicp;
  p3Profile.iccProfile = displayP3Profile();
  linearProfile.iccProfile = iccOf(ColorSpace::WellKnown::linearSRGB);
  p3Cicp.cicp = std::array<std::uint8_t, 4>{12, 13, 0, 1};
  for (const auto& [space, tagged] : {std::pair{ColorSpace::WellKnown::displayP3, p3Profile},
                                      {ColorSpace::WellKnown::linearSRGB, linearProfile},
                                      {ColorSpace::WellKnown::displayP3, p3Cicp}}) {
    SCOPED_TRACE(std::string(ColorSpace::wellKnown(space)->name()) + (tagged.cicp ? " by cICP" : " by profile"));
    const auto converted = convertFromSrgb(picture_, space);
    writePng(scratch_ / "tagged.png", kWidth, kHeight, 3, picture_, tagged, &converted);
    writePng(scratch_ / "untagged.png", kWidth, kHeight, 3, picture_, {}, &converted);
    const double taggedScore = scoreAgainstOriginal(scratch_ / "tagged.png");
    EXPECT_GT(taggedScore, 95.0);
    EXPECT_LT(scoreAgainstOriginal(scratch_ / "untagged.png"), taggedScore - 5.0);
  }
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
  ASSERT_EQ(quorlin::test::readPNGHeader(scratch_ / "one-bit.png").bitDepth, 1);
  const MetricResult result = scoreImageFiles(scratch_ / "eight-bit.png", scratch_ / "one-bit.png");
  ASSERT_TRUE(result.ok()) << result.message();
  EXPECT_EQ(result.score(), 100.0);
}

}  // namespace
}  // namespace quorlin::metric
