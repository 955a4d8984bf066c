#include "gui/ratedistortion/RateDistortionChart.h"

#include <QChart>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QPen>
#include <QScatterSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace quorlin::gui {

std::vector<ChartPoints> fillRateDistortionChart(QChart& chart, std::span<const ChartCurve> curves,
                                                 const QColor& background) {
  chart.removeAllSeries();
  for (QAbstractAxis* axis : chart.axes()) {
    chart.removeAxis(axis);
    delete axis;
  }
  auto* xAxis = new QLogValueAxis;
  xAxis->setTitleText("Bits per pixel");
  xAxis->setBase(10);
  xAxis->setLabelFormat("%.2g");
  xAxis->setMinorTickCount(8);
  auto* yAxis = new QValueAxis;
  yAxis->setTitleText("SSIMULACRA2");
  chart.addAxis(xAxis, Qt::AlignBottom);
  chart.addAxis(yAxis, Qt::AlignLeft);
  double low = INFINITY, high = 0, lowScore = INFINITY, highScore = -INFINITY;
  auto include = [&](const QPointF& point) {
    low = std::min(low, point.x());
    high = std::max(high, point.x());
    lowScore = std::min(lowScore, point.y());
    highScore = std::max(highScore, point.y());
  };
  auto attach = [&](QAbstractSeries* series, bool inLegend) {
    chart.addSeries(series);
    series->attachAxis(xAxis);
    series->attachAxis(yAxis);
    if (!inLegend) {
      for (QLegendMarker* marker : chart.legend()->markers(series)) marker->setVisible(false);
    }
  };
  std::vector<ChartPoints> made;
  for (const ChartCurve& curve : curves) {
    auto* line = new QLineSeries;
    line->setName(curve.name);
    QPen pen(curve.colour, 2);
    if (curve.isStale) pen.setStyle(Qt::DashLine);
    line->setPen(pen);
    auto* kept = new QScatterSeries;
    auto* dropped = new QScatterSeries;
    for (auto* points : {kept, dropped}) {
      points->setMarkerShape(QScatterSeries::MarkerShapeCircle);
      points->setMarkerSize(9);
      points->setPen(QPen(curve.colour, 1.5));
      points->setProperty("panel", curve.panel);
    }
    kept->setBrush(curve.colour);
    dropped->setBrush(background);
    std::vector<QPointF> linePoints = curve.kept;
    std::sort(linePoints.begin(), linePoints.end(), [](const QPointF& a, const QPointF& b) {
      return a.x() < b.x() || (a.x() == b.x() && a.y() < b.y());
    });
    for (const QPointF& point : curve.kept) include(point);
    for (const QPointF& point : curve.dropped) include(point);
    kept->append(QList<QPointF>(curve.kept.begin(), curve.kept.end()));
    dropped->append(QList<QPointF>(curve.dropped.begin(), curve.dropped.end()));
    line->append(QList<QPointF>(linePoints.begin(), linePoints.end()));
    attach(line, true);
    attach(dropped, false);
    attach(kept, false);
    made.push_back(ChartPoints{curve.panel, kept, dropped});
    if (curve.current) {
      auto* current = new QScatterSeries;
      current->setMarkerShape(QScatterSeries::MarkerShapeCircle);
      current->setMarkerSize(16);
      current->setPen(QPen(curve.colour.darker(140), 2));
      current->setBrush(curve.colour);
      current->append(*curve.current);
      include(*curve.current);
      attach(current, false);
      current->setProperty("current", true);
    }
  }
  if (high > 0) {
    xAxis->setRange(low / 1.15, high * 1.15);
    yAxis->setRange(std::floor(lowScore / 5 - 0.2) * 5, std::ceil(highScore / 5 + 0.2) * 5);
    yAxis->applyNiceNumbers();
  } else {
    xAxis->setRange(0.1, 10);
    yAxis->setRange(0, 100);
  }
  return made;
}

}  // namespace quorlin::gui
