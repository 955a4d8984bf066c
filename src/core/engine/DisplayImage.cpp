#include "core/engine/DisplayImage.h"

#include <atomic>
#include <stdexcept>
#include <vector>

namespace quorlin {

namespace {

std::atomic<std::uint64_t> nextImageIdentifier{1};

std::shared_ptr<const std::byte> shareVector(std::vector<std::byte> samples) {
  auto owner = std::make_shared<const std::vector<std::byte>>(std::move(samples));
  return std::shared_ptr<const std::byte>(owner, owner->data());
}
}  // namespace

DecodedImage::DecodedImage(int width, int height, int channels, SampleFormat format,
                           std::vector<std::byte> samples, ColorSpaceRef colorSpace)
    : DecodedImage(width, height, channels, format, nullptr, samples.size(), std::move(colorSpace)) {
  samples_ = shareVector(std::move(samples));
}

DecodedImage::DecodedImage(int width, int height, int channels, SampleFormat format,
                           std::shared_ptr<const std::byte> samples, std::size_t byteCount,
                           ColorSpaceRef colorSpace)
    : identifier_(nextImageIdentifier.fetch_add(1)),
      width_(width),
      height_(height),
      channels_(channels),
      format_(format),
      samples_(std::move(samples)),
      byteCount_(byteCount),
      colorSpace_(colorSpace ? std::move(colorSpace) : ColorSpace::wellKnown(ColorSpace::WellKnown::sRGB)) {
  if (width <= 0 || height <= 0 || (channels != 3 && channels != 4)) {
    throw std::invalid_argument("DecodedImage needs a positive size and 3 or 4 channels");
  }
  if (byteCount_ != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                        static_cast<std::size_t>(channels) * bytesPerSample()) {
    throw std::invalid_argument("DecodedImage sample buffer has the wrong size");
  }
}

std::size_t DecodedImage::bytesPerSample() const {
  switch (format_) {
    case SampleFormat::uint8:
      return 1;
    case SampleFormat::uint16:
      return 2;
    case SampleFormat::float32:
      return 4;
  }
  return 1;
}

}  // namespace quorlin
