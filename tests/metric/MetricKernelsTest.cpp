// The building blocks where the reference vectors cannot reach: blur widths
// below the metric's minimum, negative samples, norms no image produces.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "metric/LinearLight.h"
#include "metric/RecursiveGaussian.h"
#include "metric/ScoreMapping.h"

namespace quorlin::metric {
namespace {

// The effective kernel of the recursive blur (sigma 1.5), centred, +-4 taps.
constexpr double kKernel[9] = {0.00941437, 0.03601111, 0.10933537, 0.21292859, 0.26462111,
                               0.21292859, 0.10933537, 0.03601111, 0.00941437};

// Blurs one line along rows (lane 0 of the lane layout) and along columns.
std::vector<float> blurRow(const std::vector<float>& line) {
  const int width = static_cast<int>(line.size());
  std::vector<float> lanes(line.size() * kLanes, 0.0f), out(line.size() * kLanes);
  for (int x = 0; x < width; ++x) lanes[static_cast<std::size_t>(x) * kLanes] = line[static_cast<std::size_t>(x)];
  blurLanesHorizontally(lanes.data(), out.data(), width);
  std::vector<float> result(line.size());
  for (int x = 0; x < width; ++x) result[static_cast<std::size_t>(x)] = out[static_cast<std::size_t>(x) * kLanes];
  return result;
}

std::vector<float> blurColumn(const std::vector<float>& column) {
  const int height = static_cast<int>(column.size());
  std::vector<float> stateRows[6];
  float* state[6];
  for (int i = 0; i < 6; ++i) {
    stateRows[i].assign(1, 0.0f);
    state[i] = stateRows[i].data();
  }
  std::vector<float> result(column.size());
  for (int n = -kBlurRadius + 1; n < height; ++n) {
    const float* top = n - 6 >= 0 ? &column[static_cast<std::size_t>(n - 6)] : nullptr;
    const float* bottom = n + 4 < height ? &column[static_cast<std::size_t>(n + 4)] : nullptr;
    float out = 0.0f;
    blurColumnsStep(top, bottom, state, &out, 1);
    if (n >= 0) result[static_cast<std::size_t>(n)] = out;
  }
  return result;
}

// Zero padding without renormalisation: a constant line darkens towards the
// edges as the kernel loses its outer taps (0.632 at the edge). The short
// widths are those where the one-at-a-time head and tail meet or the 4-wide
// body is empty.
TEST(RecursiveGaussianTest, LinesBlurLikeTheNineTapKernelWithZeroPaddingAlongRowsAndColumns) {
  std::vector<std::vector<float>> lines{std::vector<float>(41, 0.0f), std::vector<float>(30, 1.0f)};
  lines[0][20] = 1.0f;
  for (int width : {1, 4, 7, 8, 9, 11, 12, 13}) {
    lines.emplace_back(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x) lines.back()[static_cast<std::size_t>(x)] = static_cast<float>((x * 7) % 5);
  }
  EXPECT_NEAR(kKernel[4] + kKernel[5] + kKernel[6] + kKernel[7] + kKernel[8], 0.632, 1e-3);
  for (const auto& line : lines) {
    const int width = static_cast<int>(line.size());
    for (const auto& blurred : {blurRow(line), blurColumn(line)}) {
      for (int x = 0; x < width; ++x) {
        double expected = 0.0;
        for (int t = -4; t <= 4; ++t) {
          if (x + t >= 0 && x + t < width) expected += kKernel[t + 4] * line[static_cast<std::size_t>(x + t)];
        }
        EXPECT_NEAR(blurred[static_cast<std::size_t>(x)], expected, 2e-6 + 2e-6 * expected)
            << "width " << width << " at " << x;
      }
    }
  }
}

TEST(SrgbCurveTest, FollowsIec61966WithinFloatPrecisionAndIsOdd) {
  for (int i = 0; i <= 1000; ++i) {
    const double x = i / 1000.0;
    const double exact = x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
    EXPECT_NEAR(srgbToLinear(static_cast<float>(x)), exact, 2e-6 + 2e-6 * exact) << x;
    EXPECT_EQ(srgbToLinear(static_cast<float>(-x)), -srgbToLinear(static_cast<float>(x)));
  }
  EXPECT_EQ(srgbToLinear(0.0f), 0.0f);
}

std::vector<std::array<ChannelNorms, 3>> oneTerm(std::size_t scales, std::size_t channel, std::size_t scale,
                                                 std::size_t norm, std::size_t map, double value) {
  std::vector<std::array<ChannelNorms, 3>> perScale(scales);
  perScale[scale][channel].norms[norm][map] = value;
  return perScale;
}

// The mapping of one weighted sum to the score, written out from the formula.
double expectedScore(double weightedSum) {
  double x = weightedSum * 0.9562382616834844;
  x = 2.326765642916932 * x - 0.020884521182843837 * x * x + 6.248496625763138e-05 * x * x * x;
  return x > 0 ? 100.0 - 10.0 * std::pow(x, 0.6276336467831387) : 100.0;
}

// The committed reference vectors fix every weight digit by digit; these are
// the inputs they never produce.
TEST(ScoreMappingTest, NegativeNormsCountByMagnitudeAndWeightZeroNotAtAll) {
  EXPECT_EQ(scoreFromNorms(std::vector<std::array<ChannelNorms, 3>>(2)), 100.0);
  EXPECT_DOUBLE_EQ(scoreFromNorms(oneTerm(6, 2, 4, 1, 1, -0.01)), expectedScore(171.2667255897307 * 0.01));
  EXPECT_EQ(scoreFromNorms(oneTerm(6, 0, 0, 0, 0, 5.0)), 100.0);
}

}  // namespace
}  // namespace quorlin::metric
