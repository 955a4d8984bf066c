// QuadrantLabel: the corner labels of the four-way comparison and the
// difference badge: their texts, background choice and placement.
//
// The label code does not read panels itself: the view fills one
// QuadrantPanelSummary per panel (display name, whether it has a result,
// whether that result was made with other settings than the current ones), so
// these rules stay pure and need no codec machinery. Texts are UTF-8.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "core/comparison/ViewGeometry.h"

namespace quorlin {

struct QuadrantPanelSummary {
  std::string displayName;          // the codec's display name
  bool hasResult = false;
  bool needsRegeneration = false;   // the result's settings signature differs from the panel's
  bool hasFailed = false;           // the last run ended in an error (no result)
};

enum class LabelBackground {
  normal,               // black at 58 % opacity
  needsRegeneration,    // red at 76 % opacity
};

struct RGBAColor {
  double red = 0;
  double green = 0;
  double blue = 0;
  double alpha = 1;
  friend bool operator==(const RGBAColor&, const RGBAColor&) = default;
};

RGBAColor labelBackgroundColor(LabelBackground background);

struct QuadrantLabel {
  std::string text;
  LabelBackground background = LabelBackground::normal;
  friend bool operator==(const QuadrantLabel&, const QuadrantLabel&) = default;
};

inline constexpr char needsRegenerationSuffix[] = " - Needs Regeneration";

// The label of quadrant `quadrant` (0..3), N = quadrant + 1:
//   "N  Original" while the source shows full-frame, or when the panel is
//     missing from `panels` or has no result;
//   "N  Failed" instead while the difference shows for a panel whose run failed
//     (its quadrant shows no difference, which must not read as a perfect match);
//   "N  Difference ×G" while the difference shows (panel with a result);
//   else "N  " + display name, + " - Needs Regeneration" (red) when stale.
QuadrantLabel quadrantLabel(int quadrant, std::span<const QuadrantPanelSummary> panels, bool isShowingOriginal,
                            bool isShowingDifference, int differenceGain);

// "Difference ×G", the badge shown while the difference is showing.
std::string differenceBadgeText(int differenceGain);

// Label box metrics, in points.
inline constexpr double labelHorizontalPadding = 8;
inline constexpr double labelVerticalPadding = 4;
inline constexpr double labelCornerRadius = 5;
inline constexpr double labelDistanceFromSplit = 12;
inline constexpr SizeF unmeasuredLabelSize{0, 24};

// Top-left corner of quadrant `quadrant`'s label of size `labelSize` (none =
// not measured yet, counted as 0 × 24), 12 points from the split point into the
// label's own quadrant.
PointF quadrantLabelOrigin(int quadrant, PointF splitPoint, std::optional<SizeF> labelSize);

}  // namespace quorlin
