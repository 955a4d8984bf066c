#include "core/ratedistortion/RateDistortionCurve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

#include "support/TestSupport.h"

namespace quorlin {
namespace {

struct Vector {
  std::string name;
  std::vector<RatePoint> anchor, test;
  double expected = 0, tolerance = 0;
};

// The vector file's key–value pairs in order: enough to rebuild its cases.
std::vector<Vector> readVectors(const std::string& text) {
  static const std::regex pair(R"re("(\w+)":\s*("([^"]*)"|[-+0-9.eE]+|\[))re");
  std::vector<Vector> vectors;
  std::vector<RatePoint>* points = nullptr;
  for (std::sregex_iterator it(text.begin(), text.end(), pair), end; it != end; ++it) {
    const std::string key = (*it)[1];
    const std::string value = (*it)[2];
    if (key == "name") vectors.emplace_back().name = (*it)[3];
    if (vectors.empty()) continue;
    Vector& vector = vectors.back();
    if (key == "anchor" || key == "test") points = key == "anchor" ? &vector.anchor : &vector.test;
    if (key == "rate") points->push_back({std::stod(value), 0});
    if (key == "score") points->back().score = std::stod(value);
    if (key == "expected") vector.expected = std::stod(value);
    if (key == "tolerance") vector.tolerance = std::stod(value);
  }
  return vectors;
}

// A smooth, convex curve of n points: score = 20 + 15·ln(rate) shifted by `offset`.
std::vector<RatePoint> smoothCurve(int n, double firstRate, double step, double offset = 0) {
  std::vector<RatePoint> points;
  for (int i = 0; i < n; ++i) {
    const double rate = firstRate * std::pow(step, i);
    points.push_back({rate, 20 + 15 * std::log(rate) + offset - 0.3 * i * i});
  }
  return points;
}

TEST(BjontegaardDeltaTest, MatchesEveryReferenceVector) {
  const auto file = test::sharedDataDirectory() / "testdata" / "bdrate" / "vectors.json";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "shared vectors not found: " << file;
  const std::string text = test::readTextFile(file);
  const auto vectors = readVectors(text);
  ASSERT_GE(vectors.size(), 5u);
  // Every case and every point of the file was read.
  auto occurrences = [&](const std::string& key) {
    std::size_t count = 0;
    for (std::size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) ++count;
    return count;
  };
  std::size_t points = 0;
  for (const Vector& vector : vectors) points += vector.anchor.size() + vector.test.size();
  ASSERT_EQ(std::pair(vectors.size(), points), std::pair(occurrences("\"name\""), occurrences("\"rate\"")));
  for (const Vector& vector : vectors) {
    SCOPED_TRACE(vector.name);
    BjontegaardDelta delta = bjontegaardDeltaRate(RateDistortionCurve(vector.anchor), RateDistortionCurve(vector.test));
    ASSERT_EQ(delta.status, BjontegaardStatus::ok);
    EXPECT_NEAR(*delta.value, vector.expected, vector.tolerance);
  }
}

TEST(BjontegaardDeltaTest, SwappingIsNotTheNegationAndTheRateUnitChangesNothing) {
  RateDistortionCurve a(smoothCurve(6, 0.2, 1.5));
  RateDistortionCurve b(smoothCurve(6, 0.25, 1.4, 3));
  const double forward = *bjontegaardDeltaRate(a, b).value;
  const double backward = *bjontegaardDeltaRate(b, a).value;
  // b scores 3 points more at every rate: it needs less.
  EXPECT_TRUE(forward < 0 && backward > 0 && std::abs(forward + backward) > 1e-3);
  // Exact ratios invert: (1 + forward)(1 + backward) = 1.
  EXPECT_NEAR((1 + forward) * (1 + backward), 1.0, 1e-12);
  EXPECT_GT(*bjontegaardDeltaScore(a, b).value, 0);
  const auto anchor = smoothCurve(7, 0.1, 1.6);
  auto test = smoothCurve(6, 0.12, 1.7, 2);
  auto scaled = [](std::vector<RatePoint> points, double factor) {
    for (auto& point : points) point.rate *= factor;
    return RateDistortionCurve(points);
  };
  const auto reference = bjontegaardDeltaRate(RateDistortionCurve(anchor), RateDistortionCurve(test));
  const auto inBytes = bjontegaardDeltaRate(scaled(anchor, 37000), scaled(test, 37000));
  EXPECT_NEAR(std::abs(*inBytes.value - *reference.value) + std::abs(inBytes.overlapRatio - reference.overlapRatio), 0, 1e-12);
  // Doubling only the test's rates doubles its relative rate.
  EXPECT_NEAR(*bjontegaardDeltaRate(RateDistortionCurve(anchor), scaled(test, 2)).value, 2 * (1 + *reference.value) - 1,
              1e-12);
  EXPECT_NEAR(*bjontegaardDeltaScore(scaled(anchor, 8), scaled(test, 8)).value,
              *bjontegaardDeltaScore(RateDistortionCurve(anchor), RateDistortionCurve(test)).value, 1e-9);
}

TEST(RateDistortionCurveTest, CleaningKeepsOnlyUndominatedPoints) {
  struct Case {
    const char* name;
    std::vector<RatePoint> points;
    std::vector<bool> kept;
  };
  const Case cases[] = {
      {"dominated: costs more than a better point", {{1, 30}, {3, 50}, {2, 60}, {4, 70}}, {true, false, true, true}},
      {"equal scores keep the lower rate", {{1, 30}, {2.5, 50}, {2, 50}, {4, 70}}, {true, false, true, true}},
      {"equal rates keep the higher score", {{1, 30}, {2, 40}, {2, 45}, {4, 70}}, {true, false, true, true}},
      {"unusable points", {{0, 30}, {-1, 40}, {2, NAN}, {INFINITY, 90}, {1, 20}}, {false, false, false, false, true}},
      {"order does not matter", {{4, 70}, {1, 30}, {2, 50}}, {true, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RateDistortionCurve curve(c.points);
    EXPECT_EQ(curve.kept, c.kept);
    for (std::size_t i = 1; i < curve.cleaned.size(); ++i) {
      EXPECT_GT(curve.cleaned[i].score, curve.cleaned[i - 1].score);
      EXPECT_GT(curve.cleaned[i].rate, curve.cleaned[i - 1].rate);
    }
  }
}

TEST(BjontegaardDeltaTest, StatusesOverlapAndOutliers) {
  RateDistortionCurve four(smoothCurve(4, 0.2, 1.5));
  RateDistortionCurve three(smoothCurve(3, 0.2, 1.5));
  RateDistortionCurve fourPlusDominated({{0.2, 30}, {0.3, 40}, {0.4, 50}, {0.5, 45}});
  RateDistortionCurve far(smoothCurve(4, 50, 1.5));  // scores far above `four`'s range
  for (const auto& [anchor, test, status] :
       {std::tuple{&four, &three, BjontegaardStatus::tooFewPoints},
        std::tuple{&four, &fourPlusDominated, BjontegaardStatus::tooFewPoints},
        std::tuple{&four, &far, BjontegaardStatus::noOverlap}}) {
    for (auto compute : {bjontegaardDeltaRate, bjontegaardDeltaScore}) {
      BjontegaardDelta delta = compute(*anchor, *test);
      EXPECT_TRUE(delta.status == status && !delta.value);
    }
  }
  RateDistortionCurve anchor({{1, 30}, {2, 50}, {3, 60}, {4, 70}});
  RateDistortionCurve test({{1, 40}, {2, 55}, {3, 70}, {4, 80}});
  auto delta = bjontegaardDeltaRate(anchor, test);
  EXPECT_EQ(std::tuple(delta.status, delta.overlapLow, delta.overlapHigh), std::tuple(BjontegaardStatus::ok, 40.0, 70.0));
  EXPECT_DOUBLE_EQ(delta.overlapRatio, 30.0 / 50.0);
  // Twenty times the rate everywhere: beyond the ±1000% a number still means.
  RateDistortionCurve costly({{20, 30}, {40, 50}, {60, 60}, {80, 70}});
  delta = bjontegaardDeltaRate(anchor, costly);
  EXPECT_EQ(delta.status, BjontegaardStatus::outlier);
  EXPECT_NEAR(*delta.value, 19, 1e-9);
}

TEST(PchipTest, IsExactForLinesAdditiveAndBetweenTheStepSums) {
  const std::vector<double> x = {0, 1, 2.5, 3, 5};
  const std::vector<double> y = {0, 2, 3, 5, 5.5};
  // A line integrates exactly, over any part.
  const std::vector<double> line = {1, 3, 6, 7, 11};
  EXPECT_NEAR(pchipIntegral(x, line, 0.5, 4), (1 + 2 * 0.5 + 1 + 2 * 4) / 2 * 3.5, 1e-12);
  // Slopes are monotone-preserving, so the integral lies between the step sums.
  const double exact = pchipIntegral(x, y, 0, 5);
  EXPECT_TRUE(exact > 0 * 1 + 2 * 1.5 + 3 * 0.5 + 5 * 2 && exact < 2 * 1 + 3 * 1.5 + 5 * 0.5 + 5.5 * 2) << exact;
  EXPECT_NEAR(pchipIntegral(x, y, 0, 2) + pchipIntegral(x, y, 2, 5), exact, 1e-12);
}

}  // namespace
}  // namespace quorlin
