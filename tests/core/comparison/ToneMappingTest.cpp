#include "core/comparison/ToneMapping.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <vector>

namespace quorlin {
namespace {

struct Headrooms {
  double content;
  double target;
  friend void PrintTo(const Headrooms& headrooms, std::ostream* out) {
    *out << "content " << headrooms.content << ", target " << headrooms.target;
  }
};

class ToneMapperCurveTest : public ::testing::TestWithParam<Headrooms> {};

TEST_P(ToneMapperCurveTest, CurveIsMonotonicAndReachesTheTargetAtThePeak) {
  ToneMapper mapper(GetParam().content, GetParam().target);
  ASSERT_FALSE(mapper.isIdentity());
  const float content = static_cast<float>(GetParam().content);
  const float target = static_cast<float>(GetParam().target);
  float previous = 0;
  for (int i = 0; i <= 100000; ++i) {
    float m = content * 1.2f * static_cast<float>(i) / 100000.0f;
    float mapped = mapper.curve(m);
    ASSERT_GE(mapped, previous) << "m = " << m;
    ASSERT_LE(mapped, target) << "m = " << m;
    previous = mapped;
  }
  EXPECT_NEAR(mapper.curve(content), target, 1e-5);
  // Shadows are untouched, and the curve leaves the knee with slope 1.
  EXPECT_EQ(mapper.curve(target * 0.25f), target * 0.25f);
  float knee = target / 2;
  EXPECT_NEAR(mapper.curve(knee + 1e-3f) - mapper.curve(knee), 1e-3f, 1e-4f);
}

INSTANTIATE_TEST_SUITE_P(Headrooms, ToneMapperCurveTest,
                         ::testing::Values(Headrooms{1.01, 1}, Headrooms{2, 1}, Headrooms{4, 1},
                                           Headrooms{10000.0 / 203, 1}, Headrooms{8, 2}));

TEST(ToneMapperTest, ContentWithinTheHeadroomIsUnchangedPixelsKeepTheirRatiosAndBadInputCountsAsNothing) {
  for (Headrooms h : {Headrooms{1, 1}, Headrooms{0.8, 1}, Headrooms{2, 3}, Headrooms{std::nan(""), 1},
                      Headrooms{-3, 1}}) {
    ToneMapper mapper(h.content, h.target);
    EXPECT_TRUE(mapper.isIdentity());
    for (int i = 0; i <= 1000; ++i) {
      float m = static_cast<float>(h.target) * static_cast<float>(i) / 1000.0f;
      ASSERT_EQ(mapper.curve(m), m);
    }
    std::vector<float> pixel{0.3f, 0.6f, 0.9f, 0.5f};
    mapper.apply(pixel.data(), 1);
    EXPECT_EQ(pixel, (std::vector<float>{0.3f, 0.6f, 0.9f, 0.5f}));
  }
  EXPECT_EQ(ToneMapper(4, 0).targetHeadroom(), 1.0);
  ToneMapper mapper(4, 1);
  std::vector<float> pixel{2.0f, 1.0f, 0.5f, 1.0f, -0.5f, std::numeric_limits<float>::quiet_NaN(), 0.25f, 1.0f};
  mapper.apply(pixel.data(), 2);
  EXPECT_NEAR(pixel[0], mapper.curve(2.0f), 1e-6);
  EXPECT_NEAR(pixel[0] / pixel[1], 2.0f, 1e-5);
  EXPECT_NEAR(pixel[1] / pixel[2], 2.0f, 1e-5);
  EXPECT_EQ(pixel[3], 1.0f);
  // Negative and NaN channels become zero.
  EXPECT_EQ(std::vector<float>(pixel.begin() + 4, pixel.end()), (std::vector<float>{0.0f, 0.0f, 0.25f, 1.0f}));
}

}  // namespace
}  // namespace quorlin
