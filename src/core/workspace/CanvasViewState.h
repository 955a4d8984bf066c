// CanvasViewState: the canvas's view values of one tab (zoom, pan, comparison
// point, the hold-to-show flags, the difference gain and the error map's
// mode and layer) and what the keys
// and the zoom bar do to them. The canvas binds these two-way; every change
// is reported once through the callback given at construction (the owning
// workspace turns it into a notification). Main thread only.
#pragma once

#include <functional>

#include "core/comparison/ErrorMapImage.h"
#include "core/comparison/KeyboardCommandRegistry.h"
#include "core/comparison/ViewGeometry.h"
#include "core/workspace/WorkspaceChange.h"

namespace quorlin {

class CanvasViewState {
 public:
  explicit CanvasViewState(std::function<void(WorkspaceAspect)> changed) : changed_(std::move(changed)) {}

  double zoom() const { return zoom_; }
  void setZoom(double zoom);
  int displayedImageScalePercent() const { return displayedImageScalePercent_; }
  void setDisplayedImageScalePercent(int percent);
  SizeF panOffset() const { return panOffset_; }
  void setPanOffset(SizeF offset);
  // The zoom bar's "Reset pan".
  void resetPan() { setPanOffset({}); }
  double comparisonX() const { return comparisonX_; }
  double comparisonY() const { return comparisonY_; }
  void setComparisonPoint(double x, double y);
  bool isShowingOriginal() const { return isShowingOriginal_; }
  bool isShowingDifference() const { return isShowingDifference_; }
  void setShowingOriginal(bool showing);
  void setShowingDifference(bool showing);
  // The error map: on while E is held or after the toggle; the original and
  // the difference, while held, show over it.
  bool isShowingErrorMap() const { return isShowingErrorMap_; }
  void setShowingErrorMap(bool showing);
  void toggleErrorMap() { setShowingErrorMap(!isShowingErrorMap_); }
  ErrorMapLayer errorMapLayer() const { return errorMapLayer_; }
  void setErrorMapLayer(ErrorMapLayer layer);
  int differenceGain() const { return differenceGain_; }
  void setDifferenceGain(int gain);
  int canvasCommandToken() const { return canvasCommandToken_; }
  // After a zoom-bar command, so the canvas re-registers its handlers.
  void advanceCanvasCommandToken();

  // A new source: fit, centred, split in the middle.
  void resetForNewSource();

  // ---- What the keys do (the registry's handlers call these)
  // Holding one overlay key shows that overlay alone.
  void holdOriginal();
  void holdDifference();
  // Releasing the keys, or the tab going inactive, shows the panels again.
  void releaseHolds();
  void releaseDifference() { setShowingDifference(false); }
  void stepDifferenceGain(int step);
  void setDifferenceGainStep(int index);

 private:
  // Every view value: a change, and only a change, is announced.
  template <typename T>
  void assign(T& field, const T& value) {
    if (field == value) return;
    field = value;
    changed_(WorkspaceAspect::viewValues);
  }

  std::function<void(WorkspaceAspect)> changed_;
  double zoom_ = 1.0;
  int displayedImageScalePercent_ = 100;
  SizeF panOffset_;
  double comparisonX_ = 0.5;
  double comparisonY_ = 0.5;
  bool isShowingOriginal_ = false;
  bool isShowingDifference_ = false;
  bool isShowingErrorMap_ = false;
  ErrorMapLayer errorMapLayer_ = ErrorMapLayer::all;
  int differenceGain_ = defaultDifferenceGain;
  int canvasCommandToken_ = 0;
};

}  // namespace quorlin
