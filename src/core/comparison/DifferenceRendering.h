// Difference rendering: how far a decoded result is from the source, per pixel.
//
// For pixel (x, y), with both images in linear light with the sRGB primaries
// (LinearLightDecoder; their content headroom plays no part):
//   R, G, B = |source − comparison| per channel × gain, on straight colour;
//   alpha   = source alpha × comparison alpha.
// Values above 1 are kept until tone mapping, which, since the difference has
// no content headroom, keeps 0..1 and clips what lies beyond. The result is
// then 8-bit sRGB, premultiplied, with its mip chain (RasterBitmap, MipChain).
//
// Extent: the result has the source's size. Both images are read at the same
// pixel (x, y) from their top-left corners, as handed over, without scaling.
// Where the comparison has no pixel (it is smaller), it counts as transparent
// black, so the alpha product, and with it the whole pixel, is 0 there; a
// larger comparison is cropped. Comparing the source with itself gives black
// with alpha squared.
//
// Paths: images whose conversion is one curve per channel with the sRGB
// primaries (sRGB, device RGB, linear sRGB) and integer samples are compared
// in integer arithmetic, two 8-bit images through one 256 × 256 table per
// gain (a lookup per channel), other mixes of 8 and 16 bits through 24-bit
// fixed-point linear values. Everything else (float samples, other primaries,
// PQ, HLG, ICC profiles) decodes rows to floats. All paths agree to within one
// level. The gain is taken within 0..255.
//
// Blocks while it works on every hardware thread. Thread-safe.
#pragma once

#include <memory>

#include "core/comparison/RasterBitmap.h"
#include "core/engine/DisplayImage.h"

namespace quorlin {

// Null when either colour space cannot be converted. Throws std::bad_alloc
// when memory runs out.
std::shared_ptr<const RasterizedImage> rasterizeDifference(const DecodedImage& source, const DecodedImage& comparison,
                                                           int gain, double displayHeadroom);

}  // namespace quorlin
