// QuadrantLabelFader: drives the quadrant labels' opacity over time.
//
// Wraps the LabelFade rules with a monotonic clock, one single-shot timer for
// the pending fade and one animation of the opacity: each showLabels() makes
// them visible and restarts the 1.4 s fade; the change of visibility animates
// with a 0.35 s ease-out, a change of the full-frame or difference mode (which
// hold the labels up) with a 0.15 s ease-out. opacity() is the animated value.
// Main thread only.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QVariantAnimation>

#include "core/comparison/LabelFade.h"

namespace quorlin::gui {

class QuadrantLabelFader : public QObject {
  Q_OBJECT

 public:
  explicit QuadrantLabelFader(QObject* parent = nullptr);

  // A drag change or its end: visible now, fading 1.4 s from now.
  void showLabels();
  // The display modes that hold the labels up.
  void setModes(bool isShowingOriginal, bool isShowingDifference);

  double opacity() const { return opacity_; }
  // Whether the labels count as visible (before the modes are applied).
  bool isVisible() const { return fade_.isVisible(); }
  // Whether a fade-out is still to come.
  bool isFadePending() const { return fade_.pendingFadeDeadline().has_value(); }

 signals:
  void opacityChanged(double opacity);

 private:
  LabelFade::Time now() const;
  void fadeIfDue();
  void animateTo(double target, double seconds);

  LabelFade fade_;
  QElapsedTimer clock_;
  QTimer fadeTimer_;
  QVariantAnimation animation_;
  bool isShowingOriginal_ = false;
  bool isShowingDifference_ = false;
  double opacity_ = 1.0;
};

}  // namespace quorlin::gui
