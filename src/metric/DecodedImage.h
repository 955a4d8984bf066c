// DecodedImage: an image as decoded from a file, before anything the metric
// does to it: interleaved samples (grey, grey+alpha, RGB or RGBA) in their
// stored type, plus the colour encoding they are in. Samples are kept compact
// (8 or 16 bits where the file had them) because an original with alpha is
// converted twice, once per background. Immutable after construction; the
// sample memory is shared between copies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

#include "metric/ColourEncoding.h"

namespace quorlin::metric {

enum class SampleType { uint8, uint16, float32 };

class DecodedImage {
 public:
  // `samples` holds width*height*channels values of `type`, row after row.
  // channels: 1 grey, 2 grey+alpha, 3 RGB, 4 RGBA. Throws std::invalid_argument
  // on inconsistent sizes.
  DecodedImage(int width, int height, int channels, SampleType type, std::shared_ptr<const void> samples,
               std::size_t sampleBytes, ColourEncoding encoding);

  static DecodedImage fromUint8(int width, int height, int channels, std::vector<std::uint8_t> samples,
                                ColourEncoding encoding = ColourEncoding::srgb());
  static DecodedImage fromUint16(int width, int height, int channels, std::vector<std::uint16_t> samples,
                                 ColourEncoding encoding = ColourEncoding::srgb());
  static DecodedImage fromFloat(int width, int height, int channels, std::vector<float> samples,
                                ColourEncoding encoding = ColourEncoding::srgb());

  int width() const { return width_; }
  int height() const { return height_; }
  int channels() const { return channels_; }
  bool hasAlpha() const { return channels_ == 2 || channels_ == 4; }
  bool isGrey() const { return channels_ <= 2; }
  SampleType sampleType() const { return type_; }
  const void* samples() const { return samples_.get(); }
  const ColourEncoding& encoding() const { return encoding_; }

 private:
  int width_;
  int height_;
  int channels_;
  SampleType type_;
  std::shared_ptr<const void> samples_;
  ColourEncoding encoding_;
};

std::size_t sampleSize(SampleType type);

}  // namespace quorlin::metric
