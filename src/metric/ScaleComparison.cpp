#include "metric/ScaleComparison.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

#include "metric/LaneTranspose.h"
#include "metric/RecursiveGaussian.h"
#include "metric/SimdTargets.h"
#include "metric/ThreadPool.h"

namespace quorlin::metric {

namespace {

// The blurred quantities, in the order their buffers are laid out.
enum Quantity { kMu1 = 0, kMu2, kSigma11, kSigma22, kSigma12, kQuantities };
// Per-column sums: ssim, ssim^4, artifact, artifact^4, detail lost, detail lost^4.
constexpr int kSums = 6;

constexpr int kBandRows = 256;                    // rows blurred horizontally per band (multiple of kLanes)
constexpr int kRingRows = kBandRows + 2 * kLanes;  // band plus the rows the vertical window still needs

// Per pixel of one row segment: SSIM error and edge difference, accumulated
// per column in double (sums of v and v^4 for each of the three maps).
QUORLIN_METRIC_KERNEL
void accumulateErrors(const float* __restrict i1, const float* __restrict i2, const float* __restrict mu1,
                      const float* __restrict mu2, const float* __restrict sigma11,
                      const float* __restrict sigma22, const float* __restrict sigma12, double* __restrict ssim,
                      double* __restrict ssim4, double* __restrict artifact, double* __restrict artifact4,
                      double* __restrict detail, double* __restrict detail4, std::size_t count) {
  constexpr float c2 = 0.0009f;
  for (std::size_t x = 0; x < count; ++x) {
    const float m1 = mu1[x], m2 = mu2[x];
    const float mu11 = m1 * m1;
    const float mu22 = m2 * m2;
    const float mu12 = m1 * m2;
    const float difference = m1 - m2;
    const float numM = 1.0f - difference * difference;
    const float numS = 2.0f * (sigma12[x] - mu12) + c2;
    const float denS = ((sigma11[x] - mu11) + (sigma22[x] - mu22)) + c2;
    const float ratio = (numM * numS) / denS;
    const double oneMinus = 1.0 - static_cast<double>(ratio);
    const double d = oneMinus > 0.0 ? oneMinus : 0.0;
    const double d2 = d * d;
    ssim[x] += d;
    ssim4[x] += d2 * d2;

    const double edge1 = std::fabs(i1[x] - m1);
    const double edge2 = std::fabs(i2[x] - m2);
    const double e = (1.0 + edge2) / (1.0 + edge1) - 1.0;
    const double a = e > 0.0 ? e : 0.0;
    const double l = e < 0.0 ? -e : 0.0;
    const double a2 = a * a;
    const double l2 = l * l;
    artifact[x] += a;
    artifact4[x] += a2 * a2;
    detail[x] += l;
    detail4[x] += l2 * l2;
  }
}

QUORLIN_METRIC_KERNEL
void multiplyLanes(const float* __restrict a, const float* __restrict b, float* __restrict out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) out[i] = a[i] * b[i];
}

class ChannelComparison {
 public:
  ChannelComparison(int width, int height, unsigned threads)
      : width_(width),
        height_(height),
        ringRows_(std::min(kRingRows, height)),
        ring_(width, kQuantities * ringRows_),
        state_(width, kQuantities * 6),
        sums_(static_cast<std::size_t>(kSums) * static_cast<std::size_t>(width)),
        columnChunk_(chooseColumnChunk(width, threads)),
        laneScratch_(threads),
        columnScratch_(threads) {}

  ChannelNorms run(const Plane& original, const Plane& distorted, ThreadPool& pool) {
    original_ = &original;
    distorted_ = &distorted;
    std::fill(sums_.begin(), sums_.end(), 0.0);
    for (int r = 0; r < state_.height(); ++r) std::fill_n(state_.row(r), state_.stride(), 0.0f);
    stepsDone_ = 0;

    int nextStep = -kBlurRadius + 1;
    for (int bandBegin = 0; bandBegin < height_; bandBegin += kBandRows) {
      const int bandEnd = std::min(height_, bandBegin + kBandRows);
      const int blocks = (bandEnd - bandBegin + kLanes - 1) / kLanes;
      pool.parallelFor(static_cast<std::size_t>(blocks), [&](std::size_t block, unsigned worker) {
        blurRowsBlock(bandBegin + static_cast<int>(block) * kLanes, bandEnd, worker);
      });
      // Vertical step n reads row n+4: every row up to bandEnd-1 is ready.
      const int lastStep = bandEnd == height_ ? height_ - 1 : bandEnd - 1 - (kBlurRadius - 1);
      if (lastStep >= nextStep) {
        const std::size_t chunks = (static_cast<std::size_t>(width_) + columnChunk_ - 1) / columnChunk_;
        pool.parallelFor(chunks, [&](std::size_t chunk, unsigned worker) {
          blurColumnsChunk(chunk * columnChunk_, nextStep, lastStep, worker);
        });
        stepsDone_ += lastStep - nextStep + 1;
        nextStep = lastStep + 1;
      }
    }
    return pool_sums();
  }

 private:
  struct LaneScratch {
    std::vector<float> a, b, product, blurred;
  };

  static std::size_t chooseColumnChunk(int width, unsigned threads) {
    // Narrow enough that a chunk's recursion state stays in the L1 cache and
    // the threads balance, wide enough to vectorise well.
    const std::size_t target = (static_cast<std::size_t>(width) + 4 * threads - 1) / (4 * threads);
    return std::clamp<std::size_t>((target + 15) / 16 * 16, 64, 256);
  }

  float* ringRow(int quantity, int row) { return ring_.row(quantity * ringRows_ + row % ringRows_); }

  void blurRowsBlock(int firstRow, int bandEnd, unsigned worker) {
    LaneScratch& scratch = laneScratch_[worker];
    const std::size_t size = static_cast<std::size_t>(width_) * kLanes;
    if (scratch.a.size() != size) {
      scratch.a.resize(size);
      scratch.b.resize(size);
      scratch.product.resize(size);
      scratch.blurred.resize(size);
    }
    // Rows past the end of the image repeat the last one; their lanes are discarded.
    const float* originalRows[kLanes];
    const float* distortedRows[kLanes];
    for (int l = 0; l < kLanes; ++l) {
      const int row = std::min(firstRow + l, height_ - 1);
      originalRows[l] = original_->row(row);
      distortedRows[l] = distorted_->row(row);
    }
    rowsToLanes(originalRows, width_, scratch.a.data());
    rowsToLanes(distortedRows, width_, scratch.b.data());
    const int rows = std::min(kLanes, bandEnd - firstRow);
    for (int q = 0; q < kQuantities; ++q) {
      const float* input = scratch.product.data();
      switch (q) {
        case kMu1: input = scratch.a.data(); break;
        case kMu2: input = scratch.b.data(); break;
        case kSigma11: multiplyLanes(scratch.a.data(), scratch.a.data(), scratch.product.data(), size); break;
        case kSigma22: multiplyLanes(scratch.b.data(), scratch.b.data(), scratch.product.data(), size); break;
        default: multiplyLanes(scratch.a.data(), scratch.b.data(), scratch.product.data(), size); break;
      }
      blurLanesHorizontally(input, scratch.blurred.data(), width_);
      float* outputRows[kLanes];
      for (int l = 0; l < rows; ++l) outputRows[l] = ringRow(q, firstRow + l);
      lanesToRows(scratch.blurred.data(), width_, outputRows, rows);
    }
  }

  void blurColumnsChunk(std::size_t x0, int firstStep, int lastStep, unsigned worker) {
    const std::size_t count = std::min(columnChunk_, static_cast<std::size_t>(width_) - x0);
    std::vector<float>& scratch = columnScratch_[worker];
    scratch.resize(kQuantities * columnChunk_);
    float* blurred[kQuantities];
    float* state[kQuantities][6];
    for (int q = 0; q < kQuantities; ++q) {
      blurred[q] = scratch.data() + static_cast<std::size_t>(q) * columnChunk_;
      for (int k = 0; k < 3; ++k) {
        // The step swaps the two state rows of each term; after an odd number
        // of steps y[n-1] lives in the second one.
        float* first = state_.row(q * 6 + 2 * k) + x0;
        float* second = state_.row(q * 6 + 2 * k + 1) + x0;
        const bool swapped = stepsDone_ % 2 != 0;
        state[q][2 * k] = swapped ? second : first;
        state[q][2 * k + 1] = swapped ? first : second;
      }
    }
    double* sums[kSums];
    for (int m = 0; m < kSums; ++m) sums[m] = sums_.data() + static_cast<std::size_t>(m) * width_ + x0;

    constexpr int topOffset = kBlurRadius + 1;
    constexpr int bottomOffset = kBlurRadius - 1;
    for (int n = firstStep; n <= lastStep; ++n) {
      const bool hasTop = n - topOffset >= 0;
      const bool hasBottom = n + bottomOffset < height_;
      for (int q = 0; q < kQuantities; ++q) {
        const float* top = hasTop ? ringRow(q, n - topOffset) + x0 : nullptr;
        const float* bottom = hasBottom ? ringRow(q, n + bottomOffset) + x0 : nullptr;
        blurColumnsStep(top, bottom, state[q], blurred[q], count);
      }
      if (n >= 0) {
        accumulateErrors(original_->row(n) + x0, distorted_->row(n) + x0, blurred[kMu1], blurred[kMu2],
                         blurred[kSigma11], blurred[kSigma22], blurred[kSigma12], sums[0], sums[1], sums[2], sums[3],
                         sums[4], sums[5], count);
      }
    }
  }

  ChannelNorms pool_sums() const {
    double totals[kSums] = {};
    for (int m = 0; m < kSums; ++m) {
      const double* column = sums_.data() + static_cast<std::size_t>(m) * width_;
      for (int x = 0; x < width_; ++x) totals[m] += column[x];
    }
    const double inverse = 1.0 / (static_cast<double>(width_) * static_cast<double>(height_));
    ChannelNorms result;
    for (int map = 0; map < 3; ++map) {
      result.norms[0][map] = totals[2 * map] * inverse;
      result.norms[1][map] = std::sqrt(std::sqrt(totals[2 * map + 1] * inverse));
    }
    return result;
  }

  int width_;
  int height_;
  const Plane* original_ = nullptr;
  const Plane* distorted_ = nullptr;
  int ringRows_;
  Plane ring_;   // horizontally blurred rows, ringRows_ per quantity
  Plane state_;  // vertical recursion state, 6 rows per quantity
  std::vector<double> sums_;
  std::size_t columnChunk_;
  long stepsDone_ = 0;
  std::vector<LaneScratch> laneScratch_;
  std::vector<std::vector<float>> columnScratch_;
};

}  // namespace

std::array<ChannelNorms, 3> compareScale(const PlanarImage& original, const PlanarImage& distorted,
                                         ThreadPool& pool) {
  ChannelComparison comparison(original.width(), original.height(), pool.threadCount());
  std::array<ChannelNorms, 3> result;
  for (int c = 0; c < 3; ++c) result[static_cast<std::size_t>(c)] = comparison.run(original.planes[c], distorted.planes[c], pool);
  return result;
}

}  // namespace quorlin::metric
