#include "gui/comparison/FourWayComparisonImageView.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPointer>

#include <string>
#include <utility>

#include "core/comparison/ComparisonGeometry.h"
#include "core/comparison/ErrorMapRendering.h"
#include "gui/comparison/ComparisonOverlayWidget.h"
#include "gui/comparison/FourWayCanvasWidget.h"
#include "gui/comparison/QtGeometry.h"

namespace quorlin::gui {

namespace {

SizeF displaySizeOf(const std::optional<DisplayImage>& image) {
  if (!image) return {};
  return {image->displaySize.width, image->displaySize.height};
}

FourWayImageCanvas canvasValuesOf(const FourWayComparisonValues& values) {
  FourWayImageCanvas canvas;
  canvas.sourceImage = values.sourceImage;
  for (const CodecPanel& panel : values.panels) {
    canvas.panelImages.push_back(panel.result ? std::optional(panel.result->decodedImage) : std::nullopt);
    canvas.panelErrorMaps.push_back(panel.result ? panel.result->errorMapURL : std::nullopt);
  }
  canvas.comparisonX = values.viewState.comparisonX;
  canvas.comparisonY = values.viewState.comparisonY;
  canvas.panOffset = values.viewState.panOffset;
  canvas.isShowingOriginal = values.isShowingOriginal;
  canvas.isShowingDifference = values.isShowingDifference;
  canvas.differenceGain = values.differenceGain;
  canvas.isShowingErrorMap = values.isShowingErrorMap;
  canvas.errorMapLayer = values.errorMapLayer;
  canvas.usesTransparencyBackground = values.usesTransparencyBackground;
  canvas.zoom = values.viewState.zoom;
  return canvas;
}

std::vector<QuadrantPanelSummary> panelSummariesOf(const std::vector<CodecPanel>& panels) {
  std::vector<QuadrantPanelSummary> summaries;
  for (const CodecPanel& panel : panels) {
    // The name of what the quadrant shows: a stale result may be of another
    // codec than the one the panel is now set to.
    const CompressionCodec shown = panel.result ? panel.result->codec : panel.codec;
    summaries.push_back({std::string(displayName(shown)), panel.result.has_value(), panel.needsRegeneration(),
                         !panel.result && panel.errorMessage.has_value()});
  }
  return summaries;
}

}  // namespace

FourWayComparisonImageView::FourWayComparisonImageView(KeyboardCommandRegistry& registry, QWidget* parent,
                                                       std::shared_ptr<CanvasRasterizer> rasterizer,
                                                       DisplayHeadroomProvider displayHeadroomProvider)
    : QWidget(parent),
      registry_(registry),
      canvas_(new FourWayCanvasWidget(this, std::move(rasterizer), std::move(displayHeadroomProvider))),
      overlay_(new ComparisonOverlayWidget(this)) {
  setMouseTracking(true);   // hover reports the pointer without a button held
  connect(&fader_, &QuadrantLabelFader::opacityChanged, this, [this] { refreshOverlay(); });
  connect(canvas_, &FourWayCanvasWidget::errorMapArrived, this, [this] { refreshOverlay(); });
  pushCanvasValues();
  refreshOverlay();
}

FourWayComparisonImageView::~FourWayComparisonImageView() {
  if (values_.isActive) registry_.clearPointerState();
}

SizeF FourWayComparisonImageView::viewSize() const { return toSizeF(size()); }

SizeF FourWayComparisonImageView::sourceSize() const { return displaySizeOf(values_.sourceImage); }

void FourWayComparisonImageView::setValues(const FourWayComparisonValues& values) {
  const FourWayComparisonValues old = std::exchange(values_, values);
  pushCanvasValues();
  // Which heat is whose matters as much as which difference: the labels stay.
  fader_.setModes(values_.isShowingOriginal, values_.isShowingDifference || canvas_->model().isShowingErrorMap());
  refreshOverlay();
  if (old.isActive != values_.isActive) {
    if (values_.isActive) {
      registerCommands();
    } else {
      registry_.clearPointerState();
    }
  } else if (values_.isActive && old.commandToken != values_.commandToken) {
    registerCommands();
  }
  if (old.viewState.zoom != values_.viewState.zoom || old.viewState.panOffset != values_.viewState.panOffset) {
    reclampSplit();
  }
  schedulePercentUpdate();
}

// ---- Commands ----

void FourWayComparisonImageView::resetImage() {
  applyViewState(quorlin::resetImage(values_.viewState, viewSize(), sourceSize()));
  schedulePercentUpdate();
}

void FourWayComparisonImageView::zoomActualSize() {
  applyViewState(quorlin::zoomActualSize(values_.viewState, viewSize(), sourceSize()));
  schedulePercentUpdate();
}

void FourWayComparisonImageView::zoomToScale(double scale) {
  applyViewState(quorlin::zoomToScale(values_.viewState, scale, viewSize(), sourceSize()));
  schedulePercentUpdate();
}

void FourWayComparisonImageView::zoomIn() {
  applyViewState(quorlin::zoomIn(values_.viewState, viewSize(), sourceSize()));
  schedulePercentUpdate();
}

void FourWayComparisonImageView::zoomOut() {
  applyViewState(quorlin::zoomOut(values_.viewState, viewSize(), sourceSize()));
  schedulePercentUpdate();
}

void FourWayComparisonImageView::optionScrollZoom(double scrollDelta) {
  applyViewState(quorlin::optionScrollZoom(values_.viewState, scrollDelta, registry_.lastPointerLocation, viewSize(),
                                           sourceSize()));
  schedulePercentUpdate();
}

void FourWayComparisonImageView::scrollPan(double dx, double dy) {
  applyViewState(quorlin::scrollPan(values_.viewState, dx, dy, viewSize(), sourceSize()));
}

void FourWayComparisonImageView::registerCommands() {
  QPointer<FourWayComparisonImageView> view(this);
  registry_.resetImage = [view] {
    if (view) view->resetImage();
  };
  registry_.zoomActualSize = [view] {
    if (view) view->zoomActualSize();
  };
  registry_.zoomToScale = [view](double scale) {
    if (view) view->zoomToScale(scale);
  };
  registry_.zoomIn = [view] {
    if (view) view->zoomIn();
  };
  registry_.zoomOut = [view] {
    if (view) view->zoomOut();
  };
  registry_.optionScrollZoom = [view](double scrollDelta) {
    if (view) view->optionScrollZoom(scrollDelta);
  };
  registry_.scrollPan = [view](double dx, double dy) {
    if (view) view->scrollPan(dx, dy);
  };
}

// ---- Values ----

void FourWayComparisonImageView::applyViewState(const ComparisonViewState& next) {
  if (next == values_.viewState) return;
  values_.viewState = next;
  pushCanvasValues();
  refreshOverlay();
  emit viewStateChanged(values_.viewState);
}

void FourWayComparisonImageView::reclampSplit() {
  applyViewState(quorlin::reclampSplit(values_.viewState, viewSize(), sourceSize()));
}

void FourWayComparisonImageView::schedulePercentUpdate() {
  if (isPercentUpdatePending_) return;
  isPercentUpdatePending_ = true;
  QMetaObject::invokeMethod(this, &FourWayComparisonImageView::writePercent, Qt::QueuedConnection);
}

void FourWayComparisonImageView::writePercent() {
  isPercentUpdatePending_ = false;
  int percent = displayedScalePercent(values_.viewState.zoom, viewSize(), sourceSize());
  if (percent == values_.displayedImageScalePercent) return;
  values_.displayedImageScalePercent = percent;
  emit displayedImageScalePercentChanged(percent);
}

void FourWayComparisonImageView::pushCanvasValues() { canvas_->setValues(canvasValuesOf(values_)); }

std::array<QuadrantLabel, 4> FourWayComparisonImageView::quadrantLabels() const {
  std::vector<QuadrantPanelSummary> summaries = panelSummariesOf(values_.panels);
  std::array<QuadrantLabel, 4> labels;
  const FourWayCanvasModel& model = canvas_->model();
  for (int quadrant = 0; quadrant < 4; ++quadrant) {
    QuadrantLabel& label = labels[static_cast<std::size_t>(quadrant)];
    label = quadrantLabel(quadrant, summaries, values_.isShowingOriginal, values_.isShowingDifference,
                          values_.differenceGain);
    // A result without a map shows no heat, which must not read as no error.
    if (model.isShowingErrorMap() && static_cast<std::size_t>(quadrant) < values_.panels.size() &&
        values_.panels[static_cast<std::size_t>(quadrant)].result && !model.quadrantErrorMap(quadrant) &&
        !model.isErrorMapLoading(quadrant)) {
      label.text += " - No Error Map";
    }
  }
  return labels;
}

void FourWayComparisonImageView::refreshOverlay() {
  ComparisonOverlayContent content;
  content.comparisonX = values_.viewState.comparisonX;
  content.comparisonY = values_.viewState.comparisonY;
  content.labels = quadrantLabels();
  content.labelOpacity = fader_.opacity();
  if (values_.isShowingDifference) content.badgeText = differenceBadgeText(values_.differenceGain);
  const FourWayCanvasModel& model = canvas_->model();
  if (model.isShowingErrorMap()) {
    ErrorMapLegendContent legend;
    legend.title = "Error Map: " + std::string(errorMapLayerName(values_.errorMapLayer)) +
                   (values_.errorMapLayer == ErrorMapLayer::all ? " Layers" : "");
    legend.ticks = errorMapLegendTicks(model.errorMapScale());
    for (int quadrant = 0; quadrant < 4; ++quadrant) legend.isLoading |= model.isErrorMapLoading(quadrant);
    if (pointer_) {
      if (auto reading = model.errorMapReadingAt(toPointF(*pointer_))) {
        legend.reading = "Under the pointer: " + formatErrorShare(reading->share) + " in quadrant " +
                         std::to_string(reading->quadrant + 1);
        legend.readingPosition = reading->position;
      }
    }
    content.errorMapLegend = legend;
  }
  overlay_->setContent(content);
}

// ---- Events ----

void FourWayComparisonImageView::resizeEvent(QResizeEvent*) {
  canvas_->setGeometry(rect());
  overlay_->setGeometry(rect());
  reclampSplit();
  if (values_.isActive) registerCommands();
  schedulePercentUpdate();
}

void FourWayComparisonImageView::showEvent(QShowEvent*) {
  if (!hasAppeared_) {
    hasAppeared_ = true;
    fader_.showLabels();   // a first glance, then they fade
  }
  reclampSplit();
  if (values_.isActive) registerCommands();
  schedulePercentUpdate();
}

void FourWayComparisonImageView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
  isDragging_ = true;
  dragSplit(event->position());
}

void FourWayComparisonImageView::mouseMoveEvent(QMouseEvent* event) {
  if (isDragging_) {
    dragSplit(event->position());
  } else {
    hover(event->position(), event->modifiers());
  }
  pointer_ = event->position();
  if (canvas_->model().isShowingErrorMap()) refreshOverlay();
}

void FourWayComparisonImageView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !isDragging_) return QWidget::mouseReleaseEvent(event);
  dragSplit(event->position());
  isDragging_ = false;
}

void FourWayComparisonImageView::enterEvent(QEnterEvent* event) { hover(event->position(), event->modifiers()); }

void FourWayComparisonImageView::leaveEvent(QEvent*) {
  pointer_.reset();
  if (canvas_->model().isShowingErrorMap()) refreshOverlay();
  if (values_.isActive) registry_.clearPointerState();
}

void FourWayComparisonImageView::dragSplit(QPointF location) {
  const ComparisonViewState& state = values_.viewState;
  PointF fractions =
      splitFractionsForDrag(toPointF(location), viewSize(), sourceSize(), state.zoom, state.panOffset);
  ComparisonViewState next = state;
  next.comparisonX = fractions.x;
  next.comparisonY = fractions.y;
  applyViewState(next);
  fader_.showLabels();
}

void FourWayComparisonImageView::hover(QPointF location, Qt::KeyboardModifiers modifiers) {
  if (!values_.isActive) return;
  registry_.isPointerOverComparison = true;
  registry_.lastPointerLocation = toPointF(location);
  if (!modifiers.testFlag(Qt::ControlModifier)) return;
  ComparisonViewState next = values_.viewState;
  next.panOffset = commandHoverPan(toPointF(location), viewSize(), sourceSize(), next.zoom);
  applyViewState(quorlin::reclampSplit(next, viewSize(), sourceSize()));
}

}  // namespace quorlin::gui
