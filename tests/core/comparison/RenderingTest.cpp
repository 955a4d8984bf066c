#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <stdexcept>
#include <thread>
#include <vips/vips8>
#include <sys/stat.h>

#include "core/comparison/RasterBitmap.h"
#include "core/engine/DisplayImage.h"
#include "core/comparison/CheckerboardTile.h"
#include "core/comparison/DifferenceRendering.h"
#include "core/comparison/DisplayHeadroom.h"
#include "core/comparison/ErrorMapRendering.h"
#include "core/comparison/FourWayCanvasModel.h"
#include "core/comparison/LinearLightDecoder.h"
#include "core/comparison/MipChain.h"
#include "core/comparison/NormalRendering.h"
#include "core/comparison/RowParallel.h"
#include "core/comparison/ToneMapping.h"
#include "core/engine/DisplayImageReader.h"
#include "core/engine/LcmsHandles.h"
#include "core/engine/PNGColour.h"
#include "core/engine/VipsRuntime.h"
#include "support/TestSupport.h"

namespace quorlin {
namespace {

template <typename Sample>
std::shared_ptr<const DecodedImage> makeImage(int width, int height, int channels, const std::vector<Sample>& samples,
                                              ColorSpace::WellKnown space = ColorSpace::WellKnown::sRGB) {
  SampleFormat format = sizeof(Sample) == 1 ? SampleFormat::uint8
                        : sizeof(Sample) == 2 ? SampleFormat::uint16
                                              : SampleFormat::float32;
  std::vector<std::byte> bytes(samples.size() * sizeof(Sample));
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return std::make_shared<const DecodedImage>(width, height, channels, format, std::move(bytes),
                                              ColorSpace::wellKnown(space));
}

// Every pixel the same.
template <typename Sample>
std::shared_ptr<const DecodedImage> makeUniformImage(int width, int height, std::initializer_list<Sample> pixel,
                                                     ColorSpace::WellKnown space = ColorSpace::WellKnown::sRGB) {
  std::vector<Sample> samples(static_cast<std::size_t>(width * height) * pixel.size());
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = pixel.begin()[i % pixel.size()];
  return makeImage<Sample>(width, height, static_cast<int>(pixel.size()), samples, space);
}

DisplayImage displayImageOf(std::shared_ptr<const DecodedImage> image) {
  PixelSize size{static_cast<double>(image->width()), static_cast<double>(image->height())};
  return DisplayImage{std::move(image), size, std::nullopt};
}

// Bytes of pixel (x, y) of a rendered bitmap: R, G, B, A.
struct Pixel8 {
  int r, g, b, a;
  friend bool operator==(const Pixel8&, const Pixel8&) = default;
};

Pixel8 pixelAt(const RasterizedImage& image, int x, int y) {
  const std::uint8_t* p = image.bitmap()->row(y) + 4 * x;
  return {p[0], p[1], p[2], p[3]};
}


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
  EXPECT_EQ((std::vector{pixelAt(*result, 0, 0), pixelAt(*result, 1, 0), pixelAt(*result, 0, 1), pixelAt(*result, 1, 1)}),
            (std::vector<Pixel8>{{0, 1, 2, 255}, {127, 128, 129, 255}, {253, 254, 255, 255}, {9, 99, 199, 255}}));
  // 200 × 128 / 255 = 100.4, 100 × 128 / 255 = 50.2, 50 × 128 / 255 = 25.1, at 8 and 16 bits.
  for (const auto& image : {makeUniformImage<std::uint8_t>(1, 1, {200, 100, 50, 128}),
                            makeUniformImage<std::uint16_t>(1, 1, {51400, 25700, 12850, 32896})})
    EXPECT_EQ(pixelAt(*rasterizeImage(*image, std::nullopt, 1.0), 0, 0), (Pixel8{100, 50, 25, 128}));
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
  EXPECT_EQ((std::vector{pixelAt(*clipped, 1, 0), pixelAt(*clipped, 2, 0)}), (std::vector<Pixel8>(2, {255, 255, 255, 255})));

  auto mapped = rasterizeImage(*bright, 4.0, 1.0);
  EXPECT_TRUE(mapped->isHDR);
  // Shadows below the knee are untouched: 0.2 in linear light is 124 in sRGB.
  EXPECT_EQ(pixelAt(*mapped, 0, 0).r, std::lround(referenceLinearToSRGB(0.2) * 255));
  // White sits below the peak now (f(1) = 0.769 for C = 4, about 227), and
  // the peak keeps its hue: red > green > blue.
  EXPECT_NEAR(pixelAt(*mapped, 1, 0).r, 227, 1);
  Pixel8 peak = pixelAt(*mapped, 2, 0);
  EXPECT_TRUE(peak.r == 255 && peak.r > peak.g && peak.g > peak.b);
}

TEST(NormalRenderingTest, PQAndHLGReferenceWhiteIsOnePeakIsTheHeadroomAndAPQSweepRendersMonotonically) {
  std::vector<float> signals;   // reference white, the peak and 100 nits
  for (double nits : {203.0, 10000.0, 100.0}) signals.insert(signals.end(), 3, float(pqSignalForNits(nits)));
  auto image = makeImage<float>(3, 1, 3, signals, ColorSpace::WellKnown::bt2100PQ);
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
  EXPECT_TRUE(asHDR->isHDR && pixelAt(*asHDR, 0, 0).r < 255 && pixelAt(*asHDR, 1, 0).r == 255);
  std::vector<std::uint16_t> samples;
  for (int i = 0; i < 3 * 1024; ++i) samples.push_back(static_cast<std::uint16_t>(i / 3 * 64));
  auto sweep = rasterizeImage(*makeImage<std::uint16_t>(1024, 1, 3, samples, ColorSpace::WellKnown::bt2100PQ),
                              std::nullopt, 1.0);
  ASSERT_TRUE(sweep);
  const std::uint8_t* swept = sweep->bitmap()->row(0);
  for (int x = 1; x < 1024; ++x) ASSERT_GE(swept[4 * x], swept[4 * (x - 1)]) << x;
  EXPECT_TRUE(swept[0] == 0 && swept[4 * 1023] == 255);
  // HLG at 75 % is reference white.
  auto hlg = makeUniformImage<float>(1, 1, {0.75f, 0.75f, 0.75f}, ColorSpace::WellKnown::bt2100HLG);
  LinearLightDecoder::create(*hlg)->decodeRow(0, 0, 1, row.data());
  EXPECT_NEAR(row[0], 1.0, 0.01);
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
  const double expected[] = {std::pow(128 / 255.0, 2.2), 1.0, 0.0, 64 / 255.0, 0, 0, 0, 0};
  for (int i = 0; i < 8; ++i) EXPECT_NEAR(row[static_cast<std::size_t>(i)], expected[i], 2e-3) << i;
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


std::shared_ptr<const RasterizedImage> difference(const std::shared_ptr<const DecodedImage>& source,
                                                  const std::shared_ptr<const DecodedImage>& comparison, int gain) {
  auto result = rasterizeDifference(*source, *comparison, gain, 1.0);
  EXPECT_TRUE(result);
  return result;
}

TEST(DifferenceRenderingTest, DifferenceIsTakenInLinearLightTimesTheGainAndSaturates) {
  auto image = makeUniformImage<std::uint8_t>(5, 4, {200, 100, 50});
  auto same = difference(image, image, 32);
  EXPECT_EQ(std::tuple(same->bitmap()->width, same->bitmap()->height, same->isHDR), std::tuple(5, 4, false));
  EXPECT_EQ(pixelAt(*same, 4, 3), (Pixel8{0, 0, 0, 255}));
  // sRGB 200 → 0.57758, 190 → 0.51492; 0.06266 × 4 = 0.25065 encodes to 0.5379 → 137.
  // (Subtracting the encoded values would give |200 − 190| × 4 = 40.) Blue:
  // lin(50) = 0.03190, lin(60) = 0.04519; 0.01329 × 4 = 0.05316 → 0.2564 → 65.
  Pixel8 pixel = pixelAt(*difference(image, makeUniformImage<std::uint8_t>(2, 2, {190, 100, 60}), 4), 1, 1);
  EXPECT_LE(std::max({std::abs(pixel.r - 137), pixel.g, std::abs(pixel.b - 65), 255 - pixel.a}), 1);
  EXPECT_EQ(std::pair(pixel.g, pixel.a), std::pair(0, 255));
  // Mid grey 128 vs 129 differs by 0.003757 in linear light: about 12 at gain 1, 96 at gain 32.
  auto grey = makeUniformImage<std::uint8_t>(1, 1, {128, 128, 128});
  auto nextGrey = makeUniformImage<std::uint8_t>(1, 1, {129, 128, 128});
  EXPECT_NEAR(pixelAt(*difference(grey, nextGrey, 1), 0, 0).r, 12, 1);
  EXPECT_NEAR(pixelAt(*difference(grey, nextGrey, 32), 0, 0).r, 96, 1);
  // Large differences saturate instead of wrapping; lin(255) − lin(250) = 0.0386 × 32 = 1.23 clips.
  EXPECT_EQ(pixelAt(*difference(makeUniformImage<std::uint8_t>(1, 1, {255, 0, 255}),
                                makeUniformImage<std::uint8_t>(1, 1, {0, 255, 250}), 32), 0, 0),
            (Pixel8{255, 255, 255, 255}));
}

TEST(DifferenceRenderingTest, AlphaIsTheProductOfBothAlphasAtEveryDepth) {
  // The source against itself: black with alpha squared (128 × 128 / 255 = 64.25).
  auto translucent = makeUniformImage<std::uint8_t>(2, 1, {90, 180, 30, 128});
  EXPECT_EQ(pixelAt(*difference(translucent, translucent, 8), 1, 0), (Pixel8{0, 0, 0, 64}));
  // Opaque source, half-covered comparison: alpha 128 and the colour premultiplied by it.
  auto opaque = makeUniformImage<std::uint8_t>(2, 1, {200, 100, 50, 255});
  Pixel8 pixel = pixelAt(*difference(opaque, makeUniformImage<std::uint8_t>(2, 1, {190, 100, 60, 128}), 4), 0, 0);
  EXPECT_EQ(pixel.a, 128);
  EXPECT_NEAR(pixel.r, 137 * 128 / 255.0, 1);
  auto wide = makeUniformImage<std::uint16_t>(1, 1, {51400, 25700, 12850, 32896});   // alpha 128 of 255
  EXPECT_EQ(pixelAt(*difference(wide, opaque, 32), 0, 0), (Pixel8{0, 0, 0, 128}));
  EXPECT_EQ(pixelAt(*difference(wide, wide, 32), 0, 0), (Pixel8{0, 0, 0, 64}));
}

TEST(DifferenceRenderingTest, ComparisonIsReadAtTheSamePixelAndCroppedToTheSource) {
  // 3 × 2 source, 2 × 1 comparison: only (0, 0) and (1, 0) are covered.
  auto source = makeUniformImage<std::uint8_t>(3, 2, {100, 100, 100});
  auto result = difference(source, makeUniformImage<std::uint8_t>(2, 1, {100, 100, 100}), 2);
  EXPECT_EQ(pixelAt(*result, 1, 0), (Pixel8{0, 0, 0, 255}));
  EXPECT_EQ(pixelAt(*result, 2, 0), (Pixel8{0, 0, 0, 0}));
  EXPECT_EQ(pixelAt(*result, 0, 1), (Pixel8{0, 0, 0, 0}));
  // A larger comparison is cropped; its extra pixels change nothing.
  auto cropped = difference(source, makeImage<std::uint8_t>(4, 3, 3, std::vector<std::uint8_t>(36, 100)), 2);
  EXPECT_EQ(std::pair(cropped->bitmap()->width, cropped->bitmap()->height), std::pair(3, 2));
  EXPECT_EQ(pixelAt(*cropped, 2, 1), (Pixel8{0, 0, 0, 255}));
}

TEST(DifferenceRenderingTest, SixteenBitAndFloatPathsAgreeWithTheEightBitTable) {
  // The same pixels as 8 bits (table path), 16 bits (fixed-point rows, v × 257) and floats against the
  // 8-bit source (general rows, which decode the 8-bit samples too).
  std::vector<std::uint8_t> eight, source8;
  std::vector<std::uint16_t> sixteen, source16;
  std::vector<float> floats;
  for (int i = 0; i < 64; ++i) {
    auto value = static_cast<std::uint8_t>((i * 37) % 256);
    auto other = static_cast<std::uint8_t>(i % 4 == 3 ? 255 - i * 3 : i * 4);
    eight.push_back(value);
    sixteen.push_back(static_cast<std::uint16_t>(value * 257));
    floats.push_back(value / 255.0f);
    source8.push_back(other);
    source16.push_back(static_cast<std::uint16_t>(other * 257));
  }
  auto byTable = difference(makeImage<std::uint8_t>(16, 1, 4, source8), makeImage<std::uint8_t>(16, 1, 4, eight), 8);
  auto byFixedPoint =
      difference(makeImage<std::uint16_t>(16, 1, 4, source16), makeImage<std::uint16_t>(16, 1, 4, sixteen), 8);
  auto byRows = difference(makeImage<std::uint8_t>(16, 1, 4, source8), makeImage<float>(16, 1, 4, floats), 8);
  for (int x = 0; x < 16; ++x) {
    Pixel8 table = pixelAt(*byTable, x, 0), fixed = pixelAt(*byFixedPoint, x, 0), rows = pixelAt(*byRows, x, 0);
    for (Pixel8 other : {fixed, rows}) {
      EXPECT_LE(std::max({std::abs(table.r - other.r), std::abs(table.g - other.g), std::abs(table.b - other.b),
                          std::abs(table.a - other.a)}), 1) << x;
    }
  }
}

TEST(DifferenceRenderingTest, DifferentColourSpacesAreComparedByTheirColours) {
  // Linear sRGB 16-bit holding exactly the light of sRGB (200, 100, 50).
  auto linearCode = [](double encoded) { return static_cast<std::uint16_t>(std::lround(referenceSRGBToLinear(encoded / 255.0) * 65535)); };
  auto srgb = makeUniformImage<std::uint8_t>(1, 1, {200, 100, 50});
  auto linear = makeUniformImage<std::uint16_t>(1, 1, {linearCode(200), linearCode(100), linearCode(50)},
                                                ColorSpace::WellKnown::linearSRGB);
  Pixel8 pixel = pixelAt(*difference(srgb, linear, 32), 0, 0);
  EXPECT_LE(std::max({pixel.r, pixel.g, pixel.b}), 6);
  // Read as if it were sRGB, the same numbers would be far apart.
  auto mislabelled = makeUniformImage<std::uint16_t>(1, 1, {linearCode(200), linearCode(100), linearCode(50)});
  EXPECT_GT(pixelAt(*difference(srgb, mislabelled, 1), 0, 0).r, 60);
}

// Content and target headrooms.
class ToneMapperCurveTest : public ::testing::TestWithParam<std::pair<double, double>> {};

TEST_P(ToneMapperCurveTest, CurveIsMonotonicAndReachesTheTargetAtThePeak) {
  ToneMapper mapper(GetParam().first, GetParam().second);
  ASSERT_FALSE(mapper.isIdentity());
  const float content = static_cast<float>(GetParam().first), target = static_cast<float>(GetParam().second);
  float previous = 0;
  for (int i = 0; i <= 100000; ++i) {
    float m = content * 1.2f * static_cast<float>(i) / 100000.0f;
    float mapped = mapper.curve(m);
    ASSERT_TRUE(mapped >= previous && mapped <= target) << "m = " << m;
    previous = mapped;
  }
  EXPECT_NEAR(mapper.curve(content), target, 1e-5);
  // Shadows are untouched, and the curve leaves the knee with slope 1.
  EXPECT_EQ(mapper.curve(target * 0.25f), target * 0.25f);
  float knee = target / 2;
  EXPECT_NEAR(mapper.curve(knee + 1e-3f) - mapper.curve(knee), 1e-3f, 1e-4f);
}

INSTANTIATE_TEST_SUITE_P(Headrooms, ToneMapperCurveTest,
                         ::testing::Values(std::pair(1.01, 1.0), std::pair(2.0, 1.0), std::pair(4.0, 1.0), std::pair(10000.0 / 203, 1.0), std::pair(8.0, 2.0)));

TEST(ToneMapperTest, ContentWithinTheHeadroomIsUnchangedPixelsKeepTheirRatiosAndBadInputCountsAsNothing) {
  for (auto [content, target] : {std::pair(1.0, 1.0), std::pair(0.8, 1.0), std::pair(2.0, 3.0), std::pair(std::nan(""), 1.0), std::pair(-3.0, 1.0)}) {
    ToneMapper mapper(content, target);
    EXPECT_TRUE(mapper.isIdentity());
    for (int i = 0; i <= 1000; ++i) ASSERT_EQ(mapper.curve(float(target) * float(i) / 1000.0f), float(target) * float(i) / 1000.0f);
    std::vector<float> pixel{0.3f, 0.6f, 0.9f, 0.5f};
    mapper.apply(pixel.data(), 1);
    EXPECT_EQ(pixel, (std::vector<float>{0.3f, 0.6f, 0.9f, 0.5f}));
  }
  EXPECT_EQ(ToneMapper(4, 0).targetHeadroom(), 1.0);
  ToneMapper mapper(4, 1);
  std::vector<float> pixel{2.0f, 1.0f, 0.5f, 1.0f, -0.5f, std::numeric_limits<float>::quiet_NaN(), 0.25f, 1.0f};
  mapper.apply(pixel.data(), 2);
  EXPECT_NEAR(pixel[0], mapper.curve(2.0f), 1e-6);
  EXPECT_NEAR(std::abs(pixel[0] / pixel[1] - 2.0f) + std::abs(pixel[1] / pixel[2] - 2.0f), 0, 2e-5);
  EXPECT_EQ(pixel[3], 1.0f);
  // Negative and NaN channels become zero.
  EXPECT_EQ(std::vector<float>(pixel.begin() + 4, pixel.end()), (std::vector<float>{0.0f, 0.0f, 0.25f, 1.0f}));
}

std::shared_ptr<RasterBitmap> filledBitmap(int width, int height, std::uint8_t (*value)(int x, int y, int channel)) {
  auto bitmap = RasterBitmap::allocate(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 4; ++c) bitmap->row(y)[4 * x + c] = value(x, y, c);
    }
  }
  return bitmap;
}

TEST(MipChainTest, LevelsHalveRoundingUpDownToOnePixelAndAverageEachChannelWithRounding) {
  auto base = filledBitmap(5, 3, [](int, int, int) -> std::uint8_t { return 7; });
  auto levels = buildMipLevels(*base);
  std::vector<std::pair<int, int>> sizes;
  for (const auto& level : levels) sizes.emplace_back(level->width, level->height);
  EXPECT_EQ(sizes, (std::vector<std::pair<int, int>>{{3, 2}, {2, 1}, {1, 1}}));
  // A uniform bitmap stays uniform on every level, odd edges included.
  for (const auto& level : levels) {
    for (int y = 0; y < level->height; ++y) EXPECT_EQ(std::count(level->row(y), level->row(y) + 4 * level->width, 7), 4 * level->width);
  }
  EXPECT_TRUE(buildMipLevels(*filledBitmap(1, 1, [](int, int, int) -> std::uint8_t { return 0; })).empty());
  // Pixel value 4 × (x + 2y) + channel offset: the 2 × 2 block (0..1, 0..1)
  // holds 0, 4, 8, 12 (+c), whose rounded mean is 6 (+c). Channel 3 holds
  // 255 everywhere except one 0, to catch carries between bytes: (765 + 2) / 4 = 191.
  auto ramp = filledBitmap(3, 2, [](int x, int y, int c) -> std::uint8_t {
    if (c == 3) return x == 0 && y == 0 ? 0 : 255;
    return static_cast<std::uint8_t>(4 * (x + 2 * y) + c);
  });
  auto rampLevels = buildMipLevels(*ramp);
  const std::uint8_t* averaged = rampLevels.front()->row(0);
  // The odd last column (x = 2) is averaged with itself: (8 + 16) / 2 = 12.
  EXPECT_EQ((std::vector<int>(averaged, averaged + 8)), (std::vector<int>{6, 7, 8, 191, 12, 13, 14, 255}));
}

TEST(MipChainTest, LevelChoiceNeverMagnifiesAMinifiedLevel) {
  const std::tuple<double, int, int> cases[] = {{2.0, 10, 0}, {1.0, 10, 0},  {0.75, 10, 0},  {0.5, 10, 1},
                                                {0.3, 10, 1}, {0.25, 10, 2}, {0.001, 4, 3}, {0.1, 1, 0}};
  for (const auto& [scale, levels, expected] : cases) EXPECT_EQ(mipLevelForScale(scale, levels), expected) << scale;
}

RasterizedImage imageOfSize(int width, int height) {
  return makeRasterizedImage(filledBitmap(width, height, [](int, int, int) -> std::uint8_t { return 1; }), false);
}

TEST(MipChainTest, PlanDrawsOnlyTheVisiblePartOfTheRightLevelWidenedToWholePixels) {
  // 4000 × 4000 shown in 1000 points at ratio 1: scale 0.25, level 2 (1000 × 1000).
  RasterizedImage image = imageOfSize(4000, 4000);
  MipDrawPlan plan = planMipDraw(image, {0, 0, 1000, 1000}, {500, 0, 500, 500}, 1.0);
  // The visible 500..1000 × 0..500 plus one pixel for filtering where the level has one.
  EXPECT_EQ(std::tuple(plan.isEmpty, plan.level, plan.source, plan.target), std::tuple(false, 2, RectF{499, 0, 501, 501}, RectF{499, 0, 501, 501}));
  // On a 2× screen the same picture needs level 1.
  EXPECT_EQ(planMipDraw(image, {0, 0, 1000, 1000}, {0, 0, 1000, 1000}, 2.0).level, 1);
  // 1000 × 1000 drawn at 2000 points from (−500.5, −500): the view (0..1000)
  // sees level-0 pixels 250.25..750.25 × 250..750, widened to whole pixels
  // 250..751 × 250..750 and by one neighbour each side: 249..752 × 249..751.
  plan = planMipDraw(imageOfSize(1000, 1000), {-500.5, -500, 2000, 2000}, {0, 0, 1000, 1000}, 1.0);
  EXPECT_EQ(std::tuple(plan.level, plan.source, plan.target), std::tuple(0, RectF{249, 249, 503, 502}, RectF{-2.5, -2, 1006, 1004}));
  // Nothing to draw outside the clip.
  image = imageOfSize(10, 10);
  EXPECT_TRUE(planMipDraw(image, {0, 0, 100, 100}, {200, 0, 50, 50}, 1.0).isEmpty && planMipDraw(image, {0, 0, 100, 100}, {0, 0, 0, 100}, 1.0).isEmpty &&
              planMipDraw(image, {}, {0, 0, 100, 100}, 1.0).isEmpty);
}

TEST(CheckerboardTileTest, LighterSquaresSitTopRightAndBottomLeft) {
  auto tile = checkerboardTile(2);
  ASSERT_EQ(tile->width, 64);
  auto level = [&](int x, int y) { return tile->row(y)[4 * x]; };
  // 0.78 at top left and bottom right, 0.9 at top right and bottom left; opaque.
  EXPECT_EQ((std::vector{level(0, 0), level(63, 0), level(0, 63), level(63, 63), level(31, 31), level(32, 31), tile->row(10)[43]}),
            (std::vector<std::uint8_t>{199, 230, 230, 199, 199, 230, 255}));
  EXPECT_EQ(checkerboardTile(2), tile);   // made once per scale
}

TEST(BitmapMemoryPoolTest, LargeBlocksAreReusedForTheSameSizeUpToTheLimitAndCanBeReleased) {
  releaseIdleBitmapMemory();
  const std::uint8_t* first = nullptr;
  {
    auto bitmap = RasterBitmap::allocate(1024, 512);   // 2 MB
    first = bitmap->bytes.get();
  }
  EXPECT_EQ(idleBitmapMemory(), std::size_t{2} << 20);
  auto other = RasterBitmap::allocate(1000, 512);      // another size: fresh memory
  auto again = RasterBitmap::allocate(1024, 512);
  EXPECT_TRUE(other->bytes.get() != first && again->bytes.get() == first);
  // Small bitmaps bypass the pool.
  { auto small = RasterBitmap::allocate(16, 16); }
  EXPECT_EQ(idleBitmapMemory(), 0u);
  other.reset();
  EXPECT_GT(idleBitmapMemory(), 0u);
  releaseIdleBitmapMemory();
  EXPECT_EQ(idleBitmapMemory(), 0u);
  {
    std::vector<std::shared_ptr<RasterBitmap>> bitmaps;
    // Eleven 64 MB bitmaps: more than the 640 MB the pool may keep.
    for (int i = 0; i < 11; ++i) bitmaps.push_back(RasterBitmap::allocate(4096, 4096));
  }
  EXPECT_EQ(idleBitmapMemory(), std::size_t{640} << 20);
  releaseIdleBitmapMemory();
}

// The row loop over its kept threads: every row exactly once, also when two
// threads loop at the same time or a band loops again; a band's error reaches
// the caller and leaves the pool usable.
TEST(RowParallelTest, EveryRowOnceAlsoFromConcurrentAndNestedLoopsAndABandsErrorReachesTheCaller) {
  auto loop = [] {
    std::vector<std::atomic<int>> hits(1000);
    parallelForRows(
        1000,
        [&](int first, int end) {
          for (int y = first; y < end; ++y) ++hits[static_cast<std::size_t>(y)];
          std::atomic<int> inner{0};
          parallelForRows(10, [&](int a, int b) { inner += b - a; }, 3);
          EXPECT_EQ(inner.load(), 10);
        },
        7);
    for (const auto& hit : hits) EXPECT_EQ(hit.load(), 1);
  };
  std::jthread other(loop);
  loop();
  other.join();
  EXPECT_THROW(parallelForRows(
                   100, [](int first, int) { if (first == 50) throw std::runtime_error("band"); }, 1),
               std::runtime_error);
  std::atomic<int> rows{0};
  parallelForRows(100, [&](int first, int end) { rows += end - first; }, 1);
  EXPECT_EQ(rows.load(), 100);
}


// Records every rendering, and how many of its bitmaps were alive at each,
// and hands back a tiny distinct bitmap for each.
class CountingRasterizer final : public CanvasRasterizer {
 public:
  int normalRenders = 0;
  int differenceRenders = 0;
  bool isFailing = false;
  std::vector<std::weak_ptr<const RasterizedImage>> made;
  std::vector<int> liveAtEachRender;

  std::shared_ptr<const RasterizedImage> rasterize(const DecodedImage&, std::optional<double>, double) override {
    ++normalRenders;
    return make();
  }
  std::shared_ptr<const RasterizedImage> rasterizeDifference(const DecodedImage&, const DecodedImage&, int,
                                                             double) override {
    ++differenceRenders;
    return make();
  }
  int renders() const { return normalRenders + differenceRenders; }
  std::pair<int, int> counts() const { return {normalRenders, differenceRenders}; }

 private:
  std::shared_ptr<const RasterizedImage> make() {
    liveAtEachRender.push_back(static_cast<int>(
        std::count_if(made.begin(), made.end(), [](const auto& bitmap) { return !bitmap.expired(); })));
    if (isFailing) return nullptr;
    auto image = std::make_shared<RasterizedImage>();
    image->levels.push_back(RasterBitmap::allocate(1, 1));
    made.push_back(image);
    return image;
  }
};

constexpr SizeF view{800, 600};

class FourWayCanvasModelTest : public ::testing::Test {
 protected:
  FourWayCanvasModelTest() : rasterizer(std::make_shared<CountingRasterizer>()), model(rasterizer) {
    values.sourceImage = displayImageOf(makeUniformImage<std::uint8_t>(40, 30, {10, 20, 30}));
    values.panelImages = {displayImageOf(makeUniformImage<std::uint8_t>(40, 30, {11, 20, 30})),
                          std::nullopt,
                          displayImageOf(makeUniformImage<std::uint8_t>(20, 15, {12, 20, 30})),
                          displayImageOf(makeUniformImage<std::uint8_t>(40, 30, {13, 20, 30}))};
  }

  const CanvasLayerState& quadrant(int index) const { return model.layer(FourWayCanvasModel::quadrantLayer(index)); }
  std::uint64_t idOf(const std::optional<DisplayImage>& image) const { return image->image->identifier(); }

  std::shared_ptr<CountingRasterizer> rasterizer;
  FourWayCanvasModel model;
  FourWayImageCanvas values;
};

TEST_F(FourWayCanvasModelTest, EachDistinctImageRendersOnceOntoOneClippedRectangleAndGeometryNeverRenders) {
  values.comparisonX = 0.25;
  model.update(values, view, 1.0);
  // Source (original layer and quadrant 1, which has no result) plus three results.
  EXPECT_EQ(rasterizer->counts(), std::pair(4, 0));
  EXPECT_EQ(model.rasterCache().size(), 4u);
  EXPECT_TRUE(model.layer(CanvasLayer::original).isHidden);
  // Quadrant 1 has no result: it shows the source's very bitmap.
  EXPECT_EQ(quadrant(1).contents, model.layer(CanvasLayer::original).contents);
  EXPECT_EQ(model.appliedLayerKey(FourWayCanvasModel::quadrantLayer(1))->imageIdentifier, idOf(values.sourceImage));
  EXPECT_EQ(quadrant(0).clip, (RectF{0, 0, 200, 300}));
  EXPECT_EQ(quadrant(3).clip, (RectF{200, 300, 600, 300}));
  // 40 × 30 in 800 × 600 fits at 20; the half-size result of panel 2 fits at 40.
  for (int i = 0; i < 4; ++i) {
    EXPECT_FALSE(quadrant(i).isHidden) << i;
    EXPECT_TRUE(quadrant(i).contents) << i;
    EXPECT_EQ(quadrant(i).frame, (RectF{0, 0, 800, 600})) << i;
  }
  EXPECT_TRUE(model.background().frame == (RectF{0, 0, 800, 600}) && !model.background().isCheckerboard);

  values.zoom = 3.0;
  values.panOffset = {40, -25};
  values.comparisonY = 0.9;
  model.update(values, view, 1.0);
  model.update(values, {1024, 768}, 1.0);
  EXPECT_EQ(rasterizer->renders(), 4);
  // 40 × 30 in 1024 × 768: fit 25.6, × 3 → 3072 × 2304 centred, moved by the pan.
  EXPECT_EQ(quadrant(0).frame, (RectF{512 - 1536 + 40, 384 - 1152 - 25, 3072, 2304}));
}

TEST_F(FourWayCanvasModelTest, DifferenceModeRendersOnlyDifferencesReleasingStaleOnesFirstAndReusesThem) {
  values.isShowingDifference = true;
  model.update(values, view, 1.0);
  // The original layer keeps the source's normal rendering.
  EXPECT_EQ(rasterizer->counts(), std::pair(1, 4));
  auto key = model.appliedLayerKey(CanvasLayer::quadrant1);
  ASSERT_TRUE(key);
  // A panel without a result compares the source with itself.
  EXPECT_EQ(std::tuple(key->isDifference, key->imageIdentifier, key->comparisonImageIdentifier, key->contentHeadroom),
            std::tuple(true, idOf(values.sourceImage), std::optional(idOf(values.sourceImage)), std::optional<double>()));
  EXPECT_EQ(model.appliedLayerKey(CanvasLayer::quadrant3)->comparisonImageIdentifier, idOf(values.panelImages[3]));

  values.differenceGain = 4;
  rasterizer->liveAtEachRender.clear();
  model.update(values, view, 1.0);
  EXPECT_EQ(rasterizer->counts(), std::pair(1, 8));
  EXPECT_EQ(model.appliedLayerKey(CanvasLayer::quadrant2)->differenceGain, 4);
  // Stale bitmaps leave before their replacements are made: at each render the
  // source's normal bitmap and one difference per other quadrant, old or new.
  // Keeping the old ones until the end would show 5, 6, 7, 8.
  EXPECT_EQ(rasterizer->liveAtEachRender, (std::vector<int>{4, 4, 4, 4}));
  EXPECT_EQ(model.rasterCache().size(), 5u);
  values.panelImages[3] = displayImageOf(makeUniformImage<std::uint8_t>(40, 30, {14, 20, 30}));
  model.update(values, view, 1.0);
  EXPECT_EQ(std::pair(model.rasterCache().size(), rasterizer->differenceRenders), std::pair(std::size_t{5}, 9));
  values.differenceGain = 2;
  model.update(values, view, 1.0);
  EXPECT_EQ(rasterizer->differenceRenders, 13);

  // Toggling at the same gain reuses the bitmaps; a gain change while off renders nothing.
  const auto differenceBitmap = quadrant(0).contents;
  values.isShowingDifference = false;
  model.update(values, view, 1.0);
  values.isShowingDifference = true;
  model.update(values, view, 1.0);
  EXPECT_EQ(rasterizer->counts(), std::pair(4, 13));
  EXPECT_EQ(quadrant(0).contents, differenceBitmap);
  values.isShowingDifference = false;
  values.differenceGain = 32;
  model.update(values, view, 1.0);
  EXPECT_EQ(rasterizer->renders(), 17);
}

TEST_F(FourWayCanvasModelTest, NewImageNeverReusesAnOldBitmapAndItsEntryIsPruned) {
  model.update(values, view, 1.0);
  auto oldBitmap = quadrant(0).contents;
  std::uint64_t oldIdentifier = idOf(values.panelImages[0]);
  // Same pixels, new decoded image: a new identity.
  values.panelImages[0] = displayImageOf(makeUniformImage<std::uint8_t>(40, 30, {11, 20, 30}));
  ASSERT_NE(idOf(values.panelImages[0]), oldIdentifier);
  model.update(values, view, 1.0);
  EXPECT_TRUE(rasterizer->normalRenders == 5 && quadrant(0).contents != oldBitmap && model.rasterCache().size() == 4);
  EXPECT_FALSE(model.rasterCache().contains({oldIdentifier, std::nullopt, 1.0, std::nullopt, std::nullopt, false}));
}

TEST_F(FourWayCanvasModelTest, NoSourceOrNoAreaHidesEverythingAndKeepsTheCacheAndTheOriginalHidesTheQuadrants) {
  model.update(values, view, 1.0);
  FourWayImageCanvas empty = values;
  empty.sourceImage.reset();
  empty.usesTransparencyBackground = true;
  model.update(empty, view, 1.0);
  EXPECT_TRUE(model.background().isCheckerboard && model.background().frame == (RectF{0, 0, 800, 600}));
  EXPECT_TRUE(model.layer(CanvasLayer::original).isHidden);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(quadrant(i).isHidden);
  model.update(values, {0, 600}, 1.0);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(quadrant(i).isHidden);
  model.update(values, {800, -1}, 1.0);
  EXPECT_TRUE(model.rasterCache().size() == 4 && rasterizer->renders() == 4);

  values.isShowingOriginal = true;
  values.zoom = 2.0;
  model.update(values, view, 1.0);
  const CanvasLayerState& original = model.layer(CanvasLayer::original);
  EXPECT_FALSE(original.isHidden);
  EXPECT_EQ(std::pair(original.frame, original.clip), std::pair(RectF{-400, -300, 1600, 1200}, RectF{0, 0, 800, 600}));
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(quadrant(i).isHidden);
}

TEST_F(FourWayCanvasModelTest, OtherHeadroomsRenderAgainWhileFailedAndNaNKeyedRenderingsAreNeverCached) {
  model.update(values, view, 1.0);
  model.update(values, view, 2.5);
  EXPECT_TRUE(rasterizer->normalRenders == 8 && model.rasterCache().size() == 4);
  EXPECT_EQ(model.appliedLayerKey(CanvasLayer::original)->displayHeadroom, 2.5);
  // Headrooms of 1.0 and below (or NaN) are all standard range.
  model.update(values, view, 0.5);
  model.update(values, view, std::numeric_limits<double>::quiet_NaN());
  model.update(values, view, 1.0);
  EXPECT_EQ(rasterizer->normalRenders, 12);

  FourWayCanvasModel failing(rasterizer);
  rasterizer->isFailing = true;
  failing.update(values, view, 1.0);
  EXPECT_FALSE(failing.layer(CanvasLayer::quadrant0).contents || failing.appliedLayerKey(CanvasLayer::quadrant0));
  EXPECT_EQ(failing.rasterCache().size(), 0u);
  rasterizer->isFailing = false;
  // Retried; the NaN-keyed source is rendered anew each time, only the three results are cached.
  values.sourceImage->contentHeadroom = std::numeric_limits<double>::quiet_NaN();
  failing.update(values, view, 1.0);
  failing.update(values, view, 1.0);
  EXPECT_TRUE(failing.layer(CanvasLayer::quadrant0).contents && failing.layer(CanvasLayer::original).contents);
  EXPECT_EQ(failing.rasterCache().size(), 3u);
}

TEST(RasterCacheKeyTest, KeysCompareFieldByFieldAndNaNEqualsNothing) {
  const RasterCacheKey key{7, 2.0, 1.0, std::nullopt, std::nullopt, false};
  for (const RasterCacheKey& other : {RasterCacheKey{7, std::nullopt, 1.0, 9, 2, true}, RasterCacheKey{7, std::nullopt, 1.0, std::nullopt, std::nullopt, false}})
    EXPECT_NE(key, other);
  EXPECT_NE((RasterCacheKey{7, std::nullopt, 1.0, 9, 2, true}), (RasterCacheKey{7, std::nullopt, 1.0, 9, 4, true}));
  const RasterCacheKey nan{7, std::nan(""), 1.0, std::nullopt, std::nullopt, false};
  EXPECT_FALSE(nan == nan);
  const RasterCacheKey negativeZero{7, -0.0, 1.0, std::nullopt, std::nullopt, false}, positiveZero{7, 0.0, 1.0, std::nullopt, std::nullopt, false};
  EXPECT_EQ(negativeZero, positiveZero);
  EXPECT_EQ(RasterCacheKeyHash{}(negativeZero), RasterCacheKeyHash{}(positiveZero));
}

TEST(DisplayHeadroomTest, OnlyValuesAboveOneCount) {
  for (std::optional<double> headroom : {std::optional<double>(), std::optional(0.8), std::optional(std::nan("")),
                                         std::optional(std::numeric_limits<double>::infinity())})
    EXPECT_EQ(normalizedDisplayHeadroom(headroom), 1.0);
  EXPECT_EQ(normalizedDisplayHeadroom(2.5), 2.5);
  // Linux screens report no extended range; a replaced provider is read as is.
  EXPECT_EQ(displayHeadroom(platformDisplayHeadroomProvider()), 1.0);
  EXPECT_EQ(displayHeadroom([] { return std::optional<double>(4.0); }), 4.0);
  EXPECT_EQ(displayHeadroom(DisplayHeadroomProvider{}), 1.0);
}

constexpr int mapWidth = 40;
constexpr int mapHeight = 30;
constexpr SizeF mapView{400, 300};   // the picture fills the view exactly

// A little-endian three-layer PFM; `shares(x, y)` gives structure, artifacts, blur.
void writeMap(const std::filesystem::path& file, const std::function<std::array<float, 3>(int, int)>& shares) {
  std::ofstream stream(file, std::ios::binary);
  stream << "PF\n" << mapWidth << ' ' << mapHeight << "\n-1.0\n";
  for (int y = mapHeight - 1; y >= 0; --y) {
    for (int x = 0; x < mapWidth; ++x) stream.write(reinterpret_cast<const char*>(shares(x, y).data()), 12);
  }
}

std::array<std::uint8_t, 3> pixelOf(const CanvasLayerState& layer, int x, int y) {
  const std::uint8_t* p = layer.contents->bitmap()->row(y) + 4 * x;
  return {p[0], p[1], p[2]};
}

class ErrorMapCanvasTest : public ::testing::Test {
 protected:
  ErrorMapCanvasTest() {
    // Quadrant 0: structure 1e-6 everywhere. Quadrant 1: the same on the left
    // half, ten times that (as blur) on the right, so its 99.9th percentile
    // sets the shared scale.
    writeMap(scratch / "cool.pfm", [](int, int) { return std::array<float, 3>{1e-6f, 0, 0}; });
    writeMap(scratch / "hot.pfm", [](int x, int) {
      return x < mapWidth / 2 ? std::array<float, 3>{1e-6f, 0, 0} : std::array<float, 3>{0, 0, 1e-5f};
    });
    values.sourceImage = displayImageOf(makeUniformImage<std::uint8_t>(mapWidth, mapHeight, {128, 128, 128}));
    for (int panel = 0; panel < 2; ++panel) values.panelImages.push_back(displayImageOf(makeUniformImage<std::uint8_t>(mapWidth, mapHeight, {128, 128, 128})));
    values.panelErrorMaps = {scratch / "cool.pfm", scratch / "hot.pfm"};
    values.isShowingErrorMap = true;
  }

  const CanvasLayerState& quadrant(int index) const { return model.layer(FourWayCanvasModel::quadrantLayer(index)); }
  // Maps are read in the background and taken in by the update after.
  void showMaps() {
    model.update(values, mapView, 1.0);
    model.waitForErrorMaps();
    model.update(values, mapView, 1.0);
  }

  test::ScratchDirectory scratch;
  FourWayImageCanvas values;
  FourWayCanvasModel model;
};

TEST_F(ErrorMapCanvasTest, OneScaleColoursTheSameShareAlikeInEveryQuadrant) {
  showMaps();
  EXPECT_NEAR(model.errorMapScale(), 1e-5, 1e-7);   // kept to three digits
  // The same share at the same grey: one colour, two thirds up the scale, not
  // the top colour the cool map would give itself on a scale of its own.
  // A quadrant without a result has no map: only the dimmed backdrop.
  EXPECT_EQ((std::vector{pixelOf(quadrant(0), 3, 3), pixelOf(quadrant(1), 3, 3), pixelOf(quadrant(1), 30, 3), pixelOf(quadrant(2), 3, 3)}),
            (std::vector{errorMapPixel(2.0 / 3.0, 128), errorMapPixel(2.0 / 3.0, 128), errorMapPixel(1.0, 128), errorMapPixel(0.0, 128)}));

  // The structure layer alone: the hot map's right half has none, and the
  // scale falls to the cool map's share.
  values.errorMapLayer = ErrorMapLayer::structure;
  showMaps();
  EXPECT_NEAR(model.errorMapScale(), 1e-6, 1e-8);
  EXPECT_EQ(std::pair(pixelOf(quadrant(1), 30, 3), pixelOf(quadrant(1), 3, 3)), std::pair(errorMapPixel(0.0, 128), errorMapPixel(1.0, 128)));

  // The original and the difference, while held, show over the map.
  values.isShowingDifference = true;
  model.update(values, mapView, 1.0);
  EXPECT_FALSE(model.isShowingErrorMap());
  EXPECT_FALSE(model.errorMapReadingAt({300, 50}));
}

TEST_F(ErrorMapCanvasTest, MapAndReadingFollowTheSplitAndTheLegendShowsTheSharedScale) {
  showMaps();
  const auto reading = model.errorMapReadingAt({300, 50});   // image x 30, in quadrant 1
  ASSERT_TRUE(reading);
  EXPECT_EQ(std::pair(reading->quadrant, reading->position), std::pair(1, 1.0));
  EXPECT_NEAR(reading->share, 1e-5, 1e-7);

  // The split moves right past the point: quadrant 0's map is shown there,
  // from the same bitmaps (a split move never renders).
  const auto bitmap = quadrant(0).contents;
  values.comparisonX = 0.9;
  model.update(values, mapView, 1.0);
  EXPECT_TRUE(quadrant(0).contents == bitmap && quadrant(0).clip.width == 360);
  const auto moved = model.errorMapReadingAt({300, 50});
  ASSERT_TRUE(moved && moved->quadrant == 0);
  EXPECT_NEAR(moved->share, 1e-6, 1e-8);
  EXPECT_FALSE(model.errorMapReadingAt({300, 250}));   // quadrant 2: no map
  // The legend shows the shared scale decade by decade.
  const auto ticks = errorMapLegendTicks(model.errorMapScale());
  ASSERT_EQ(ticks.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(ticks[i].text, "1e-0" + std::to_string(8 - i));
    EXPECT_NEAR(ticks[i].position, i / 3.0, 1e-9);
  }
  EXPECT_TRUE(errorMapLegendTicks(0.0).empty());
}

TEST_F(ErrorMapCanvasTest, AMapStillReadingWhenItsResultIsReplacedIsNeverShown) {
  const auto pipe = scratch / "held.pfm";   // the read blocks until the test opens the pipe
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  values.panelErrorMaps[0] = pipe;
  model.update(values, mapView, 1.0);
  EXPECT_TRUE(model.isErrorMapLoading(0));
  values.panelImages[0] = displayImageOf(makeUniformImage<std::uint8_t>(mapWidth, mapHeight, {90, 90, 90}));
  values.panelErrorMaps[0] = scratch / "hot.pfm";
  model.update(values, mapView, 1.0);
  { std::ofstream release(pipe); }   // the old read ends, finding nothing
  showMaps();
  ASSERT_TRUE(model.quadrantErrorMap(0));
  EXPECT_NEAR(model.quadrantErrorMap(0)->topShare, 1e-5, 1e-7);
}

}  // namespace
}  // namespace quorlin
