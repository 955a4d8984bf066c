#include "core/comparison/LinearLightDecoder.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace quorlin {

namespace {

// BT.2100 luminance weights, for the HLG system gamma.
constexpr float hlgLumaRed = 0.2627f, hlgLumaGreen = 0.6780f, hlgLumaBlue = 0.0593f;

cmsUInt32Number lcmsInputFormat(const DecodedImage& image) {
  bool alpha = image.hasAlpha();
  switch (image.format()) {
    case SampleFormat::uint8:
      return alpha ? TYPE_RGBA_8 : TYPE_RGB_8;
    case SampleFormat::uint16:
      return alpha ? TYPE_RGBA_16 : TYPE_RGB_16;
    case SampleFormat::float32:
      return alpha ? TYPE_RGBA_FLT : TYPE_RGB_FLT;
  }
  return TYPE_RGB_8;
}

float sampleMaximum(SampleFormat format) {
  switch (format) {
    case SampleFormat::uint8:
      return 255.0f;
    case SampleFormat::uint16:
      return 65535.0f;
    case SampleFormat::float32:
      break;
  }
  return 1.0f;
}

template <typename Sample>
float alphaOf(const Sample* pixel, int channels, float scale) {
  return channels == 4 ? static_cast<float>(pixel[3]) * scale : 1.0f;
}

}  // namespace

LinearLightDecoder::LinearLightDecoder(const DecodedImage& image)
    : image_(image), encoding_(wellKnownEncoding(image.colorSpace()->kind())) {}

std::unique_ptr<const LinearLightDecoder> LinearLightDecoder::create(const DecodedImage& image) {
  auto decoder = std::make_unique<LinearLightDecoder>(image);
  if (decoder->encoding_) {
    const WellKnownEncoding& encoding = *decoder->encoding_;
    if (image.format() != SampleFormat::float32) {
      std::size_t codes = image.format() == SampleFormat::uint8 ? 256 : 65536;
      double maximum = static_cast<double>(codes - 1);
      decoder->table_.resize(codes);
      for (std::size_t code = 0; code < codes; ++code) {
        decoder->table_[code] = static_cast<float>(decodeTransfer(encoding.transfer, static_cast<double>(code) / maximum));
      }
    }
    if (encoding.primaries != Primaries::srgb) {
      Matrix3 matrix = primariesToSRGB(encoding.primaries);
      std::array<float, 9> values{};
      for (std::size_t i = 0; i < 9; ++i) values[i] = static_cast<float>(matrix[i]);
      decoder->matrix_ = values;
    }
    return decoder;
  }

  LcmsProfile input = openProfile(*image.colorSpace());
  LcmsProfile output = openProfile(*ColorSpace::wellKnown(ColorSpace::WellKnown::linearSRGB));
  if (!input || !output) return nullptr;
  decoder->transform_.reset(cmsCreateTransform(input.get(), lcmsInputFormat(image), output.get(), TYPE_RGB_FLT,
                                               INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOCACHE));
  if (!decoder->transform_) return nullptr;
  return decoder;
}

std::span<const float> LinearLightDecoder::channelTable() const {
  if (!encoding_ || matrix_ || encoding_->transfer == Transfer::hlg) return {};
  return table_;
}

std::optional<Transfer> LinearLightDecoder::transfer() const {
  if (!encoding_) return std::nullopt;
  return encoding_->transfer;
}

void LinearLightDecoder::decodeRow(int y, int firstPixel, int pixelCount, float* rgba) const {
  const std::size_t pixelBytes = static_cast<std::size_t>(image_.channels()) * image_.bytesPerSample();
  const std::byte* row = image_.data() +
                         (static_cast<std::size_t>(y) * static_cast<std::size_t>(image_.width()) +
                          static_cast<std::size_t>(firstPixel)) * pixelBytes;
  if (transform_) {
    decodeWithTransform(row, pixelCount, rgba);
    return;
  }
  switch (image_.format()) {
    case SampleFormat::uint8:
      decodeWellKnownRow(reinterpret_cast<const std::uint8_t*>(row), pixelCount, rgba);
      break;
    case SampleFormat::uint16:
      decodeWellKnownRow(reinterpret_cast<const std::uint16_t*>(row), pixelCount, rgba);
      break;
    case SampleFormat::float32:
      decodeWellKnownRow(reinterpret_cast<const float*>(row), pixelCount, rgba);
      break;
  }
}

template <typename Sample>
void LinearLightDecoder::decodeWellKnownRow(const Sample* samples, int pixelCount, float* rgba) const {
  const int channels = image_.channels();
  const float alphaScale = 1.0f / sampleMaximum(image_.format());
  const std::size_t step = static_cast<std::size_t>(channels);
  if constexpr (std::is_same_v<Sample, float>) {
    const Transfer transfer = encoding_->transfer;
    for (int x = 0; x < pixelCount; ++x) {
      const float* pixel = samples + static_cast<std::size_t>(x) * step;
      float* out = rgba + static_cast<std::size_t>(x) * 4;
      for (int c = 0; c < 3; ++c) out[c] = static_cast<float>(decodeTransfer(transfer, pixel[c]));
      out[3] = alphaOf(pixel, channels, 1.0f);
    }
  } else {
    const float* table = table_.data();
    for (int x = 0; x < pixelCount; ++x) {
      const Sample* pixel = samples + static_cast<std::size_t>(x) * step;
      float* out = rgba + static_cast<std::size_t>(x) * 4;
      out[0] = table[pixel[0]];
      out[1] = table[pixel[1]];
      out[2] = table[pixel[2]];
      out[3] = alphaOf(pixel, channels, alphaScale);
    }
  }

  if (encoding_->transfer == Transfer::hlg) {
    // System gamma on a display of the nominal peak, in units of reference white.
    const float peak = static_cast<float>(hlgNominalPeakNits / referenceWhiteNits);
    const float exponent = static_cast<float>(hlgSystemGamma - 1.0);
    for (int x = 0; x < pixelCount; ++x) {
      float* out = rgba + static_cast<std::size_t>(x) * 4;
      float luminance = hlgLumaRed * out[0] + hlgLumaGreen * out[1] + hlgLumaBlue * out[2];
      float scale = luminance > 0 ? peak * std::pow(luminance, exponent) : 0.0f;
      out[0] *= scale;
      out[1] *= scale;
      out[2] *= scale;
    }
  }

  if (matrix_) {
    const std::array<float, 9>& m = *matrix_;
    for (int x = 0; x < pixelCount; ++x) {
      float* out = rgba + static_cast<std::size_t>(x) * 4;
      float r = out[0], g = out[1], b = out[2];
      out[0] = m[0] * r + m[1] * g + m[2] * b;
      out[1] = m[3] * r + m[4] * g + m[5] * b;
      out[2] = m[6] * r + m[7] * g + m[8] * b;
    }
  }
}

void LinearLightDecoder::decodeWithTransform(const std::byte* samples, int pixelCount, float* rgba) const {
  // lcms2 writes RGB; spread it to RGBA from the back so it can share the buffer.
  cmsDoTransform(transform_.get(), samples, rgba, static_cast<cmsUInt32Number>(pixelCount));
  const int channels = image_.channels();
  const std::size_t bytesPerSample = image_.bytesPerSample();
  const float alphaScale = 1.0f / sampleMaximum(image_.format());
  for (int x = pixelCount - 1; x >= 0; --x) {
    std::size_t in = static_cast<std::size_t>(x) * 3;
    std::size_t out = static_cast<std::size_t>(x) * 4;
    float r = rgba[in], g = rgba[in + 1], b = rgba[in + 2];
    float alpha = 1.0f;
    if (channels == 4) {
      const std::byte* pixel = samples + static_cast<std::size_t>(x) * 4 * bytesPerSample;
      switch (image_.format()) {
        case SampleFormat::uint8:
          alpha = static_cast<float>(std::to_integer<std::uint8_t>(pixel[3])) * alphaScale;
          break;
        case SampleFormat::uint16: {
          std::uint16_t value;
          std::memcpy(&value, pixel + 3 * bytesPerSample, sizeof value);
          alpha = static_cast<float>(value) * alphaScale;
          break;
        }
        case SampleFormat::float32:
          std::memcpy(&alpha, pixel + 3 * bytesPerSample, sizeof alpha);
          break;
      }
    }
    rgba[out] = r;
    rgba[out + 1] = g;
    rgba[out + 2] = b;
    rgba[out + 3] = alpha;
  }
}

}  // namespace quorlin
