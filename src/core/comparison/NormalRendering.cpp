#include "core/comparison/NormalRendering.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/comparison/LinearEncoding.h"
#include "core/comparison/LinearLightDecoder.h"
#include "core/comparison/MipChain.h"
#include "core/comparison/RowParallel.h"
#include "core/comparison/ToneMapping.h"

namespace quorlin {

namespace {

bool isEightBitSRGB(const DecodedImage& image) {
  auto kind = image.colorSpace()->kind();
  return image.format() == SampleFormat::uint8 &&
         (kind == ColorSpace::WellKnown::sRGB || kind == ColorSpace::WellKnown::deviceRGB);
}

// 8-bit sRGB, already in range: the samples are the output.
void copyEightBitRows(const DecodedImage& image, RasterBitmap& bitmap) {
  const int width = image.width();
  const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(image.channels());
  const auto* samples = reinterpret_cast<const std::uint8_t*>(image.data());
  parallelForRows(image.height(), [&](int firstRow, int endRow) {
    for (int y = firstRow; y < endRow; ++y) {
      const std::uint8_t* in = samples + static_cast<std::size_t>(y) * rowBytes;
      std::uint8_t* out = bitmap.row(y);
      if (image.hasAlpha()) {
        for (int x = 0; x < width; ++x) {
          unsigned alpha = in[4 * x + 3];
          out[4 * x] = premultiplyByAlpha(in[4 * x], alpha);
          out[4 * x + 1] = premultiplyByAlpha(in[4 * x + 1], alpha);
          out[4 * x + 2] = premultiplyByAlpha(in[4 * x + 2], alpha);
          out[4 * x + 3] = static_cast<std::uint8_t>(alpha);
        }
      } else {
        for (int x = 0; x < width; ++x) {
          out[4 * x] = in[3 * x];
          out[4 * x + 1] = in[3 * x + 1];
          out[4 * x + 2] = in[3 * x + 2];
          out[4 * x + 3] = 255;
        }
      }
    }
  });
}

// Integer samples, one curve per channel, no tone mapping: one lookup per sample.
template <typename Sample>
void lookUpRows(const DecodedImage& image, std::span<const float> channelTable, RasterBitmap& bitmap) {
  const auto& encode = linearToSRGB8Table();
  std::vector<std::uint8_t> output(channelTable.size());
  for (std::size_t code = 0; code < output.size(); ++code) output[code] = encode[linearToSRGB8Index(channelTable[code])];
  // Alpha is straight coverage, not a colour: scale it to 8 bits directly.
  const unsigned alphaDivisor = image.format() == SampleFormat::uint16 ? 257 : 1;

  const int width = image.width();
  const int channels = image.channels();
  const auto* samples = reinterpret_cast<const Sample*>(image.data());
  const std::size_t rowSamples = static_cast<std::size_t>(width) * static_cast<std::size_t>(channels);
  parallelForRows(image.height(), [&](int firstRow, int endRow) {
    for (int y = firstRow; y < endRow; ++y) {
      const Sample* in = samples + static_cast<std::size_t>(y) * rowSamples;
      std::uint8_t* out = bitmap.row(y);
      for (int x = 0; x < width; ++x) {
        const Sample* pixel = in + static_cast<std::size_t>(x) * static_cast<std::size_t>(channels);
        unsigned alpha = channels == 4 ? (pixel[3] + alphaDivisor / 2) / alphaDivisor : 255;
        out[4 * x] = premultiplyByAlpha(output[pixel[0]], alpha);
        out[4 * x + 1] = premultiplyByAlpha(output[pixel[1]], alpha);
        out[4 * x + 2] = premultiplyByAlpha(output[pixel[2]], alpha);
        out[4 * x + 3] = static_cast<std::uint8_t>(alpha);
      }
    }
  });
}

void toneMapRows(const LinearLightDecoder& decoder, const ToneMapper& toneMapper, RasterBitmap& bitmap) {
  // Pixels per step: the float buffer stays in the first-level cache.
  constexpr int chunkPixels = 256;
  const int width = bitmap.width;
  parallelForRows(bitmap.height, [&](int firstRow, int endRow) {
    std::vector<float> linear(chunkPixels * 4);
    for (int y = firstRow; y < endRow; ++y) {
      for (int first = 0; first < width; first += chunkPixels) {
        int count = std::min(chunkPixels, width - first);
        decoder.decodeRow(y, first, count, linear.data());
        toneMapper.apply(linear.data(), static_cast<std::size_t>(count));
        encodeLinearPixels(linear.data(), count, bitmap.row(y) + 4 * first);
      }
    }
  });
}

}  // namespace

double effectiveContentHeadroom(const DecodedImage& image, std::optional<double> contentHeadroom) {
  if (contentHeadroom && std::isfinite(*contentHeadroom) && *contentHeadroom > 0) return *contentHeadroom;
  auto encoding = wellKnownEncoding(image.colorSpace()->kind());
  return encoding ? impliedContentHeadroom(encoding->transfer) : 1.0;
}

std::shared_ptr<const RasterizedImage> rasterizeImage(const DecodedImage& image, std::optional<double> contentHeadroom,
                                                      double displayHeadroom) {
  auto decoder = LinearLightDecoder::create(image);
  if (!decoder) return nullptr;
  double content = effectiveContentHeadroom(image, contentHeadroom);
  ToneMapper toneMapper(content, std::min(std::max(displayHeadroom, 1.0), standardRangeBitmapHeadroom));

  auto bitmap = RasterBitmap::allocate(image.width(), image.height());
  std::span<const float> channelTable = decoder->channelTable();
  if (toneMapper.isIdentity() && isEightBitSRGB(image)) {
    copyEightBitRows(image, *bitmap);
  } else if (toneMapper.isIdentity() && !channelTable.empty()) {
    if (image.format() == SampleFormat::uint8) {
      lookUpRows<std::uint8_t>(image, channelTable, *bitmap);
    } else {
      lookUpRows<std::uint16_t>(image, channelTable, *bitmap);
    }
  } else {
    toneMapRows(*decoder, toneMapper, *bitmap);
  }
  return std::make_shared<const RasterizedImage>(makeRasterizedImage(std::move(bitmap), content > 1.0));
}

}  // namespace quorlin
