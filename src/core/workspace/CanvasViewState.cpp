#include "core/workspace/CanvasViewState.h"

namespace quorlin {

void CanvasViewState::setZoom(double zoom) {
  if (zoom == zoom_) return;
  zoom_ = zoom;
  changed_(WorkspaceAspect::viewValues);
}

void CanvasViewState::setDisplayedImageScalePercent(int percent) {
  if (percent == displayedImageScalePercent_) return;
  displayedImageScalePercent_ = percent;
  changed_(WorkspaceAspect::viewValues);
}

void CanvasViewState::setPanOffset(SizeF offset) {
  if (offset == panOffset_) return;
  panOffset_ = offset;
  changed_(WorkspaceAspect::viewValues);
}

void CanvasViewState::setComparisonPoint(double x, double y) {
  if (x == comparisonX_ && y == comparisonY_) return;
  comparisonX_ = x;
  comparisonY_ = y;
  changed_(WorkspaceAspect::viewValues);
}

void CanvasViewState::setShowingOriginal(bool showing) {
  if (showing == isShowingOriginal_) return;
  isShowingOriginal_ = showing;
  changed_(WorkspaceAspect::viewValues);
}

void CanvasViewState::setShowingDifference(bool showing) {
  if (showing == isShowingDifference_) return;
  isShowingDifference_ = showing;
  changed_(WorkspaceAspect::viewValues);
}

void CanvasViewState::setShowingErrorMap(bool showing) {
  if (showing == isShowingErrorMap_) return;
  isShowingErrorMap_ = showing;
  changed_(WorkspaceAspect::viewValues);
}

void CanvasViewState::setErrorMapLayer(ErrorMapLayer layer) {
  if (layer == errorMapLayer_) return;
  errorMapLayer_ = layer;
  changed_(WorkspaceAspect::viewValues);
}

void CanvasViewState::setDifferenceGain(int gain) {
  if (gain == differenceGain_) return;
  differenceGain_ = gain;
  changed_(WorkspaceAspect::viewValues);
}

void CanvasViewState::advanceCanvasCommandToken() {
  ++canvasCommandToken_;
  changed_(WorkspaceAspect::canvasCommand);
}

void CanvasViewState::resetForNewSource() {
  zoom_ = 1.0;
  panOffset_ = {};
  comparisonX_ = 0.5;
  comparisonY_ = 0.5;
  changed_(WorkspaceAspect::viewValues);
}

void CanvasViewState::holdOriginal() {
  setShowingDifference(false);
  setShowingOriginal(true);
}

void CanvasViewState::holdDifference() {
  setShowingOriginal(false);
  setShowingDifference(true);
}

void CanvasViewState::releaseHolds() {
  setShowingOriginal(false);
  setShowingDifference(false);
}

void CanvasViewState::stepDifferenceGain(int step) {
  setDifferenceGain(quorlin::stepDifferenceGain(differenceGain_, step));
}

void CanvasViewState::setDifferenceGainStep(int index) {
  setDifferenceGain(quorlin::setDifferenceGainStep(differenceGain_, index));
}

}  // namespace quorlin
