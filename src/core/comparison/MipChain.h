// MipChain: the pre-scaled copies the canvas draws when it shows a bitmap
// smaller than its pixels, and the choice of which copy to draw and which part.
//
// Each level halves the previous one (sides rounded up; an odd last row or
// column is averaged with itself) with a 2 × 2 box filter on the stored,
// premultiplied 8-bit sRGB values: the same encoding in which QPainter then
// filters the level bilinearly, and cheap enough to build once per bitmap in
// a fraction of the rendering time. (Averaging in linear light would darken
// fine high-contrast detail a little less, at a decode and encode per sample.)
//
// Level choice: the smallest level that still has at least one pixel per
// device pixel, i.e. level k = floor(log2(1 / scale)) for an on-screen scale
// below 1, so bilinear filtering never shrinks a level by more than half and
// never enlarges one picked for minification. Pure and thread-safe.
#pragma once

#include <memory>
#include <vector>

#include "core/comparison/RasterBitmap.h"
#include "core/comparison/ViewGeometry.h"

namespace quorlin {

// The levels after `base`, down to 1 × 1 (empty for a 1 × 1 base). Rows are
// filtered in parallel for large levels.
std::vector<std::shared_ptr<const RasterBitmap>> buildMipLevels(const RasterBitmap& base);

// A RasterizedImage made of `base` and its levels.
RasterizedImage makeRasterizedImage(std::shared_ptr<const RasterBitmap> base, bool isHDR);

// Level index for `deviceScale` device pixels per full-resolution pixel.
int mipLevelForScale(double deviceScale, int levelCount);

struct MipDrawPlan {
  int level = 0;          // index into RasterizedImage::levels
  RectF source;           // whole pixels of that level
  RectF target;           // view points where `source` lands exactly; may reach past the clip
  bool isEmpty = true;    // nothing of the image is visible
};

// What to draw of `image` shown at `imageRect` (view points, y down) inside
// `clip` (a quadrant, or the view), for a screen with `devicePixelRatio`
// device pixels per point. The source is widened to whole level pixels and the
// target follows it, so the painter must keep `clip` as its clip rectangle.
MipDrawPlan planMipDraw(const RasterizedImage& image, RectF imageRect, RectF clip, double devicePixelRatio);

}  // namespace quorlin
