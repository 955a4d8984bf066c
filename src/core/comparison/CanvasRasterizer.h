// CanvasRasterizer: how the canvas turns images into bitmaps.
//
// The canvas model calls this only on a cache miss. The default,
// ImageRasterizer, runs NormalRendering, DifferenceRendering and
// ErrorMapRendering (the base class's error map rendering is the real one); tests put a
// counting stand-in here to see exactly when the canvas renders. A null result
// means rendering failed (the layer then shows nothing).
#pragma once

#include <memory>
#include <optional>

#include "core/comparison/ErrorMapImage.h"
#include "core/comparison/RasterBitmap.h"
#include "core/engine/DisplayImage.h"

namespace quorlin {

class CanvasRasterizer {
 public:
  virtual ~CanvasRasterizer() = default;
  virtual std::shared_ptr<const RasterizedImage> rasterize(const DecodedImage& image,
                                                           std::optional<double> contentHeadroom,
                                                           double displayHeadroom) = 0;
  virtual std::shared_ptr<const RasterizedImage> rasterizeDifference(const DecodedImage& source,
                                                                     const DecodedImage& comparison, int gain,
                                                                     double displayHeadroom) = 0;
  // ErrorMapRendering's rasterizeErrorMap; `map` may be null.
  virtual std::shared_ptr<const RasterizedImage> rasterizeErrorMap(const DecodedImage& result,
                                                                   const ErrorMapPlane* map, double scale);
};

class ImageRasterizer final : public CanvasRasterizer {
 public:
  std::shared_ptr<const RasterizedImage> rasterize(const DecodedImage& image, std::optional<double> contentHeadroom,
                                                   double displayHeadroom) override;
  std::shared_ptr<const RasterizedImage> rasterizeDifference(const DecodedImage& source, const DecodedImage& comparison,
                                                             int gain, double displayHeadroom) override;
};

}  // namespace quorlin
