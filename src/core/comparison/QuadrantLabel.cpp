#include "core/comparison/QuadrantLabel.h"

namespace quorlin {

namespace {
constexpr char multiplicationSign[] = "\xC3\x97";  // U+00D7
}

RGBAColor labelBackgroundColor(LabelBackground background) {
  switch (background) {
    case LabelBackground::needsRegeneration:
      return {1.0, 0.0, 0.0, 0.76};
    case LabelBackground::normal:
      break;
  }
  return {0.0, 0.0, 0.0, 0.58};
}

QuadrantLabel quadrantLabel(int quadrant, std::span<const QuadrantPanelSummary> panels, bool isShowingOriginal,
                            bool isShowingDifference, int differenceGain) {
  std::string prefix = std::to_string(quadrant + 1) + "  ";
  bool hasPanel = quadrant >= 0 && static_cast<std::size_t>(quadrant) < panels.size();
  if (isShowingOriginal || !hasPanel || !panels[static_cast<std::size_t>(quadrant)].hasResult) {
    const bool hasFailed = hasPanel && panels[static_cast<std::size_t>(quadrant)].hasFailed;
    if (isShowingDifference && !isShowingOriginal && hasFailed) return {prefix + "Failed", LabelBackground::normal};
    return {prefix + "Original", LabelBackground::normal};
  }
  if (isShowingDifference) {
    return {prefix + differenceBadgeText(differenceGain), LabelBackground::normal};
  }
  const QuadrantPanelSummary& panel = panels[static_cast<std::size_t>(quadrant)];
  if (panel.needsRegeneration) {
    return {prefix + panel.displayName + needsRegenerationSuffix, LabelBackground::needsRegeneration};
  }
  return {prefix + panel.displayName, LabelBackground::normal};
}

std::string differenceBadgeText(int differenceGain) {
  return std::string("Difference ") + multiplicationSign + std::to_string(differenceGain);
}

PointF quadrantLabelOrigin(int quadrant, PointF splitPoint, std::optional<SizeF> labelSize) {
  SizeF size = labelSize.value_or(unmeasuredLabelSize);
  bool isRight = quadrant == 1 || quadrant == 3;
  bool isBottom = quadrant == 2 || quadrant == 3;
  double x = isRight ? splitPoint.x + labelDistanceFromSplit : splitPoint.x - labelDistanceFromSplit - size.width;
  double y = isBottom ? splitPoint.y + labelDistanceFromSplit : splitPoint.y - labelDistanceFromSplit - size.height;
  return {x, y};
}

}  // namespace quorlin
