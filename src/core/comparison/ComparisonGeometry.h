// ComparisonGeometry: the pure rules behind zoom, pan and the split cross of
// the four-way comparison view, and the rectangles its canvas draws into.
//
// Coordinates are view points with the origin at the top-left corner and y
// pointing down. The view has size `view` (W, H); the source image has display
// size `source` (w, h). Every quantity that needs W, H, w and h is "undefined"
// when any of them is not positive; each function says what it returns then.
//
// Zoom is relative to the fitted size (1.0 = the whole picture fits); the
// effective on-screen scale is fit × zoom. Pan is in view points: a positive
// width moves the picture right, a positive height moves it down. The split
// position is stored as fractions (0..1) of the view size from the top-left.
//
// All functions are pure and thread-safe. The zoom operations take the state by
// value and return the new state; the view writes the fields back.
#pragma once

#include <optional>

#include "core/comparison/ViewGeometry.h"

namespace quorlin {

// The values the comparison view edits (they belong to the workspace).
struct ComparisonViewState {
  double zoom = 1.0;
  SizeF panOffset;
  double comparisonX = 0.5;
  double comparisonY = 0.5;
  friend bool operator==(const ComparisonViewState&, const ComparisonViewState&) = default;
};

inline constexpr double minimumZoom = 0.25;
inline constexpr double maximumEffectiveScale = 8.0;   // 800 %
inline constexpr double zoomStep = 1.4142135623730951;   // multiplicative (√2): fit to 800 % in a few presses
inline constexpr double splitInset = 1.0;              // the split never touches the view's outermost point

// min(W / w, H / h); none when undefined.
std::optional<double> fitScale(SizeF view, SizeF source);

struct ZoomLimits {
  double minimum = minimumZoom;
  double maximum = maximumEffectiveScale;
};
// Minimum 0.25; maximum max(8 / fit, 0.25), or 8 when fit is undefined.
ZoomLimits zoomLimits(SizeF view, SizeF source);
// min(maximum, max(0.25, zoom)).
double clampZoom(double zoom, SizeF view, SizeF source);

// The source picture on screen: (w, h) × fit × zoom centred on the view centre,
// moved by the pan; the whole view (0, 0, W, H) when undefined.
RectF pictureRect(SizeF view, SizeF source, double zoom, SizeF pan);

// Half the overflow per axis, so the picture edge can reach the view edge and no
// further; (0, 0) at zoom 1.0 or below and when undefined.
SizeF maximumPan(SizeF view, SizeF source, double zoom);

// Where a split point may lie: the view inset by one point (the whole view when
// that is empty) intersected with the picture rectangle, or the inset view alone
// when they do not overlap.
RectF splitClampRect(SizeF view, SizeF source, double zoom, SizeF pan);

// The split fractions for a drag at `location` (clamped into splitClampRect and
// divided by max(1, W) and max(1, H)). Returned as (comparisonX, comparisonY).
PointF splitFractionsForDrag(PointF location, SizeF view, SizeF source, double zoom, SizeF pan);

// The current split point passed through the drag rule again, as the view does
// after every pan, zoom or view-size change. Fractions that come out unchanged
// are returned unchanged, so the caller writes back only real changes.
ComparisonViewState reclampSplit(ComparisonViewState state, SizeF view, SizeF source);

// Pan for a pointer at `location` while Command (Ctrl) is held: with u = x / W
// and v = y / H (each kept within 0..1), (maxPanX × (1 − 2u), maxPanY × (1 − 2v)).
// The left view edge shows the picture's left edge. (0, 0) when the maximum pan
// is zero or the view has no size.
SizeF commandHoverPan(PointF location, SizeF view, SizeF source, double zoom);

// fit × zoom × 100 rounded to the nearest integer, halves away from zero;
// zoom × 100 the same way when fit is undefined.
int displayedScalePercent(double zoom, SizeF view, SizeF source);

// ---- Operations the keyboard, menus and scroll gestures call ----
// Each returns the new state with the split re-clamped for it.

// Zoom 1.0, pan (0, 0).
ComparisonViewState resetImage(ComparisonViewState state, SizeF view, SizeF source);
// One image pixel per view point: zoom = clamp(1 / fit) (1.0 when undefined), pan (0, 0).
ComparisonViewState zoomActualSize(ComparisonViewState state, SizeF view, SizeF source);
// Effective scale `scale`: zoom = clamp(scale / fit) (1.0 when undefined), pan (0, 0).
ComparisonViewState zoomToScale(ComparisonViewState state, double scale, SizeF view, SizeF source);
// zoom = clamp(zoom ± 0.25); at zoom 1.0 or below the pan becomes (0, 0), above
// it the pan is kept within the new maximum pan.
ComparisonViewState zoomIn(ComparisonViewState state, SizeF view, SizeF source);
ComparisonViewState zoomOut(ComparisonViewState state, SizeF view, SizeF source);

// The zoom factor of one scroll event: d = dy × 0.01; 0.65 when d ≤ −0.35, else
// 1 + min(d, 0.35).
double scrollZoomFactor(double scrollDelta);
// Zoom around the pointer: zoom = clamp(zoom × factor), then the pan from the
// last pointer location by the command-hover rule at the new zoom (view centre,
// pan (0, 0), when no location is known).
ComparisonViewState optionScrollZoom(ComparisonViewState state, double scrollDelta,
                                     std::optional<PointF> lastPointerLocation, SizeF view, SizeF source);
// Only above zoom 1.0: pan += (dx, dy), each axis clamped to ±maximum pan.
ComparisonViewState scrollPan(ComparisonViewState state, double dx, double dy, SizeF view, SizeF source);

// ---- Canvas rectangles ----

// Quadrant i (0 top left, 1 top right, 2 bottom left, 3 bottom right) of a view
// cut at (W × comparisonX, H × comparisonY). With sx, sy that point:
//   0: (0, 0, sx, sy)    1: (sx, 0, W − sx, sy)
//   2: (0, sy, sx, H − sy)    3: (sx, sy, W − sx, H − sy)
// (The y-up layout puts quadrant 0 at y = H − sy; y_down = H − y_up − height.)
RectF quadrantRect(int quadrant, SizeF view, double comparisonX, double comparisonY);

// Where one image is drawn: its own display size fitted into the view, times
// zoom, centred and moved by the pan (y down, so a positive pan height moves it
// down). Empty (all zero) when undefined. Images of other dimensions than the
// source are fitted on their own, so all four cover the same screen area.
RectF canvasImageRect(SizeF view, SizeF imageSize, double zoom, SizeF pan);

}  // namespace quorlin
