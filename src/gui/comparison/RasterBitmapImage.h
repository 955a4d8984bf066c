// A RasterBitmap seen as a QImage, without copying its pixels.
//
// The QImage reads the bitmap's bytes in place (Format_RGBA8888_Premultiplied,
// the bitmap's own layout), so the caller must keep the bitmap alive for as
// long as it uses the image, and must not write to the image. Any thread.
#pragma once

#include <QImage>

#include "core/comparison/RasterBitmap.h"

namespace quorlin::gui {

QImage imageOf(const RasterBitmap& bitmap);

}  // namespace quorlin::gui
