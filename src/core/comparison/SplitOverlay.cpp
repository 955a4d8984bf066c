#include "core/comparison/SplitOverlay.h"

namespace quorlin {

SplitOverlayLayout splitOverlayLayout(SizeF view, double comparisonX, double comparisonY) {
  PointF split{view.width * comparisonX, view.height * comparisonY};
  constexpr double halfLine = splitLineWidth / 2;
  constexpr double halfHandle = splitHandleSize / 2;
  return {split,
          {split.x - halfLine, 0, splitLineWidth, view.height},
          {0, split.y - halfLine, view.width, splitLineWidth},
          {split.x - halfHandle, split.y - halfHandle, splitHandleSize, splitHandleSize}};
}

RectF differenceBadgeFrame(SizeF view, SizeF badgeSize) {
  return {(view.width - badgeSize.width) / 2, view.height - badgeBottomMargin - badgeSize.height, badgeSize.width,
          badgeSize.height};
}

}  // namespace quorlin
