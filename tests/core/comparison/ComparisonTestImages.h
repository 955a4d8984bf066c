// Small synthetic images for the comparison tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <optional>
#include <vector>

#include "core/comparison/RasterBitmap.h"
#include "core/engine/DisplayImage.h"

namespace quorlin::test {

template <typename Sample>
std::shared_ptr<const DecodedImage> makeImage(int width, int height, int channels, const std::vector<Sample>& samples,
                                              ColorSpace::WellKnown space = ColorSpace::WellKnown::sRGB) {
  SampleFormat format = sizeof(Sample) == 1 ? SampleFormat::uint8
                        : sizeof(Sample) == 2 ? SampleFormat::uint16
                                              : SampleFormat::float32;
  std::vector<std::byte> bytes(samples.size() * sizeof(Sample));
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return std::make_shared<const DecodedImage>(width, height, channels, format, std::move(bytes),
                                              ColorSpace::wellKnown(space));
}

// Every pixel the same.
template <typename Sample>
std::shared_ptr<const DecodedImage> makeUniformImage(int width, int height, std::initializer_list<Sample> pixel,
                                                     ColorSpace::WellKnown space = ColorSpace::WellKnown::sRGB) {
  std::vector<Sample> samples(static_cast<std::size_t>(width * height) * pixel.size());
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = pixel.begin()[i % pixel.size()];
  return makeImage<Sample>(width, height, static_cast<int>(pixel.size()), samples, space);
}

inline DisplayImage displayImageOf(std::shared_ptr<const DecodedImage> image,
                                   std::optional<double> contentHeadroom = std::nullopt) {
  PixelSize size{static_cast<double>(image->width()), static_cast<double>(image->height())};
  return DisplayImage{std::move(image), size, contentHeadroom};
}

// Bytes of pixel (x, y) of a rendered bitmap: R, G, B, A.
struct Pixel8 {
  int r, g, b, a;
  friend bool operator==(const Pixel8&, const Pixel8&) = default;
};

inline Pixel8 pixelAt(const RasterizedImage& image, int x, int y) {
  const std::uint8_t* p = image.bitmap()->row(y) + 4 * x;
  return {p[0], p[1], p[2], p[3]};
}

}  // namespace quorlin::test
