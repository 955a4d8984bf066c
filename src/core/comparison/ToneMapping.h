// ToneMapper: fits content with headroom C into a display with headroom T.
//
// Values are linear light in units of reference white. When the content fits
// (C ≤ T) the operator is the identity, each channel only kept within 0..T.
// Otherwise each pixel is scaled by f(m) / m, where m is its largest channel,
// so hue and the ratios between channels are kept. The curve f is the identity
// below a knee k = T / 2 (shadows and mid-tones untouched) and above it
// compresses [k, C] into [k, T] with a rational curve
//     f(m) = k + (T − k) · a·x / (1 + (a − 1)·x),  x = (m − k) / (C − k),
//     a = (C − k) / (T − k),
// which is continuous with slope 1 at the knee, strictly increasing, and
// reaches T exactly at C; values above C stay at T. As C approaches T, a
// approaches 1 and f the identity, so the operator has no jump there.
//
// Immutable after construction; thread-safe.
#pragma once

#include <cstddef>

namespace quorlin {

class ToneMapper {
 public:
  // Non-finite or non-positive headrooms count as 1.0.
  ToneMapper(double contentHeadroom, double targetHeadroom);

  bool isIdentity() const { return isIdentity_; }
  double contentHeadroom() const { return content_; }
  double targetHeadroom() const { return target_; }

  // f applied to a pixel's largest channel m (m ≥ 0).
  float curve(float m) const;

  // Tone-maps `pixelCount` RGBA pixels in place (alpha untouched). Negative and
  // NaN channels become 0.
  void apply(float* rgba, std::size_t pixelCount) const;

 private:
  double content_;
  double target_;
  bool isIdentity_;
  float knee_;
  float kneeRange_;      // T − k
  float inverseSpan_;    // 1 / (C − k)
  float slope_;          // a
};

}  // namespace quorlin
