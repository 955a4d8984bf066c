#include "core/comparison/RasterBitmap.h"

#include <new>

namespace quorlin {

std::shared_ptr<RasterBitmap> RasterBitmap::allocate(int width, int height) {
  auto bitmap = std::make_shared<RasterBitmap>();
  if (width <= 0 || height <= 0) throw std::bad_alloc();
  bitmap->width = width;
  bitmap->height = height;
  bitmap->stride = static_cast<std::size_t>(width) * 4;
  bitmap->bytes = std::make_unique_for_overwrite<std::uint8_t[]>(bitmap->stride * static_cast<std::size_t>(height));
  return bitmap;
}

std::size_t RasterizedImage::byteCount() const {
  std::size_t total = 0;
  for (const auto& level : levels) total += level ? level->byteCount() : 0;
  return total;
}

}  // namespace quorlin
