#include "metric/PositiveXyb.h"

#include <bit>
#include <cmath>
#include <cstdint>

#include "metric/SimdTargets.h"

namespace quorlin::metric {

namespace {

constexpr float kBias = 0.0037930732552754493f;


[[gnu::always_inline]] inline float cubeRootPlusInline(float x, float add) {
  const std::uint32_t bits = std::bit_cast<std::uint32_t>(x);
  const float guess = std::bit_cast<float>(0x54800000u - (bits >> 23) * 0x002AAAAAu);
  float r = bits == 0 ? 0.0f : guess;  // approximates x^(-1/3)
  const float xThird = (1.0f / 3.0f) * x;
  for (int i = 0; i < 3; ++i) {
    const float r2 = r * r;
    r = std::fma(-xThird, r2 * r2, (4.0f / 3.0f) * r);
  }
  const float r2 = r * r;
  const float t = std::fma(-x, r2 * r2, r);
  r = std::fma(1.0f / 3.0f, t, r);
  return std::fma(r * r, x, add);
}

QUORLIN_METRIC_KERNEL
void xybRow(float* __restrict red, float* __restrict green, float* __restrict blue, std::size_t count,
            const float (&matrix)[3][3], float negCbrtBias) {
  const float m00 = matrix[0][0], m01 = matrix[0][1], m02 = matrix[0][2];
  const float m10 = matrix[1][0], m11 = matrix[1][1], m12 = matrix[1][2];
  const float m20 = matrix[2][0], m21 = matrix[2][1], m22 = matrix[2][2];
  for (std::size_t i = 0; i < count; ++i) {
    const float r = red[i], g = green[i], b = blue[i];
    float l0 = std::fma(m00, r, std::fma(m01, g, std::fma(m02, b, kBias)));
    float l1 = std::fma(m10, r, std::fma(m11, g, std::fma(m12, b, kBias)));
    float l2 = std::fma(m20, r, std::fma(m21, g, std::fma(m22, b, kBias)));
    l0 = l0 > 0.0f ? l0 : 0.0f;
    l1 = l1 > 0.0f ? l1 : 0.0f;
    l2 = l2 > 0.0f ? l2 : 0.0f;
    const float c0 = cubeRootPlusInline(l0, negCbrtBias);
    const float c1 = cubeRootPlusInline(l1, negCbrtBias);
    const float c2 = cubeRootPlusInline(l2, negCbrtBias);
    const float x = 0.5f * (c0 - c1);
    const float y = 0.5f * (c0 + c1);
    red[i] = x * 14.0f + 0.42f;
    green[i] = y + 0.01f;
    blue[i] = (c2 - y) + 0.55f;
  }
}

}  // namespace

PositiveXyb::PositiveXyb(float intensityTarget)
    // Each row sums to one; the last entry is computed in float from the others.
    : matrix_{{0.30f, 1.0f - 0.078f - 0.30f, 0.078f},
              {0.23f, 1.0f - 0.078f - 0.23f, 0.078f},
              {0.24342268924547819f, 0.20476744424496821f, 1.0f - 0.24342268924547819f - 0.20476744424496821f}},
      negCbrtBias_(-std::cbrt(kBias)) {
  if (intensityTarget != 255.0f) {
    const float scale = intensityTarget / 255.0f;
    for (auto& row : matrix_) {
      for (float& value : row) value *= scale;
    }
  }
}

void PositiveXyb::convertRow(float* red, float* green, float* blue, std::size_t count) const {
  xybRow(red, green, blue, count, matrix_, negCbrtBias_);
}

}  // namespace quorlin::metric
