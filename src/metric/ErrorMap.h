// ErrorMapRecorder: where in the picture the score was lost. It collects the
// per-pixel values of every error map that carries weight while the scales
// are compared, and afterwards, when every norm is known, writes each
// full-resolution pixel's additive share of the weighted error sum in three
// layers: structure (the SSIM terms), artifacts (ringing and blocking) and
// blur (detail lost). For a mean over a scale of N pixels a pixel's share is
// w*v/N; for a 4-norm it is w*|v|_4*v^4/sum(v^4) = w*v^4/(N*|v|_4^3); a pixel
// of a coarser scale spreads its share evenly over the full-resolution pixels
// it covers. The layers summed over all pixels give the weighted sum.
//
// The finest scale's values go to an anonymous scratch file, not to memory:
// 4 floats a pixel, more than the comparison itself holds. The map is then
// written over them as they are read, and the scratch file becomes the map
// file. The coarser scales' values (a third of them all) are kept in memory when
// asked: they are made after the finest scale is done, when the memory its
// comparison held is free again; otherwise they go to the scratch file too.
#pragma once

#include <array>
#include <filesystem>
#include <vector>

#include "metric/Plane.h"
#include "metric/ScaleComparison.h"

namespace quorlin::metric {

class ThreadPool;

// The number of scales a comparison of images of this size computes.
int scaleCount(int width, int height);

class ErrorMapRecorder {
 public:
  // Throws std::system_error when no scratch file can be made in `scratchDirectory`.
  // With `coarseInMemory`, the coarser scales' values are kept in memory.
  ErrorMapRecorder(int width, int height, const std::filesystem::path& scratchDirectory, bool coarseInMemory);
  ~ErrorMapRecorder();
  ErrorMapRecorder(const ErrorMapRecorder&) = delete;
  ErrorMapRecorder& operator=(const ErrorMapRecorder&) = delete;

  int scales() const { return static_cast<int>(scales_.size()); }
  // The sink for scale `scale` (its rows are written on the calling thread;
  // a write failure throws std::system_error).
  ErrorRowSink& sink(int scale) { return scales_[static_cast<std::size_t>(scale)]; }

  // Writes the map of the comparison whose norms are `perScale` as a
  // little-endian three-channel PFM (R structure, G artifacts, B blur).
  // Throws std::system_error on failure. Consumes the recorded values: call
  // once. The rows are worked out on the pool's threads.
  void write(const std::filesystem::path& file, const std::vector<std::array<ChannelNorms, 3>>& perScale,
             ThreadPool& pool);

 private:
  struct Scale final : ErrorRowSink {
    int column(int channel, Column kind) const override {
      return columns[static_cast<std::size_t>(channel)][static_cast<std::size_t>(kind)];
    }
    Rows beginRows(int first, int rows) override;
    void endRows() override;
    std::size_t rowFloats() const { return static_cast<std::size_t>(count) * static_cast<std::size_t>(width); }
    long long rowBytes() const { return static_cast<long long>(rowFloats() * sizeof(float)); }
    long long end() const { return offset + rowBytes() * height; }  // in the scratch file

    int width = 0, height = 0;
    int count = 0;  // columns stored per pixel
    std::array<std::array<int, 2>, 3> columns{};
    // The maps with a weight, in channel and map order, and the column each is read from.
    int slots = 0;
    std::array<int, 9> slotChannel{}, slotMap{}, slotColumn{};
    // In the scratch file (or in `memory`), where the rows are stored last
    // one first, as the map has them.
    long long offset = 0;
    bool inMemory = false;
    Plane memory;  // a row of the plane holds a row's columns
    ErrorMapRecorder* recorder = nullptr;  // its file, and its buffer for rows on their way there
    int bufferFirst = 0, bufferRows = 0;
  };

  // The scratch file's size: the scales not kept in memory, which come first.
  long long fileBytes() const;

  int width_;
  int height_;
  bool anonymous_ = false;  // the scratch file has no name (so it can take the map's)
  int file_ = -1;
  std::vector<float> rows_;  // the scales' rows on their way to the file, later the output's
  std::vector<Scale> scales_;
};

}  // namespace quorlin::metric
