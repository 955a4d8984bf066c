// 2x2 box downsampling between scales: output ceil(w/2) x ceil(h/2), odd
// sizes repeat the last column/row, samples summed from zero in the order
// top-left, top-right, bottom-left, bottom-right, then multiplied by 0.25.
#pragma once

#include "metric/Plane.h"

namespace quorlin::metric {

class ThreadPool;

PlanarImage downsample(const PlanarImage& image, ThreadPool& pool);

}  // namespace quorlin::metric
