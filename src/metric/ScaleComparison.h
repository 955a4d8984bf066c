// ScaleComparison: the error maps of one scale and their pooled norms.
//
// For each XYB channel the two images are blurred five ways (I1, I2, I1², I2²,
// I1·I2), giving the local means and (co)variances. Per pixel these give an
// SSIM error and an edge ratio, split into "artifact" (the distorted image has
// structure the original lacks) and "detail lost" (the reverse). Each map is
// pooled as a mean and a 4-norm over the whole scale.
//
// The scale streams through the images in bands of rows: each band's linear
// rows are fetched from a LinearRowSource, box-downsampled into the next
// scale's planes, turned into XYB, blurred along rows (blocks of rows in
// parallel), then along columns (blocks of columns in parallel), and the
// finished rows are pooled. Only a band plus the rows the blur window still
// needs is ever held per quantity. Sums are kept per column and added up in
// column order at the end, so the result does not depend on the thread count.
#pragma once

#include <array>
#include <cstddef>

#include "metric/Plane.h"

namespace quorlin::metric {

class ThreadPool;

// Linear-light rows of one image at one scale.
class LinearRowSource {
 public:
  virtual ~LinearRowSource() = default;
  virtual int width() const = 0;
  virtual int height() const = 0;
  // Writes row y into red, green, blue (width() floats each). Called
  // concurrently for different rows, with a distinct `worker` per thread
  // (less than the pool's thread count).
  virtual void readRow(int y, float* red, float* green, float* blue, unsigned worker) const = 0;
};

// Rows of stored planes (the scales after the first).
class PlanarRowSource final : public LinearRowSource {
 public:
  explicit PlanarRowSource(const PlanarImage& image) : image_(image) {}
  int width() const override { return image_.width(); }
  int height() const override { return image_.height(); }
  void readRow(int y, float* red, float* green, float* blue, unsigned worker) const override;

 private:
  const PlanarImage& image_;
};

// norms[n][map]: n = 0 for the mean (1-norm), 1 for the 4-norm; map 0 is the
// SSIM error, 1 the artifact map, 2 the detail-lost map.
struct ChannelNorms {
  std::array<std::array<double, 3>, 2> norms{};
};

struct ScaleImage {
  const LinearRowSource& rows;
  float intensityTarget;   // nits of linear 1.0 (255 for SDR)
  PlanarImage* nextScale;  // receives the 2x2 downsample when not null
};

// Receives the per-pixel values of the error maps, a band of finished rows at
// a time, for the error map of the whole comparison. Per channel it may take
// two columns: the SSIM error, and the signed edge difference whose positive
// part is the artifact map and whose negative part the detail-lost map (one
// value serves both, as at most one of them is nonzero).
class ErrorRowSink {
 public:
  enum Column { kSsim = 0, kEdge = 1 };
  virtual ~ErrorRowSink() = default;
  // Index of column `column` of channel `channel`; -1 for none.
  virtual int column(int channel, Column column) const = 0;
  // Where rows [first, first + count) of the scale are to be written (the
  // rows follow on from those of the call before): the value of column k at
  // (x, first + r) goes to rows.first[r * rows.step + k * width + x].
  struct Rows {
    float* first;
    std::ptrdiff_t step;  // floats from one row to the next; negative when stored last row first
  };
  virtual Rows beginRows(int first, int count) = 0;
  // Those rows are written; called once before the next beginRows, from any
  // thread. A write failure throws std::system_error.
  virtual void endRows() = 0;
};

// Both sources of equal size (at least 1x1); nextScale planes, when given,
// must be ceil(w/2) x ceil(h/2). Returns the norms of the X, Y and B channels.
// A sink, when given, also gets the per-pixel values (the norms are the same).
std::array<ChannelNorms, 3> compareScale(const ScaleImage& original, const ScaleImage& distorted,
                                         ThreadPool& pool, ErrorRowSink* sink = nullptr);

}  // namespace quorlin::metric
