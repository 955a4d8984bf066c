// ScaleComparison: the error maps of one scale and their pooled norms.
//
// For each XYB channel the two images are blurred five ways (I1, I2, I1², I2²,
// I1·I2), giving the local means and (co)variances. Per pixel these give an
// SSIM error and an edge ratio, split into "artifact" (the distorted image has
// structure the original lacks) and "detail lost" (the reverse). Each map is
// pooled as a mean and a 4-norm over the whole scale.
//
// The work streams through the image in bands of rows, so memory beyond the
// two input images is a few rows per quantity. Rows are blurred horizontally
// in parallel (blocks of rows), then columns vertically (blocks of columns);
// sums are kept per column and added up in column order at the end, so the
// result does not depend on the thread count.
#pragma once

#include <array>

#include "metric/Plane.h"

namespace quorlin::metric {

class ThreadPool;

enum class ErrorMap { ssim = 0, artifact = 1, detailLost = 2 };

// norms[n][map]: n = 0 for the mean (1-norm), 1 for the 4-norm.
struct ChannelNorms {
  std::array<std::array<double, 3>, 2> norms{};
};

// Both images in positive XYB, of equal size (at least 1x1).
std::array<ChannelNorms, 3> compareScale(const PlanarImage& original, const PlanarImage& distorted,
                                         ThreadPool& pool);

}  // namespace quorlin::metric
