#include "core/comparison/LinearEncoding.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/comparison/RasterBitmap.h"
#include "core/comparison/TransferFunctions.h"

namespace quorlin {

namespace {

constexpr int chunkPixels = 256;

// Two separate selects, so that the compiler turns them into vector masks;
// NaN fails the first test and becomes 0.
inline float unitClamp(float value) {
  value = value > 0.0f ? value : 0.0f;
  return value < 1.0f ? value : 1.0f;
}

// Per pixel: three colour table indices (as linearToSRGB8Index) and the
// 8-bit alpha, 4 integers.
void quantizeChunk(const float* __restrict rgba, int count, std::int32_t* __restrict quantized) {
  constexpr float steps = float(linearToSRGB8TableSize - 1);
  for (int i = 0; i < count * 4; i += 4) {
    quantized[i] = static_cast<std::int32_t>(std::sqrt(unitClamp(rgba[i])) * steps + 0.5f);
    quantized[i + 1] = static_cast<std::int32_t>(std::sqrt(unitClamp(rgba[i + 1])) * steps + 0.5f);
    quantized[i + 2] = static_cast<std::int32_t>(std::sqrt(unitClamp(rgba[i + 2])) * steps + 0.5f);
    quantized[i + 3] = static_cast<std::int32_t>(unitClamp(rgba[i + 3]) * 255.0f + 0.5f);
  }
}

bool isOpaqueChunk(const std::int32_t* __restrict quantized, int count) {
  std::int32_t all = 255;
  for (int i = 0; i < count * 4; i += 4) all &= quantized[i + 3];
  return all == 255;
}

// Opaque pixels need no premultiplication.
void lookUpOpaqueChunk(const std::int32_t* __restrict quantized, int count, const std::uint8_t* __restrict table,
                       std::uint8_t* __restrict out) {
  for (int i = 0; i < count * 4; i += 4) {
    const std::uint8_t pixel[4] = {table[quantized[i]], table[quantized[i + 1]], table[quantized[i + 2]], 255};
    std::memcpy(out + i, pixel, 4);
  }
}

void lookUpChunk(const std::int32_t* __restrict quantized, int count, const std::uint8_t* __restrict table,
                 std::uint8_t* __restrict out) {
  for (int i = 0; i < count * 4; i += 4) {
    unsigned alpha = static_cast<unsigned>(quantized[i + 3]);
    const std::uint8_t pixel[4] = {premultiplyByAlpha(table[quantized[i]], alpha),
                                   premultiplyByAlpha(table[quantized[i + 1]], alpha),
                                   premultiplyByAlpha(table[quantized[i + 2]], alpha),
                                   static_cast<std::uint8_t>(alpha)};
    std::memcpy(out + i, pixel, 4);
  }
}

}  // namespace

void encodeLinearPixels(const float* rgba, int pixelCount, std::uint8_t* out) {
  const std::uint8_t* table = linearToSRGB8Table().data();
  std::int32_t quantized[chunkPixels * 4];
  for (int first = 0; first < pixelCount; first += chunkPixels) {
    int count = std::min(chunkPixels, pixelCount - first);
    quantizeChunk(rgba + 4 * static_cast<std::ptrdiff_t>(first), count, quantized);
    std::uint8_t* chunkOut = out + 4 * static_cast<std::ptrdiff_t>(first);
    if (isOpaqueChunk(quantized, count)) {
      lookUpOpaqueChunk(quantized, count, table, chunkOut);
    } else {
      lookUpChunk(quantized, count, table, chunkOut);
    }
  }
}

}  // namespace quorlin
