// Transfer functions and primaries conversions the canvas renders with.
//
// Linear light here means values with the sRGB (BT.709) primaries where 1.0 is
// the standard-range reference white; HDR content goes above 1.0.
//
// Reference white for PQ and HLG is 203 nits (ITU-R BT.2408), so a PQ signal
// of 0.58 (203 nits) becomes 1.0 and the PQ peak of 10000 nits becomes 49.26.
// HLG is taken to a 1000-nit display (system gamma 1.2), where the 75 % signal
// is 203 nits. All functions are pure and thread-safe.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>

#include "core/common/TransferCurves.h"
#include "core/engine/ColorSpace.h"

namespace quorlin {

inline constexpr double referenceWhiteNits = transfer::referenceWhiteNits;
inline constexpr double pqPeakNits = transfer::pqPeakNits;
inline constexpr double hlgNominalPeakNits = transfer::hlgNominalPeakNits;
inline constexpr double hlgSystemGamma = 1.2;

// IEC 61966-2.1, mirrored for negative values (extended sRGB).
double srgbToLinear(double encoded);
double linearToSRGB(double linear);

// SMPTE ST 2084: signal 0..1 to absolute luminance in nits (0..10000).
double pqToNits(double signal);
// ARIB STD-B67 inverse OETF: signal 0..1 to scene light 0..1.
double hlgToSceneLight(double signal);

// 3 × 3 row-major matrices acting on column vectors (R, G, B).
using Matrix3 = std::array<double, 9>;

enum class Primaries { srgb, displayP3, bt2020 };
// Linear RGB with `primaries` to linear RGB with sRGB primaries (both D65),
// derived from the chromaticities.
Matrix3 primariesToSRGB(Primaries primaries);

enum class Transfer { srgb, linear, pq, hlg };

// How a well-known space's values become linear light; none for a space that
// only an ICC profile describes.
struct WellKnownEncoding {
  Transfer transfer;
  Primaries primaries;
};
std::optional<WellKnownEncoding> wellKnownEncoding(ColorSpace::WellKnown kind);

// One encoded channel value (0..1 scale, may exceed it) to linear light in
// units of reference white. For HLG this is scene light; the system gamma is
// applied per pixel afterwards (it needs the pixel's luminance).
double decodeTransfer(Transfer transfer, double encoded);

// The headroom the transfer function itself implies when the image reports
// none: 10000 / 203 for PQ, 1000 / 203 for HLG, 1.0 otherwise.
double impliedContentHeadroom(Transfer transfer);

// 8-bit sRGB encoding by table. The table is indexed by the square root of
// the linear value in 4096 steps: steps are then finest near black, where the
// sRGB curve is steepest, and the whole table (4 KB) stays in the first-level
// cache. Entries are rounded; a lookup is never more than 0.55 of a level
// from the exact encoding. Index with linearToSRGB8Index.
inline constexpr int linearToSRGB8TableSize = 4096;
const std::array<std::uint8_t, linearToSRGB8TableSize>& linearToSRGB8Table();
// The table index of a linear value: values below 0 and NaN give 0, above 1
// give the last entry.
inline int linearToSRGB8Index(float linear) {
  float clamped = linear > 0.0f ? linear : 0.0f;
  clamped = clamped < 1.0f ? clamped : 1.0f;
  return static_cast<int>(std::sqrt(clamped) * float(linearToSRGB8TableSize - 1) + 0.5f);
}

// The same encoding indexed by linear light in 65536 equal steps (0..65535),
// for integer arithmetic; equally never more than 0.55 of a level off.
const std::array<std::uint8_t, 65536>& linearToSRGB8FixedTable();

}  // namespace quorlin
