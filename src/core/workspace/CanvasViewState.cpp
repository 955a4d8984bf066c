#include "core/workspace/CanvasViewState.h"

namespace quorlin {

void CanvasViewState::setZoom(double zoom) { assign(zoom_, zoom); }

void CanvasViewState::setDisplayedImageScalePercent(int percent) { assign(displayedImageScalePercent_, percent); }

void CanvasViewState::setPanOffset(SizeF offset) { assign(panOffset_, offset); }

void CanvasViewState::setComparisonPoint(double x, double y) {
  if (x == comparisonX_ && y == comparisonY_) return;
  comparisonX_ = x;
  comparisonY_ = y;
  changed_(WorkspaceAspect::viewValues);
}

void CanvasViewState::setShowingOriginal(bool showing) { assign(isShowingOriginal_, showing); }

void CanvasViewState::setShowingDifference(bool showing) { assign(isShowingDifference_, showing); }

void CanvasViewState::setShowingErrorMap(bool showing) { assign(isShowingErrorMap_, showing); }

void CanvasViewState::setErrorMapLayer(ErrorMapLayer layer) { assign(errorMapLayer_, layer); }

void CanvasViewState::setDifferenceGain(int gain) { assign(differenceGain_, gain); }

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
