// RasterCacheKey: what one rendered bitmap depends on.
//
// Error map bitmaps carry the layer and the shared scale they were coloured
// on. Two keys are equal when all fields are equal; doubles compare
// numerically, so a key holding NaN equals nothing, not even itself. Image
// identities are DecodedImage identifiers, which the process never reuses, so
// a new image never matches a key made for an old one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace quorlin {

struct RasterCacheKey {
  RasterCacheKey() = default;
  // Keys of normal and difference bitmaps leave out the error map fields.
  RasterCacheKey(std::uint64_t image, std::optional<double> content, double display,
                 std::optional<std::uint64_t> comparison, std::optional<int> gain, bool difference,
                 std::optional<int> layer = std::nullopt, std::optional<double> scale = std::nullopt)
      : imageIdentifier(image),
        contentHeadroom(content),
        displayHeadroom(display),
        comparisonImageIdentifier(comparison),
        differenceGain(gain),
        isDifference(difference),
        errorMapLayer(layer),
        errorMapScale(scale) {}

  std::uint64_t imageIdentifier = 0;
  std::optional<double> contentHeadroom;
  double displayHeadroom = 1.0;
  std::optional<std::uint64_t> comparisonImageIdentifier;
  std::optional<int> differenceGain;
  bool isDifference = false;
  std::optional<int> errorMapLayer;       // an ErrorMapLayer; set only for error map bitmaps
  std::optional<double> errorMapScale;

  friend bool operator==(const RasterCacheKey&, const RasterCacheKey&) = default;
};

// Covers all fields; keys that compare equal hash equally (0.0 and −0.0 too).
struct RasterCacheKeyHash {
  std::size_t operator()(const RasterCacheKey& key) const;
};

}  // namespace quorlin
