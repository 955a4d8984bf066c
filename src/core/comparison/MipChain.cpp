#include "core/comparison/MipChain.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/comparison/RowParallel.h"

namespace quorlin {

namespace {

// Per-byte (a + b + c + d + 2) >> 2 of four packed pixels: even and odd bytes
// are summed in separate 16-bit lanes so no sum can carry into its neighbour.
inline std::uint32_t averageOfFour(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t d) {
  constexpr std::uint32_t lanes = 0x00FF00FF;
  std::uint32_t even = (a & lanes) + (b & lanes) + (c & lanes) + (d & lanes) + 0x00020002;
  std::uint32_t odd = ((a >> 8) & lanes) + ((b >> 8) & lanes) + ((c >> 8) & lanes) + ((d >> 8) & lanes) + 0x00020002;
  return ((even >> 2) & lanes) | (((odd >> 2) & lanes) << 8);
}

std::shared_ptr<RasterBitmap> halve(const RasterBitmap& from) {
  const int width = (from.width + 1) / 2;
  const int height = (from.height + 1) / 2;
  auto to = RasterBitmap::allocate(width, height);
  const int pairedColumns = from.width / 2;  // output columns with two source columns
  parallelForRows(
      height,
      [&](int firstRow, int endRow) {
        for (int y = firstRow; y < endRow; ++y) {
          const std::uint8_t* top = from.row(2 * y);
          const std::uint8_t* bottom = from.row(std::min(2 * y + 1, from.height - 1));
          std::uint8_t* out = to->row(y);
          for (int x = 0; x < pairedColumns; ++x) {
            std::uint32_t a, b, c, d;
            std::memcpy(&a, top + 8 * x, 4);
            std::memcpy(&b, top + 8 * x + 4, 4);
            std::memcpy(&c, bottom + 8 * x, 4);
            std::memcpy(&d, bottom + 8 * x + 4, 4);
            std::uint32_t average = averageOfFour(a, b, c, d);
            std::memcpy(out + 4 * x, &average, 4);
          }
          if (pairedColumns < width) {
            int column = (from.width - 1) * 4;
            for (int k = 0; k < 4; ++k) {
              out[pairedColumns * 4 + k] =
                  static_cast<std::uint8_t>((2 * top[column + k] + 2 * bottom[column + k] + 2) >> 2);
            }
          }
        }
      },
      64);
  return to;
}

}  // namespace

std::vector<std::shared_ptr<const RasterBitmap>> buildMipLevels(const RasterBitmap& base) {
  std::vector<std::shared_ptr<const RasterBitmap>> levels;
  const RasterBitmap* current = &base;
  while (current->width > 1 || current->height > 1) {
    auto next = halve(*current);
    current = next.get();
    levels.push_back(std::move(next));
  }
  return levels;
}

RasterizedImage makeRasterizedImage(std::shared_ptr<const RasterBitmap> base, bool isHDR) {
  RasterizedImage image;
  image.isHDR = isHDR;
  auto below = buildMipLevels(*base);
  image.levels.reserve(below.size() + 1);
  image.levels.push_back(std::move(base));
  for (auto& level : below) image.levels.push_back(std::move(level));
  return image;
}

int mipLevelForScale(double deviceScale, int levelCount) {
  if (levelCount <= 1 || !(deviceScale > 0) || deviceScale >= 1.0) return 0;
  // A small allowance keeps exact powers of two (0.5, 0.25) on their own level.
  int level = static_cast<int>(std::floor(std::log2(1.0 / deviceScale) + 1e-9));
  return std::clamp(level, 0, levelCount - 1);
}

MipDrawPlan planMipDraw(const RasterizedImage& image, RectF imageRect, RectF clip, double devicePixelRatio) {
  MipDrawPlan plan;
  if (image.levels.empty() || !image.levels.front() || imageRect.isEmpty()) return plan;
  RectF visible = imageRect.intersected(clip);
  if (visible.isEmpty()) return plan;

  const RasterBitmap& base = *image.levels.front();
  double ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
  double deviceScale = std::min(imageRect.width / base.width, imageRect.height / base.height) * ratio;
  plan.level = mipLevelForScale(deviceScale, static_cast<int>(image.levels.size()));
  const RasterBitmap& level = *image.levels[static_cast<std::size_t>(plan.level)];

  // Level pixels per view point; the level spans the whole image rectangle.
  double perPointX = level.width / imageRect.width;
  double perPointY = level.height / imageRect.height;
  double left = std::clamp(std::floor((visible.minX() - imageRect.minX()) * perPointX), 0.0, double(level.width));
  double top = std::clamp(std::floor((visible.minY() - imageRect.minY()) * perPointY), 0.0, double(level.height));
  double right = std::clamp(std::ceil((visible.maxX() - imageRect.minX()) * perPointX), 0.0, double(level.width));
  double bottom = std::clamp(std::ceil((visible.maxY() - imageRect.minY()) * perPointY), 0.0, double(level.height));
  if (right <= left || bottom <= top) return plan;

  plan.source = {left, top, right - left, bottom - top};
  plan.target = {imageRect.minX() + left / perPointX, imageRect.minY() + top / perPointY, (right - left) / perPointX,
                 (bottom - top) / perPointY};
  plan.isEmpty = false;
  return plan;
}

}  // namespace quorlin
