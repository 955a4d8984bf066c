// FourWayComparisonValues: what the comparison view's owner (the workspace)
// hands to FourWayComparisonImageView.
//
// The owner owns every field. The view reads them all, and writes back the
// fields marked two-way by emitting a signal with the new value, after
// applying it to its own copy (as a two-way binding would): the owner stores
// the value and may hand it back through setValues at any time.
#pragma once

#include <optional>
#include <vector>

#include "core/comparison/ComparisonGeometry.h"
#include "core/comparison/ErrorMapImage.h"
#include "core/comparison/KeyboardCommandRegistry.h"
#include "core/engine/CodecPanel.h"
#include "core/engine/DisplayImage.h"

namespace quorlin::gui {

struct FourWayComparisonValues {
  std::optional<DisplayImage> sourceImage;   // fitting, zoom, pan and split limits use its display size
  std::vector<CodecPanel> panels;            // quadrant order; read for labels and each result's decoded image
  ComparisonViewState viewState;             // two-way: zoom, pan, split (viewStateChanged)
  int displayedImageScalePercent = 100;      // two-way (displayedImageScalePercentChanged)
  bool isShowingOriginal = false;
  bool isShowingDifference = false;
  int differenceGain = defaultDifferenceGain;
  bool isShowingErrorMap = false;            // each result's error map (the original and difference win)
  ErrorMapLayer errorMapLayer = ErrorMapLayer::all;
  bool usesTransparencyBackground = false;
  bool isActive = false;                     // this view's tab is the selected one
  int commandToken = 0;                      // a change asks an active view to register its commands again
};

}  // namespace quorlin::gui
