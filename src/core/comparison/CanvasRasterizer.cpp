#include "core/comparison/CanvasRasterizer.h"

#include "core/comparison/DifferenceRendering.h"
#include "core/comparison/ErrorMapRendering.h"
#include "core/comparison/NormalRendering.h"

namespace quorlin {

std::shared_ptr<const RasterizedImage> CanvasRasterizer::rasterizeErrorMap(const DecodedImage& result,
                                                                           const ErrorMapPlane* map, double scale) {
  return quorlin::rasterizeErrorMap(result, map, scale);
}

std::shared_ptr<const RasterizedImage> ImageRasterizer::rasterize(const DecodedImage& image,
                                                                  std::optional<double> contentHeadroom,
                                                                  double displayHeadroom) {
  return rasterizeImage(image, contentHeadroom, displayHeadroom);
}

std::shared_ptr<const RasterizedImage> ImageRasterizer::rasterizeDifference(const DecodedImage& source,
                                                                            const DecodedImage& comparison, int gain,
                                                                            double displayHeadroom) {
  return quorlin::rasterizeDifference(source, comparison, gain, displayHeadroom);
}

}  // namespace quorlin
