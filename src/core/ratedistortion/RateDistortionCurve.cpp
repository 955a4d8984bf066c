#include "core/ratedistortion/RateDistortionCurve.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace quorlin {

namespace {

bool isUsable(const RatePoint& point) {
  return std::isfinite(point.rate) && point.rate > 0 && std::isfinite(point.score);
}

int sign(double value) { return (value > 0) - (value < 0); }

// d_k for the interior points: zero at a change of direction, else the
// weighted harmonic mean of the neighbouring slopes.
double interiorSlope(double hBefore, double hAfter, double deltaBefore, double deltaAfter) {
  if (deltaBefore == 0 || deltaAfter == 0 || sign(deltaBefore) != sign(deltaAfter)) return 0;
  const double w1 = 2 * hAfter + hBefore;
  const double w2 = hAfter + 2 * hBefore;
  return (w1 + w2) / (w1 / deltaBefore + w2 / deltaAfter);
}

// The end slope from the end interval (h0, delta0) and its neighbour (h1, delta1).
double endSlope(double h0, double h1, double delta0, double delta1) {
  const double v = ((2 * h0 + h1) * delta0 - h0 * delta1) / (h0 + h1);
  if (sign(v) != sign(delta0)) return 0;
  if (sign(delta0) != sign(delta1) && std::abs(v) > std::abs(3 * delta0)) return 3 * delta0;
  return v;
}

// ∫ of y_k + d·s + c·s² + b·s³ over s in [s0, s1].
double cubicIntegral(double y, double d, double c, double b, double s0, double s1) {
  auto antiderivative = [&](double s) { return s * (y + s * (d / 2 + s * (c / 3 + s * b / 4))); };
  return antiderivative(s1) - antiderivative(s0);
}

struct Axes {
  std::vector<double> x;
  std::vector<double> y;
};

Axes scoreOverLogRate(const RateDistortionCurve& curve, bool rateIsX) {
  Axes axes;
  for (const RatePoint& point : curve.cleaned) {
    const double logRate = std::log(point.rate);
    axes.x.push_back(rateIsX ? logRate : point.score);
    axes.y.push_back(rateIsX ? point.score : logRate);
  }
  return axes;
}

BjontegaardDelta delta(const RateDistortionCurve& anchor, const RateDistortionCurve& test, bool rateIsX) {
  BjontegaardDelta result;
  if (anchor.keptCount() < minimumCurvePoints || test.keptCount() < minimumCurvePoints) return result;
  const Axes a = scoreOverLogRate(anchor, rateIsX);
  const Axes b = scoreOverLogRate(test, rateIsX);
  result.overlapLow = std::max(a.x.front(), b.x.front());
  result.overlapHigh = std::min(a.x.back(), b.x.back());
  const double unionWidth = std::max(a.x.back(), b.x.back()) - std::min(a.x.front(), b.x.front());
  if (result.overlapHigh <= result.overlapLow) {
    result.status = BjontegaardStatus::noOverlap;
    return result;
  }
  const double width = result.overlapHigh - result.overlapLow;
  result.overlapRatio = width / unionWidth;
  const double mean = (pchipIntegral(b.x, b.y, result.overlapLow, result.overlapHigh) -
                       pchipIntegral(a.x, a.y, result.overlapLow, result.overlapHigh)) /
                      width;
  result.value = rateIsX ? mean : std::exp(mean) - 1;
  result.status = !rateIsX && std::abs(*result.value) > outlierRateDelta ? BjontegaardStatus::outlier
                                                                          : BjontegaardStatus::ok;
  return result;
}

}  // namespace

RateDistortionCurve::RateDistortionCurve(std::vector<RatePoint> givenPoints)
    : points(std::move(givenPoints)), kept(points.size(), false) {
  std::vector<std::size_t> order;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (isUsable(points[i])) order.push_back(i);
  }
  // From the best score down: a point stays only when it is cheaper than every
  // point scoring at least as well, which also settles equal scores.
  std::sort(order.begin(), order.end(), [this](std::size_t i, std::size_t j) {
    if (points[i].score != points[j].score) return points[i].score > points[j].score;
    return points[i].rate < points[j].rate;
  });
  double cheapestAbove = INFINITY;
  for (std::size_t i : order) {
    if (points[i].rate < cheapestAbove) {
      kept[i] = true;
      cheapestAbove = points[i].rate;
      cleaned.push_back(points[i]);
    }
  }
  std::reverse(cleaned.begin(), cleaned.end());
}

double pchipIntegral(std::span<const double> x, std::span<const double> y, double low, double high) {
  const std::size_t n = x.size();
  std::vector<double> h(n - 1);
  std::vector<double> delta(n - 1);
  for (std::size_t k = 0; k + 1 < n; ++k) {
    h[k] = x[k + 1] - x[k];
    delta[k] = (y[k + 1] - y[k]) / h[k];
  }
  std::vector<double> d(n);
  if (n == 2) {
    d[0] = d[1] = delta[0];
  } else {
    for (std::size_t k = 1; k + 1 < n; ++k) d[k] = interiorSlope(h[k - 1], h[k], delta[k - 1], delta[k]);
    d[0] = endSlope(h[0], h[1], delta[0], delta[1]);
    d[n - 1] = endSlope(h[n - 2], h[n - 3], delta[n - 2], delta[n - 3]);
  }
  double total = 0;
  for (std::size_t k = 0; k + 1 < n; ++k) {
    const double from = std::max(low, x[k]);
    const double to = std::min(high, x[k + 1]);
    if (to <= from) continue;
    const double c = (3 * delta[k] - 2 * d[k] - d[k + 1]) / h[k];
    const double b = (d[k] - 2 * delta[k] + d[k + 1]) / (h[k] * h[k]);
    total += cubicIntegral(y[k], d[k], c, b, from - x[k], to - x[k]);
  }
  return total;
}

BjontegaardDelta bjontegaardDeltaRate(const RateDistortionCurve& anchor, const RateDistortionCurve& test) {
  return delta(anchor, test, false);
}

BjontegaardDelta bjontegaardDeltaScore(const RateDistortionCurve& anchor, const RateDistortionCurve& test) {
  return delta(anchor, test, true);
}

const char* statusName(BjontegaardStatus status) {
  switch (status) {
    case BjontegaardStatus::ok:
      return "ok";
    case BjontegaardStatus::tooFewPoints:
      return "tooFewPoints";
    case BjontegaardStatus::noOverlap:
      return "noOverlap";
    case BjontegaardStatus::outlier:
      return "outlier";
  }
  return "ok";
}

}  // namespace quorlin
