#include "core/comparison/DifferenceRendering.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>
#include <vector>

#include "core/comparison/LinearEncoding.h"
#include "core/comparison/LinearLightDecoder.h"
#include "core/comparison/MipChain.h"
#include "core/comparison/RowParallel.h"

namespace quorlin {

namespace {

// Transparent black: the pixels the comparison does not cover.
void clearPixels(std::uint8_t* out, int count) {
  if (count > 0) std::memset(out, 0, static_cast<std::size_t>(count) * 4);
}

// The common case, two opaque 8-bit images: three lookups and one packed
// store per pixel. The restrict qualifiers let the compiler keep the table
// pointer and indices in registers across the byte stores.
void differenceOfOpaqueRow(const std::uint8_t* __restrict source, const std::uint8_t* __restrict comparison,
                           std::uint8_t* __restrict out, int pixelCount, const std::uint8_t* __restrict table) {
  for (int x = 0; x < pixelCount; ++x) {
    const std::uint8_t* s = source + 3 * x;
    const std::uint8_t* c = comparison + 3 * x;
    std::uint32_t red = table[(unsigned{s[0]} << 8) | c[0]];
    std::uint32_t green = table[(unsigned{s[1]} << 8) | c[1]];
    std::uint32_t blue = table[(unsigned{s[2]} << 8) | c[2]];
    // Bytes R, G, B, A in memory order, whatever the machine's endianness.
    const std::uint8_t pixel[4] = {static_cast<std::uint8_t>(red), static_cast<std::uint8_t>(green),
                                   static_cast<std::uint8_t>(blue), 255};
    std::memcpy(out + 4 * x, pixel, 4);
  }
}

// Both 8-bit, one curve per channel: table[s * 256 + c] is the encoded,
// amplified, clipped difference of codes s and c.
void differenceByTable(const LinearLightDecoder& source, const LinearLightDecoder& comparison, float gain,
                       RasterBitmap& bitmap) {
  std::span<const float> sourceTable = source.channelTable();
  std::span<const float> comparisonTable = comparison.channelTable();
  const auto& encode = linearToSRGB8Table();
  std::vector<std::uint8_t> table(256 * 256);
  for (std::size_t s = 0; s < 256; ++s) {
    for (std::size_t c = 0; c < 256; ++c) {
      table[s * 256 + c] = encode[linearToSRGB8Index(std::fabs(sourceTable[s] - comparisonTable[c]) * gain)];
    }
  }

  const DecodedImage& sourceImage = source.image();
  const DecodedImage& comparisonImage = comparison.image();
  const int width = sourceImage.width();
  const int sourceChannels = sourceImage.channels();
  const int comparisonChannels = comparisonImage.channels();
  const int overlapWidth = std::min(width, comparisonImage.width());
  const auto* sourceSamples = reinterpret_cast<const std::uint8_t*>(sourceImage.data());
  const auto* comparisonSamples = reinterpret_cast<const std::uint8_t*>(comparisonImage.data());
  const std::size_t sourceRow = static_cast<std::size_t>(width) * static_cast<std::size_t>(sourceChannels);
  const std::size_t comparisonRow =
      static_cast<std::size_t>(comparisonImage.width()) * static_cast<std::size_t>(comparisonChannels);
  const std::uint8_t* lookup = table.data();

  parallelForRows(bitmap.height, [&](int firstRow, int endRow) {
    for (int y = firstRow; y < endRow; ++y) {
      std::uint8_t* out = bitmap.row(y);
      if (y >= comparisonImage.height()) {
        clearPixels(out, width);
        continue;
      }
      const std::uint8_t* s = sourceSamples + static_cast<std::size_t>(y) * sourceRow;
      const std::uint8_t* c = comparisonSamples + static_cast<std::size_t>(y) * comparisonRow;
      if (sourceChannels == 3 && comparisonChannels == 3) {
        differenceOfOpaqueRow(s, c, out, overlapWidth, lookup);
      } else {
        for (int x = 0; x < overlapWidth; ++x) {
          const std::uint8_t* sp = s + static_cast<std::size_t>(x) * static_cast<std::size_t>(sourceChannels);
          const std::uint8_t* cp = c + static_cast<std::size_t>(x) * static_cast<std::size_t>(comparisonChannels);
          unsigned sourceAlpha = sourceChannels == 4 ? sp[3] : 255;
          unsigned comparisonAlpha = comparisonChannels == 4 ? cp[3] : 255;
          unsigned alpha = premultiplyByAlpha(sourceAlpha, comparisonAlpha);
          out[4 * x] = premultiplyByAlpha(lookup[sp[0] * 256 + cp[0]], alpha);
          out[4 * x + 1] = premultiplyByAlpha(lookup[sp[1] * 256 + cp[1]], alpha);
          out[4 * x + 2] = premultiplyByAlpha(lookup[sp[2] * 256 + cp[2]], alpha);
          out[4 * x + 3] = static_cast<std::uint8_t>(alpha);
        }
      }
      clearPixels(out + 4 * overlapWidth, width - overlapWidth);
    }
  });
}

// |source − comparison| × gain per colour channel and the product of the
// alphas, written over the source pixels.
void amplifyDifference(float* __restrict source, const float* __restrict comparison, int pixelCount, float gain) {
  for (int i = 0; i < pixelCount * 4; i += 4) {
    source[i] = std::fabs(source[i] - comparison[i]) * gain;
    source[i + 1] = std::fabs(source[i + 1] - comparison[i + 1]) * gain;
    source[i + 2] = std::fabs(source[i + 2] - comparison[i + 2]) * gain;
    source[i + 3] = source[i + 3] * comparison[i + 3];
  }
}

// Linear light in fixed point with 24 fractional bits, per sample code.
std::vector<std::uint32_t> fixedPointTable(std::span<const float> linear) {
  std::vector<std::uint32_t> table(linear.size());
  for (std::size_t code = 0; code < table.size(); ++code) {
    float value = std::clamp(linear[code], 0.0f, 1.0f);
    table[code] = static_cast<std::uint32_t>(std::lround(static_cast<double>(value) * (1 << 24)));
  }
  return table;
}

// 8-bit alpha of a sample: exact for 8 bits, rounded for 16.
inline unsigned alphaToEightBits(std::uint8_t value) { return value; }
inline unsigned alphaToEightBits(std::uint16_t value) { return (value + 128u) / 257u; }

// One row of two integer images with one curve per channel, all in integer
// arithmetic: the amplified difference |a − b| × gain of the 24-bit linear
// values, shifted to 16 bits, indexes the 65536-step encoding table.
template <typename SourceSample, typename ComparisonSample>
void separableDifferenceRow(const SourceSample* __restrict source, int sourceChannels,
                            const std::uint32_t* __restrict sourceTable, const ComparisonSample* __restrict comparison,
                            int comparisonChannels, const std::uint32_t* __restrict comparisonTable, int count,
                            std::uint32_t gain, const std::uint8_t* __restrict encode, std::uint8_t* __restrict out) {
  auto channel = [&](unsigned a, unsigned b) {
    std::uint32_t first = sourceTable[a], second = comparisonTable[b];
    std::uint32_t index = ((first > second ? first - second : second - first) * gain) >> 8;
    return encode[index < 65535u ? index : 65535u];
  };
  if (sourceChannels == 3 && comparisonChannels == 3) {
    for (int x = 0; x < count; ++x) {
      const SourceSample* s = source + 3 * x;
      const ComparisonSample* c = comparison + 3 * x;
      const std::uint8_t pixel[4] = {channel(s[0], c[0]), channel(s[1], c[1]), channel(s[2], c[2]), 255};
      std::memcpy(out + 4 * x, pixel, 4);
    }
    return;
  }
  for (int x = 0; x < count; ++x) {
    const SourceSample* s = source + x * sourceChannels;
    const ComparisonSample* c = comparison + x * comparisonChannels;
    unsigned sourceAlpha = sourceChannels == 4 ? alphaToEightBits(s[3]) : 255;
    unsigned comparisonAlpha = comparisonChannels == 4 ? alphaToEightBits(c[3]) : 255;
    unsigned alpha = premultiplyByAlpha(sourceAlpha, comparisonAlpha);
    const std::uint8_t pixel[4] = {premultiplyByAlpha(channel(s[0], c[0]), alpha),
                                   premultiplyByAlpha(channel(s[1], c[1]), alpha),
                                   premultiplyByAlpha(channel(s[2], c[2]), alpha), static_cast<std::uint8_t>(alpha)};
    std::memcpy(out + 4 * x, pixel, 4);
  }
}

// Integer images (any mix of 8 and 16 bits) with one curve per channel and the
// sRGB primaries.
template <typename SourceSample, typename ComparisonSample>
void differenceBySeparableTables(const LinearLightDecoder& source, const LinearLightDecoder& comparison, int gain,
                                 RasterBitmap& bitmap) {
  const DecodedImage& sourceImage = source.image();
  const DecodedImage& comparisonImage = comparison.image();
  const int width = bitmap.width;
  const int overlapWidth = std::min(width, comparisonImage.width());
  const int sourceChannels = sourceImage.channels();
  const int comparisonChannels = comparisonImage.channels();
  const std::vector<std::uint32_t> sourceTable = fixedPointTable(source.channelTable());
  const std::vector<std::uint32_t> comparisonTable = fixedPointTable(comparison.channelTable());
  // Differences are below 2^24; a gain up to 255 keeps the product in 32 bits.
  const auto amplification = static_cast<std::uint32_t>(std::clamp(gain, 0, 255));
  const std::uint8_t* encode = linearToSRGB8FixedTable().data();
  const auto* sourceSamples = reinterpret_cast<const SourceSample*>(sourceImage.data());
  const auto* comparisonSamples = reinterpret_cast<const ComparisonSample*>(comparisonImage.data());

  parallelForRows(bitmap.height, [&](int firstRow, int endRow) {
    for (int y = firstRow; y < endRow; ++y) {
      std::uint8_t* out = bitmap.row(y);
      if (y >= comparisonImage.height()) {
        clearPixels(out, width);
        continue;
      }
      separableDifferenceRow(
          sourceSamples + static_cast<std::size_t>(y) * static_cast<std::size_t>(width * sourceChannels),
          sourceChannels, sourceTable.data(),
          comparisonSamples +
              static_cast<std::size_t>(y) * static_cast<std::size_t>(comparisonImage.width() * comparisonChannels),
          comparisonChannels, comparisonTable.data(), overlapWidth, amplification, encode, out);
      clearPixels(out + 4 * overlapWidth, width - overlapWidth);
    }
  });
}

void differenceByRows(const LinearLightDecoder& source, const LinearLightDecoder& comparison, float gain,
                      RasterBitmap& bitmap) {
  // Pixels per step: both float buffers stay in the first-level cache.
  constexpr int chunkPixels = 256;
  const int width = bitmap.width;
  const DecodedImage& comparisonImage = comparison.image();
  const int overlapWidth = std::min(width, comparisonImage.width());
  parallelForRows(bitmap.height, [&](int firstRow, int endRow) {
    std::vector<float> sourceLinear(chunkPixels * 4);
    std::vector<float> comparisonLinear(chunkPixels * 4);
    for (int y = firstRow; y < endRow; ++y) {
      std::uint8_t* out = bitmap.row(y);
      if (y >= comparisonImage.height()) {
        clearPixels(out, width);
        continue;
      }
      for (int first = 0; first < overlapWidth; first += chunkPixels) {
        int count = std::min(chunkPixels, overlapWidth - first);
        source.decodeRow(y, first, count, sourceLinear.data());
        comparison.decodeRow(y, first, count, comparisonLinear.data());
        amplifyDifference(sourceLinear.data(), comparisonLinear.data(), count, gain);
        encodeLinearPixels(sourceLinear.data(), count, out + 4 * first);
      }
      clearPixels(out + 4 * overlapWidth, width - overlapWidth);
    }
  });
}

}  // namespace

std::shared_ptr<const RasterizedImage> rasterizeDifference(const DecodedImage& source, const DecodedImage& comparison,
                                                           int gain, [[maybe_unused]] double displayHeadroom) {
  auto sourceDecoder = LinearLightDecoder::create(source);
  auto comparisonDecoder = LinearLightDecoder::create(comparison);
  if (!sourceDecoder || !comparisonDecoder) return nullptr;
  // No content headroom (1.0) against a display headroom of at least 1.0: the
  // tone mapping is the identity that keeps 0..1 and clips above, which the
  // encoding table's index does on its own.

  auto bitmap = RasterBitmap::allocate(source.width(), source.height());
  float amplification = static_cast<float>(gain);
  bool isTableCase = source.format() == SampleFormat::uint8 && comparison.format() == SampleFormat::uint8 &&
                     !sourceDecoder->channelTable().empty() && !comparisonDecoder->channelTable().empty();
  bool isSeparable = !sourceDecoder->channelTable().empty() && !comparisonDecoder->channelTable().empty();
  bool isSourceWide = source.format() == SampleFormat::uint16;
  bool isComparisonWide = comparison.format() == SampleFormat::uint16;
  if (isTableCase) {
    differenceByTable(*sourceDecoder, *comparisonDecoder, amplification, *bitmap);
  } else if (isSeparable && isSourceWide && isComparisonWide) {
    differenceBySeparableTables<std::uint16_t, std::uint16_t>(*sourceDecoder, *comparisonDecoder, gain, *bitmap);
  } else if (isSeparable && isSourceWide) {
    differenceBySeparableTables<std::uint16_t, std::uint8_t>(*sourceDecoder, *comparisonDecoder, gain, *bitmap);
  } else if (isSeparable && isComparisonWide) {
    differenceBySeparableTables<std::uint8_t, std::uint16_t>(*sourceDecoder, *comparisonDecoder, gain, *bitmap);
  } else {
    differenceByRows(*sourceDecoder, *comparisonDecoder, amplification, *bitmap);
  }
  return std::make_shared<const RasterizedImage>(makeRasterizedImage(std::move(bitmap), false));
}

}  // namespace quorlin
