// SplitOverlay: where the split cross, its handle and the difference badge sit
// over the canvas, in view points (y down). Pure.
//
// The cross is two dashed lines through the split point spanning the view:
// 1 point wide, dashes 3 on 3 off, butt caps, black at 62 % opacity, each drawn
// along the middle of its 1-point frame. The handle is a 32 × 32 square centred
// on the split point. The badge is centred horizontally, its bottom 16 points
// above the view's bottom edge.
#pragma once

#include "core/comparison/ViewGeometry.h"

namespace quorlin {

inline constexpr double splitLineWidth = 1;
inline constexpr double splitLineDash = 3;         // on, then off, the same length
inline constexpr double splitLineOpacity = 0.62;
// A light band each side of the dashes, so the cross shows on dark pictures too.
inline constexpr double splitOutlineWidth = 1;
inline constexpr double splitOutlineOpacity = 0.4;
inline constexpr double splitHandleSize = 32;
inline constexpr double badgeHorizontalPadding = 12;
inline constexpr double badgeVerticalPadding = 7;
inline constexpr double badgeBottomMargin = 16;
inline constexpr double badgeBackgroundOpacity = 0.72;

struct SplitOverlayLayout {
  PointF splitPoint;      // (W × comparisonX, H × comparisonY)
  RectF verticalLine;     // (x − 0.5, 0, 1, H)
  RectF horizontalLine;   // (0, y − 0.5, W, 1)
  RectF handle;           // (x − 16, y − 16, 32, 32)
};

SplitOverlayLayout splitOverlayLayout(SizeF view, double comparisonX, double comparisonY);

// The badge's frame for a measured badge size (padding included).
RectF differenceBadgeFrame(SizeF view, SizeF badgeSize);

}  // namespace quorlin
