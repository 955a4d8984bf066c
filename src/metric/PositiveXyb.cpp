#include "metric/PositiveXyb.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "metric/SimdTargets.h"
#include "metric/ThreadPool.h"

namespace quorlin::metric {

namespace {

constexpr float kBias = 0.0037930732552754493f;

struct OpsinMatrix {
  float m[3][3];
};

OpsinMatrix opsinMatrix(float intensityTarget) {
  // Each row sums to one; the last entry is computed in float from the others.
  OpsinMatrix o{{{0.30f, 1.0f - 0.078f - 0.30f, 0.078f},
                 {0.23f, 1.0f - 0.078f - 0.23f, 0.078f},
                 {0.24342268924547819f, 0.20476744424496821f,
                  1.0f - 0.24342268924547819f - 0.20476744424496821f}}};
  if (intensityTarget != 255.0f) {
    const float scale = intensityTarget / 255.0f;
    for (auto& row : o.m) {
      for (float& value : row) value *= scale;
    }
  }
  return o;
}

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
            const OpsinMatrix& matrix, float negCbrtBias) {
  const float m00 = matrix.m[0][0], m01 = matrix.m[0][1], m02 = matrix.m[0][2];
  const float m10 = matrix.m[1][0], m11 = matrix.m[1][1], m12 = matrix.m[1][2];
  const float m20 = matrix.m[2][0], m21 = matrix.m[2][1], m22 = matrix.m[2][2];
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

float cubeRootPlus(float x, float add) { return cubeRootPlusInline(x, add); }

void toPositiveXyb(PlanarImage& image, float intensityTarget, ThreadPool& pool) {
  const OpsinMatrix matrix = opsinMatrix(intensityTarget);
  const float negCbrtBias = -std::cbrt(kBias);
  const int height = image.height();
  const std::size_t width = static_cast<std::size_t>(image.width());
  constexpr int kRowsPerTask = 16;
  const std::size_t tasks = static_cast<std::size_t>((height + kRowsPerTask - 1) / kRowsPerTask);
  pool.parallelFor(tasks, [&](std::size_t task, unsigned) {
    const int begin = static_cast<int>(task) * kRowsPerTask;
    const int end = std::min(height, begin + kRowsPerTask);
    for (int y = begin; y < end; ++y) {
      xybRow(image.planes[0].row(y), image.planes[1].row(y), image.planes[2].row(y), width, matrix, negCbrtBias);
    }
  });
}

}  // namespace quorlin::metric
