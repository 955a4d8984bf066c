#include "metric/LaneTranspose.h"

#include <cstddef>
#include <cstring>

#include "metric/RecursiveGaussian.h"
#include "metric/SimdTargets.h"

namespace quorlin::metric {

namespace {

typedef float Vec8 __attribute__((vector_size(32)));

// Vectors only travel by reference between helpers: passing them by value
// would tie the calling convention to the target's vector width.
[[gnu::always_inline]] inline void load(Vec8& v, const float* p) { std::memcpy(&v, p, sizeof v); }
[[gnu::always_inline]] inline void store(float* p, const Vec8& v) { std::memcpy(p, &v, sizeof v); }

// r[i] holds row i of an 8x8 block; afterwards r[j] holds column j.
[[gnu::always_inline]] inline void transpose8x8(Vec8 (&r)[8]) {
  const Vec8 t0 = __builtin_shufflevector(r[0], r[1], 0, 8, 1, 9, 4, 12, 5, 13);
  const Vec8 t1 = __builtin_shufflevector(r[0], r[1], 2, 10, 3, 11, 6, 14, 7, 15);
  const Vec8 t2 = __builtin_shufflevector(r[2], r[3], 0, 8, 1, 9, 4, 12, 5, 13);
  const Vec8 t3 = __builtin_shufflevector(r[2], r[3], 2, 10, 3, 11, 6, 14, 7, 15);
  const Vec8 t4 = __builtin_shufflevector(r[4], r[5], 0, 8, 1, 9, 4, 12, 5, 13);
  const Vec8 t5 = __builtin_shufflevector(r[4], r[5], 2, 10, 3, 11, 6, 14, 7, 15);
  const Vec8 t6 = __builtin_shufflevector(r[6], r[7], 0, 8, 1, 9, 4, 12, 5, 13);
  const Vec8 t7 = __builtin_shufflevector(r[6], r[7], 2, 10, 3, 11, 6, 14, 7, 15);
  const Vec8 u0 = __builtin_shufflevector(t0, t2, 0, 1, 8, 9, 4, 5, 12, 13);
  const Vec8 u1 = __builtin_shufflevector(t0, t2, 2, 3, 10, 11, 6, 7, 14, 15);
  const Vec8 u2 = __builtin_shufflevector(t1, t3, 0, 1, 8, 9, 4, 5, 12, 13);
  const Vec8 u3 = __builtin_shufflevector(t1, t3, 2, 3, 10, 11, 6, 7, 14, 15);
  const Vec8 u4 = __builtin_shufflevector(t4, t6, 0, 1, 8, 9, 4, 5, 12, 13);
  const Vec8 u5 = __builtin_shufflevector(t4, t6, 2, 3, 10, 11, 6, 7, 14, 15);
  const Vec8 u6 = __builtin_shufflevector(t5, t7, 0, 1, 8, 9, 4, 5, 12, 13);
  const Vec8 u7 = __builtin_shufflevector(t5, t7, 2, 3, 10, 11, 6, 7, 14, 15);
  r[0] = __builtin_shufflevector(u0, u4, 0, 1, 2, 3, 8, 9, 10, 11);
  r[1] = __builtin_shufflevector(u1, u5, 0, 1, 2, 3, 8, 9, 10, 11);
  r[2] = __builtin_shufflevector(u2, u6, 0, 1, 2, 3, 8, 9, 10, 11);
  r[3] = __builtin_shufflevector(u3, u7, 0, 1, 2, 3, 8, 9, 10, 11);
  r[4] = __builtin_shufflevector(u0, u4, 4, 5, 6, 7, 12, 13, 14, 15);
  r[5] = __builtin_shufflevector(u1, u5, 4, 5, 6, 7, 12, 13, 14, 15);
  r[6] = __builtin_shufflevector(u2, u6, 4, 5, 6, 7, 12, 13, 14, 15);
  r[7] = __builtin_shufflevector(u3, u7, 4, 5, 6, 7, 12, 13, 14, 15);
}

static_assert(kLanes == 16, "the transposes move two 8x8 blocks per eight columns");

}  // namespace

QUORLIN_METRIC_KERNEL
void rowsToLanes(const float* const* rows, int width, float* lanes) {
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    for (int half = 0; half < 2; ++half) {
      Vec8 block[8];
      for (int i = 0; i < 8; ++i) load(block[i], rows[half * 8 + i] + x);
      transpose8x8(block);
      for (int j = 0; j < 8; ++j) store(lanes + static_cast<std::size_t>(x + j) * kLanes + half * 8, block[j]);
    }
  }
  for (; x < width; ++x) {
    for (int l = 0; l < kLanes; ++l) lanes[static_cast<std::size_t>(x) * kLanes + l] = rows[l][x];
  }
}

QUORLIN_METRIC_KERNEL
void lanesToRows(const float* lanes, int width, float* const* rows, int rowCount) {
  int x = 0;
  for (; x + 8 <= width; x += 8) {
    for (int half = 0; half < 2 && half * 8 < rowCount; ++half) {
      Vec8 block[8];
      for (int j = 0; j < 8; ++j) load(block[j], lanes + static_cast<std::size_t>(x + j) * kLanes + half * 8);
      transpose8x8(block);
      for (int i = 0; i < 8 && half * 8 + i < rowCount; ++i) store(rows[half * 8 + i] + x, block[i]);
    }
  }
  for (; x < width; ++x) {
    for (int l = 0; l < rowCount; ++l) rows[l][x] = lanes[static_cast<std::size_t>(x) * kLanes + l];
  }
}

}  // namespace quorlin::metric
