#include "core/comparison/DifferenceRendering.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/comparison/LinearLightDecoder.h"
#include "core/comparison/MipChain.h"
#include "core/comparison/RowParallel.h"

namespace quorlin {

namespace {

// Transparent black: the pixels the comparison does not cover.
void clearPixels(std::uint8_t* out, int count) {
  if (count > 0) std::memset(out, 0, static_cast<std::size_t>(count) * 4);
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
        for (int x = 0; x < overlapWidth; ++x) {
          out[4 * x] = lookup[s[3 * x] * 256 + c[3 * x]];
          out[4 * x + 1] = lookup[s[3 * x + 1] * 256 + c[3 * x + 1]];
          out[4 * x + 2] = lookup[s[3 * x + 2] * 256 + c[3 * x + 2]];
          out[4 * x + 3] = 255;
        }
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

void differenceByRows(const LinearLightDecoder& source, const LinearLightDecoder& comparison, float gain,
                      RasterBitmap& bitmap) {
  const auto& encode = linearToSRGB8Table();
  const int width = bitmap.width;
  const DecodedImage& comparisonImage = comparison.image();
  const int overlapWidth = std::min(width, comparisonImage.width());
  parallelForRows(bitmap.height, [&](int firstRow, int endRow) {
    std::vector<float> sourceLinear(static_cast<std::size_t>(width) * 4);
    std::vector<float> comparisonLinear(static_cast<std::size_t>(overlapWidth) * 4);
    for (int y = firstRow; y < endRow; ++y) {
      std::uint8_t* out = bitmap.row(y);
      if (y >= comparisonImage.height()) {
        clearPixels(out, width);
        continue;
      }
      source.decodeRow(y, overlapWidth, sourceLinear.data());
      comparison.decodeRow(y, overlapWidth, comparisonLinear.data());
      const float* s = sourceLinear.data();
      const float* c = comparisonLinear.data();
      for (int x = 0; x < overlapWidth; ++x) {
        std::size_t i = static_cast<std::size_t>(x) * 4;
        float coverage = s[i + 3] * c[i + 3];
        coverage = coverage > 0.0f ? (coverage < 1.0f ? coverage : 1.0f) : 0.0f;
        unsigned alpha = static_cast<unsigned>(coverage * 255.0f + 0.5f);
        out[i] = premultiplyByAlpha(encode[linearToSRGB8Index(std::fabs(s[i] - c[i]) * gain)], alpha);
        out[i + 1] = premultiplyByAlpha(encode[linearToSRGB8Index(std::fabs(s[i + 1] - c[i + 1]) * gain)], alpha);
        out[i + 2] = premultiplyByAlpha(encode[linearToSRGB8Index(std::fabs(s[i + 2] - c[i + 2]) * gain)], alpha);
        out[i + 3] = static_cast<std::uint8_t>(alpha);
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
  if (isTableCase) {
    differenceByTable(*sourceDecoder, *comparisonDecoder, amplification, *bitmap);
  } else {
    differenceByRows(*sourceDecoder, *comparisonDecoder, amplification, *bitmap);
  }
  return std::make_shared<const RasterizedImage>(makeRasterizedImage(std::move(bitmap), false));
}

}  // namespace quorlin
