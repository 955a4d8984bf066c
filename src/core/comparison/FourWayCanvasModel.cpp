#include "core/comparison/FourWayCanvasModel.h"

#include <algorithm>
#include <unordered_set>
#include <vector>

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
  viewSize_ = viewSize;
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
  loadErrorMaps();
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
    } else if (isShowingErrorMap() && !isQuadrantMapLoading_[static_cast<std::size_t>(quadrant)]) {
      renderErrorMap(layerId, quadrant, shown, headroom);
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

bool FourWayCanvasModel::isShowingErrorMap() const {
  return values_.isShowingErrorMap && !values_.isShowingDifference && !values_.isShowingOriginal &&
         isPresent(values_.sourceImage);
}

void FourWayCanvasModel::loadErrorMaps() {
  quadrantMaps_ = {};
  isQuadrantMapLoading_ = {};
  std::array<std::optional<ErrorMapKey>, 4> named;
  std::vector<ErrorMapKey> wanted;
  for (std::size_t quadrant = 0; quadrant < 4; ++quadrant) {
    const bool hasResult = quadrant < values_.panelImages.size() && isPresent(values_.panelImages[quadrant]);
    if (hasResult && quadrant < values_.panelErrorMaps.size() && values_.panelErrorMaps[quadrant]) {
      named[quadrant] = ErrorMapKey{*values_.panelErrorMaps[quadrant], values_.errorMapLayer,
                                    values_.panelImages[quadrant]->image->identifier()};
      wanted.push_back(*named[quadrant]);
    }
  }
  // Maps of results or files no longer named, or of another layer, go, and
  // so do their reads.
  std::erase_if(errorMaps_, [&](const auto& entry) {
    return std::find(wanted.begin(), wanted.end(), entry.first) == wanted.end();
  });
  errorMapLoader_.keepOnly(wanted);
  for (const ErrorMapKey& key : wanted) {
    if (errorMaps_.count(key) == 0) errorMapLoader_.start(key);
  }
  if (!errorMapLoader_.isReading()) errorMaps_.merge(errorMapLoader_.takeFinished());   // a failed read stays null
  if (!isShowingErrorMap()) return;

  errorMapScale_ = 0;
  for (std::size_t quadrant = 0; quadrant < 4; ++quadrant) {
    if (!named[quadrant]) continue;
    const auto map = errorMaps_.find(*named[quadrant]);
    if (map == errorMaps_.end()) {
      isQuadrantMapLoading_[quadrant] = true;
      continue;
    }
    quadrantMaps_[quadrant] = map->second;
    if (quadrantMaps_[quadrant]) errorMapScale_ = std::max(errorMapScale_, quadrantMaps_[quadrant]->topShare);
  }
}

void FourWayCanvasModel::renderErrorMap(CanvasLayer layer, int quadrant, const DisplayImage& shown,
                                        double displayHeadroom) {
  const ErrorMapPlane* map = quadrantMaps_[static_cast<std::size_t>(quadrant)].get();
  const double scale = errorMapScale_;
  RasterCacheKey key{shown.image->identifier(), std::nullopt, displayHeadroom, std::nullopt, std::nullopt, false,
                     static_cast<int>(values_.errorMapLayer), scale};
  applyKey(layer, key, [&] { return rasterizer_->rasterizeErrorMap(*shown.image, map, scale); });
}

std::optional<ErrorMapReading> FourWayCanvasModel::errorMapReadingAt(PointF point) const {
  if (!isShowingErrorMap()) return std::nullopt;
  for (int quadrant = 0; quadrant < 4; ++quadrant) {
    const CanvasLayerState& layer = layers_[index(quadrantLayer(quadrant))];
    const RectF& clip = layer.clip;
    if (point.x < clip.x || point.y < clip.y || point.x >= clip.x + clip.width || point.y >= clip.y + clip.height) {
      continue;
    }
    const ErrorMapPlane* map = quadrantMaps_[static_cast<std::size_t>(quadrant)].get();
    const RectF& frame = layer.frame;
    if (!map || !(frame.width > 0) || !(frame.height > 0)) return std::nullopt;
    // The frame spans the result's display size, which the map matches pixel for pixel.
    const DisplayImage& shown = *values_.panelImages[static_cast<std::size_t>(quadrant)];
    const double x = (point.x - frame.x) / frame.width * shown.image->width();
    const double y = (point.y - frame.y) / frame.height * shown.image->height();
    if (x < 0 || y < 0 || x >= map->width || y >= map->height) return std::nullopt;
    const double share = map->shareAt(static_cast<int>(x), static_cast<int>(y));
    return ErrorMapReading{quadrant, share, errorMapPosition(share, errorMapScale_)};
  }
  return std::nullopt;
}

void FourWayCanvasModel::prune(double displayHeadroom) {
  std::unordered_set<std::uint64_t> live{values_.sourceImage->image->identifier()};
  for (const auto& panelImage : values_.panelImages) {
    if (isPresent(panelImage)) live.insert(panelImage->image->identifier());
  }
  cache_.prune(live, displayHeadroom, values_.differenceGain, static_cast<int>(values_.errorMapLayer), errorMapScale_);
  for (auto& applied : appliedKeys_) {
    if (applied && !cache_.contains(*applied)) applied.reset();
  }
}

}  // namespace quorlin
