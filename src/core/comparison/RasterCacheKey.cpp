#include "core/comparison/RasterCacheKey.h"

#include <functional>

namespace quorlin {

namespace {

void combine(std::size_t& seed, std::size_t value) { seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2); }

std::size_t hashDouble(double value) { return std::hash<double>{}(value == 0.0 ? 0.0 : value); }

}  // namespace

std::size_t RasterCacheKeyHash::operator()(const RasterCacheKey& key) const {
  std::size_t seed = std::hash<std::uint64_t>{}(key.imageIdentifier);
  combine(seed, key.contentHeadroom ? hashDouble(*key.contentHeadroom) : 0x51u);
  combine(seed, hashDouble(key.displayHeadroom));
  combine(seed, key.comparisonImageIdentifier ? std::hash<std::uint64_t>{}(*key.comparisonImageIdentifier) : 0x52u);
  combine(seed, key.differenceGain ? std::hash<int>{}(*key.differenceGain) : 0x53u);
  combine(seed, key.isDifference ? 1u : 2u);
  combine(seed, key.errorMapLayer ? std::hash<int>{}(*key.errorMapLayer) : 0x54u);
  combine(seed, key.errorMapScale ? hashDouble(*key.errorMapScale) : 0x55u);
  return seed;
}

}  // namespace quorlin
