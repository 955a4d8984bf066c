#include "core/comparison/NormalRendering.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>

#include <vips/vips8>

#include "ComparisonTestImages.h"
#include "core/comparison/LinearLightDecoder.h"
#include "core/engine/DisplayImageReader.h"
#include "core/engine/LcmsHandles.h"
#include "core/engine/PNGColour.h"
#include "core/engine/VipsRuntime.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

using test::makeImage;
using test::makeUniformImage;
using test::Pixel8;
using test::pixelAt;

// Independent reference curves (IEC 61966-2.1).
double referenceSRGBToLinear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }
double referenceLinearToSRGB(double l) { return l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1 / 2.4) - 0.055; }

// SMPTE ST 2084 inverse EOTF: nits to signal.
double pqSignalForNits(double nits) {
  const double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128, c1 = 3424.0 / 4096, c2 = 2413.0 / 4096 * 32,
               c3 = 2392.0 / 4096 * 32;
  double y = std::pow(nits / 10000, m1);
  return std::pow((c1 + c2 * y) / (1 + c3 * y), m2);
}

TEST(NormalRenderingTest, EightBitSRGBIsCopiedStraightAndAlphaIsPremultipliedAtEveryDepth) {
  std::vector<std::uint8_t> samples{0, 1, 2, 127, 128, 129, 253, 254, 255, 9, 99, 199};
  auto result = rasterizeImage(*makeImage<std::uint8_t>(2, 2, 3, samples), std::nullopt, 1.0);
  ASSERT_TRUE(result);
  EXPECT_FALSE(result->isHDR);
  EXPECT_EQ(pixelAt(*result, 0, 0), (Pixel8{0, 1, 2, 255}));
  EXPECT_EQ(pixelAt(*result, 1, 0), (Pixel8{127, 128, 129, 255}));
  EXPECT_EQ(pixelAt(*result, 0, 1), (Pixel8{253, 254, 255, 255}));
  EXPECT_EQ(pixelAt(*result, 1, 1), (Pixel8{9, 99, 199, 255}));
  // 200 × 128 / 255 = 100.4, 100 × 128 / 255 = 50.2, 50 × 128 / 255 = 25.1.
  auto translucent = rasterizeImage(*makeUniformImage<std::uint8_t>(1, 1, {200, 100, 50, 128}), std::nullopt, 1.0);
  EXPECT_EQ(pixelAt(*translucent, 0, 0), (Pixel8{100, 50, 25, 128}));
  auto wide = rasterizeImage(*makeUniformImage<std::uint16_t>(1, 1, {51400, 25700, 12850, 32896}), std::nullopt, 1.0);
  EXPECT_EQ(pixelAt(*wide, 0, 0), (Pixel8{100, 50, 25, 128}));
}

TEST(NormalRenderingTest, SixteenBitAndLinearSamplesAreEncodedAsSRGB) {
  std::vector<std::uint16_t> codes;
  for (int i = 0; i < 300; ++i) codes.push_back(static_cast<std::uint16_t>(i * 219));
  auto srgb = rasterizeImage(*makeImage<std::uint16_t>(100, 1, 3, codes), std::nullopt, 1.0);
  auto linear =
      rasterizeImage(*makeImage<std::uint16_t>(100, 1, 3, codes, ColorSpace::WellKnown::linearSRGB), std::nullopt, 1.0);
  ASSERT_TRUE(srgb && linear);
  for (int i = 0; i < 300; ++i) {
    double value = codes[static_cast<std::size_t>(i)] / 65535.0;
    const std::uint8_t* s = srgb->bitmap()->row(0) + 4 * (i / 3) + i % 3;
    const std::uint8_t* l = linear->bitmap()->row(0) + 4 * (i / 3) + i % 3;
    // Within rounding, plus the 16-bit quantisation of linear light near black.
    EXPECT_NEAR(*s, value * 255, 0.55) << i;
    EXPECT_NEAR(*l, referenceLinearToSRGB(value) * 255, 0.55) << i;
  }
}

TEST(NormalRenderingTest, ContentAboveWhiteIsClippedWithoutHeadroomAndCompressedWithIt) {
  auto bright = makeImage<float>(3, 1, 3, {0.2f, 0.2f, 0.2f, 1.0f, 1.0f, 1.0f, 4.0f, 2.0f, 1.0f},
                                ColorSpace::WellKnown::linearSRGB);
  auto clipped = rasterizeImage(*bright, std::nullopt, 1.0);
  EXPECT_FALSE(clipped->isHDR);
  EXPECT_EQ(pixelAt(*clipped, 1, 0), (Pixel8{255, 255, 255, 255}));
  EXPECT_EQ(pixelAt(*clipped, 2, 0), (Pixel8{255, 255, 255, 255}));

  auto mapped = rasterizeImage(*bright, 4.0, 1.0);
  EXPECT_TRUE(mapped->isHDR);
  // Shadows below the knee are untouched: 0.2 in linear light is 124 in sRGB.
  EXPECT_EQ(pixelAt(*mapped, 0, 0).r, std::lround(referenceLinearToSRGB(0.2) * 255));
  // White sits below the peak now (f(1) = 0.769 for C = 4, about 227), and
  // the peak keeps its hue: red > green > blue.
  Pixel8 white = pixelAt(*mapped, 1, 0);
  EXPECT_NEAR(white.r, 227, 1);
  Pixel8 peak = pixelAt(*mapped, 2, 0);
  EXPECT_EQ(peak.r, 255);
  EXPECT_GT(peak.r, peak.g);
  EXPECT_GT(peak.g, peak.b);
}

TEST(NormalRenderingTest, PQAndHLGReferenceWhiteIsOnePeakIsTheHeadroomAndAPQSweepRendersMonotonically) {
  double white = pqSignalForNits(203);
  double peak = pqSignalForNits(10000);
  double hundred = pqSignalForNits(100);
  auto image = makeImage<float>(3, 1, 3,
                                {float(white), float(white), float(white), float(peak), float(peak), float(peak),
                                 float(hundred), float(hundred), float(hundred)},
                                ColorSpace::WellKnown::bt2100PQ);
  auto decoder = LinearLightDecoder::create(*image);
  ASSERT_TRUE(decoder);
  std::vector<float> row(12);
  decoder->decodeRow(0, 0, 3, row.data());
  for (int c = 0; c < 3; ++c) {
    EXPECT_NEAR(row[static_cast<std::size_t>(c)], 1.0, 1e-3);   // grey stays grey through the primaries matrix
    EXPECT_NEAR(row[static_cast<std::size_t>(4 + c)], 10000.0 / 203, 0.05);
    EXPECT_NEAR(row[static_cast<std::size_t>(8 + c)], 100.0 / 203, 1e-3);
  }
  EXPECT_DOUBLE_EQ(effectiveContentHeadroom(*image, std::nullopt), 10000.0 / 203);
  // With a content headroom of 1 the reference white is display white.
  auto asStandard = rasterizeImage(*image, 1.0, 1.0);
  EXPECT_EQ(pixelAt(*asStandard, 0, 0), (Pixel8{255, 255, 255, 255}));
  auto asHDR = rasterizeImage(*image, std::nullopt, 1.0);
  EXPECT_TRUE(asHDR->isHDR);
  EXPECT_LT(pixelAt(*asHDR, 0, 0).r, 255);
  EXPECT_EQ(pixelAt(*asHDR, 1, 0).r, 255);
  std::vector<std::uint16_t> samples;
  for (int i = 0; i < 1024; ++i) {
    auto code = static_cast<std::uint16_t>(i * 64);
    samples.insert(samples.end(), {code, code, code});
  }
  auto sweep = rasterizeImage(*makeImage<std::uint16_t>(1024, 1, 3, samples, ColorSpace::WellKnown::bt2100PQ),
                              std::nullopt, 1.0);
  ASSERT_TRUE(sweep);
  const std::uint8_t* swept = sweep->bitmap()->row(0);
  for (int x = 1; x < 1024; ++x) ASSERT_GE(swept[4 * x], swept[4 * (x - 1)]) << x;
  EXPECT_EQ(swept[0], 0);
  EXPECT_EQ(swept[4 * 1023], 255);
  // HLG at 75 % is reference white.
  auto hlg = makeUniformImage<float>(1, 1, {0.75f, 0.75f, 0.75f}, ColorSpace::WellKnown::bt2100HLG);
  LinearLightDecoder::create(*hlg)->decodeRow(0, 0, 1, row.data());
  EXPECT_NEAR(row[0], 1.0, 0.01);
  EXPECT_NEAR(row[1], 1.0, 0.01);
  EXPECT_DOUBLE_EQ(effectiveContentHeadroom(*hlg, std::nullopt), 1000.0 / 203);
}

TEST(LinearLightDecoderTest, DisplayP3IsConvertedToSRGBPrimaries) {
  // lcms2 (independent of our matrices) says where an sRGB colour lies in Display P3.
  LcmsProfile srgbProfile = openProfile(*ColorSpace::wellKnown(ColorSpace::WellKnown::sRGB));
  LcmsProfile p3Profile = openProfile(*ColorSpace::wellKnown(ColorSpace::WellKnown::displayP3));
  LcmsTransform toP3(cmsCreateTransform(srgbProfile.get(), TYPE_RGB_DBL, p3Profile.get(), TYPE_RGB_DBL,
                                        INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
  ASSERT_TRUE(toP3);
  double srgb[3] = {0.9, 0.5, 0.2};
  double p3[3] = {};
  cmsDoTransform(toP3.get(), srgb, p3, 1);
  auto image = makeUniformImage<float>(1, 1, {float(p3[0]), float(p3[1]), float(p3[2])},
                                       ColorSpace::WellKnown::displayP3);
  std::vector<float> row(4);
  LinearLightDecoder::create(*image)->decodeRow(0, 0, 1, row.data());
  for (int c = 0; c < 3; ++c) EXPECT_NEAR(row[static_cast<std::size_t>(c)], referenceSRGBToLinear(srgb[c]), 2e-3) << c;
  EXPECT_EQ(row[3], 1.0f);
}

TEST(LinearLightDecoderTest, OtherProfilesGoThroughLcmsAndAnUnreadableOneFailsTheRendering) {
  // A gamma 2.2 profile with the sRGB primaries is no well-known space.
  cmsCIExyY white{0.3127, 0.3290, 1.0};
  cmsCIExyYTRIPLE primaries{{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
  cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
  cmsToneCurve* curves[3] = {gamma, gamma, gamma};
  LcmsProfile profile(cmsCreateRGBProfile(&white, &primaries, curves));
  cmsFreeToneCurve(gamma);
  cmsUInt32Number size = 0;
  cmsSaveProfileToMem(profile.get(), nullptr, &size);
  std::vector<std::uint8_t> bytes(size);
  cmsSaveProfileToMem(profile.get(), bytes.data(), &size);
  auto space = ColorSpace::fromICC(bytes);
  ASSERT_TRUE(space);
  ASSERT_EQ(space->kind(), ColorSpace::WellKnown::none);

  std::vector<std::byte> samples(8);
  const std::uint8_t pixel[8] = {128, 255, 0, 64, 0, 0, 0, 0};
  std::memcpy(samples.data(), pixel, 8);
  DecodedImage image(2, 1, 4, SampleFormat::uint8, samples, space);
  std::vector<float> row(8);
  LinearLightDecoder::create(image)->decodeRow(0, 0, 2, row.data());
  EXPECT_NEAR(row[0], std::pow(128 / 255.0, 2.2), 2e-3);
  EXPECT_NEAR(row[1], 1.0, 2e-3);
  EXPECT_NEAR(row[2], 0.0, 2e-3);
  EXPECT_NEAR(row[3], 64 / 255.0, 1e-6);
  EXPECT_NEAR(row[7], 0.0, 1e-6);
  auto broken = std::make_shared<const ColorSpace>(ColorSpace::WellKnown::none, ColorSpace::Model::rgb, "broken",
                                                   std::vector<std::uint8_t>{1, 2, 3});
  DecodedImage unreadable(1, 1, 3, SampleFormat::uint8, std::vector<std::byte>(3), broken);
  EXPECT_FALSE(LinearLightDecoder::create(unreadable));
  EXPECT_FALSE(rasterizeImage(unreadable, std::nullopt, 1.0));
}

// A mid-grey PQ ramp (100 to 200 nits) in a 16-bit PNG with cICP, as the canvas shows it: near the
// ramp over the 203-nit reference white (BT.2408), far from its codes misread as sRGB (139 against 222).
TEST(NormalRenderingTest, PQFileIsShownToneMappedNotAsSRGB) {
  ensureVipsInitialized();
  std::vector<std::uint16_t> codes;
  double reference = 0, misread = 0;
  for (double nits = 100; nits <= 200; ++nits) {
    codes.insert(codes.end(), 3, static_cast<std::uint16_t>(std::lround(pqSignalForNits(nits) * 65535)));
    reference += 255 * referenceLinearToSRGB(std::min(1.0, nits / 203)) / 101;
    misread += codes.back() / 257.0 / 101;
  }
  test::ScratchDirectory directory;
  const auto file = directory / "ramp.png";
  vips::VImage::new_from_memory(codes.data(), codes.size() * 2, 101, 1, 3, VIPS_FORMAT_USHORT)
      .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_RGB16))
      .pngsave(file.c_str(), vips::VImage::option()->set("bitdepth", 16));
  insertPNGChunk(file, "cICP", {9, 16, 0, 1});
  auto display = readDisplayImage(file, nullptr, std::nullopt);
  auto shown = display ? rasterizeImage(*display->image, display->contentHeadroom, 1.0) : nullptr;
  ASSERT_TRUE(shown);
  double mean = 0;
  for (int x = 0; x < 101; ++x) mean += pixelAt(*shown, x, 0).g / 101.0;
  EXPECT_NEAR(mean / reference, 1.0, 0.2) << mean << " against " << reference;
  EXPECT_GT(std::abs(mean / misread - 1), 0.3) << mean << " against a misread " << misread;
}

}  // namespace
}  // namespace quorlin
