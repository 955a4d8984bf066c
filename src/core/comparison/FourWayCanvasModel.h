// FourWayCanvasModel: what the four-way canvas shows, decided without a widget.
//
// The canvas widget calls update() with the ten values, its size and the
// display headroom after every change of any of them, after layout and when it
// moves to another screen. The model then says which layers are visible, where
// they go and which bitmap each shows; the widget only paints those bitmaps
// (MipChain's plan) into those rectangles. Nothing is compared with the
// previous values: bitmaps are cached by RasterCacheKey, and a layer whose key
// is unchanged is skipped before even the cache lookup, so zoom, pan and split
// changes never render.
//
// Layers, bottom to top: the background (view bounds; checkerboard or black),
// four quadrant layers each clipped to its quadrant, and the full-frame
// original. Frames are in view points, y down, absolute (not relative to the
// quadrant). Before the first update and while there is no source or the view
// has no area, every image layer is hidden.
//
// Around each full update the cache keeps only bitmaps of images still shown
// (the source and the present results), made for the current display
// headroom; difference bitmaps also need a live comparison image and the
// current gain (see RasterCache::prune). Pruning runs before rendering too,
// and a layer lets go of its old bitmap before its new one is made, so a gain
// change frees the old difference bitmaps (to the bitmap memory pool) before
// it needs memory for the new ones.
//
// Error maps: while isShowingErrorMap is set (and neither the original nor the
// difference shows), each quadrant shows its panel's map (ErrorMapRendering)
// of the chosen layer over its own result, all coloured on one scale: the
// largest of the shown maps' 99.9th percentiles, so the same share has the
// same colour everywhere and the worse result shows more heat. Maps of the
// current layer are read in the background (ErrorMapLoader) as soon as a
// result names one, whether or not the error map shows, and kept until their
// result or file is no longer named or the layer changes; error map bitmaps are
// kept for the current layer and scale only. Maps that finish reading are taken
// in by an update once no read is still running, so the colours change once,
// not once per map. Until its map is in, a quadrant shows its result as usual
// (isErrorMapLoading); the arrival handler tells the owner when to update again.
//
// Rendering happens synchronously inside update() through the injected
// CanvasRasterizer (ImageRasterizer by default). Main thread only, but for
// the arrival handler.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "core/comparison/CanvasRasterizer.h"
#include "core/comparison/ErrorMapLoader.h"
#include "core/comparison/FourWayImageCanvas.h"
#include "core/comparison/RasterCache.h"

namespace quorlin {

enum class CanvasLayer { quadrant0, quadrant1, quadrant2, quadrant3, original };
inline constexpr int canvasLayerCount = 5;

struct CanvasLayerState {
  bool isHidden = true;
  RectF frame;   // the image rectangle
  RectF clip;    // the quadrant for quadrant layers; the view bounds for the original
  std::shared_ptr<const RasterizedImage> contents;   // null: nothing to paint
};

struct CanvasBackground {
  RectF frame;
  bool isCheckerboard = false;   // else opaque black
};

// What the error map says under a point of the view.
struct ErrorMapReading {
  int quadrant = 0;
  double share = 0;      // the pixel's share of the weighted error sum (of the shown layer)
  double position = 0;   // 0..1 on the shared scale
};

class FourWayCanvasModel {
 public:
  explicit FourWayCanvasModel(std::shared_ptr<CanvasRasterizer> rasterizer = std::make_shared<ImageRasterizer>());

  // `displayHeadroom` is normalised (values at most 1.0, or NaN, count as 1.0).
  void update(const FourWayImageCanvas& values, SizeF viewSize, double displayHeadroom);

  const FourWayImageCanvas& values() const { return values_; }
  const CanvasBackground& background() const { return background_; }
  const CanvasLayerState& layer(CanvasLayer layer) const { return layers_[index(layer)]; }
  static CanvasLayer quadrantLayer(int quadrant) { return static_cast<CanvasLayer>(quadrant); }

  // The quadrants show error maps now (the original and the difference win).
  bool isShowingErrorMap() const;
  // The shared scale of the last error map update; 0 when no map has any error.
  double errorMapScale() const { return errorMapScale_; }
  // Quadrant `quadrant`'s map, or null (no map, still reading, or not showing error maps).
  const ErrorMapPlane* quadrantErrorMap(int quadrant) const {
    return quadrantMaps_[static_cast<std::size_t>(quadrant)].get();
  }
  // Quadrant `quadrant` shows its result without its map because the map is not in yet.
  bool isErrorMapLoading(int quadrant) const { return isQuadrantMapLoading_[static_cast<std::size_t>(quadrant)]; }
  // Runs on a worker thread whenever a map has been read; the owner should
  // then run update() again on its own thread. Never runs after destruction.
  void setErrorMapArrivalHandler(std::function<void()> handler) {
    errorMapLoader_.setArrivalHandler(std::move(handler));
  }
  // Blocks until the maps being read are read (for tests and benchmarks; the
  // next update takes them in).
  void waitForErrorMaps() { errorMapLoader_.waitForAll(); }
  // The reading under `point` (view points), or nothing when the error map is
  // not showing, or the point is outside the picture or over a quadrant
  // without a map.
  std::optional<ErrorMapReading> errorMapReadingAt(PointF point) const;

  const RasterCache& rasterCache() const { return cache_; }
  // The key whose bitmap the layer shows; none before its first rendering or
  // after pruning dropped that key.
  std::optional<RasterCacheKey> appliedLayerKey(CanvasLayer layer) const { return appliedKeys_[index(layer)]; }

 private:
  static std::size_t index(CanvasLayer layer) { return static_cast<std::size_t>(layer); }
  void renderNormal(CanvasLayer layer, const DisplayImage& image, double displayHeadroom);
  void renderDifference(CanvasLayer layer, const DisplayImage& source, const DisplayImage& comparison,
                        double displayHeadroom);
  void renderErrorMap(CanvasLayer layer, int quadrant, const DisplayImage& shown, double displayHeadroom);
  void loadErrorMaps();
  template <typename Render>
  void applyKey(CanvasLayer layer, const RasterCacheKey& key, Render render);
  void prune(double displayHeadroom);

  std::shared_ptr<CanvasRasterizer> rasterizer_;
  FourWayImageCanvas values_;
  CanvasBackground background_;
  std::array<CanvasLayerState, canvasLayerCount> layers_{};
  std::array<std::optional<RasterCacheKey>, canvasLayerCount> appliedKeys_{};
  RasterCache cache_;
  SizeF viewSize_;
  ErrorMapLoader::Planes errorMaps_;
  std::array<std::shared_ptr<const ErrorMapPlane>, 4> quadrantMaps_{};
  std::array<bool, 4> isQuadrantMapLoading_{};
  double errorMapScale_ = 0;
  ErrorMapLoader errorMapLoader_;   // last: its threads end before the rest goes
};

}  // namespace quorlin
