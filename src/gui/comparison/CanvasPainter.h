// CanvasPainter: paints what a FourWayCanvasModel decided, and nothing more.
//
// Bottom to top: the background over its frame (opaque black, or the 32-point
// checkerboard tile repeated from the view's top-left corner), the four
// quadrant layers each clipped to its quadrant, then the full-frame original
// clipped to the view. Each visible layer draws the mip level and source
// rectangle that planMipDraw picks for `devicePixelRatio`, filtered
// bilinearly, so zooming in interpolates smoothly and zooming out never skips
// pixels. Coordinates are view points (y down); the painter's own device
// transform maps them to device pixels. The painter's state is restored on
// return. Main thread (the painter's thread).
#pragma once

#include <QPainter>

#include "core/comparison/FourWayCanvasModel.h"

namespace quorlin::gui {

void paintFourWayCanvas(QPainter& painter, const FourWayCanvasModel& model, double devicePixelRatio);

}  // namespace quorlin::gui
