// Error map rendering: where a result lost its score, drawn over the result.
//
// Each pixel is the result's luminance (linear light, sRGB primaries, encoded
// back to 8-bit sRGB and multiplied by its alpha) dimmed to
// errorMapBackdropLevel, blended with the inferno colour of the map's share
// at that pixel (its position on the shared logarithmic scale, see
// ErrorMapImage) at an opacity equal to that position: a pixel the metric forgives
// shows the dimmed photograph, a costly one glows. The result is opaque.
//
// Extent: the result's size; the map is read at the same pixel from the
// top-left corner, and where it has no pixel (or there is no map at all) only
// the backdrop shows.
//
// Speed: positions come from a table over the map's 16-bit codes and the
// pixel from a table over (position, grey), so a pixel costs a handful of
// lookups; 8- and 16-bit images with one curve per channel get their
// luminance in integer arithmetic, everything else decodes rows to floats.
// Blocks while it works on every hardware thread. Thread-safe.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/comparison/ErrorMapImage.h"
#include "core/comparison/RasterBitmap.h"
#include "core/engine/DisplayImage.h"

namespace quorlin {

inline constexpr double errorMapBackdropLevel = 0.45;

// The colour of one pixel: 8-bit grey backdrop `grey` (before dimming) under
// a share at `position` (0..1), as opaque 8-bit sRGB.
std::array<std::uint8_t, 3> errorMapPixel(double position, int grey);

// Null when the result's colour space cannot be converted. `map` may be null.
// Throws std::bad_alloc when memory runs out.
std::shared_ptr<const RasterizedImage> rasterizeErrorMap(const DecodedImage& result, const ErrorMapPlane* map,
                                                         double scale);

// The legend of a scale: one tick per decade from scale/10^3 to the scale,
// left to right, each with its position (0..1) and its value as text.
struct ErrorMapLegendTick {
  double position = 0;
  std::string text;
};
std::vector<ErrorMapLegendTick> errorMapLegendTicks(double scale);

// A share as the legend and the pointer readout show it: three significant
// digits ("0.000123", "1.23e-07"; "0" for zero).
std::string formatErrorShare(double share);

}  // namespace quorlin
