// What the samples mean: PNG colour chunks, ICC profiles (recognised or
// converted with lcms2), and the PNG decoder's handling of bit depths.
#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>

#include "MetricTestImages.h"
#include "core/engine/ColorSpace.h"
#include "metric/IccProfiles.h"
#include "metric/PngColourChunks.h"
#include "metric/Ssimulacra2.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

// Chunk sets are written as designated initialisers naming only what they hold.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace quorlin::metric {
namespace {

using test::PngChunks;
using Kind = ColourEncoding::Kind;
using Cicp = PngColourChunks::Cicp;

std::vector<std::uint8_t> profileBytes(cmsHPROFILE profile) {
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile, nullptr, &size);
  std::vector<std::uint8_t> bytes(size);
  cmsSaveProfileToMem(profile, bytes.data(), &size);
  return bytes;
}
ProfileHandle openProfile(const std::vector<std::uint8_t>& bytes) {
  return ProfileHandle(cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
}
std::vector<std::uint8_t> iccOf(ColorSpace::WellKnown kind) { return ColorSpace::wellKnown(kind)->iccProfile(); }

// Each chunk added outranks the ones before: gAMA or cHRM alone, sRGB, iCCP, cICP.
TEST(PngColourChunksTest, EachChunkOutranksTheOnesBefore) {
  const Chromaticities p3{0.68, 0.32, 0.265, 0.69, 0.15, 0.06, 0.3127, 0.329};
  PngColourChunks chunks;
  const auto expect = [&](Kind kind, TransferCurve transfer, double exponent, const Chromaticities& primaries) {
    const ColourEncoding e = colourEncodingForPng(chunks);
    EXPECT_TRUE(e.kind == kind && e.transfer == transfer && e.exponent == exponent && e.chromaticities == primaries)
        << int(e.kind) << " " << int(e.transfer) << " " << e.exponent << " " << e.chromaticities.redX;
  };
  expect(Kind::srgb, TransferCurve::srgb, 1.0, kSrgbChromaticities);
  chunks.gamma = 45455;  // alone: a pure power law, not the sRGB curve
  expect(Kind::described, TransferCurve::power, 1.0 / 0.45455, kSrgbChromaticities);
  chunks.gamma.reset();  // chromaticities alone keep the sRGB curve
  chunks.chromaticities = std::array<std::uint32_t, 8>{31270, 32900, 68000, 32000, 26500, 69000, 15000, 6000};
  expect(Kind::described, TransferCurve::srgb, 1.0, p3);
  chunks.gamma = 100000;
  chunks.srgb = true;
  expect(Kind::srgb, TransferCurve::srgb, 1.0, kSrgbChromaticities);
  chunks.iccp = true;
  chunks.iccProfile = iccOf(ColorSpace::WellKnown::displayP3);
  chunks.colourType = 2;
  EXPECT_EQ(colourEncodingForPng(chunks).kind, Kind::icc);
  chunks.cicp = Cicp{12, 16, 0, 1};  // Display P3 primaries, PQ
  expect(Kind::described, TransferCurve::pq, 1.0, p3);
  // A cICP that cannot describe RGB samples is ignored: YCbCr matrix, narrow
  // range, unknown transfer, unknown primaries.
  for (const auto cicp : {Cicp{1, 13, 1, 1}, Cicp{1, 13, 0, 0}, Cicp{1, 99, 0, 1}, Cicp{42, 13, 0, 1}}) {
    chunks.cicp = cicp;
    EXPECT_EQ(colourEncodingForPng(chunks).kind, Kind::icc);
  }
}

// A profile that cannot describe the samples counts as absent, so the gAMA
// beside it applies, and the reason is given; a grey profile on grey samples
// is kept, inflated bytes past its length are not.
TEST(PngColourChunksTest, AProfileUnfitForTheSamplesGivesWayToTheOtherChunks) {
  const auto rgb = iccOf(ColorSpace::WellKnown::displayP3);
  auto truncated = rgb, cmyk = rgb, notIcc = rgb, deviceLink = rgb;
  truncated.resize(300);
  std::copy_n("CMYK", 4, cmyk.begin() + 16);
  notIcc[36] = 'x';
  std::copy_n("link", 4, deviceLink.begin() + 12);
  cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
  ProfileHandle grey(cmsCreateGrayProfile(cmsD50_xyY(), curve));
  cmsFreeToneCurve(curve);
  auto greyBytes = profileBytes(grey.get());
  const std::size_t greyLength = greyBytes.size();
  greyBytes.resize(greyLength + 5);
  const std::pair<std::vector<std::uint8_t>, std::uint8_t> cases[] = {
      {truncated, 2}, {cmyk, 2}, {notIcc, 6}, {deviceLink, 2}, {rgb, 0}, {rgb, 4}, {{}, 2}, {greyBytes, 4}};
  for (const auto& [profile, colourType] : cases) {
    SCOPED_TRACE(testing::Message() << profile.size() << " bytes, colour type " << int{colourType});
    PngColourChunks chunks{.iccp = true, .iccProfile = profile, .colourType = colourType, .gamma = 100000};
    std::string reason = "stale";
    const ColourEncoding encoding = colourEncodingForPng(chunks, &reason);
    const bool kept = &profile == &cases[7].first;
    EXPECT_EQ(encoding.kind, kept ? Kind::icc : Kind::described);
    EXPECT_EQ(encoding.exponent, 1.0);
    EXPECT_TRUE(reason.empty() == kept && reason != "stale") << reason;
    EXPECT_EQ(encoding.iccProfile.size(), kept ? greyLength : 0u);
  }
}

// White points and curves as profile writers store them.
constexpr std::array<int, 3> kD65White{62289, 65536, 71372};
constexpr std::array<int, 3> kD50White{63190, 65536, 54061};
enum class StoredCurve { srgbTable, gammaOne, gamma22 };

// A version 2 matrix/TRC profile (grey when `colorants` is empty) with the
// given numbers in units of 1/65536, written and parsed again.
ProfileHandle storedProfile(const std::vector<int>& colorants, StoredCurve stored, const std::array<int, 3>& white) {
  std::vector<cmsUInt16Number> table(1024);
  for (std::size_t i = 0; i < table.size(); ++i) {
    const double v = static_cast<double>(i) / 1023.0;
    table[i] = static_cast<cmsUInt16Number>(std::lround(65535.0 * (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4))));
  }
  cmsToneCurve* curve = stored == StoredCurve::srgbTable ? cmsBuildTabulatedToneCurve16(nullptr, 1024, table.data())
                                                         : cmsBuildGamma(nullptr, stored == StoredCurve::gammaOne ? 1.0 : 2.2);
  ProfileHandle profile(cmsCreateProfilePlaceholder(nullptr));
  cmsSetProfileVersion(profile.get(), 2.1);
  cmsSetDeviceClass(profile.get(), cmsSigDisplayClass);
  cmsSetColorSpace(profile.get(), colorants.empty() ? cmsSigGrayData : cmsSigRgbData);
  cmsSetPCS(profile.get(), cmsSigXYZData);
  const cmsCIEXYZ whiteXyz{white[0] / 65536.0, white[1] / 65536.0, white[2] / 65536.0};
  cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, &whiteXyz);
  if (colorants.empty()) cmsWriteTag(profile.get(), cmsSigGrayTRCTag, curve);
  const cmsTagSignature colorantTags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
  const cmsTagSignature curveTags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
  for (std::size_t i = 0; i < 3 && !colorants.empty(); ++i) {
    const cmsCIEXYZ colorant{colorants[3 * i] / 65536.0, colorants[3 * i + 1] / 65536.0, colorants[3 * i + 2] / 65536.0};
    cmsWriteTag(profile.get(), colorantTags[i], &colorant);
    cmsWriteTag(profile.get(), curveTags[i], curve);
  }
  cmsFreeToneCurve(curve);
  return openProfile(profileBytes(profile.get()));
}

// Red, green and blue colorants (X, Y, Z each) of sRGB profiles from three
// writers: within 8 units of ours, 19 units off in blue Z, and off by up to
// 24 units.
TEST(IccRecognitionTest, OnlyProfilesGivingTheSameColoursAsSrgbOrLinearSrgbAreRecognised) {
  const std::vector<int> close{28578, 14581, 912, 25241, 46981, 6362, 9376, 3972, 46799};
  const std::vector<int> border{28576, 14581, 912, 25239, 46983, 6361, 9375, 3972, 46787};
  const std::vector<int> loose{28564, 14574, 912, 25253, 46992, 6366, 9373, 3971, 46782};
  const struct {
    std::vector<int> colorants;
    StoredCurve curve;
    std::array<int, 3> white;
    std::optional<TransferCurve> expected;
  } cases[] = {
      {close, StoredCurve::srgbTable, kD65White, TransferCurve::srgb},
      {close, StoredCurve::gammaOne, kD65White, TransferCurve::linear},
      // The same error weighs more on linear values than on sRGB-encoded ones.
      {border, StoredCurve::srgbTable, kD65White, TransferCurve::srgb},
      {border, StoredCurve::gammaOne, kD65White, std::nullopt},
      {loose, StoredCurve::srgbTable, kD65White, std::nullopt},
      {close, StoredCurve::gamma22, kD65White, std::nullopt},
      {{}, StoredCurve::srgbTable, kD65White, TransferCurve::srgb},
      {{}, StoredCurve::gammaOne, kD65White, TransferCurve::linear},
      {{}, StoredCurve::srgbTable, kD50White, std::nullopt},
      {{}, StoredCurve::gamma22, kD65White, std::nullopt},
  };
  for (const auto& c : cases) {
    ProfileHandle profile = storedProfile(c.colorants, c.curve, c.white);
    ASSERT_TRUE(profile);
    const auto recognised = recogniseStandardProfile(profile.get(), c.colorants.empty());
    EXPECT_EQ(recognised ? std::optional(recognised->transfer) : std::nullopt, c.expected) << "case " << &c - cases;
  }
  EXPECT_FALSE(recogniseStandardProfile(openProfile(iccOf(ColorSpace::WellKnown::displayP3)).get(), false));
  EXPECT_FALSE(recogniseStandardProfile(storedProfile(close, StoredCurve::srgbTable, kD65White).get(), true));
}

// Converts the 8-bit sRGB picture to 16-bit samples in `space` with lcms2.
std::vector<std::uint16_t> convertFromSrgb(const std::vector<std::uint8_t>& pixels, ColorSpace::WellKnown space) {
  ProfileHandle srgb(cmsCreate_sRGBProfile());
  ProfileHandle target = openProfile(iccOf(space));
  TransformHandle transform(cmsCreateTransform(srgb.get(), TYPE_RGB_8, target.get(), TYPE_RGB_16,
                                               INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
  std::vector<std::uint16_t> out(pixels.size());
  cmsDoTransform(transform.get(), pixels.data(), out.data(), static_cast<cmsUInt32Number>(pixels.size() / 3));
  return out;
}

// Whole comparisons of files whose pixels are written with other chunks,
// depths and layouts: each pair's score range, and the warning it gives.
TEST(ColourManagedComparisonTest, TheSamePixelsScoreByWhatTheirChunksSay) {
  constexpr int kWidth = 128, kHeight = 96;
  quorlin::test::ScratchDirectory scratch;
  const auto picture = test::makePicture(kWidth, kHeight, 3), grey = test::makePicture(kWidth, kHeight, 1);
  const auto wide = test::widen(picture), noisy = test::widen(test::addNoise(picture, 3, 4));
  std::vector<std::uint8_t> bits(kWidth * kHeight), bytes(kWidth * kHeight);
  for (std::size_t i = 0; i < bits.size(); ++i) bits[i] = ((i / 7) + (i / kWidth / 5)) % 2, bytes[i] = bits[i] * 255;
  // Writes `name` (the colour picture unless other samples are given) and returns its path.
  auto png = [&](const char* name, const PngChunks& chunks = {}, const std::vector<std::uint16_t>* sixteen = nullptr,
                 const std::vector<std::uint8_t>* samples = nullptr) {
    const int channels = samples ? 1 : 3;
    test::writePng(scratch / name, kWidth, kHeight, channels, samples ? *samples : picture, chunks, sixteen);
    return scratch / name;
  };
  const auto original = png("original.png");
  const auto p3 = iccOf(ColorSpace::WellKnown::displayP3);
  auto truncated = p3;
  truncated.resize(200);
  // A well-formed header without a single tag: lcms2 cannot use it.
  PngChunks tagless;
  tagless.iccProfile.assign(132, 0);
  tagless.iccProfile[3] = 132;  // length
  for (auto [at, text] : {std::pair{12, "mntr"}, {16, "RGB "}, {20, "XYZ "}, {36, "acsp"}}) {
    std::copy_n(text, 4, tagless.iccProfile.begin() + at);
  }
  const std::array<std::uint8_t, 4> srgbCicp{1, 13, 0, 1}, pqCicp{9, 16, 0, 1};
  const std::vector<std::uint8_t> garbage{'n', 'o', 't', ' ', 'a', 'n', ' ', 'I', 'C', 'C'};
  const struct {
    const char* name;
    std::function<std::pair<std::filesystem::path, std::filesystem::path>()> files;
    double low, high;
    const char* warning;  // "@" stands for the second file's path; null: not checked
  } cases[] = {
      {"sRGB chunk beside gAMA", [&] { return std::pair(original, png("a.png", {.srgb = true, .gamma = 45455})); },
       100, 100, ""},
      {"embedded sRGB profile",
       [&] { return std::pair(original, png("a.png", {.iccProfile = iccOf(ColorSpace::WellKnown::sRGB)})); }, 100, 100, ""},
      {"cICP wins over an unusable profile",
       [&] { return std::pair(original, png("a.png", {.cicp = srgbCicp, .iccProfile = garbage})); }, 100, 100, ""},
      {"a profile lcms2 cannot use", [&] { return std::pair(original, png("a.png", tagless)); }, 100, 100,
       "Warning: error setting ICC profile, assuming SRGB"},
      {"interlaced", [&] { return std::pair(original, png("a.png", {.interlaced = true})); }, 100, 100, ""},
      {"gAMA alone is a power law", [&] { return std::pair(original, png("a.png", {.gamma = 45455})); }, 50, 97, ""},
      // 8-bit values scale by f32(1/255), 16-bit ones by f32(1/65535): v and
      // v*257 differ in the last bit, which the metric amplifies at coarse
      // scales. The reference gives 97.5 to 98.7 for such pairs, never 100.
      {"16-bit samples keep their depth", [&] { return std::pair(original, png("a.png", {}, &wide)); }, 96, 99.9, ""},
      // An iCCP profile the samples cannot use is ignored with a warning: the
      // file reads as if it had none, so a gAMA chunk beside it applies.
      {"an RGB profile on grey samples",
       [&] { return std::pair(png("g.png", {}, nullptr, &grey), png("a.png", {.iccProfile = p3}, nullptr, &grey)); },
       100, 100, "Warning: ignoring the ICC profile of @: it is an RGB profile on a grey image"},
      {"a truncated profile beside gAMA",
       [&] { return std::pair(png("g.png", {.gamma = 100000}), png("a.png", {.gamma = 100000, .iccProfile = truncated})); },
       100, 100, nullptr},
      {"the truncated profile's gAMA applies", [&] { return std::pair(original, scratch / "a.png"); }, -1e9, 50, nullptr},
      // PQ: the curve and the 10000-nit intensity target apply to both images
      // alike, so identical files still score 100 and noise still costs.
      {"PQ identical", [&] { return std::pair(png("g.png", {.cicp = pqCicp}, &wide), scratch / "g.png"); }, 100, 100, ""},
      {"PQ noisy", [&] { return std::pair(scratch / "g.png", png("a.png", {.cicp = pqCicp}, &noisy)); }, -1e9, 99, ""},
      {"one-bit grey is full-range eight-bit",
       [&] { return std::pair(png("g.png", {}, nullptr, &bytes), png("a.png", {.greyBits = 1}, nullptr, &bits)); },
       100, 100, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto [first, second] = c.files();
    std::string warnings;
    const MetricResult result = scoreImageFiles(first, second, {}, &warnings);
    ASSERT_TRUE(result.ok()) << result.message();
    EXPECT_GE(result.score(), c.low);
    EXPECT_LE(result.score(), c.high);
    std::string warning = c.warning ? c.warning : warnings;
    if (auto at = warning.find('@'); at != std::string::npos) warning.replace(at, 1, second.string());
    EXPECT_EQ(warnings, warning);
  }
  EXPECT_EQ(quorlin::test::readPNGHeader(scratch / "a.png").bitDepth, 1);
  // Samples handed over in memory with a mismatched profile are refused.
  const auto inMemory = DecodedImage::fromUint8(kWidth, kHeight, 1, grey, ColourEncoding::icc(p3));
  EXPECT_EQ(computeSsimulacra2(inMemory, inMemory).status(), MetricStatus::originalUndecodable);

  // The picture converted to Display P3 (or linear sRGB) and tagged with that
  // profile or named by cICP code points (Display P3 primaries, sRGB transfer)
  // is compared in the right colours: only 16-bit rounding and float noise
  // separate it from the original. The same samples untagged read as sRGB.
  const std::array<std::uint8_t, 4> p3Cicp{12, 13, 0, 1};
  for (const auto& [space, tagged] :
       {std::pair{ColorSpace::WellKnown::displayP3, PngChunks{.iccProfile = p3}},
        {ColorSpace::WellKnown::linearSRGB, PngChunks{.iccProfile = iccOf(ColorSpace::WellKnown::linearSRGB)}},
        {ColorSpace::WellKnown::displayP3, PngChunks{.cicp = p3Cicp}}}) {
    SCOPED_TRACE(std::string(ColorSpace::wellKnown(space)->name()) + (tagged.cicp ? " by cICP" : " by profile"));
    const auto converted = convertFromSrgb(picture, space);
    const double taggedScore = scoreImageFiles(original, png("tagged.png", tagged, &converted)).score();
    EXPECT_GT(taggedScore, 95.0);
    EXPECT_LT(scoreImageFiles(original, png("untagged.png", {}, &converted)).score(), taggedScore - 5.0);
  }
}

}  // namespace
}  // namespace quorlin::metric
