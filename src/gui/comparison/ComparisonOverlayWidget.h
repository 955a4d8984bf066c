// ComparisonOverlayWidget: what the comparison view draws over its canvas.
//
// The dashed split cross through the split point (1 point, dashes 3 on 3 off,
// butt caps, black at 62 %), the 32 × 32 handle centred on it (window
// background colour, the "arrow.up.left.and.arrow.down.right" symbol), the
// four quadrant labels (white semibold caption text padded 8 × 4 on a
// rounded rectangle of radius 5, black at 58 % or red at 76 %) placed 12 points
// from the split point into their quadrants, at the given opacity, and the
// difference badge (white semibold callout text padded 12 × 7 on black at
// 72 %, 16 points above the bottom edge, centred), or in its place the error
// map legend (title, the colour bar as the canvas blends it over mid grey,
// one tick per decade of the shared scale, and the value under the pointer
// with a mark on the bar). Positions come from
// SplitOverlay and QuadrantLabel; labels are measured with the font they are
// drawn in. Mouse events pass through. Main thread only.
#pragma once

#include <QFont>
#include <QIcon>
#include <QRectF>
#include <QWidget>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "core/comparison/ErrorMapRendering.h"
#include "core/comparison/QuadrantLabel.h"

namespace quorlin::gui {

struct ErrorMapLegendContent {
  std::string title;
  std::vector<ErrorMapLegendTick> ticks;   // empty: no error anywhere
  std::optional<std::string> reading;      // the value under the pointer and its quadrant
  double readingPosition = 0;
  bool isLoading = false;                  // some quadrant's map is still being read
};

struct ComparisonOverlayContent {
  double comparisonX = 0.5;
  double comparisonY = 0.5;
  std::array<QuadrantLabel, 4> labels;
  double labelOpacity = 1.0;
  std::optional<std::string> badgeText;   // none: no badge
  std::optional<ErrorMapLegendContent> errorMapLegend;
};

class ComparisonOverlayWidget : public QWidget {
  Q_OBJECT

 public:
  explicit ComparisonOverlayWidget(QWidget* parent = nullptr);

  void setContent(const ComparisonOverlayContent& content);
  const ComparisonOverlayContent& content() const { return content_; }

  // Where quadrant `quadrant`'s label box is drawn (padding included).
  QRectF labelFrame(int quadrant) const;
  // Where the badge is drawn; empty when there is none.
  QRectF badgeFrame() const;
  QRectF handleFrame() const;
  // Where the error map legend is drawn; empty when there is none.
  QRectF legendFrame() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QSizeF labelSize(int quadrant) const;
  void paintCross(QPainter& painter) const;
  void paintHandle(QPainter& painter) const;
  void paintLabels(QPainter& painter) const;
  void paintBadge(QPainter& painter) const;
  void paintLegend(QPainter& painter) const;

  ComparisonOverlayContent content_;
  QFont labelFont_;
  QFont badgeFont_;
  QIcon handleIcon_;
};

}  // namespace quorlin::gui
