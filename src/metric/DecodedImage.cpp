#include "metric/DecodedImage.h"

#include <utility>

namespace quorlin::metric {

std::size_t sampleSize(SampleType type) {
  switch (type) {
    case SampleType::uint8: return 1;
    case SampleType::uint16: return 2;
    case SampleType::float32: return 4;
  }
  return 1;
}

DecodedImage::DecodedImage(int width, int height, int channels, SampleType type,
                           std::shared_ptr<const void> samples, std::size_t sampleBytes, ColourEncoding encoding)
    : width_(width),
      height_(height),
      channels_(channels),
      type_(type),
      samples_(std::move(samples)),
      encoding_(std::move(encoding)) {
  if (width <= 0 || height <= 0) throw std::invalid_argument("image dimensions must be positive");
  if (channels < 1 || channels > 4) throw std::invalid_argument("an image has 1 to 4 channels");
  const std::size_t needed =
      static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * static_cast<std::size_t>(channels) *
      sampleSize(type);
  if (!samples_ || sampleBytes < needed) throw std::invalid_argument("too few samples for the image size");
}

namespace {

template <typename T>
DecodedImage fromVector(int width, int height, int channels, SampleType type, std::vector<T> samples,
                        ColourEncoding encoding) {
  auto owner = std::make_shared<std::vector<T>>(std::move(samples));
  const std::size_t bytes = owner->size() * sizeof(T);
  std::shared_ptr<const void> data(owner, owner->data());
  return DecodedImage(width, height, channels, type, std::move(data), bytes, std::move(encoding));
}

}  // namespace

DecodedImage DecodedImage::fromUint8(int width, int height, int channels, std::vector<std::uint8_t> samples,
                                     ColourEncoding encoding) {
  return fromVector(width, height, channels, SampleType::uint8, std::move(samples), std::move(encoding));
}

DecodedImage DecodedImage::fromUint16(int width, int height, int channels, std::vector<std::uint16_t> samples,
                                      ColourEncoding encoding) {
  return fromVector(width, height, channels, SampleType::uint16, std::move(samples), std::move(encoding));
}

DecodedImage DecodedImage::fromFloat(int width, int height, int channels, std::vector<float> samples,
                                     ColourEncoding encoding) {
  return fromVector(width, height, channels, SampleType::float32, std::move(samples), std::move(encoding));
}

}  // namespace quorlin::metric
