// Linear sRGB to the metric's "positive XYB": an opsin-like LMS mix with a
// small bias, a cube root (computed with the same approximation and float
// operations as the published scores), X/Y/B opponent channels, then offsets
// that make all three non-negative. Rows are converted in place.
#pragma once

#include <cstddef>

namespace quorlin::metric {

class PositiveXyb {
 public:
  // intensityTarget is the nits of linear 1.0: 255 for SDR input (factor 1).
  explicit PositiveXyb(float intensityTarget);

  // red, green and blue (count floats each) become X, Y and B.
  void convertRow(float* red, float* green, float* blue, std::size_t count) const;

 private:
  float matrix_[3][3];
  float negCbrtBias_;
};

}  // namespace quorlin::metric
