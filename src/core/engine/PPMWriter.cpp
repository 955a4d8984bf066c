#include "core/engine/PPMWriter.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/common/CompressionError.h"
#include "core/engine/FileTarget.h"
#include "core/engine/ImageDecoding.h"
#include "core/engine/LcmsHandles.h"

namespace quorlin {

namespace {

using K = ColorSpace::WellKnown;

bool isSRGBEncoded(const ColorSpace& space) { return space.kind() == K::sRGB || space.kind() == K::deviceRGB; }

cmsUInt32Number lcmsRGBFormat(SampleFormat format, bool hasAlpha) {
  switch (format) {
    case SampleFormat::uint8:
      return hasAlpha ? TYPE_RGBA_8 : TYPE_RGB_8;
    case SampleFormat::uint16:
      return hasAlpha ? TYPE_RGBA_16 : TYPE_RGB_16;
    case SampleFormat::float32:
      return hasAlpha ? TYPE_RGBA_FLT : TYPE_RGB_FLT;
  }
  return TYPE_RGB_8;
}

double alphaAt(const DecodedImage& image, std::size_t sampleIndex) {
  const std::byte* data = image.data();
  switch (image.format()) {
    case SampleFormat::uint8:
      return static_cast<double>(std::to_integer<unsigned>(data[sampleIndex])) / 255.0;
    case SampleFormat::uint16: {
      std::uint16_t value;
      std::memcpy(&value, data + sampleIndex * 2, 2);
      return value / 65535.0;
    }
    case SampleFormat::float32: {
      float value;
      std::memcpy(&value, data + sampleIndex * 4, 4);
      return std::clamp(static_cast<double>(value), 0.0, 1.0);
    }
  }
  return 1.0;
}

// 8-bit sRGB rows of `image`: an exact narrowing when the samples already
// are sRGB, a colour conversion through lcms2 otherwise.
std::vector<std::uint8_t> renderSRGB8(const DecodedImage& image) {
  const std::size_t width = static_cast<std::size_t>(image.width());
  const std::size_t height = static_cast<std::size_t>(image.height());
  const std::size_t channels = static_cast<std::size_t>(image.channels());
  std::vector<std::uint8_t> rgb(width * height * 3);
  if (isSRGBEncoded(*image.colorSpace()) && image.format() != SampleFormat::float32) {
    for (std::size_t pixel = 0; pixel < width * height; ++pixel) {
      for (std::size_t c = 0; c < 3; ++c) {
        std::size_t index = pixel * channels + c;
        if (image.format() == SampleFormat::uint8) {
          rgb[pixel * 3 + c] = std::to_integer<std::uint8_t>(image.data()[index]);
        } else {
          std::uint16_t value;
          std::memcpy(&value, image.data() + index * 2, 2);
          rgb[pixel * 3 + c] = static_cast<std::uint8_t>((value * 255u + 32767u) / 65535u);
        }
      }
    }
  } else {
    LcmsProfile source = openProfile(*image.colorSpace());
    LcmsProfile target = openProfile(*ColorSpace::wellKnown(K::sRGB));
    if (!source || !target) throw CompressionError::unreadableImage({});
    LcmsTransform transform(cmsCreateTransform(source.get(), lcmsRGBFormat(image.format(), image.hasAlpha()),
                                               target.get(), TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC,
                                               cmsFLAGS_NOCACHE));
    if (!transform) throw CompressionError::unreadableImage({});
    const std::size_t inputRow = image.byteCount() / height;
    for (std::size_t y = 0; y < height; ++y) {
      cmsDoTransformLineStride(transform.get(), image.data() + y * inputRow, rgb.data() + y * width * 3,
                               static_cast<cmsUInt32Number>(width), 1, static_cast<cmsUInt32Number>(inputRow),
                               static_cast<cmsUInt32Number>(width * 3), 0, 0);
    }
  }
  if (image.hasAlpha()) {
    // Drawn onto a zero-filled (black) bitmap: colour times coverage.
    for (std::size_t pixel = 0; pixel < width * height; ++pixel) {
      double alpha = alphaAt(image, pixel * channels + 3);
      for (std::size_t c = 0; c < 3; ++c) {
        rgb[pixel * 3 + c] = static_cast<std::uint8_t>(rgb[pixel * 3 + c] * alpha + 0.5);
      }
    }
  }
  return rgb;
}

}  // namespace

void writePPM(const std::filesystem::path& input, const std::filesystem::path& output) {
  auto decoded = decodeImageFile(input, nullptr);
  if (!decoded) throw CompressionError::unreadableImage(input, imageRejectionReason());
  std::vector<std::uint8_t> pixels;
  try {
    pixels = renderSRGB8(*decoded);
  } catch (const CompressionError&) {
    throw CompressionError::unreadableImage(input);
  }
  std::string header =
      "P6\n" + std::to_string(decoded->width()) + " " + std::to_string(decoded->height()) + "\n255\n";
  FileTarget file(output);
  file.write(header.data(), header.size());
  file.write(pixels.data(), pixels.size());
  file.close();
}

}  // namespace quorlin
