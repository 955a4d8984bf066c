// Rate–distortion curves and the Bjøntegaard deltas between two of them.
//
// A curve is a list of (rate, score) points: rate any positive size measure
// (bytes or bits per pixel; the deltas do not depend on the unit), score
// SSIMULACRA2. Cleaning keeps the points no other point beats: sorted by score,
// the rate must strictly increase. The deltas integrate a monotone piecewise
// cubic (PCHIP) through the kept points exactly over the overlap of the two
// curves: of ln(rate) over score for the rate delta, of score over ln(rate)
// for the score delta. Neither delta is antisymmetric: swapping anchor and
// test does not simply negate it. Pure functions.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace quorlin {

struct RatePoint {
  double rate = 0;
  double score = 0;
};

struct RateDistortionCurve {
  std::vector<RatePoint> points;  // as given
  std::vector<bool> kept;         // per given point: on the cleaned curve
  std::vector<RatePoint> cleaned; // the kept points, score and rate strictly increasing

  // Drops points with a rate that is not positive and finite or a score that is
  // not finite; of equal scores keeps the lowest rate; then drops every point
  // that another point matches or beats in score at no higher rate.
  explicit RateDistortionCurve(std::vector<RatePoint> givenPoints);
  RateDistortionCurve() = default;

  std::size_t keptCount() const { return cleaned.size(); }
};

// The fewest kept points a curve needs for a delta.
constexpr std::size_t minimumCurvePoints = 4;
// Deltas of rate beyond ±1000% are reported but flagged.
constexpr double outlierRateDelta = 10.0;

enum class BjontegaardStatus { ok, tooFewPoints, noOverlap, outlier };

struct BjontegaardDelta {
  BjontegaardStatus status = BjontegaardStatus::tooFewPoints;
  // The delta: a fraction of rate (-0.25: the test needs 25% less) or points of
  // score; present for ok and outlier.
  std::optional<double> value;
  // The overlap the delta is averaged over (scores for the rate delta,
  // ln(rate) for the score delta) and its share of the union of both ranges.
  double overlapLow = 0;
  double overlapHigh = 0;
  double overlapRatio = 0;
};

BjontegaardDelta bjontegaardDeltaRate(const RateDistortionCurve& anchor, const RateDistortionCurve& test);
BjontegaardDelta bjontegaardDeltaScore(const RateDistortionCurve& anchor, const RateDistortionCurve& test);

// "ok", "tooFewPoints", "noOverlap", "outlier".
const char* statusName(BjontegaardStatus status);

// The exact integral over [low, high] of the monotone piecewise cubic through
// (x[k], y[k]), x strictly increasing, at least two points; [low, high] must
// lie within [x.front(), x.back()].
double pchipIntegral(std::span<const double> x, std::span<const double> y, double low, double high);

}  // namespace quorlin
