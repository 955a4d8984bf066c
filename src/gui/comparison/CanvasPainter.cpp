#include "gui/comparison/CanvasPainter.h"

#include <QBrush>
#include <QTransform>

#include <cmath>

#include "core/comparison/CheckerboardTile.h"
#include "core/comparison/MipChain.h"
#include "gui/comparison/QtGeometry.h"
#include "gui/comparison/RasterBitmapImage.h"

namespace quorlin::gui {

namespace {

constexpr CanvasLayer paintOrder[] = {CanvasLayer::quadrant0, CanvasLayer::quadrant1, CanvasLayer::quadrant2,
                                      CanvasLayer::quadrant3, CanvasLayer::original};

void paintBackground(QPainter& painter, const CanvasBackground& background, double devicePixelRatio) {
  QRectF frame = toQRectF(background.frame);
  if (!background.isCheckerboard) {
    painter.fillRect(frame, Qt::black);
    return;
  }
  // A tile with at least one pixel per device pixel, scaled back to 32 points.
  int pixelsPerPoint = std::max(1, static_cast<int>(std::ceil(devicePixelRatio - 1e-6)));
  auto tile = checkerboardTile(pixelsPerPoint);
  QBrush brush(imageOf(*tile));
  brush.setTransform(QTransform::fromScale(1.0 / pixelsPerPoint, 1.0 / pixelsPerPoint));
  painter.fillRect(frame, brush);   // tiles live as long as the process
}

void paintLayer(QPainter& painter, const CanvasLayerState& layer, double devicePixelRatio, bool smoothMagnification) {
  if (layer.isHidden || !layer.contents) return;
  MipDrawPlan plan = planMipDraw(*layer.contents, layer.frame, layer.clip, devicePixelRatio);
  if (plan.isEmpty) return;
  const RasterBitmap& level = *layer.contents->levels[static_cast<std::size_t>(plan.level)];
  const double scale = plan.source.width > 0 ? plan.target.width / plan.source.width : 1.0;
  painter.setRenderHint(QPainter::SmoothPixmapTransform, smoothMagnification || scale < squarePixelScale);
  painter.setClipRect(toQRectF(layer.clip));
  painter.drawImage(toQRectF(plan.target), imageOf(level), toQRectF(plan.source));
}

}  // namespace

void paintFourWayCanvas(QPainter& painter, const FourWayCanvasModel& model, double devicePixelRatio,
                        bool smoothMagnification) {
  painter.save();
  paintBackground(painter, model.background(), devicePixelRatio);
  for (CanvasLayer layer : paintOrder) paintLayer(painter, model.layer(layer), devicePixelRatio, smoothMagnification);
  painter.restore();
}

}  // namespace quorlin::gui
