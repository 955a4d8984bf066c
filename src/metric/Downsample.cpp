#include "metric/Downsample.h"

#include "metric/SimdTargets.h"

namespace quorlin::metric {

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

}  // namespace quorlin::metric
