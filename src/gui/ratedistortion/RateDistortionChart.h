// The rate–distortion chart's series from plain curves: per panel a line
// through the kept points (dashed when stale), the kept points filled, the
// dropped ones hollow, and the panel's current result as a larger dot; a
// logarithmic bits-per-pixel axis and a score axis fitted to them all.
// Apart from the window so that a redraw can be measured on its own.
#pragma once

#include <QColor>
#include <QPointF>
#include <QString>

#include <optional>
#include <span>
#include <vector>

class QChart;
class QScatterSeries;

namespace quorlin::gui {

struct ChartCurve {
  int panel = 0;  // the panel index, kept on the point series as property "panel"
  QString name;
  QColor colour;
  bool isStale = false;
  std::vector<QPointF> kept;     // (bits per pixel, score), any order
  std::vector<QPointF> dropped;
  std::optional<QPointF> current;  // the panel's result now
};

// The point series of one curve, for hover and click.
struct ChartPoints {
  int panel = 0;
  QScatterSeries* kept = nullptr;
  QScatterSeries* dropped = nullptr;
};

// Replaces every series and axis of `chart`; `background` fills hollow points.
std::vector<ChartPoints> fillRateDistortionChart(QChart& chart, std::span<const ChartCurve> curves,
                                                 const QColor& background);

}  // namespace quorlin::gui
