#include "gui/widgets/ActivityIndicator.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace quorlin::gui {

namespace {

constexpr int activitySpokes = 8;
constexpr int activityFrameMilliseconds = 90;

}  // namespace

ActivityIndicator::ActivityIndicator(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setFixedSize(sizeHint());
  timer_.setInterval(activityFrameMilliseconds);
  connect(&timer_, &QTimer::timeout, this, [this] {
    phase_ = (phase_ + 1) % activitySpokes;
    update();
  });
}

void ActivityIndicator::setRunning(bool isRunning) {
  if (isRunning == isRunning_) return;
  isRunning_ = isRunning;
  if (isRunning_) {
    timer_.start();
  } else {
    timer_.stop();
  }
  update();
}

void ActivityIndicator::paintEvent(QPaintEvent*) {
  if (!isRunning_) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPointF centre = QRectF(rect()).center();
  const double outer = std::min(width(), height()) / 2.0 - 1.0;
  const double inner = outer * 0.45;
  QColor color = palette().color(QPalette::WindowText);
  for (int spoke = 0; spoke < activitySpokes; ++spoke) {
    // The spoke at the current phase is the brightest; the others trail off.
    const int age = (phase_ - spoke + activitySpokes) % activitySpokes;
    QColor shade = color;
    shade.setAlphaF(float(1.0 - 0.8 * age / double(activitySpokes - 1)));
    painter.setPen(QPen(shade, 2.0, Qt::SolidLine, Qt::RoundCap));
    const double angle = 2.0 * std::numbers::pi * spoke / activitySpokes;
    const QPointF direction(std::sin(angle), -std::cos(angle));
    painter.drawLine(centre + direction * inner, centre + direction * outer);
  }
}

}  // namespace quorlin::gui
