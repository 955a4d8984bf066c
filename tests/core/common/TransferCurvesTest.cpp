// The one copy of the HDR curves (profile builder, renderer and metric use it)
// against the published encodings they invert.
#include <gtest/gtest.h>

#include <cmath>

#include "core/common/TransferCurves.h"

namespace quorlin {
namespace {

TEST(TransferCurvesTest, InvertThePublishedEncodings) {
  const double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128, c1 = 3424.0 / 4096, c2 = 2413.0 / 4096 * 32,
               c3 = 2392.0 / 4096 * 32;
  for (double nits : {0.0, 0.1, 100.0, 203.0, 1000.0, 10000.0}) {
    const double y = std::pow(nits / 10000, m1);
    const double signal = std::pow((c1 + c2 * y) / (1 + c3 * y), m2);
    EXPECT_NEAR(transfer::pqToLinear(signal), nits / 10000, 1e-12 + nits / 10000 * 1e-9) << nits;
  }
  const double a = 0.17883277, b = 0.28466892, c = 0.55991073;
  for (double light : {0.0, 0.05, 1.0 / 12, 0.2, 0.5, 1.0}) {
    const double signal = light <= 1.0 / 12 ? std::sqrt(3 * light) : a * std::log(12 * light - b) + c;
    EXPECT_NEAR(transfer::hlgToSceneLinear(signal), light, 1e-12) << light;
  }
}

}  // namespace
}  // namespace quorlin
