// RateDistortionChartBench: what a redraw of the rate–distortion chart costs
// with four curves of 50 points each (40 kept, 10 dropped, and a current
// result per panel), on the offscreen platform in a 900 × 600 chart view.
// A redraw is what the window does when a sweep adds a point: every series
// and axis made again, then the whole view painted into an image of its size.
// Goal: under 16 ms (one frame at 60 Hz).
//
// Reported: Redraw (series rebuilt and painted), RebuildOnly (series and
// axes alone) and PaintOnly (the same chart painted again).
#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "gui/ratedistortion/RateDistortionChart.h"

namespace {

using namespace quorlin::gui;

constexpr int curveCount = 4;
constexpr int pointsPerCurve = 50;

// Score rising with the logarithm of the size, each panel a little better.
std::vector<ChartCurve> makeCurves() {
  const QColor colours[] = {QColor(0, 114, 178), QColor(213, 94, 0), QColor(0, 158, 115), QColor(204, 121, 167)};
  std::vector<ChartCurve> curves;
  for (int panel = 0; panel < curveCount; ++panel) {
    ChartCurve curve;
    curve.panel = panel;
    curve.name = QString::number(panel + 1) + " Codec";
    curve.colour = colours[panel];
    curve.isStale = panel == 3;
    for (int i = 0; i < pointsPerCurve; ++i) {
      const double bits = 0.05 * std::pow(1.09, i);
      const double score = 20 + 14 * std::log2(1 + bits * 4) + panel * 2;
      (i % 5 == 4 ? curve.dropped : curve.kept).emplace_back(bits, score - (i % 5 == 4 ? 3 : 0));
    }
    curve.current = QPointF(0.8, 60 + panel);
    curves.push_back(std::move(curve));
  }
  return curves;
}

struct ChartFixture {
  ChartFixture() : image(900, 600, QImage::Format_ARGB32_Premultiplied) {
    view.resize(900, 600);
    view.setRenderHint(QPainter::Antialiasing);
    view.show();
    QApplication::processEvents();
  }
  void paint() {
    image.fill(Qt::white);
    QPainter painter(&image);
    view.render(&painter);
  }
  QChartView view{new QChart};
  QImage image;
  std::vector<ChartCurve> curves = makeCurves();
};

void Redraw(benchmark::State& state) {
  ChartFixture fixture;
  for (auto _ : state) {
    fillRateDistortionChart(*fixture.view.chart(), fixture.curves, Qt::white);
    fixture.paint();
    benchmark::DoNotOptimize(fixture.image.constBits());
  }
}
BENCHMARK(Redraw)->Unit(benchmark::kMillisecond);

void RebuildOnly(benchmark::State& state) {
  ChartFixture fixture;
  for (auto _ : state) fillRateDistortionChart(*fixture.view.chart(), fixture.curves, Qt::white);
}
BENCHMARK(RebuildOnly)->Unit(benchmark::kMillisecond);

void PaintOnly(benchmark::State& state) {
  ChartFixture fixture;
  fillRateDistortionChart(*fixture.view.chart(), fixture.curves, Qt::white);
  fixture.paint();
  for (auto _ : state) {
    fixture.paint();
    benchmark::DoNotOptimize(fixture.image.constBits());
  }
}
BENCHMARK(PaintOnly)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
