#include "metric/Downsample.h"

#include <algorithm>
#include <cstddef>

#include "metric/SimdTargets.h"
#include "metric/ThreadPool.h"

namespace quorlin::metric {

namespace {

QUORLIN_METRIC_KERNEL
void downsampleRow(const float* __restrict top, const float* __restrict bottom, float* __restrict out, int inWidth) {
  const int pairs = inWidth / 2;
  for (int x = 0; x < pairs; ++x) {
    float sum = 0.0f;
    sum += top[2 * x];
    sum += top[2 * x + 1];
    sum += bottom[2 * x];
    sum += bottom[2 * x + 1];
    out[x] = sum * 0.25f;
  }
  if (inWidth % 2 != 0) {
    const int last = inWidth - 1;
    float sum = 0.0f;
    sum += top[last];
    sum += top[last];
    sum += bottom[last];
    sum += bottom[last];
    out[pairs] = sum * 0.25f;
  }
}

}  // namespace

PlanarImage downsample(const PlanarImage& image, ThreadPool& pool) {
  const int inWidth = image.width(), inHeight = image.height();
  PlanarImage result((inWidth + 1) / 2, (inHeight + 1) / 2);
  const int outHeight = result.height();
  constexpr int kRowsPerTask = 8;
  const std::size_t tasks = static_cast<std::size_t>((outHeight + kRowsPerTask - 1) / kRowsPerTask);
  pool.parallelFor(tasks, [&](std::size_t task, unsigned) {
    const int begin = static_cast<int>(task) * kRowsPerTask;
    const int end = std::min(outHeight, begin + kRowsPerTask);
    for (int c = 0; c < 3; ++c) {
      for (int y = begin; y < end; ++y) {
        const float* top = image.planes[c].row(2 * y);
        const float* bottom = image.planes[c].row(std::min(2 * y + 1, inHeight - 1));
        downsampleRow(top, bottom, result.planes[c].row(y), inWidth);
      }
    }
  });
  return result;
}

}  // namespace quorlin::metric
