// Decoded images as the canvas and the engine hold them.
//
// A DecodedImage is immutable after it is made: orientation already applied,
// RGB or RGBA samples (grey and CMYK sources are converted to RGB when read),
// HDR and 16-bit values kept, nothing clipped. Its identifier is unique for the
// life of the process, so a new image never takes the identity of one that a
// cache still refers to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/engine/ColorSpace.h"

namespace quorlin {

enum class SampleFormat { uint8, uint16, float32 };

struct PixelSize {
  double width = 0;
  double height = 0;
  friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

class DecodedImage {
 public:
  // `samples` holds width * height * channels values of `format`, rows top to
  // bottom, channels interleaved (R, G, B[, A]). Integer samples are the encoded
  // values of `colorSpace` (0..255 or 0..65535); float samples are in the same
  // encoding scaled to 0..1 and may exceed that range.
  DecodedImage(int width, int height, int channels, SampleFormat format,
               std::vector<std::byte> samples, ColorSpaceRef colorSpace);
  // The same, taking over a buffer of `byteCount` bytes that another allocator
  // made (a decoder's output), so large images are never copied; `samples`
  // releases it.
  DecodedImage(int width, int height, int channels, SampleFormat format,
               std::shared_ptr<const std::byte> samples, std::size_t byteCount, ColorSpaceRef colorSpace);

  std::uint64_t identifier() const { return identifier_; }
  int width() const { return width_; }
  int height() const { return height_; }
  int channels() const { return channels_; }  // 3 or 4
  bool hasAlpha() const { return channels_ == 4; }
  SampleFormat format() const { return format_; }
  std::size_t bytesPerSample() const;
  const std::byte* data() const { return samples_.get(); }
  std::size_t byteCount() const { return byteCount_; }
  // The space the sample values are in; never null (untagged images get sRGB).
  const ColorSpaceRef& colorSpace() const { return colorSpace_; }

 private:
  std::uint64_t identifier_;
  int width_;
  int height_;
  int channels_;
  SampleFormat format_;
  std::shared_ptr<const std::byte> samples_;
  std::size_t byteCount_;
  ColorSpaceRef colorSpace_;
};

// The decoded image as shown in the canvas.
struct DisplayImage {
  std::shared_ptr<const DecodedImage> image;
  PixelSize displaySize;                   // the decoded image's extent
  std::optional<double> contentHeadroom;   // exactly what the reader was given
};

// Colour facts handed from the source to every decoded result.
struct DisplayMetadata {
  ColorSpaceRef colorSpace;                // may be null: no colour space known
  std::optional<double> contentHeadroom;   // absent: standard range or unknown
};

}  // namespace quorlin
