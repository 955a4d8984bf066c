// The checkerboard behind transparent pictures: one 32 × 32 point tile that
// the background repeats. Grey of white level 0.78 everywhere, with the
// squares at the top right and bottom left (16 × 16 points each) in the
// lighter grey of white level 0.9. Levels are sRGB-encoded, opaque.
#pragma once

#include <memory>

#include "core/comparison/RasterBitmap.h"

namespace quorlin {

inline constexpr int checkerboardTilePoints = 32;

// The tile at `pixelsPerPoint` device pixels per point (1 or more; the tile is
// 32 × pixelsPerPoint pixels square). Made once per scale and shared.
std::shared_ptr<const RasterBitmap> checkerboardTile(int pixelsPerPoint = 1);

}  // namespace quorlin
