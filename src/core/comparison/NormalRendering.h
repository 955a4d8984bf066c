// Normal rendering: a decoded image made ready for the screen.
//
// The image is brought to linear light (LinearLightDecoder), tone-mapped from
// its content headroom to the bitmap's range (ToneMapper), encoded as 8-bit
// sRGB, premultiplied (RasterBitmap) and given its mip chain. An 8-bit sRGB
// image that needs no tone mapping is copied straight (RGB expanded to RGBA);
// other integer images with one curve per channel go through one lookup per
// sample.
//
// Headrooms: the content headroom C is the image's own (absent or invalid: the
// transfer function's implied headroom, 10000/203 for PQ and 1000/203 for
// HLG, else 1.0). The display headroom D (at least 1.0) names the screen; the
// 8-bit sRGB bitmap holds standard range only, so the tone-mapping target is
// min(D, 1.0). A screen with headroom above 1 needs a wider bitmap format,
// which is where D would come into play.
//
// Blocks while it works on every hardware thread. Thread-safe.
#pragma once

#include <memory>
#include <optional>

#include "core/comparison/RasterBitmap.h"
#include "core/engine/DisplayImage.h"

namespace quorlin {

// The most an 8-bit sRGB bitmap can hold, in units of reference white.
inline constexpr double standardRangeBitmapHeadroom = 1.0;

// The headroom the tone mapping assumes for `image`.
double effectiveContentHeadroom(const DecodedImage& image, std::optional<double> contentHeadroom);

// Null when the image's colour space cannot be converted. Throws
// std::bad_alloc when memory runs out.
std::shared_ptr<const RasterizedImage> rasterizeImage(const DecodedImage& image, std::optional<double> contentHeadroom,
                                                      double displayHeadroom);

}  // namespace quorlin
