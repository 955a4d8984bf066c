// FourWayImageCanvas: the values the comparison view hands to its canvas.
#pragma once

#include <filesystem>
#include <optional>
#include <vector>

#include "core/comparison/ErrorMapImage.h"
#include "core/comparison/ViewGeometry.h"
#include "core/engine/DisplayImage.h"

namespace quorlin {

struct FourWayImageCanvas {
  std::optional<DisplayImage> sourceImage;               // none until a source is loaded
  std::vector<std::optional<DisplayImage>> panelImages;  // entry i: panel i's decoded result; may hold fewer than 4
  double comparisonX = 0.5;                              // split, fraction of the view width from the left
  double comparisonY = 0.5;                              // split, fraction of the view height from the top
  SizeF panOffset;                                       // view points; positive = right / down
  bool isShowingOriginal = false;                        // the source full-frame instead of the quadrants
  bool isShowingDifference = false;                      // difference images in the quadrants
  int differenceGain = 2;                                // 1, 2, 4, 8, 16 or 32
  bool isShowingErrorMap = false;                        // error maps in the quadrants (difference wins)
  ErrorMapLayer errorMapLayer = ErrorMapLayer::all;
  std::vector<std::optional<std::filesystem::path>> panelErrorMaps;  // entry i: panel i's map file, if any
  bool usesTransparencyBackground = false;               // checkerboard instead of black
  double zoom = 1.0;                                     // relative to the fitted size
};

}  // namespace quorlin
