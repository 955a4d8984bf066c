// CanvasPainter: paints what a FourWayCanvasModel decided, and nothing more.
//
// Bottom to top: the background over its frame (opaque black, or the 32-point
// checkerboard tile repeated from the view's top-left corner), the four
// quadrant layers each clipped to its quadrant, then the full-frame original
// clipped to the view. Each visible layer draws the mip level and source
// rectangle that planMipDraw picks for `devicePixelRatio`, filtered
// bilinearly, so zooming out never skips pixels; magnified to 200 % or more,
// each source pixel is drawn as a square (nearest neighbour) unless
// `smoothMagnification` asks for interpolation, so block edges and ringing
// stay visible as they are. Coordinates are view points (y down); the painter's own device
// transform maps them to device pixels. The painter's state is restored on
// return. Main thread (the painter's thread).
#pragma once

#include <QPainter>

#include "core/comparison/FourWayCanvasModel.h"

namespace quorlin::gui {

// Points per source pixel from which pixels are drawn as squares.
inline constexpr double squarePixelScale = 2.0;

void paintFourWayCanvas(QPainter& painter, const FourWayCanvasModel& model, double devicePixelRatio,
                        bool smoothMagnification = false);

}  // namespace quorlin::gui
