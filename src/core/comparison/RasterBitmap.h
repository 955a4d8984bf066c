// RasterBitmap: a rendered 8-bit bitmap ready for the screen, and
// RasterizedImage: one rendering with its mip chain.
//
// Pixel layout: 4 bytes per pixel in memory order R, G, B, A, colour values in
// sRGB encoding, premultiplied by alpha (Qt's Format_RGBA8888_Premultiplied;
// QPainter composites premultiplied pixels without a conversion pass). Rows
// are top to bottom, `stride` bytes apart.
//
// Bitmaps are immutable once published through shared_ptr<const ...>; the GUI
// may wrap `bytes` in a QImage without copying as long as it keeps a reference
// to the bitmap. Thread-safe to read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorlin {

// Hands bitmap memory back: large blocks go to the bitmap memory pool (see
// RasterBitmap::allocate), small ones are freed.
struct BitmapMemoryDeleter {
  std::size_t size = 0;
  void operator()(std::uint8_t* bytes) const;
};

struct RasterBitmap {
  int width = 0;
  int height = 0;
  std::size_t stride = 0;                                       // bytes per row, at least 4 × width
  std::unique_ptr<std::uint8_t[], BitmapMemoryDeleter> bytes;   // stride × height bytes

  // A bitmap of the given size with uninitialised contents (rendering writes
  // every byte, so zeroing would only cost time). Throws std::bad_alloc.
  //
  // Memory for large bitmaps is recycled: fresh memory costs a page fault and
  // a kernel-zeroed page per 4 KB on first touch, which for a 24-megapixel
  // bitmap can take longer than rendering it. So blocks of 1 MB and more come
  // from huge pages where the system offers them, and when a bitmap dies its
  // block waits in a process-wide pool (at most bitmapPoolRetainedBytes, the
  // oldest freed first) for the next bitmap of exactly the same size, as the
  // next gain or headroom of the same picture will want. Thread-safe.
  static std::shared_ptr<RasterBitmap> allocate(int width, int height);

  std::uint8_t* row(int y) { return bytes.get() + static_cast<std::size_t>(y) * stride; }
  const std::uint8_t* row(int y) const { return bytes.get() + static_cast<std::size_t>(y) * stride; }
  std::size_t byteCount() const { return stride * static_cast<std::size_t>(height); }
};

// Idle memory the bitmap pool may keep: four 24-megapixel bitmaps with their
// mip chains, what one change of the difference gain frees and then needs.
inline constexpr std::size_t bitmapPoolRetainedBytes = std::size_t{640} << 20;

// Frees every block the pool holds (for example when a tab closes).
void releaseIdleBitmapMemory();
// Bytes the pool holds right now.
std::size_t idleBitmapMemory();

struct RasterizedImage {
  // levels[0] is the full-resolution bitmap; each next level halves both sides
  // (rounding up) down to 1 × 1. See MipChain.h.
  std::vector<std::shared_ptr<const RasterBitmap>> levels;
  // The content exceeded standard range (its content headroom was above 1).
  bool isHDR = false;

  const std::shared_ptr<const RasterBitmap>& bitmap() const { return levels.front(); }
  // Bytes held by all levels.
  std::size_t byteCount() const;
};

// c × a / 255 rounded to the nearest integer, exactly, for 8-bit c and a.
inline std::uint8_t premultiplyByAlpha(unsigned value, unsigned alpha) {
  unsigned product = value * alpha + 128;
  return static_cast<std::uint8_t>((product + (product >> 8)) >> 8);
}

}  // namespace quorlin
