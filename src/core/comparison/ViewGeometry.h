// Plain points, sizes and rectangles in view points, y pointing down (as Qt
// draws). Value types with no invariants: a rectangle may have zero or negative
// size, and every helper below says how it treats that.
#pragma once

#include <algorithm>

namespace quorlin {

struct PointF {
  double x = 0;
  double y = 0;
  friend bool operator==(const PointF&, const PointF&) = default;
};

struct SizeF {
  double width = 0;
  double height = 0;
  friend bool operator==(const SizeF&, const SizeF&) = default;
  // Both dimensions strictly positive.
  bool isPositive() const { return width > 0 && height > 0; }
};

struct RectF {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
  friend bool operator==(const RectF&, const RectF&) = default;

  double minX() const { return x; }
  double minY() const { return y; }
  double maxX() const { return x + width; }
  double maxY() const { return y + height; }
  double midX() const { return x + width / 2; }
  double midY() const { return y + height / 2; }
  SizeF size() const { return {width, height}; }
  // Zero or negative width or height (NaN counts as empty).
  bool isEmpty() const { return !(width > 0 && height > 0); }

  // Shrinks every side by `amount`; the result may be empty.
  RectF insetBy(double amount) const { return {x + amount, y + amount, width - 2 * amount, height - 2 * amount}; }

  // The common part; empty (possibly with negative size) when they do not overlap.
  RectF intersected(const RectF& other) const {
    double left = std::max(minX(), other.minX());
    double top = std::max(minY(), other.minY());
    double right = std::min(maxX(), other.maxX());
    double bottom = std::min(maxY(), other.maxY());
    return {left, top, right - left, bottom - top};
  }
};

}  // namespace quorlin
