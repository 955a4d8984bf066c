#include "gui/comparison/RasterBitmapImage.h"

namespace quorlin::gui {

QImage imageOf(const RasterBitmap& bitmap) {
  // The const-pointer constructor makes a read-only image over the bytes.
  const uchar* bytes = bitmap.bytes.get();
  return QImage(bytes, bitmap.width, bitmap.height, static_cast<qsizetype>(bitmap.stride),
                QImage::Format_RGBA8888_Premultiplied);
}

}  // namespace quorlin::gui
