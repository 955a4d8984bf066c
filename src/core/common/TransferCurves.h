// The HDR transfer curves, written once for the profile builder, the
// comparison renderer and the metric. The metric's reference vectors were made
// with exactly this double-precision evaluation order, so it must not change.
// Both take a signal of 0 or more; each caller decides what a negative one means.
#pragma once

#include <algorithm>
#include <cmath>

namespace quorlin::transfer {

// BT.2408 reference white, and the peaks the PQ signal and an HLG display reach.
inline constexpr double referenceWhiteNits = 203.0;
inline constexpr double pqPeakNits = 10000.0;
inline constexpr double hlgNominalPeakNits = 1000.0;

// SMPTE ST 2084 (PQ) EOTF: signal 0..1 to linear light, 1.0 being 10000 nits.
inline double pqToLinear(double signal) {
  constexpr double m1 = 2610.0 / 16384.0, m2 = 2523.0 / 4096.0 * 128.0;
  constexpr double c1 = 3424.0 / 4096.0, c2 = 2413.0 / 4096.0 * 32.0, c3 = 2392.0 / 4096.0 * 32.0;
  const double p = std::pow(signal, 1.0 / m2);
  return std::pow(std::max(p - c1, 0.0) / (c2 - c3 * p), 1.0 / m1);
}

// ARIB STD-B67 (HLG) inverse OETF: signal 0..1 to scene light 0..1.
inline double hlgToSceneLinear(double signal) {
  constexpr double a = 0.17883277, b = 0.28466892, c = 0.55991073;
  return signal <= 0.5 ? signal * signal / 3.0 : (std::exp((signal - c) / a) + b) / 12.0;
}

}  // namespace quorlin::transfer
