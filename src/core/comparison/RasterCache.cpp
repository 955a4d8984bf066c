#include "core/comparison/RasterCache.h"

namespace quorlin {

std::shared_ptr<const RasterizedImage> RasterCache::find(const RasterCacheKey& key) const {
  auto found = entries_.find(key);
  return found == entries_.end() ? nullptr : found->second;
}

void RasterCache::store(const RasterCacheKey& key, std::shared_ptr<const RasterizedImage> image) {
  if (!(key == key)) return;
  entries_.insert_or_assign(key, std::move(image));
}

void RasterCache::erase(const RasterCacheKey& key) { entries_.erase(key); }

void RasterCache::prune(const std::unordered_set<std::uint64_t>& liveImageIdentifiers, double displayHeadroom,
                        int differenceGain, int errorMapLayer, double errorMapScale) {
  auto isLive = [&](std::uint64_t identifier) { return liveImageIdentifiers.count(identifier) != 0; };
  std::erase_if(entries_, [&](const auto& entry) {
    const RasterCacheKey& key = entry.first;
    if (!isLive(key.imageIdentifier) || !(key.displayHeadroom == displayHeadroom)) return true;
    if (key.errorMapLayer) return key.errorMapLayer != errorMapLayer || key.errorMapScale != errorMapScale;
    if (!key.isDifference) return false;
    return !key.comparisonImageIdentifier || !isLive(*key.comparisonImageIdentifier) ||
           key.differenceGain != differenceGain;
  });
}

std::size_t RasterCache::byteCount() const {
  std::size_t total = 0;
  for (const auto& [key, image] : entries_) total += image ? image->byteCount() : 0;
  return total;
}

}  // namespace quorlin
