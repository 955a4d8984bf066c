#include "core/comparison/ComparisonGeometry.h"

#include <algorithm>
#include <cmath>

namespace quorlin {

namespace {

bool isDefined(SizeF view, SizeF source) { return view.isPositive() && source.isPositive(); }

double clampSymmetric(double value, double limit) { return std::min(limit, std::max(-limit, value)); }

SizeF clampPan(SizeF pan, SizeF limit) {
  return {clampSymmetric(pan.width, limit.width), clampSymmetric(pan.height, limit.height)};
}

// After a zoom step: no pan at or below fit, else the pan kept reachable.
ComparisonViewState applyZoomStep(ComparisonViewState state, double newZoom, SizeF view, SizeF source) {
  state.zoom = clampZoom(newZoom, view, source);
  state.panOffset = state.zoom <= 1.0 ? SizeF{} : clampPan(state.panOffset, maximumPan(view, source, state.zoom));
  return reclampSplit(state, view, source);
}

}  // namespace

std::optional<double> fitScale(SizeF view, SizeF source) {
  if (!isDefined(view, source)) return std::nullopt;
  return std::min(view.width / source.width, view.height / source.height);
}

ZoomLimits zoomLimits(SizeF view, SizeF source) {
  auto fit = fitScale(view, source);
  if (!fit || !(*fit > 0)) return {minimumZoom, maximumEffectiveScale};
  return {minimumZoom, std::max(maximumEffectiveScale / *fit, minimumZoom)};
}

double clampZoom(double zoom, SizeF view, SizeF source) {
  ZoomLimits limits = zoomLimits(view, source);
  return std::min(limits.maximum, std::max(limits.minimum, zoom));
}

RectF pictureRect(SizeF view, SizeF source, double zoom, SizeF pan) {
  auto fit = fitScale(view, source);
  if (!fit) return {0, 0, view.width, view.height};
  double width = source.width * *fit * zoom;
  double height = source.height * *fit * zoom;
  return {view.width / 2 - width / 2 + pan.width, view.height / 2 - height / 2 + pan.height, width, height};
}

SizeF maximumPan(SizeF view, SizeF source, double zoom) {
  auto fit = fitScale(view, source);
  if (!fit || zoom <= 1.0) return {};
  return {std::max(0.0, (source.width * *fit * zoom - view.width) / 2),
          std::max(0.0, (source.height * *fit * zoom - view.height) / 2)};
}

RectF splitClampRect(SizeF view, SizeF source, double zoom, SizeF pan) {
  RectF whole{0, 0, view.width, view.height};
  RectF inset = whole.insetBy(splitInset);
  if (inset.isEmpty()) inset = whole;
  RectF common = inset.intersected(pictureRect(view, source, zoom, pan));
  return common.isEmpty() ? inset : common;
}

PointF splitFractionsForDrag(PointF location, SizeF view, SizeF source, double zoom, SizeF pan) {
  RectF bounds = splitClampRect(view, source, zoom, pan);
  double x = std::min(bounds.maxX(), std::max(location.x, bounds.minX()));
  double y = std::min(bounds.maxY(), std::max(location.y, bounds.minY()));
  return {x / std::max(1.0, view.width), y / std::max(1.0, view.height)};
}

ComparisonViewState reclampSplit(ComparisonViewState state, SizeF view, SizeF source) {
  PointF current{state.comparisonX * view.width, state.comparisonY * view.height};
  PointF fractions = splitFractionsForDrag(current, view, source, state.zoom, state.panOffset);
  if (fractions.x != state.comparisonX) state.comparisonX = fractions.x;
  if (fractions.y != state.comparisonY) state.comparisonY = fractions.y;
  return state;
}

SizeF commandHoverPan(PointF location, SizeF view, SizeF source, double zoom) {
  SizeF limit = maximumPan(view, source, zoom);
  if (!view.isPositive() || (limit.width == 0 && limit.height == 0)) return {};
  double u = std::clamp(location.x / view.width, 0.0, 1.0);
  double v = std::clamp(location.y / view.height, 0.0, 1.0);
  return {limit.width * (1 - 2 * u), limit.height * (1 - 2 * v)};
}

int displayedScalePercent(double zoom, SizeF view, SizeF source) {
  auto fit = fitScale(view, source);
  double percent = fit ? *fit * zoom * 100 : zoom * 100;
  return static_cast<int>(std::round(percent));  // std::round rounds halves away from zero
}

ComparisonViewState resetImage(ComparisonViewState state, SizeF view, SizeF source) {
  state.zoom = 1.0;
  state.panOffset = {};
  return reclampSplit(state, view, source);
}

ComparisonViewState zoomActualSize(ComparisonViewState state, SizeF view, SizeF source) {
  return zoomToScale(state, 1.0, view, source);
}

ComparisonViewState zoomToScale(ComparisonViewState state, double scale, SizeF view, SizeF source) {
  auto fit = fitScale(view, source);
  state.zoom = fit && *fit > 0 ? clampZoom(scale / *fit, view, source) : 1.0;
  state.panOffset = {};
  return reclampSplit(state, view, source);
}

ComparisonViewState zoomIn(ComparisonViewState state, SizeF view, SizeF source) {
  return applyZoomStep(state, state.zoom * zoomStep, view, source);
}

ComparisonViewState zoomOut(ComparisonViewState state, SizeF view, SizeF source) {
  return applyZoomStep(state, state.zoom / zoomStep, view, source);
}

double scrollZoomFactor(double scrollDelta) {
  constexpr double maximumChange = 0.35;
  double d = scrollDelta * 0.01;
  if (d <= -maximumChange) return 1 - maximumChange;
  return 1 + std::min(d, maximumChange);
}

ComparisonViewState optionScrollZoom(ComparisonViewState state, double scrollDelta,
                                     std::optional<PointF> lastPointerLocation, SizeF view, SizeF source) {
  state.zoom = clampZoom(state.zoom * scrollZoomFactor(scrollDelta), view, source);
  state.panOffset = lastPointerLocation ? commandHoverPan(*lastPointerLocation, view, source, state.zoom) : SizeF{};
  return reclampSplit(state, view, source);
}

ComparisonViewState scrollPan(ComparisonViewState state, double dx, double dy, SizeF view, SizeF source) {
  if (state.zoom <= 1.0) return state;
  SizeF limit = maximumPan(view, source, state.zoom);
  state.panOffset = clampPan({state.panOffset.width + dx, state.panOffset.height + dy}, limit);
  return reclampSplit(state, view, source);
}

RectF quadrantRect(int quadrant, SizeF view, double comparisonX, double comparisonY) {
  double sx = view.width * comparisonX;
  double sy = view.height * comparisonY;
  bool isRight = quadrant == 1 || quadrant == 3;
  bool isBottom = quadrant == 2 || quadrant == 3;
  return {isRight ? sx : 0, isBottom ? sy : 0, isRight ? view.width - sx : sx, isBottom ? view.height - sy : sy};
}

RectF canvasImageRect(SizeF view, SizeF imageSize, double zoom, SizeF pan) {
  if (!isDefined(view, imageSize)) return {};
  return pictureRect(view, imageSize, zoom, pan);
}

}  // namespace quorlin
