#include "core/comparison/TransferFunctions.h"

#include <algorithm>
#include <cmath>

#include "core/common/TransferCurves.h"

namespace quorlin {

namespace {

struct Chromaticity {
  double x, y;
};
struct PrimarySet {
  Chromaticity red, green, blue;
};

constexpr Chromaticity d65{0.3127, 0.3290};

PrimarySet chromaticities(Primaries primaries) {
  switch (primaries) {
    case Primaries::displayP3:
      return {{0.680, 0.320}, {0.265, 0.690}, {0.150, 0.060}};
    case Primaries::bt2020:
      return {{0.708, 0.292}, {0.170, 0.797}, {0.131, 0.046}};
    case Primaries::srgb:
      break;
  }
  return {{0.64, 0.33}, {0.30, 0.60}, {0.15, 0.06}};
}

Matrix3 multiply(const Matrix3& a, const Matrix3& b) {
  Matrix3 result{};
  for (int row = 0; row < 3; ++row) {
    for (int column = 0; column < 3; ++column) {
      double sum = 0;
      for (int k = 0; k < 3; ++k) sum += a[static_cast<size_t>(row * 3 + k)] * b[static_cast<size_t>(k * 3 + column)];
      result[static_cast<size_t>(row * 3 + column)] = sum;
    }
  }
  return result;
}

Matrix3 inverse(const Matrix3& m) {
  double a = m[0], b = m[1], c = m[2], d = m[3], e = m[4], f = m[5], g = m[6], h = m[7], i = m[8];
  double det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
  return {(e * i - f * h) / det, (c * h - b * i) / det, (b * f - c * e) / det,
          (f * g - d * i) / det, (a * i - c * g) / det, (c * d - a * f) / det,
          (d * h - e * g) / det, (b * g - a * h) / det, (a * e - b * d) / det};
}

// Linear RGB to CIE XYZ for a set of primaries with the D65 white point.
Matrix3 rgbToXYZ(Primaries primaries) {
  PrimarySet set = chromaticities(primaries);
  auto xyz = [](Chromaticity c) { return std::array<double, 3>{c.x / c.y, 1.0, (1 - c.x - c.y) / c.y}; };
  auto r = xyz(set.red), g = xyz(set.green), b = xyz(set.blue), w = xyz(d65);
  Matrix3 columns{r[0], g[0], b[0], r[1], g[1], b[1], r[2], g[2], b[2]};
  Matrix3 inv = inverse(columns);
  double sr = inv[0] * w[0] + inv[1] * w[1] + inv[2] * w[2];
  double sg = inv[3] * w[0] + inv[4] * w[1] + inv[5] * w[2];
  double sb = inv[6] * w[0] + inv[7] * w[1] + inv[8] * w[2];
  return {r[0] * sr, g[0] * sg, b[0] * sb, r[1] * sr, g[1] * sg, b[1] * sb, r[2] * sr, g[2] * sg, b[2] * sb};
}

}  // namespace

double srgbToLinear(double encoded) {
  double magnitude = std::fabs(encoded);
  double linear = magnitude <= 0.04045 ? magnitude / 12.92 : std::pow((magnitude + 0.055) / 1.055, 2.4);
  return std::copysign(linear, encoded);
}

double linearToSRGB(double linear) {
  double magnitude = std::fabs(linear);
  double encoded = magnitude <= 0.0031308 ? magnitude * 12.92 : 1.055 * std::pow(magnitude, 1 / 2.4) - 0.055;
  return std::copysign(encoded, linear);
}

double pqToNits(double signal) { return pqPeakNits * transfer::pqToLinear(std::max(signal, 0.0)); }

double hlgToSceneLight(double signal) { return transfer::hlgToSceneLinear(std::max(signal, 0.0)); }

Matrix3 primariesToSRGB(Primaries primaries) {
  return multiply(inverse(rgbToXYZ(Primaries::srgb)), rgbToXYZ(primaries));
}

std::optional<WellKnownEncoding> wellKnownEncoding(ColorSpace::WellKnown kind) {
  using K = ColorSpace::WellKnown;
  switch (kind) {
    case K::sRGB:
    case K::deviceRGB:
      return WellKnownEncoding{Transfer::srgb, Primaries::srgb};
    case K::displayP3:
      return WellKnownEncoding{Transfer::srgb, Primaries::displayP3};
    case K::linearSRGB:
      return WellKnownEncoding{Transfer::linear, Primaries::srgb};
    case K::linearDisplayP3:
      return WellKnownEncoding{Transfer::linear, Primaries::displayP3};
    case K::bt2100PQ:
      return WellKnownEncoding{Transfer::pq, Primaries::bt2020};
    case K::bt2100HLG:
      return WellKnownEncoding{Transfer::hlg, Primaries::bt2020};
    case K::none:
      break;
  }
  return std::nullopt;
}

double decodeTransfer(Transfer transfer, double encoded) {
  switch (transfer) {
    case Transfer::srgb:
      return srgbToLinear(encoded);
    case Transfer::linear:
      return encoded;
    case Transfer::pq:
      return pqToNits(encoded) / referenceWhiteNits;
    case Transfer::hlg:
      return hlgToSceneLight(encoded);
  }
  return encoded;
}

double impliedContentHeadroom(Transfer transfer) {
  switch (transfer) {
    case Transfer::pq:
      return pqPeakNits / referenceWhiteNits;
    case Transfer::hlg:
      return hlgNominalPeakNits / referenceWhiteNits;
    case Transfer::srgb:
    case Transfer::linear:
      break;
  }
  return 1.0;
}

const std::array<std::uint8_t, linearToSRGB8TableSize>& linearToSRGB8Table() {
  static const std::array<std::uint8_t, linearToSRGB8TableSize> table = [] {
    std::array<std::uint8_t, linearToSRGB8TableSize> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
      double root = static_cast<double>(i) / (linearToSRGB8TableSize - 1);
      values[i] = static_cast<std::uint8_t>(std::lround(255.0 * linearToSRGB(root * root)));
    }
    return values;
  }();
  return table;
}

const std::array<std::uint8_t, 65536>& linearToSRGB8FixedTable() {
  static const std::array<std::uint8_t, 65536> table = [] {
    std::array<std::uint8_t, 65536> values{};
    for (std::size_t i = 0; i < values.size(); ++i) {
      values[i] = static_cast<std::uint8_t>(std::lround(255.0 * linearToSRGB(static_cast<double>(i) / 65535.0)));
    }
    return values;
  }();
  return table;
}

}  // namespace quorlin
