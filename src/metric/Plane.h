// Plane: one channel of float samples, rows padded to a multiple of 16 floats
// and 64-byte aligned so that row loops vectorise without peeling. A Plane owns
// its memory, is move-only, and is not initialised on construction (every
// user writes all of it). PlanarImage groups three planes of equal size.
#pragma once

#include <array>
#include <cstddef>
#include <memory>

#include "metric/AlignedMemory.h"

namespace quorlin::metric {

class Plane {
 public:
  static constexpr std::size_t kAlignFloats = 16;

  Plane() = default;
  Plane(int width, int height)
      : width_(width),
        height_(height),
        stride_((static_cast<std::size_t>(width) + kAlignFloats - 1) / kAlignFloats * kAlignFloats),
        data_(allocate(stride_ * static_cast<std::size_t>(height))) {}

  int width() const { return width_; }
  int height() const { return height_; }
  // Distance between rows, in floats.
  std::size_t stride() const { return stride_; }
  float* row(int y) { return data_.get() + stride_ * static_cast<std::size_t>(y); }
  const float* row(int y) const { return data_.get() + stride_ * static_cast<std::size_t>(y); }
  bool empty() const { return !data_; }

 private:
  struct Deleter {
    void operator()(float* p) const { releaseLarge(p); }
  };
  static std::unique_ptr<float[], Deleter> allocate(std::size_t count) {
    return std::unique_ptr<float[], Deleter>(static_cast<float*>(allocateLarge(count * sizeof(float))));
  }

  int width_ = 0;
  int height_ = 0;
  std::size_t stride_ = 0;
  std::unique_ptr<float[], Deleter> data_;
};

// Three planes of one size: linear R, G, B before the XYB step, X, Y, B after.
struct PlanarImage {
  PlanarImage() = default;
  PlanarImage(int width, int height) : planes{Plane(width, height), Plane(width, height), Plane(width, height)} {}
  int width() const { return planes[0].width(); }
  int height() const { return planes[0].height(); }
  std::array<Plane, 3> planes;
};

}  // namespace quorlin::metric
