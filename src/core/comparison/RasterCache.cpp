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

void RasterCache::prune(const std::unordered_set<std::uint64_t>& liveImageIdentifiers, double displayHeadroom) {
  std::erase_if(entries_, [&](const auto& entry) {
    return liveImageIdentifiers.count(entry.first.imageIdentifier) == 0 ||
           !(entry.first.displayHeadroom == displayHeadroom);
  });
}

std::size_t RasterCache::byteCount() const {
  std::size_t total = 0;
  for (const auto& [key, image] : entries_) total += image ? image->byteCount() : 0;
  return total;
}

}  // namespace quorlin
