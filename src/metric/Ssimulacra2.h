// SSIMULACRA2: a perceptual image-quality score of a distorted image against
// its original, 100 for identical pixels and lower (unbounded) the worse the
// distortion. The scores agree with the published reference tool to the
// printed 8 decimals: every per-pixel step is done in float32 in the same
// order of operations, and pooling and the final mapping in double.
//
// Outline: both images go to linear sRGB (blended onto grey where the
// original has alpha, see below), then for up to six scales (each a 2x2 box
// downsample of the previous one, computed while the previous scale is at
// least 8x8) to positive XYB, where ScaleComparison pools SSIM and edge error
// maps; ScoreMapping turns the 108 pooled numbers into the score.
//
// Alpha: when the original has alpha the whole comparison runs twice, on a
// dark (0.1) and a light (0.9) background, and the worse score counts; when
// only the distorted image has alpha it is blended onto 0.5.
//
// All functions are thread-safe and block; `threads` workers (0 = one per
// hardware thread) share the work and the score does not depend on their
// number. Memory: the two decoded images, the second scale's linear planes
// (a quarter of the first) and some rows per quantity; the full-size scale
// is streamed from the decoded samples and never stored as floats. Images
// loaded from files are freed as soon as the first scale is done with them.
#pragma once

#include <filesystem>
#include <string>

#include "core/common/DeclaredImageSize.h"
#include "metric/DecodedImage.h"
#include "metric/MetricResult.h"

namespace quorlin::metric {

struct MetricOptions {
  MetricOptions(unsigned threadCount = 0) : threads(threadCount) {}  // NOLINT: {threads} reads well
  unsigned threads;
  // When set, also writes each pixel's share of the weighted error sum there,
  // as a three-channel float PFM (see ErrorMap.h); the score is unchanged. Its
  // directory also takes an unnamed scratch file while the images are compared.
  std::filesystem::path errorMap;
  // Images declaring more pixels are refused before decoding (imageRefused).
  std::uint64_t pixelLimit = defaultMaximumPixelCount;
};

// Checks each image is at least 8x8 and that the sizes match. An image whose
// colour encoding cannot be applied fails as undecodable (paths empty).
MetricResult computeSsimulacra2(const DecodedImage& original, const DecodedImage& distorted,
                                const MetricOptions& options = {});

// Loads both files and compares them. Checks in this order: original
// readable, within the pixel limit and plausible for its size, decodable, at
// least 8x8; then the same for the distorted image; then equal sizes. Memory
// that runs out gives outOfMemory instead of a score. Notes that do not stop the comparison (an unusable ICC
// profile taken as sRGB) are appended to `warnings` when given.
MetricResult scoreImageFiles(const std::filesystem::path& original, const std::filesystem::path& distorted,
                             const MetricOptions& options = {}, std::string* warnings = nullptr);

}  // namespace quorlin::metric
