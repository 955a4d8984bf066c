#include "core/comparison/FourWayCanvasModel.h"

#include <unordered_set>

#include "core/comparison/ComparisonGeometry.h"
#include "core/comparison/DisplayHeadroom.h"

namespace quorlin {

namespace {

bool isPresent(const std::optional<DisplayImage>& image) { return image && image->image; }

SizeF displaySizeOf(const DisplayImage& image) { return {image.displaySize.width, image.displaySize.height}; }

}  // namespace

FourWayCanvasModel::FourWayCanvasModel(std::shared_ptr<CanvasRasterizer> rasterizer)
    : rasterizer_(std::move(rasterizer)) {}

void FourWayCanvasModel::update(const FourWayImageCanvas& values, SizeF viewSize, double displayHeadroom) {
  values_ = values;
  RectF bounds{0, 0, viewSize.width, viewSize.height};
  background_ = {bounds, values_.usesTransparencyBackground};

  if (!isPresent(values_.sourceImage) || !viewSize.isPositive()) {
    for (auto& layer : layers_) layer.isHidden = true;
    return;
  }
  const double headroom = normalizedDisplayHeadroom(displayHeadroom);
  const DisplayImage& source = *values_.sourceImage;
  // What pruning keeps depends only on the new values, so pruning first ends
  // in the same state and lets bitmaps that are going anyway give their
  // memory to the ones about to be rendered.
  prune(headroom);

  CanvasLayerState& original = layers_[index(CanvasLayer::original)];
  original.isHidden = !values_.isShowingOriginal;
  original.frame = canvasImageRect(viewSize, displaySizeOf(source), values_.zoom, values_.panOffset);
  original.clip = bounds;
  renderNormal(CanvasLayer::original, source, headroom);

  for (int quadrant = 0; quadrant < 4; ++quadrant) {
    CanvasLayer layerId = quadrantLayer(quadrant);
    CanvasLayerState& layer = layers_[index(layerId)];
    const std::optional<DisplayImage>* panelImage =
        static_cast<std::size_t>(quadrant) < values_.panelImages.size()
            ? &values_.panelImages[static_cast<std::size_t>(quadrant)]
            : nullptr;
    bool hasPanelImage = panelImage && isPresent(*panelImage);
    const DisplayImage& shown = hasPanelImage ? **panelImage : source;

    layer.isHidden = values_.isShowingOriginal;
    layer.clip = quadrantRect(quadrant, viewSize, values_.comparisonX, values_.comparisonY);
    layer.frame = canvasImageRect(viewSize, displaySizeOf(shown), values_.zoom, values_.panOffset);
    if (values_.isShowingDifference) {
      renderDifference(layerId, source, shown, headroom);
    } else {
      renderNormal(layerId, shown, headroom);
    }
  }
  prune(headroom);
}

template <typename Render>
void FourWayCanvasModel::applyKey(CanvasLayer layer, const RasterCacheKey& key, Render render) {
  std::optional<RasterCacheKey>& applied = appliedKeys_[index(layer)];
  if (applied && *applied == key) return;
  std::shared_ptr<const RasterizedImage> contents = cache_.find(key);
  if (!contents) {
    layers_[index(layer)].contents.reset();   // its bitmap may be freed before the new one is made
    contents = render();
    if (contents) {
      cache_.store(key, contents);
    } else {
      cache_.erase(key);
    }
  }
  layers_[index(layer)].contents = std::move(contents);
  applied = key;
}

void FourWayCanvasModel::renderNormal(CanvasLayer layer, const DisplayImage& image, double displayHeadroom) {
  RasterCacheKey key{image.image->identifier(), image.contentHeadroom, displayHeadroom, std::nullopt, std::nullopt,
                     false};
  applyKey(layer, key, [&] { return rasterizer_->rasterize(*image.image, image.contentHeadroom, displayHeadroom); });
}

void FourWayCanvasModel::renderDifference(CanvasLayer layer, const DisplayImage& source,
                                          const DisplayImage& comparison, double displayHeadroom) {
  const int gain = values_.differenceGain;
  RasterCacheKey key{source.image->identifier(), std::nullopt, displayHeadroom, comparison.image->identifier(), gain,
                     true};
  applyKey(layer, key, [&] {
    return rasterizer_->rasterizeDifference(*source.image, *comparison.image, gain, displayHeadroom);
  });
}

void FourWayCanvasModel::prune(double displayHeadroom) {
  std::unordered_set<std::uint64_t> live{values_.sourceImage->image->identifier()};
  for (const auto& panelImage : values_.panelImages) {
    if (isPresent(panelImage)) live.insert(panelImage->image->identifier());
  }
  cache_.prune(live, displayHeadroom, values_.differenceGain);
  for (auto& applied : appliedKeys_) {
    if (applied && !cache_.contains(*applied)) applied.reset();
  }
}

}  // namespace quorlin
