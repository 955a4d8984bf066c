// KeyboardCommandRegistry: the current handler of every keyboard, menu and
// scroll command, and where the pointer is over the active comparison.
//
// Whoever owns an action stores its handler here (the main window its window
// commands, the active workspace generate and the display modes, the active
// comparison view zoom and pan); menus and the shortcut coordinator only call
// what sits in a slot at that moment. A slot is a std::function: empty means
// no handler. Registering is assigning, which replaces the previous handler.
// Calling an empty slot through call() does nothing.
//
// One registry serves the whole application; it is created by the application
// and passed to whoever needs it. Main thread only.
#pragma once

#include <array>
#include <functional>
#include <optional>
#include <utility>

#include "core/comparison/ViewGeometry.h"

namespace quorlin {

class KeyboardCommandRegistry {
 public:
  using Action = std::function<void()>;

  Action resetImage;                                  // fit the picture, pan (0, 0)
  Action zoomActualSize;                              // 100 %
  std::function<void(double scale)> zoomToScale;      // 200 %, 400 %, 600 %, 800 %
  Action zoomIn;                                      // zoom × √2
  Action zoomOut;                                     // zoom ÷ √2
  Action generate;
  Action newTab;
  Action newTargetTab;
  Action toggleCommandConsole;
  Action showRequiredTools;
  Action showHelp;
  Action showOriginal;                                // difference off, full-frame source on
  Action showDifference;                              // full-frame source off, difference on
  Action hideComparisonOverlay;                       // both off
  Action hideDifference;                              // difference off
  Action showErrorMap;                                // error map on (E held)
  Action hideErrorMap;                                // error map off (E released)
  Action toggleErrorMap;                              // the zoom bar's and the View menu's toggle
  std::function<void(int step)> stepDifferenceGain;   // +1 or −1 along 1, 2, 4, 8, 16, 32
  std::function<void(int index)> setDifferenceGainStep;
  std::function<void(double scrollDelta)> optionScrollZoom;
  std::function<void(double dx, double dy)> scrollPan;
  bool isPointerOverComparison = false;
  std::optional<PointF> lastPointerLocation;          // in the comparison view's coordinates

  // Runs the handler in `slot` with `arguments` if one is registered; returns
  // whether one ran.
  template <typename... Parameters, typename... Arguments>
  static bool call(const std::function<void(Parameters...)>& slot, Arguments&&... arguments) {
    if (!slot) return false;
    slot(std::forward<Arguments>(arguments)...);
    return true;
  }

  // Pointer not over the comparison, no last location (the hover ended or the
  // view became inactive).
  void clearPointerState() {
    isPointerOverComparison = false;
    lastPointerLocation.reset();
  }
};

// The difference gains in step order; a new tab starts at 2.
inline constexpr std::array<int, 6> differenceGains{1, 2, 4, 8, 16, 32};
inline constexpr int defaultDifferenceGain = 2;

// The gain one place along the list from `currentGain` (a gain not in the list
// counts as place 1, i.e. gain 2), clamped to the ends.
int stepDifferenceGain(int currentGain, int step);
// differenceGains[index] for index 0..5; `currentGain` unchanged for any other index.
int setDifferenceGainStep(int currentGain, int index);

}  // namespace quorlin
