#include "core/comparison/CheckerboardTile.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <mutex>

namespace quorlin {

namespace {

std::shared_ptr<const RasterBitmap> drawTile(int scale) {
  const int side = checkerboardTilePoints * scale;
  const int half = side / 2;
  const auto darker = static_cast<std::uint8_t>(std::lround(0.78 * 255));
  const auto lighter = static_cast<std::uint8_t>(std::lround(0.9 * 255));
  auto tile = RasterBitmap::allocate(side, side);
  for (int y = 0; y < side; ++y) {
    std::uint8_t* row = tile->row(y);
    for (int x = 0; x < side; ++x) {
      // Lighter where exactly one of "right half" and "top half" holds.
      bool isLighter = (x >= half) == (y < half);
      std::uint8_t level = isLighter ? lighter : darker;
      row[4 * x] = row[4 * x + 1] = row[4 * x + 2] = level;
      row[4 * x + 3] = 255;
    }
  }
  return tile;
}

}  // namespace

std::shared_ptr<const RasterBitmap> checkerboardTile(int pixelsPerPoint) {
  static std::mutex mutex;
  static std::map<int, std::shared_ptr<const RasterBitmap>> tiles;
  int scale = std::max(1, pixelsPerPoint);
  std::lock_guard lock(mutex);
  auto& tile = tiles[scale];
  if (!tile) tile = drawTile(scale);
  return tile;
}

}  // namespace quorlin
