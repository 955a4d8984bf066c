#include "gui/ratedistortion/RateDistortionChart.h"

#include <QCategoryAxis>
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

namespace {

// The round rates in [low, high] to label: powers of ten, else 1-2-5 or
// 1-2-3-5 per decade, else ever finer steps within each decade, the first
// that gives five.
std::vector<double> rateTicks(double low, double high) {
  const int firstDecade = static_cast<int>(std::floor(std::log10(low)));
  const int lastDecade = static_cast<int>(std::floor(std::log10(high)));
  auto within = [&](auto mantissas) {
    std::vector<double> ticks;
    for (int decade = firstDecade; decade <= lastDecade; ++decade) {
      for (double mantissa : mantissas) {
        const double value = mantissa * std::pow(10.0, decade);
        if (value >= low && value <= high) ticks.push_back(value);
      }
    }
    return ticks;
  };
  constexpr std::size_t enough = 5;
  std::vector<double> ticks = within(std::vector{1.0});
  if (ticks.size() < enough) ticks = within(std::vector{1.0, 2.0, 5.0});
  if (ticks.size() < enough) ticks = within(std::vector{1.0, 2.0, 3.0, 5.0});
  for (double unit = 1; ticks.size() < enough && unit > 1e-3; unit /= 10) {
    for (double step : {unit, unit / 2, unit / 5}) {
      std::vector<double> mantissas;
      for (int k = static_cast<int>(std::lround(1 / step)); k * step < 10 - step / 2; ++k) mantissas.push_back(k * step);
      ticks = within(mantissas);
      if (ticks.size() >= enough) break;
    }
  }
  return ticks;
}

}  // namespace

std::vector<ChartPoints> fillRateDistortionChart(QChart& chart, std::span<const ChartCurve> curves,
                                                 const QColor& background) {
  chart.removeAllSeries();
  for (QAbstractAxis* axis : chart.axes()) {
    chart.removeAxis(axis);
    delete axis;
  }
  // The series sit on a hidden logarithmic axis; a log axis labels only powers
  // of ten, none at all for rates within one decade, so the axis shown is one
  // over log10 of the same range with its labels at round rates.
  auto* xAxis = new QLogValueAxis;
  xAxis->setBase(10);
  xAxis->setVisible(false);
  auto* rateAxis = new QCategoryAxis;
  rateAxis->setTitleText("Bits per pixel");
  rateAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
  auto* yAxis = new QValueAxis;
  yAxis->setTitleText("SSIMULACRA2");
  chart.addAxis(xAxis, Qt::AlignBottom);
  chart.addAxis(rateAxis, Qt::AlignBottom);
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
    low /= 1.15;
    high *= 1.15;
    yAxis->setRange(std::floor(lowScore / 5 - 0.2) * 5, std::ceil(highScore / 5 + 0.2) * 5);
    yAxis->applyNiceNumbers();
  } else {
    low = 0.1;
    high = 10;
    yAxis->setRange(0, 100);
  }
  xAxis->setRange(low, high);
  rateAxis->setRange(std::log10(low), std::log10(high));
  rateAxis->setStartValue(std::log10(low));
  for (double tick : rateTicks(low, high)) rateAxis->append(QString::number(tick, 'g', 6), std::log10(tick));
  return made;
}

}  // namespace quorlin::gui
