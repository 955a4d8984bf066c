#include "gui/comparison/QuadrantLabelFader.h"

#include <QEasingCurve>
#include <QPointF>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace quorlin::gui {

namespace {

// The standard ease-out timing curve: cubic Bézier (0, 0), (0.58, 1), (1, 1).
QEasingCurve easeOut() {
  QEasingCurve curve(QEasingCurve::BezierSpline);
  curve.addCubicBezierSegment(QPointF(0.0, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
  return curve;
}

}  // namespace

QuadrantLabelFader::QuadrantLabelFader(QObject* parent) : QObject(parent) {
  clock_.start();   // QElapsedTimer uses the monotonic clock
  fadeTimer_.setSingleShot(true);
  fadeTimer_.setTimerType(Qt::PreciseTimer);
  connect(&fadeTimer_, &QTimer::timeout, this, &QuadrantLabelFader::fadeIfDue);
  animation_.setEasingCurve(easeOut());
  connect(&animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
    opacity_ = value.toDouble();
    emit opacityChanged(opacity_);
  });
}

LabelFade::Time QuadrantLabelFader::now() const { return std::chrono::nanoseconds(clock_.nsecsElapsed()); }

void QuadrantLabelFader::showLabels() {
  bool wasVisible = fade_.isVisible();
  fade_.show(now());
  auto delay = std::chrono::ceil<std::chrono::milliseconds>(*fade_.pendingFadeDeadline() - now());
  fadeTimer_.start(std::max<int>(0, static_cast<int>(delay.count())));
  if (!wasVisible) animateTo(fade_.opacity(isShowingOriginal_, isShowingDifference_), LabelFade::visibilityAnimationSeconds);
}

void QuadrantLabelFader::setModes(bool isShowingOriginal, bool isShowingDifference) {
  if (isShowingOriginal == isShowingOriginal_ && isShowingDifference == isShowingDifference_) return;
  isShowingOriginal_ = isShowingOriginal;
  isShowingDifference_ = isShowingDifference;
  animateTo(fade_.opacity(isShowingOriginal_, isShowingDifference_), LabelFade::modeAnimationSeconds);
}

void QuadrantLabelFader::fadeIfDue() {
  if (fade_.advance(now())) {
    animateTo(fade_.opacity(isShowingOriginal_, isShowingDifference_), LabelFade::visibilityAnimationSeconds);
  } else if (auto deadline = fade_.pendingFadeDeadline()) {
    // Woken a little early: wait for the rest.
    auto rest = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now());
    fadeTimer_.start(std::max<int>(1, static_cast<int>(rest.count())));
  }
}

void QuadrantLabelFader::animateTo(double target, double seconds) {
  animation_.stop();
  if (opacity_ == target) return;
  animation_.setStartValue(opacity_);
  animation_.setEndValue(target);
  animation_.setDuration(static_cast<int>(std::lround(seconds * 1000)));
  animation_.start();
}

}  // namespace quorlin::gui
