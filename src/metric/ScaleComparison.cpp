#include "metric/ScaleComparison.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "metric/Downsample.h"
#include "metric/LaneTranspose.h"
#include "metric/PositiveXyb.h"
#include "metric/RecursiveGaussian.h"
#include "metric/SimdTargets.h"
#include "metric/ThreadPool.h"

namespace quorlin::metric {

namespace {

// The blurred quantities, in the order their buffers are laid out.
enum Quantity { kMu1 = 0, kMu2, kSigma11, kSigma22, kSigma12, kQuantities };
// Per-column sums: ssim, ssim^4, artifact, artifact^4, detail lost, detail lost^4.
constexpr int kSums = 6;
constexpr int kChannels = 3;
constexpr int kImages = 2;

// Rows fetched and blurred horizontally per band (a multiple of kLanes, so
// also even for the downsample). The ring holds a band plus the 10 rows the
// vertical window still needs from the band before.
constexpr int kBandRows = 64;
constexpr int kRingRows = kBandRows + kLanes;
constexpr int kTopOffset = kBlurRadius + 1;     // the vertical step n reads row n-6
constexpr int kBottomOffset = kBlurRadius - 1;  // ... and row n+4

struct PixelErrors {
  double ssim, artifact, detail;
};

// SSIM error and edge difference of one pixel. `Masked` spells the SSIM
// error's clamp as a mask (the same values, NaN included), so that a loop that
// also stores the value vectorises with AVX2 and up; the score-only loop keeps
// the plain form.
template <bool Masked = false>
[[gnu::always_inline]] inline PixelErrors pixelErrors(float i1, float i2, float m1, float m2, float sigma11,
                                                      float sigma22, float sigma12) {
  constexpr float c2 = 0.0009f;
  const float mu11 = m1 * m1;
  const float mu22 = m2 * m2;
  const float mu12 = m1 * m2;
  const float difference = m1 - m2;
  const float numM = 1.0f - difference * difference;
  const float numS = 2.0f * (sigma12 - mu12) + c2;
  const float denS = ((sigma11 - mu11) + (sigma22 - mu22)) + c2;
  const float ratio = (numM * numS) / denS;
  const double oneMinus = 1.0 - static_cast<double>(ratio);
  const double edge1 = std::fabs(i1 - m1);
  const double edge2 = std::fabs(i2 - m2);
  const double e = (1.0 + edge2) / (1.0 + edge1) - 1.0;
  // oneMinus > 0 ? oneMinus : 0 (NaN too gives 0).
  const double ssim =
      Masked ? std::bit_cast<double>(std::bit_cast<std::int64_t>(oneMinus) & -static_cast<std::int64_t>(oneMinus > 0.0))
             : (oneMinus > 0.0 ? oneMinus : 0.0);
  return {ssim, e > 0.0 ? e : 0.0, e < 0.0 ? -e : 0.0};
}

// One pixel's errors into the sums of v and v^4 of the three maps; inlined into
// both kernels below, so each keeps its own vectorised loop.
[[gnu::always_inline]] inline void addErrors(const PixelErrors& v, std::size_t x, double* __restrict ssim,
                                             double* __restrict ssim4, double* __restrict artifact,
                                             double* __restrict artifact4, double* __restrict detail,
                                             double* __restrict detail4) {
  const double d2 = v.ssim * v.ssim, a2 = v.artifact * v.artifact, l2 = v.detail * v.detail;
  ssim[x] += v.ssim;
  ssim4[x] += d2 * d2;
  artifact[x] += v.artifact;
  artifact4[x] += a2 * a2;
  detail[x] += v.detail;
  detail4[x] += l2 * l2;
}

// Per pixel of one row segment: the errors, accumulated per column in double
// (sums of v and v^4 for each of the three maps), and, for an error map, the
// SSIM error and the signed edge difference (artifact minus detail lost: one
// of the two is zero, so this is exact) kept where asked. Each combination is
// a loop of its own, so that each vectorises.
template <bool KeepSsim, bool KeepEdge>
[[gnu::always_inline]] inline void accumulateRow(
    const float* __restrict i1, const float* __restrict i2, const float* __restrict mu1, const float* __restrict mu2,
    const float* __restrict sigma11, const float* __restrict sigma22, const float* __restrict sigma12,
    double* __restrict ssim, double* __restrict ssim4, double* __restrict artifact, double* __restrict artifact4,
    double* __restrict detail, double* __restrict detail4, float* __restrict ssimOut, float* __restrict edgeOut,
    std::size_t count) {
  for (std::size_t x = 0; x < count; ++x) {
    const PixelErrors v = pixelErrors<KeepSsim>(i1[x], i2[x], mu1[x], mu2[x], sigma11[x], sigma22[x], sigma12[x]);
    addErrors(v, x, ssim, ssim4, artifact, artifact4, detail, detail4);
    if constexpr (KeepSsim) ssimOut[x] = static_cast<float>(v.ssim);
    if constexpr (KeepEdge) edgeOut[x] = static_cast<float>(v.artifact - v.detail);
  }
}

#define QUORLIN_ACCUMULATE_KERNEL(name, keepSsim, keepEdge)                                                           \
  QUORLIN_METRIC_KERNEL                                                                                              \
  void name(const float* __restrict i1, const float* __restrict i2, const float* __restrict mu1,                    \
            const float* __restrict mu2, const float* __restrict sigma11, const float* __restrict sigma22,           \
            const float* __restrict sigma12, double* __restrict ssim, double* __restrict ssim4,                     \
            double* __restrict artifact, double* __restrict artifact4, double* __restrict detail,                   \
            double* __restrict detail4, float* __restrict ssimOut, float* __restrict edgeOut, std::size_t count) {  \
    accumulateRow<keepSsim, keepEdge>(i1, i2, mu1, mu2, sigma11, sigma22, sigma12, ssim, ssim4, artifact, artifact4, \
                                      detail, detail4, ssimOut, edgeOut, count);                                    \
  }
QUORLIN_ACCUMULATE_KERNEL(accumulateErrors, false, false)
QUORLIN_ACCUMULATE_KERNEL(accumulateKeepingSsim, true, false)
QUORLIN_ACCUMULATE_KERNEL(accumulateKeepingEdge, false, true)
QUORLIN_ACCUMULATE_KERNEL(accumulateKeepingBoth, true, true)
#undef QUORLIN_ACCUMULATE_KERNEL

// Kept values on their way to the sink's rows, which are read only once the
// band is done (or the whole comparison): stores that bypass the caches leave
// them to the ring and the recursion state, which the threads need again at
// once. Call `streamFence` before another thread reads what was stored.
void streamCopy(const float* __restrict from, float* __restrict to, std::size_t count) {
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i < count && (reinterpret_cast<std::uintptr_t>(to + i) & 15) != 0; ++i) to[i] = from[i];
  for (; i + 4 <= count; i += 4) _mm_stream_ps(to + i, _mm_loadu_ps(from + i));
#endif
  for (; i < count; ++i) to[i] = from[i];
}

void streamFence() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

QUORLIN_METRIC_KERNEL
void multiplyLanes(const float* __restrict a, const float* __restrict b, float* __restrict out, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) out[i] = a[i] * b[i];
}

class ScaleComparison {
 public:
  ScaleComparison(const ScaleImage& original, const ScaleImage& distorted, unsigned threads, ErrorRowSink* sink)
      : images_{&original, &distorted},
        xyb_{PositiveXyb(original.intensityTarget), PositiveXyb(distorted.intensityTarget)},
        width_(original.rows.width()),
        height_(original.rows.height()),
        ringRows_(std::min(kRingRows, height_)),
        columnChunk_(chooseColumnChunk(width_, threads)),
        chunks_((static_cast<std::size_t>(width_) + columnChunk_ - 1) / columnChunk_),
        xybRing_(width_, kImages * kChannels * ringRows_),
        quantityRing_(static_cast<int>(columnChunk_),
                      kChannels * kQuantities * static_cast<int>(chunks_) * ringRows_),
        state_(width_, kChannels * kQuantities * 6),
        sums_(static_cast<std::size_t>(kChannels * kSums) * static_cast<std::size_t>(width_), 0.0),
        laneScratch_(threads),
        columnScratch_(threads),
        sink_(sink) {
    for (int r = 0; r < state_.height(); ++r) std::fill_n(state_.row(r), state_.stride(), 0.0f);
  }

  std::array<ChannelNorms, 3> run(ThreadPool& pool) {
    int nextStep = -kBlurRadius + 1;
    long stepsDone = 0;
    for (int bandBegin = 0; bandBegin < height_; bandBegin += kBandRows) {
      const int bandEnd = std::min(height_, bandBegin + kBandRows);
      const std::size_t blocks = static_cast<std::size_t>((bandEnd - bandBegin + kLanes - 1) / kLanes);
      // The band before's values go to the sink alongside (task 0), before
      // this band's pass refills their buffer.
      const std::size_t handOver = pending_ ? 1 : 0;
      pool.parallelFor(handOver + kImages * blocks, [&](std::size_t task, unsigned worker) {
        if (task < handOver) return handPendingRows();
        task -= handOver;
        const int first = bandBegin + static_cast<int>(task % blocks) * kLanes;
        prepareRows(static_cast<int>(task / blocks), first, std::min(bandEnd, first + kLanes), worker);
      });
      pool.parallelFor(kChannels * blocks, [&](std::size_t task, unsigned worker) {
        blurRowsBlock(static_cast<int>(task / blocks), bandBegin + static_cast<int>(task % blocks) * kLanes, bandEnd,
                      worker);
      });
      lastPreparedRow_ = bandEnd - 1;
      // Vertical step n reads row n+4: every step up to bandEnd-5 has its rows
      // (all remaining steps once the last band is in).
      const int lastStep = bandEnd == height_ ? height_ - 1 : bandEnd - 1 - kBottomOffset;
      // All of the band's steps in one pass, even with a sink: passes over
      // fewer rows reload every chunk's recursion state more often, which
      // costs more than handing the sink values no longer in the cache.
      if (lastStep >= nextStep) {
        if (sink_) {
          const int firstRow = std::max(nextStep, 0);
          bandValues_ = sink_->beginRows(firstRow, lastStep - firstRow + 1);
          pending_ = true;
        }
        pool.parallelFor(kChannels * chunks_, [&](std::size_t task, unsigned worker) {
          blurColumnsChunk(static_cast<int>(task / chunks_), task % chunks_, nextStep, lastStep, stepsDone, worker);
        });
        stepsDone += lastStep - nextStep + 1;
      }
      nextStep = std::max(nextStep, lastStep + 1);
    }
    if (pending_) handPendingRows();
    std::array<ChannelNorms, 3> result;
    for (int c = 0; c < kChannels; ++c) result[static_cast<std::size_t>(c)] = poolSums(c);
    return result;
  }

 private:
  // The rows of the last vertical pass to the sink.
  void handPendingRows() {
    sink_->endRows();
    pending_ = false;
  }

  struct LaneScratch {
    std::vector<float> a, b, product, blurred;
  };

  static std::size_t chooseColumnChunk(int width, unsigned threads) {
    // Narrow enough that a chunk's recursion state stays in the L1 cache and
    // the threads balance, wide enough to vectorise well.
    const std::size_t target = (static_cast<std::size_t>(width) + 2 * threads - 1) / (2 * threads);
    return std::clamp<std::size_t>((target + 15) / 16 * 16, 64, 256);
  }

  float* xybRow(int image, int channel, int row) {
    return xybRing_.row(((image * kChannels + channel) * ringRows_) + row % ringRows_);
  }
  // The part of a blurred row that lies in column chunk `chunk`.
  float* quantitySegment(int channel, int quantity, std::size_t chunk, int row) {
    const std::size_t block = (static_cast<std::size_t>(channel * kQuantities + quantity) * chunks_ + chunk);
    return quantityRing_.row(static_cast<int>(block) * ringRows_ + row % ringRows_);
  }

  // Linear rows [first, end) of one image into its XYB ring, downsampling
  // pairs of them into the next scale on the way.
  void prepareRows(int image, int first, int end, unsigned worker) {
    const ScaleImage& source = *images_[image];
    for (int y = first; y < end; ++y) {
      source.rows.readRow(y, xybRow(image, 0, y), xybRow(image, 1, y), xybRow(image, 2, y), worker);
    }
    if (source.nextScale) {
      // Bands and blocks start at even rows, so each output row has both
      // inputs here (the last row pairs with itself at an odd height).
      for (int y = first; y < end; y += 2) {
        const int bottom = std::min(y + 1, height_ - 1);
        for (int c = 0; c < kChannels; ++c) {
          downsampleRow(xybRow(image, c, y), xybRow(image, c, bottom), source.nextScale->planes[c].row(y / 2), width_);
        }
      }
    }
    for (int y = first; y < end; ++y) {
      xyb_[image].convertRow(xybRow(image, 0, y), xybRow(image, 1, y), xybRow(image, 2, y),
                             static_cast<std::size_t>(width_));
    }
  }

  void blurRowsBlock(int channel, int firstRow, int bandEnd, unsigned worker) {
    LaneScratch& scratch = laneScratch_[worker];
    const std::size_t size = static_cast<std::size_t>(width_) * kLanes;
    if (scratch.a.size() != size) {
      scratch.a.resize(size);
      scratch.b.resize(size);
      scratch.product.resize(size);
      scratch.blurred.resize(size);
    }
    // Lanes past the end of the band repeat its last row and are discarded.
    const int rows = std::min(kLanes, bandEnd - firstRow);
    const float* originalRows[kLanes];
    const float* distortedRows[kLanes];
    for (int l = 0; l < kLanes; ++l) {
      const int row = firstRow + std::min(l, rows - 1);
      originalRows[l] = xybRow(0, channel, row);
      distortedRows[l] = xybRow(1, channel, row);
    }
    rowsToLanes(originalRows, width_, scratch.a.data());
    rowsToLanes(distortedRows, width_, scratch.b.data());
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
      for (std::size_t chunk = 0; chunk < chunks_; ++chunk) {
        const std::size_t x0 = chunk * columnChunk_;
        float* outputRows[kLanes];
        for (int l = 0; l < rows; ++l) outputRows[l] = quantitySegment(channel, q, chunk, firstRow + l);
        lanesToRows(scratch.blurred.data() + x0 * kLanes,
                    static_cast<int>(std::min(columnChunk_, static_cast<std::size_t>(width_) - x0)), outputRows, rows);
      }
    }
  }

  void blurColumnsChunk(int channel, std::size_t chunk, int firstStep, int lastStep, long stepsDone,
                        unsigned worker) {
    const std::size_t x0 = chunk * columnChunk_;
    const std::size_t count = std::min(columnChunk_, static_cast<std::size_t>(width_) - x0);
    std::vector<float>& scratch = columnScratch_[worker];
    // The blurred quantities, then the two kept values of the current row.
    scratch.resize((kQuantities + 2) * columnChunk_);
    float* blurred[kQuantities];
    float* state[kQuantities][6];
    for (int q = 0; q < kQuantities; ++q) {
      blurred[q] = scratch.data() + static_cast<std::size_t>(q) * columnChunk_;
      for (int k = 0; k < 3; ++k) {
        // Each step swaps the two state rows of a term; after an odd number
        // of steps y[n-1] lives in the second one.
        const int stateRow = (channel * kQuantities + q) * 6 + 2 * k;
        float* first = state_.row(stateRow) + x0;
        float* second = state_.row(stateRow + 1) + x0;
        const bool swapped = stepsDone % 2 != 0;
        state[q][2 * k] = swapped ? second : first;
        state[q][2 * k + 1] = swapped ? first : second;
      }
    }
    double* sums[kSums];
    for (int m = 0; m < kSums; ++m) {
      sums[m] = sums_.data() + static_cast<std::size_t>(channel * kSums + m) * width_ + x0;
    }

    for (int n = firstStep; n <= lastStep; ++n) {
      prefetchStep(channel, chunk, count, n + kPrefetchSteps);
      const bool hasTop = n - kTopOffset >= 0;
      const bool hasBottom = n + kBottomOffset < height_;
      for (int q = 0; q < kQuantities; ++q) {
        const float* top = hasTop ? quantitySegment(channel, q, chunk, n - kTopOffset) : nullptr;
        const float* bottom = hasBottom ? quantitySegment(channel, q, chunk, n + kBottomOffset) : nullptr;
        blurColumnsStep(top, bottom, state[q], blurred[q], count);
      }
      if (n < 0) continue;
      float* kept[2] = {nullptr, nullptr};
      if (sink_) keptValueRows(channel, n - std::max(firstStep, 0), x0, kept);
      const auto accumulate = kept[0] ? (kept[1] ? accumulateKeepingBoth : accumulateKeepingSsim)
                                      : (kept[1] ? accumulateKeepingEdge : accumulateErrors);
      float* near[2] = {nullptr, nullptr};
      for (int k = 0; k < 2; ++k) {
        if (kept[k]) near[k] = scratch.data() + (kQuantities + k) * columnChunk_;
      }
      accumulate(xybRow(0, channel, n) + x0, xybRow(1, channel, n) + x0, blurred[kMu1], blurred[kMu2],
                 blurred[kSigma11], blurred[kSigma22], blurred[kSigma12], sums[0], sums[1], sums[2], sums[3], sums[4],
                 sums[5], near[0], near[1], count);
      for (int k = 0; k < 2; ++k) {
        if (kept[k]) streamCopy(near[k], kept[k], count);
      }
    }
    if (sink_) streamFence();
  }

  // Where the two values of a pixel row segment go: the sink's band rows for
  // the columns it takes, none for the others.
  void keptValueRows(int channel, int bandRow, std::size_t x0, float* kept[2]) {
    for (int k = 0; k < 2; ++k) {
      const int column = sink_->column(channel, static_cast<ErrorRowSink::Column>(k));
      kept[k] = column < 0 ? nullptr
                           : bandValues_.first + bandRow * bandValues_.step +
                                 static_cast<std::ptrdiff_t>(static_cast<std::size_t>(column) *
                                                                 static_cast<std::size_t>(width_) +
                                                             x0);
    }
  }

  // The segments a later vertical step reads lie in ten different places of
  // the ring, which the hardware prefetcher does not anticipate.
  static constexpr int kPrefetchSteps = 4;
  void prefetchStep(int channel, std::size_t chunk, std::size_t count, int n) {
    const int rows[2] = {n - kTopOffset, n + kBottomOffset};
    for (int row : rows) {
      if (row < 0 || row >= height_ || row > lastPreparedRow_) continue;
      for (int q = 0; q < kQuantities; ++q) {
        const char* begin = reinterpret_cast<const char*>(quantitySegment(channel, q, chunk, row));
        for (std::size_t offset = 0; offset < count * sizeof(float); offset += 64) __builtin_prefetch(begin + offset);
      }
    }
  }

  ChannelNorms poolSums(int channel) const {
    double totals[kSums] = {};
    for (int m = 0; m < kSums; ++m) {
      const double* column = sums_.data() + static_cast<std::size_t>(channel * kSums + m) * width_;
      for (int x = 0; x < width_; ++x) totals[m] += column[x];
    }
    const double inverse = 1.0 / (static_cast<double>(width_) * static_cast<double>(height_));
    ChannelNorms result;
    for (int map = 0; map < 3; ++map) {
      result.norms[0][static_cast<std::size_t>(map)] = totals[2 * map] * inverse;
      result.norms[1][static_cast<std::size_t>(map)] = std::sqrt(std::sqrt(totals[2 * map + 1] * inverse));
    }
    return result;
  }

  const ScaleImage* images_[kImages];
  PositiveXyb xyb_[kImages];
  int width_;
  int height_;
  int ringRows_;
  std::size_t columnChunk_;  // columns per vertical-pass task
  std::size_t chunks_;
  // Ring buffers of ringRows_ rows: the XYB rows of both images (whole rows),
  // and the horizontally blurred quantities of each channel, stored chunk by
  // chunk so that the vertical pass reads each chunk's rows contiguously.
  Plane xybRing_;
  Plane quantityRing_;
  Plane state_;  // vertical recursion state, 6 rows per channel and quantity
  std::vector<double> sums_;
  int lastPreparedRow_ = -1;
  std::vector<LaneScratch> laneScratch_;
  std::vector<std::vector<float>> columnScratch_;
  ErrorRowSink* sink_;
  ErrorRowSink::Rows bandValues_{};  // where the sink takes the rows of the current band's vertical pass
  bool pending_ = false;         // ... not yet handed over
};

}  // namespace

void PlanarRowSource::readRow(int y, float* red, float* green, float* blue, unsigned) const {
  const std::size_t count = static_cast<std::size_t>(image_.width());
  std::copy_n(image_.planes[0].row(y), count, red);
  std::copy_n(image_.planes[1].row(y), count, green);
  std::copy_n(image_.planes[2].row(y), count, blue);
}

std::array<ChannelNorms, 3> compareScale(const ScaleImage& original, const ScaleImage& distorted,
                                         ThreadPool& pool, ErrorRowSink* sink) {
  ScaleComparison comparison(original, distorted, pool.threadCount(), sink);
  return comparison.run(pool);
}

}  // namespace quorlin::metric
