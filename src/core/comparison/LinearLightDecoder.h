// LinearLightDecoder: turns rows of a decoded image into linear light.
//
// Output per pixel: four floats R, G, B, A. Colour is linear light with the
// sRGB primaries in units of reference white (HDR content exceeds 1.0; colours
// outside the sRGB gamut may go negative); alpha is 0..1 and straight (not
// premultiplied), 1.0 for images without alpha.
//
// Well-known spaces are converted directly: integer samples through a lookup
// table per sample value, float samples through the exact curve, then a 3 × 3
// primaries matrix where the primaries are not sRGB's; HLG also gets its
// system gamma per pixel. Any other ICC profile goes through an lcms2
// transform to linear sRGB.
//
// The decoder refers to the image, which must outlive it. decodeRow is
// thread-safe (the lcms2 transform is built without its pixel cache).
#pragma once

#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/comparison/TransferFunctions.h"
#include "core/engine/DisplayImage.h"
#include "core/engine/LcmsHandles.h"

namespace quorlin {

class LinearLightDecoder {
 public:
  // Null when lcms2 cannot build a transform for the image's profile.
  static std::unique_ptr<const LinearLightDecoder> create(const DecodedImage& image);

  const DecodedImage& image() const { return image_; }

  // Decodes `pixelCount` pixels of row y, starting at column `firstPixel`
  // (together within the width), into `rgba` (4 × pixelCount floats).
  void decodeRow(int y, int firstPixel, int pixelCount, float* rgba) const;

  // For integer images whose conversion is one curve per channel with the sRGB
  // primaries (sRGB, device RGB, linear sRGB): the linear value of every sample
  // code, shared by R, G and B. Empty otherwise.
  std::span<const float> channelTable() const;

  // The transfer function of a well-known space; none for ICC-only spaces.
  std::optional<Transfer> transfer() const;

  // Use create().
  explicit LinearLightDecoder(const DecodedImage& image);

 private:
  template <typename Sample>
  void decodeWellKnownRow(const Sample* samples, int pixelCount, float* rgba) const;
  void decodeWithTransform(const std::byte* samples, int pixelCount, float* rgba) const;

  const DecodedImage& image_;
  std::optional<WellKnownEncoding> encoding_;
  std::vector<float> table_;                 // integer samples: code -> linear (well-known spaces)
  std::optional<std::array<float, 9>> matrix_;
  LcmsTransform transform_;                  // ICC-only spaces
};

}  // namespace quorlin
