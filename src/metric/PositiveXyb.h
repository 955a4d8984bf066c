// Linear sRGB to the metric's "positive XYB": an opsin-like LMS mix with a
// small bias, a cube root (computed with the same approximation and float
// operations as the published scores), X/Y/B opponent channels, then offsets
// that make all three non-negative. Values are converted in place.
#pragma once

#include <cstddef>

#include "metric/Plane.h"

namespace quorlin::metric {

class ThreadPool;

// The cube root of x (x >= 0) plus `add`, as a Newton-refined bit-trick
// approximation of x^(-1/3); exposed for tests.
float cubeRootPlus(float x, float add);

// intensityTarget is the nits of linear 1.0: 255 for SDR input (factor 1).
void toPositiveXyb(PlanarImage& image, float intensityTarget, ThreadPool& pool);

}  // namespace quorlin::metric
