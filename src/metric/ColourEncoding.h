// ColourEncoding: what the decoded sample values of an image mean, as far as
// the metric cares: how to turn them into linear sRGB.
//
//  - sRGB (the default for untagged images);
//  - an ICC profile (converted with lcms2 unless it is recognised as sRGB or
//    linear sRGB, which then take the exact built-in paths);
//  - a described encoding: primaries, white point and a transfer curve, as
//    given by PNG cICP or gAMA/cHRM chunks.
#pragma once

#include <cstdint>
#include <vector>

namespace quorlin::metric {

// CIE xy chromaticities of the primaries and the white point.
struct Chromaticities {
  double redX, redY, greenX, greenY, blueX, blueY, whiteX, whiteY;
  bool operator==(const Chromaticities&) const = default;
};

inline constexpr Chromaticities kSrgbChromaticities{0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290};

enum class TransferCurve {
  srgb,    // IEC 61966-2.1
  linear,  // identity
  power,   // linear = encoded ^ exponent
  bt709,   // ITU-R BT.709 / BT.2020 camera curve
  pq,      // SMPTE ST 2084, 1.0 = 10000 nits
  hlg,     // ARIB STD-B67 inverse OETF, scene light
};

struct ColourEncoding {
  enum class Kind { srgb, icc, described };

  Kind kind = Kind::srgb;
  std::vector<std::uint8_t> iccProfile;              // Kind::icc
  Chromaticities chromaticities = kSrgbChromaticities;  // Kind::described
  TransferCurve transfer = TransferCurve::srgb;         // Kind::described
  double exponent = 1.0;                               // TransferCurve::power

  static ColourEncoding srgb() { return {}; }
  static ColourEncoding icc(std::vector<std::uint8_t> profile) {
    ColourEncoding encoding;
    encoding.kind = Kind::icc;
    encoding.iccProfile = std::move(profile);
    return encoding;
  }
  static ColourEncoding described(const Chromaticities& chromaticities, TransferCurve transfer,
                                  double exponent = 1.0) {
    ColourEncoding encoding;
    encoding.kind = Kind::described;
    encoding.chromaticities = chromaticities;
    encoding.transfer = transfer;
    encoding.exponent = exponent;
    return encoding;
  }
};

}  // namespace quorlin::metric
