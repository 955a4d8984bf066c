#include "gui/comparison/FourWayCanvasWidget.h"

#include <QPainter>
#include <QScreen>
#include <QWindow>

#include "gui/comparison/CanvasMagnification.h"
#include "gui/comparison/CanvasPainter.h"
#include "gui/comparison/QtGeometry.h"

namespace quorlin::gui {

FourWayCanvasWidget::FourWayCanvasWidget(QWidget* parent, std::shared_ptr<CanvasRasterizer> rasterizer,
                                         DisplayHeadroomProvider displayHeadroomProvider)
    : QWidget(parent), model_(std::move(rasterizer)), displayHeadroomProvider_(std::move(displayHeadroomProvider)) {
  setAttribute(Qt::WA_OpaquePaintEvent);         // the background covers every pixel
  setAttribute(Qt::WA_TransparentForMouseEvents);
  connect(&CanvasMagnification::instance(), &CanvasMagnification::smoothChanged, this, [this] { update(); });
  // Runs on a reading thread; the model never calls it once it is destroyed,
  // which happens before this object's events are discarded.
  model_.setErrorMapArrivalHandler([this] {
    QMetaObject::invokeMethod(
        this,
        [this] {
          runUpdate();
          emit errorMapArrived();
        },
        Qt::QueuedConnection);
  });
  runUpdate();
}

void FourWayCanvasWidget::setValues(const FourWayImageCanvas& values) {
  values_ = values;
  runUpdate();
}

void FourWayCanvasWidget::runUpdate() {
  model_.update(values_, toSizeF(size()), displayHeadroom(displayHeadroomProvider_));
  update();
}

void FourWayCanvasWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paintFourWayCanvas(painter, model_, devicePixelRatioF(), CanvasMagnification::instance().isSmooth());
}

void FourWayCanvasWidget::resizeEvent(QResizeEvent*) { runUpdate(); }

void FourWayCanvasWidget::showEvent(QShowEvent*) {
  followScreenChanges();
  runUpdate();
}

// A move to another screen may change the headroom (and the pixel ratio the
// painter plans mip levels for).
void FourWayCanvasWidget::followScreenChanges() {
  QWindow* window = this->window()->windowHandle();
  if (window == watchedWindow_) return;
  disconnect(screenConnection_);
  watchedWindow_ = window;
  if (window) screenConnection_ = connect(window, &QWindow::screenChanged, this, [this] { runUpdate(); });
}

}  // namespace quorlin::gui
