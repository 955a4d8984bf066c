// FourWayComparisonImageView: the interactive comparison view around the
// canvas.
//
// Turns pointer drags and clicks into the split position, hover into the
// registry's pointer state (and, with Ctrl held, into a pan that follows the
// pointer), and provides the seven zoom and pan commands. All geometry comes
// from ComparisonGeometry; the view only applies the results. Over the canvas
// it draws the split cross, the handle, the quadrant labels (which fade out
// 1.4 s after the last drag), the difference badge and, while the error map
// shows, its legend with the shared scale and the value under the pointer.
//
// Values: the owner hands everything in with setValues (FourWayComparisonValues).
// The view applies its own edits of zoom, pan and split to its copy at once and
// reports them with viewStateChanged; the displayed percent is written back
// with displayedImageScalePercentChanged in a separate main-thread task after
// the change, and only when it differs. The split is clamped again whenever
// zoom, pan or the view size change and when the view is shown.
//
// Commands: while active, the view stores its seven operations in the
// KeyboardCommandRegistry when it is shown, when its size changes, when it
// becomes active and when commandToken changes; the handlers do nothing once
// the view is gone. Becoming inactive clears the registry's pointer state; an
// inactive view ignores hover. The registry must outlive the view.
//
// Main thread only.
#pragma once

#include <QWidget>

#include <array>
#include <memory>
#include <optional>

#include "core/comparison/CanvasRasterizer.h"
#include "core/comparison/DisplayHeadroom.h"
#include "core/comparison/KeyboardCommandRegistry.h"
#include "core/comparison/QuadrantLabel.h"
#include "gui/comparison/FourWayComparisonValues.h"
#include "gui/comparison/QuadrantLabelFader.h"

namespace quorlin::gui {

class ComparisonOverlayWidget;
class FourWayCanvasWidget;

class FourWayComparisonImageView : public QWidget {
  Q_OBJECT

 public:
  explicit FourWayComparisonImageView(
      KeyboardCommandRegistry& registry, QWidget* parent = nullptr,
      std::shared_ptr<CanvasRasterizer> rasterizer = std::make_shared<ImageRasterizer>(),
      DisplayHeadroomProvider displayHeadroomProvider = platformDisplayHeadroomProvider());
  ~FourWayComparisonImageView() override;

  void setValues(const FourWayComparisonValues& values);
  const FourWayComparisonValues& values() const { return values_; }

  // The commands, for the current view size.
  void resetImage();
  void zoomActualSize();
  void zoomToScale(double scale);
  void zoomIn();
  void zoomOut();
  void optionScrollZoom(double scrollDelta);
  void scrollPan(double dx, double dy);

  // The labels as they read now, in quadrant order, and their opacity.
  std::array<QuadrantLabel, 4> quadrantLabels() const;
  double labelOpacity() const { return fader_.opacity(); }
  bool hasPendingLabelFade() const { return fader_.isFadePending(); }

  const FourWayCanvasWidget& canvas() const { return *canvas_; }
  const ComparisonOverlayWidget& overlay() const { return *overlay_; }

 signals:
  void viewStateChanged(const quorlin::ComparisonViewState& viewState);
  void displayedImageScalePercentChanged(int percent);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  SizeF viewSize() const;
  SizeF sourceSize() const;
  void applyViewState(const ComparisonViewState& next);
  void reclampSplit();
  void dragSplit(QPointF location);
  void hover(QPointF location, Qt::KeyboardModifiers modifiers);
  void registerCommands();
  void schedulePercentUpdate();
  void writePercent();
  void pushCanvasValues();
  void refreshOverlay();

  KeyboardCommandRegistry& registry_;
  FourWayComparisonValues values_;
  FourWayCanvasWidget* canvas_;
  ComparisonOverlayWidget* overlay_;
  QuadrantLabelFader fader_;
  bool hasAppeared_ = false;
  bool isDragging_ = false;
  bool isPercentUpdatePending_ = false;
  std::optional<QPointF> pointer_;   // over the view, for the error map readout
};

}  // namespace quorlin::gui
