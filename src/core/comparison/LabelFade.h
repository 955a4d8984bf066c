// LabelFade: when the quadrant labels are shown.
//
// Each drag change (and the drag's end) shows the labels and restarts a 1.4 s
// fade on a monotonic clock; when it runs out they hide. While the full-frame
// source or the difference shows, the labels stay opaque regardless.
//
// The state machine owns no timer: the view feeds it the current time (any
// monotonic origin) and schedules one wake-up at pendingFadeDeadline(). A show
// replaces the pending deadline, which is how a cancelled fade "changes
// nothing". Main thread only.
//
// Before the first show the labels are visible with no fade pending; the view
// calls show() when it first appears so they fade out after a first glance.
#pragma once

#include <chrono>
#include <optional>

namespace quorlin {

class LabelFade {
 public:
  using Time = std::chrono::nanoseconds;

  static constexpr Time fadeDelay = std::chrono::milliseconds(1400);
  // Ease-out durations of the opacity animations, in seconds.
  static constexpr double visibilityAnimationSeconds = 0.35;
  static constexpr double modeAnimationSeconds = 0.15;

  // Makes the labels visible and restarts the fade from `now`.
  void show(Time now);
  // Applies a fade that is due at `now`. Returns whether visibility changed.
  bool advance(Time now);

  bool isVisible() const { return isVisible_; }
  std::optional<Time> pendingFadeDeadline() const { return deadline_; }

  // 1.0 while visible or while either display mode holds them up, else 0.0.
  double opacity(bool isShowingOriginal, bool isShowingDifference) const;

 private:
  bool isVisible_ = true;
  std::optional<Time> deadline_;
};

}  // namespace quorlin
