#include "core/comparison/QuadrantLabel.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/comparison/LabelFade.h"
#include "core/comparison/SplitOverlay.h"

namespace quorlin {
namespace {

const std::vector<QuadrantPanelSummary> panels{
    {"JPEG XL", true, false},
    {"AVIF", true, true},
    {"HEIF (System)", false, false},
};

TEST(QuadrantLabelTest, NamesTheCodecOrTheOriginalAndMarksAStaleResultInRed) {
  EXPECT_EQ(quadrantLabel(0, panels, false, false, 2), (QuadrantLabel{"1  JPEG XL", LabelBackground::normal}));
  // No result, or no panel at that index, shows the source.
  EXPECT_EQ(quadrantLabel(2, panels, false, false, 2), (QuadrantLabel{"3  Original", LabelBackground::normal}));
  EXPECT_EQ(quadrantLabel(3, panels, false, false, 2), (QuadrantLabel{"4  Original", LabelBackground::normal}));
  QuadrantLabel label = quadrantLabel(1, panels, false, false, 2);
  EXPECT_EQ(label.text, "2  AVIF - Needs Regeneration");
  EXPECT_EQ(label.background, LabelBackground::needsRegeneration);
  // After regeneration the same panel is back on black.
  std::vector<QuadrantPanelSummary> regenerated = panels;
  regenerated[1].needsRegeneration = false;
  EXPECT_EQ(quadrantLabel(1, regenerated, false, false, 2), (QuadrantLabel{"2  AVIF", LabelBackground::normal}));
  EXPECT_EQ(labelBackgroundColor(LabelBackground::normal), (RGBAColor{0, 0, 0, 0.58}));
  EXPECT_EQ(labelBackgroundColor(LabelBackground::needsRegeneration).alpha, 0.76);
}

TEST(QuadrantLabelTest, DisplayModesOverrideTheCodecName) {
  // Difference: only panels with a result say so; the original mode wins over everything.
  EXPECT_EQ(quadrantLabel(1, panels, false, true, 16).text, "2  Difference \xC3\x97" "16");
  EXPECT_EQ(quadrantLabel(1, panels, false, true, 16).background, LabelBackground::normal);
  EXPECT_EQ(quadrantLabel(2, panels, false, true, 16).text, "3  Original");
  EXPECT_EQ(quadrantLabel(0, panels, true, true, 16).text, "1  Original");
  // A failed panel shows no difference: its quadrant must not pass for a perfect match.
  std::vector<QuadrantPanelSummary> failed = panels;
  failed[2].hasFailed = true;
  EXPECT_EQ(quadrantLabel(2, failed, false, true, 16).text, "3  Failed");
  EXPECT_EQ(quadrantLabel(2, failed, false, false, 16).text, "3  Original");
  EXPECT_EQ(quadrantLabel(2, failed, true, true, 16).text, "3  Original");
  EXPECT_EQ(differenceBadgeText(8), "Difference \xC3\x97" "8");
}

TEST(QuadrantLabelTest, LabelsSitTwelvePointsFromTheSplitAndTheCrossIsCentredOnIt) {
  PointF split{400, 300};
  SizeF size{100, 20};
  const PointF origins[] = {{288, 268}, {412, 268}, {288, 312}, {412, 312}};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(quadrantLabelOrigin(i, split, size), origins[i]) << i;
  // Not measured yet: width 0, height 24.
  EXPECT_EQ(quadrantLabelOrigin(0, split, std::nullopt), (PointF{388, 264}));
  EXPECT_EQ(quadrantLabelOrigin(3, split, std::nullopt), (PointF{412, 312}));
  SplitOverlayLayout layout = splitOverlayLayout({800, 600}, 0.25, 0.5);
  EXPECT_EQ(layout.splitPoint, (PointF{200, 300}));
  EXPECT_EQ(layout.verticalLine, (RectF{199.5, 0, 1, 600}));
  EXPECT_EQ(layout.horizontalLine, (RectF{0, 299.5, 800, 1}));
  EXPECT_EQ(layout.handle, (RectF{184, 284, 32, 32}));
  EXPECT_EQ(differenceBadgeFrame({800, 600}, {120, 30}), (RectF{340, 554, 120, 30}));
}

using std::chrono::milliseconds;

TEST(LabelFadeTest, LabelsHideOnePointFourSecondsAfterTheLastDragUnlessADisplayModeHoldsThem) {
  LabelFade fade;
  fade.show(milliseconds(1000));
  EXPECT_FALSE(fade.advance(milliseconds(2000)));
  fade.show(milliseconds(2000));   // a later drag restarts the wait
  EXPECT_FALSE(fade.advance(milliseconds(3399)));
  EXPECT_TRUE(fade.isVisible());
  EXPECT_EQ(fade.pendingFadeDeadline(), milliseconds(3400));
  EXPECT_TRUE(fade.advance(milliseconds(3400)));
  EXPECT_FALSE(fade.isVisible());
  EXPECT_FALSE(fade.pendingFadeDeadline());
  EXPECT_FALSE(fade.advance(milliseconds(9000)));
  EXPECT_EQ(fade.opacity(false, false), 0.0);
  EXPECT_EQ(fade.opacity(true, false), 1.0);
  EXPECT_EQ(fade.opacity(false, true), 1.0);
  fade.show(milliseconds(9500));
  EXPECT_EQ(fade.opacity(false, false), 1.0);
}

}  // namespace
}  // namespace quorlin
