#include "metric/RecursiveGaussian.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "metric/SimdTargets.h"

namespace quorlin::metric {

namespace {

constexpr double kSigma = 1.5;

BlurCoefficients computeCoefficients() {
  const double n = std::round(3.2795 * kSigma + 0.2546);  // 5
  const double pi = std::numbers::pi;
  double omega[3], p[3], r[3], rho[3];
  for (int i = 0; i < 3; ++i) {
    const double k = 2 * i + 1;
    omega[i] = k * pi / (2 * n);
    rho[i] = std::exp(-kSigma * kSigma * omega[i] * omega[i] / 2) / n;
  }
  p[0] = 1 / std::tan(omega[0] / 2);
  p[1] = -1 / std::tan(omega[1] / 2);
  p[2] = 1 / std::tan(omega[2] / 2);
  r[0] = p[0] * p[0] / std::sin(omega[0]);
  r[1] = -p[1] * p[1] / std::sin(omega[1]);
  r[2] = p[2] * p[2] / std::sin(omega[2]);
  const double d13 = p[0] * r[1] - r[0] * p[1];
  const double d35 = p[1] * r[2] - r[1] * p[2];
  const double d51 = p[2] * r[0] - r[2] * p[0];
  const double zeta15 = d35 / d13;
  const double zeta35 = d51 / d13;

  // Solve A * beta = gamma through the inverse of A (adjugate over determinant).
  const double a[3][3] = {{p[0], p[1], p[2]}, {r[0], r[1], r[2]}, {zeta15, zeta35, 1.0}};
  const double gamma[3] = {1.0, n * n - kSigma * kSigma, zeta15 * rho[0] + zeta35 * rho[1] + rho[2]};
  double inverse[3][3];
  inverse[0][0] = a[1][1] * a[2][2] - a[1][2] * a[2][1];
  inverse[0][1] = a[0][2] * a[2][1] - a[0][1] * a[2][2];
  inverse[0][2] = a[0][1] * a[1][2] - a[0][2] * a[1][1];
  inverse[1][0] = a[1][2] * a[2][0] - a[1][0] * a[2][2];
  inverse[1][1] = a[0][0] * a[2][2] - a[0][2] * a[2][0];
  inverse[1][2] = a[0][2] * a[1][0] - a[0][0] * a[1][2];
  inverse[2][0] = a[1][0] * a[2][1] - a[1][1] * a[2][0];
  inverse[2][1] = a[0][1] * a[2][0] - a[0][0] * a[2][1];
  inverse[2][2] = a[0][0] * a[1][1] - a[0][1] * a[1][0];
  const double determinant = a[0][0] * inverse[0][0] + a[0][1] * inverse[1][0] + a[0][2] * inverse[2][0];
  double beta[3];
  for (int i = 0; i < 3; ++i) {
    beta[i] = 0;
    for (int j = 0; j < 3; ++j) beta[i] += inverse[i][j] / determinant * gamma[j];
  }

  BlurCoefficients c{};
  for (int i = 0; i < 3; ++i) {
    const double n2 = -beta[i] * std::cos(omega[i] * (n + 1));
    const double d1 = -2 * std::cos(omega[i]);
    const double d = d1;
    c.n2[i] = static_cast<float>(n2);
    c.d1[i] = static_cast<float>(d1);
    const double mulIn[4] = {n2, -d * n2, d * d * n2 - n2, -d * d * d * n2 + 2 * d * n2};
    const double mulPrev[4] = {-d, d * d - 1, -d * d * d + 2 * d, d * d * d * d - 3 * d * d + 1};
    const double mulPrev2[4] = {-1, d, -d * d + 1, d * d * d - 2 * d};
    for (int j = 0; j < 4; ++j) {
      c.mulIn[i][j] = static_cast<float>(mulIn[j]);
      c.mulPrev[i][j] = static_cast<float>(mulPrev[j]);
      c.mulPrev2[i][j] = static_cast<float>(mulPrev2[j]);
    }
  }
  return c;
}

#define QUORLIN_INLINE [[gnu::always_inline]] inline

constexpr int L = kLanes;
alignas(64) const float kZeroLane[L] = {};

// One output of the single-step recurrence (the first and last samples of a row).
QUORLIN_INLINE void singleStep(const BlurCoefficients& c, const float* left, const float* right, float (&prev)[3][L],
                               float (&prev2)[3][L], float* out) {
  float s[L];
  for (int l = 0; l < L; ++l) s[l] = left[l] + right[l];
  for (int k = 0; k < 3; ++k) {
    const float in0 = c.mulIn[k][0], p20 = c.mulPrev2[k][0], p0 = c.mulPrev[k][0];
    for (int l = 0; l < L; ++l) {
      float o = s[l] * in0;
      o = std::fma(p20, prev2[k][l], o);
      prev2[k][l] = prev[k][l];
      o = std::fma(p0, prev[k][l], o);
      prev[k][l] = o;
    }
  }
  if (out) {
    for (int l = 0; l < L; ++l) out[l] = prev[0][l] + (prev[1][l] + prev[2][l]);
  }
}

}  // namespace

const BlurCoefficients& blurCoefficients() {
  static const BlurCoefficients coefficients = computeCoefficients();
  return coefficients;
}

QUORLIN_METRIC_KERNEL
void blurLanesHorizontally(const float* __restrict input, float* __restrict output, int width) {
  const BlurCoefficients& c = blurCoefficients();
  alignas(64) float prev[3][L] = {};
  alignas(64) float prev2[3][L] = {};
  auto at = [input](int n) { return input + static_cast<std::ptrdiff_t>(n) * L; };
  constexpr int leftOffset = kBlurRadius + 1;   // x[n-6]
  constexpr int rightOffset = kBlurRadius - 1;  // x[n+4]

  int n = -kBlurRadius + 1;
  // Leading samples one at a time, up to the first multiple of four past N+1.
  const int leadEnd = std::min(8, width);
  for (; n < leadEnd; ++n) {
    const float* left = n - leftOffset >= 0 ? at(n - leftOffset) : kZeroLane;
    const float* right = n + rightOffset < width ? at(n + rightOffset) : kZeroLane;
    singleStep(c, left, right, prev, prev2, n >= 0 ? output + static_cast<std::ptrdiff_t>(n) * L : nullptr);
  }
  // Four outputs per step while all right-hand samples exist.
  for (; n + 3 + rightOffset < width; n += 4) {
    alignas(64) float s[4][L];
    for (int j = 0; j < 4; ++j) {
      const float* left = at(n - leftOffset + j);
      const float* right = at(n + rightOffset + j);
      for (int l = 0; l < L; ++l) s[j][l] = left[l] + right[l];
    }
    alignas(64) float result[3][4][L];
    for (int k = 0; k < 3; ++k) {
      const float* in = c.mulIn[k];
      const float* mp = c.mulPrev[k];
      const float* mp2 = c.mulPrev2[k];
      for (int l = 0; l < L; ++l) {
        const float p = prev[k][l], p2 = prev2[k][l];
        const float s0 = s[0][l], s1 = s[1][l], s2 = s[2][l], s3 = s[3][l];
        float o0 = s0 * in[0];
        o0 = std::fma(mp2[0], p2, o0);
        o0 = std::fma(mp[0], p, o0);
        float o1 = s0 * in[1];
        o1 = std::fma(in[0], s1, o1);
        o1 = std::fma(mp2[1], p2, o1);
        o1 = std::fma(mp[1], p, o1);
        float o2 = s0 * in[2];
        o2 = std::fma(in[1], s1, o2);
        o2 = std::fma(in[0], s2, o2);
        o2 = std::fma(mp2[2], p2, o2);
        o2 = std::fma(mp[2], p, o2);
        float o3 = s0 * in[3];
        o3 = std::fma(in[2], s1, o3);
        o3 = std::fma(in[1], s2, o3);
        o3 = std::fma(in[0], s3, o3);
        o3 = std::fma(mp2[3], p2, o3);
        o3 = std::fma(mp[3], p, o3);
        result[k][0][l] = o0;
        result[k][1][l] = o1;
        result[k][2][l] = o2;
        result[k][3][l] = o3;
        prev2[k][l] = o2;
        prev[k][l] = o3;
      }
    }
    for (int j = 0; j < 4; ++j) {
      float* out = output + static_cast<std::ptrdiff_t>(n + j) * L;
      for (int l = 0; l < L; ++l) out[l] = result[0][j][l] + (result[1][j][l] + result[2][j][l]);
    }
  }
  // Trailing samples one at a time.
  for (; n < width; ++n) {
    const float* left = n - leftOffset >= 0 ? at(n - leftOffset) : kZeroLane;
    const float* right = n + rightOffset < width ? at(n + rightOffset) : kZeroLane;
    singleStep(c, left, right, prev, prev2, n >= 0 ? output + static_cast<std::ptrdiff_t>(n) * L : nullptr);
  }
}

namespace {

template <bool kHasTop, bool kHasBottom>
QUORLIN_INLINE void columnsStep(const BlurCoefficients& c, const float* __restrict top,
                                const float* __restrict bottom, const float* __restrict y1a,
                                float* __restrict y2a, const float* __restrict y1b, float* __restrict y2b,
                                const float* __restrict y1c, float* __restrict y2c, float* __restrict output,
                                std::size_t count) {
  const float n2a = c.n2[0], n2b = c.n2[1], n2c = c.n2[2];
  const float md1a = -c.d1[0], md1b = -c.d1[1], md1c = -c.d1[2];
  for (std::size_t x = 0; x < count; ++x) {
    float s;
    if constexpr (kHasTop && kHasBottom) {
      s = top[x] + bottom[x];
    } else if constexpr (kHasBottom) {
      s = bottom[x];
    } else if constexpr (kHasTop) {
      s = top[x];
    } else {
      s = 0.0f;
    }
    // The new value goes where y[n-2] was; the caller's pointers then swap.
    const float ya = std::fma(n2a, s, std::fma(md1a, y1a[x], -y2a[x]));
    const float yb = std::fma(n2b, s, std::fma(md1b, y1b[x], -y2b[x]));
    const float yc = std::fma(n2c, s, std::fma(md1c, y1c[x], -y2c[x]));
    y2a[x] = ya;
    y2b[x] = yb;
    y2c[x] = yc;
    output[x] = ya + (yb + yc);
  }
}

}  // namespace

QUORLIN_METRIC_KERNEL
void blurColumnsStep(const float* top, const float* bottom, float* state[6], float* output, std::size_t count) {
  const BlurCoefficients& c = blurCoefficients();
  float* const* st = state;
  if (top && bottom) {
    columnsStep<true, true>(c, top, bottom, st[0], st[1], st[2], st[3], st[4], st[5], output, count);
  } else if (bottom) {
    columnsStep<false, true>(c, top, bottom, st[0], st[1], st[2], st[3], st[4], st[5], output, count);
  } else if (top) {
    columnsStep<true, false>(c, top, bottom, st[0], st[1], st[2], st[3], st[4], st[5], output, count);
  } else {
    columnsStep<false, false>(c, top, bottom, st[0], st[1], st[2], st[3], st[4], st[5], output, count);
  }
  for (int k = 0; k < 3; ++k) std::swap(state[2 * k], state[2 * k + 1]);
}

}  // namespace quorlin::metric
