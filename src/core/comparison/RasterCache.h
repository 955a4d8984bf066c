// RasterCache: rendered bitmaps by RasterCacheKey.
//
// Entries are shared with whoever shows them; dropping an entry never pulls a
// bitmap from under a layer. A key that does not equal itself (NaN headroom)
// is never stored, as no later lookup could find it. Main thread only.
#pragma once

#include <cstddef>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "core/comparison/RasterBitmap.h"
#include "core/comparison/RasterCacheKey.h"

namespace quorlin {

class RasterCache {
 public:
  std::shared_ptr<const RasterizedImage> find(const RasterCacheKey& key) const;
  void store(const RasterCacheKey& key, std::shared_ptr<const RasterizedImage> image);
  void erase(const RasterCacheKey& key);
  bool contains(const RasterCacheKey& key) const { return entries_.count(key) != 0; }

  // Keeps only entries whose image is one of `liveImageIdentifiers` and whose
  // display headroom is `displayHeadroom`. Difference entries must further
  // compare against a live image and be made for `differenceGain`: a
  // 24-megapixel difference bitmap weighs 128 MB with its mip chain, so
  // keeping one per gain visited, or one per replaced result, would soon
  // hold gigabytes that can never be shown again without a re-render of
  // the same cost.
  // Error map entries must be of `errorMapLayer` and `errorMapScale` for the
  // same reason.
  void prune(const std::unordered_set<std::uint64_t>& liveImageIdentifiers, double displayHeadroom,
             int differenceGain, int errorMapLayer = 0, double errorMapScale = 0);

  std::size_t size() const { return entries_.size(); }
  // Bytes held by the cached bitmaps and their mip levels.
  std::size_t byteCount() const;

 private:
  std::unordered_map<RasterCacheKey, std::shared_ptr<const RasterizedImage>, RasterCacheKeyHash> entries_;
};

}  // namespace quorlin
