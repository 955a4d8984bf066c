#include "core/engine/ColorSpace.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include "core/engine/LcmsHandles.h"

namespace quorlin {
namespace {

using K = ColorSpace::WellKnown;

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

// Converting through lcms2 checks the curves, not only that the bytes parse:
// sRGB mid-grey 0.5 is 0.21404 in linear light (IEC 61966-2.1).
TEST(ColorSpaceTest, LinearSRGBIsTheLinearFormOfSRGB) {
  auto srgb = openProfile(*ColorSpace::wellKnown(K::sRGB));
  auto linear = openProfile(*ColorSpace::wellKnown(K::linearSRGB));
  ASSERT_TRUE(srgb && linear);
  LcmsTransform transform(cmsCreateTransform(srgb.get(), TYPE_RGB_FLT, linear.get(), TYPE_RGB_FLT,
                                             INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
  ASSERT_TRUE(transform);
  float in[3] = {0.5f, 0.5f, 0.5f};
  float out[3] = {};
  cmsDoTransform(transform.get(), in, out, 1);
  EXPECT_NEAR(out[0], 0.21404, 1e-3);
  EXPECT_NEAR(out[1], 0.21404, 1e-3);
}

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
