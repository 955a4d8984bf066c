// FourWayCanvasWidget: the picture half of the comparison view.
//
// Holds the ten canvas values and a FourWayCanvasModel. Every setValues, every
// resize, showing the widget and moving it to another screen run one model
// update (which renders bitmaps only for layer keys that changed) and schedule
// a repaint; painting draws the model's layers (CanvasPainter). So zoom, pan
// and split changes only repaint, while a new image, headroom, gain or mode
// renders its bitmaps once, synchronously, inside the update.
//
// Error maps are read in the background: when one has been read the widget
// runs another update on the main thread (which takes the maps in once all
// are read) and then emits errorMapArrived.
//
// The widget has no interaction of its own; mouse events pass through it to
// the view around it. Main thread only.
#pragma once

#include <QMetaObject>
#include <QPointer>
#include <QWidget>

#include <memory>

#include "core/comparison/DisplayHeadroom.h"
#include "core/comparison/FourWayCanvasModel.h"

class QWindow;

namespace quorlin::gui {

class FourWayCanvasWidget : public QWidget {
  Q_OBJECT

 public:
  explicit FourWayCanvasWidget(QWidget* parent = nullptr,
                               std::shared_ptr<CanvasRasterizer> rasterizer = std::make_shared<ImageRasterizer>(),
                               DisplayHeadroomProvider displayHeadroomProvider = platformDisplayHeadroomProvider());

  // Copies the values and runs one update.
  void setValues(const FourWayImageCanvas& values);
  const FourWayImageCanvas& values() const { return values_; }

  const FourWayCanvasModel& model() const { return model_; }

 signals:
  void errorMapArrived();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void runUpdate();
  void followScreenChanges();

  FourWayImageCanvas values_;
  FourWayCanvasModel model_;
  DisplayHeadroomProvider displayHeadroomProvider_;
  QPointer<QWindow> watchedWindow_;
  QMetaObject::Connection screenConnection_;
};

}  // namespace quorlin::gui
