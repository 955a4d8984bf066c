// KeyboardShortcuts: which key, modifier and scroll events become registry
// commands, and whether each event is consumed.
//
// The GUI's event filter only translates its events into the small
// descriptions below and hands them to a ShortcutCoordinator (one per
// workspace), which applies the rules and calls the KeyboardCommandRegistry.
// The decide* functions are the rules themselves, pure, for tests and for
// anyone who wants the answer without acting on it.
//
// Keys are physical keys (the key's place on the keyboard, not the character
// the layout gives it). Modifiers keep the macOS names: `command` is Ctrl on
// Linux (Qt::ControlModifier, which is ⌘ on macOS), `option` is Alt,
// `control` is the remaining modifier (Qt::MetaModifier), `shift` is Shift.
//
// Scroll deltas arrive as the platform gives them: points for precise
// (trackpad) deltas, lines for a wheel. Line deltas are taken ×10 into points
// for panning, Alt-scroll zoom (one notch zooms 10 %) and the Shift gain
// accumulator (one notch steps the gain once). Alt- and Shift-scrolling use
// the vertical delta, or the horizontal one when the vertical is zero, because
// some systems turn those wheels into horizontal scrolling.
//
// Main thread only.
#pragma once

#include <optional>
#include <variant>

#include "core/comparison/KeyboardCommandRegistry.h"

namespace quorlin {

enum class PhysicalKey {
  other,
  g, equal, minus,
  digit0, digit1, digit2, digit3, digit4, digit5, digit6, digit7, digit8, digit9,
  space, e,
};

// Linux evdev key codes (X11 and Wayland native scan codes are these + 8).
PhysicalKey physicalKeyFromEvdevCode(int code);
// macOS hardware key codes.
PhysicalKey physicalKeyFromMacKeyCode(int code);
// Fallback when no scan code is known: the key's unshifted ASCII character
// ('G' or 'g', '=', '-', '0'..'9', ' '); Qt::Key values of these keys are
// their ASCII codes. Shifted characters ('!' for Shift+1) are not recognised.
PhysicalKey physicalKeyFromCharacter(int character);

struct ModifierKeys {
  bool shift = false;
  bool control = false;
  bool option = false;
  bool command = false;
  friend bool operator==(const ModifierKeys&, const ModifierKeys&) = default;
  bool isExactlyShift() const { return shift && !control && !option && !command; }
};

struct KeyEvent {
  PhysicalKey key = PhysicalKey::other;
  ModifierKeys modifiers;
  bool isAutoRepeat = false;
};

struct ScrollEvent {
  double deltaX = 0;
  double deltaY = 0;
  bool hasPreciseDeltas = false;   // points (trackpad); else lines (wheel)
  ModifierKeys modifiers;
};

// ---- Commands a decision names ----

// The registry's slots without arguments that shortcuts call.
enum class RegistryAction {
  generate, zoomIn, zoomOut, resetImage, zoomActualSize,
  showOriginal, showDifference, hideComparisonOverlay, hideDifference,
  showErrorMap, hideErrorMap,
};
struct ZoomToScaleCommand {
  double scale = 0;
  friend bool operator==(const ZoomToScaleCommand&, const ZoomToScaleCommand&) = default;
};
// setDifferenceGainStep(index), then showDifference.
struct SelectGainCommand {
  int index = 0;
  friend bool operator==(const SelectGainCommand&, const SelectGainCommand&) = default;
};
struct StepGainCommand {
  int step = 0;
  friend bool operator==(const StepGainCommand&, const StepGainCommand&) = default;
};
struct ScrollZoomCommand {
  double scrollDelta = 0;
  friend bool operator==(const ScrollZoomCommand&, const ScrollZoomCommand&) = default;
};
struct ScrollPanCommand {
  double dx = 0;
  double dy = 0;
  friend bool operator==(const ScrollPanCommand&, const ScrollPanCommand&) = default;
};

using ShortcutCommand = std::variant<std::monostate, RegistryAction, ZoomToScaleCommand, SelectGainCommand,
                                     StepGainCommand, ScrollZoomCommand, ScrollPanCommand>;

struct ShortcutDecision {
  ShortcutCommand command;   // std::monostate: nothing to call
  bool isConsumed = false;   // false: the event passes on to the rest of the application
  friend bool operator==(const ShortcutDecision&, const ShortcutDecision&) = default;
};

// Key down, first match wins: Command+G generate, Command+= zoom in, Command+−
// zoom out, Command+0 reset, Command+1 actual size, Command+2/4/6/8 zoom to
// that scale (other modifiers ignored); Shift+1..6 without Command selects
// gain 1..32 and shows the difference; Space shows the original and E without
// Command, Option or Control the error map (an auto-repeat only consumes);
// anything else passes on. Matches are consumed.
ShortcutDecision decideKeyDown(const KeyEvent& event);
// Key up: only Space and E, always consumed. Space: exactly Shift held shows
// the difference, otherwise both overlays go. E: the error map goes. An auto-repeat release (X11 sends
// them in pairs with the presses) is consumed with no command.
ShortcutDecision decideKeyUp(const KeyEvent& event);
// Modifier change: exactly Shift shows the difference, anything else hides
// it. Never consumed.
ShortcutDecision decideModifiersChanged(ModifierKeys modifiers);

struct ScrollContext {
  bool isPointerOverComparison = false;
  bool hasScrollPan = false;            // the registry's scrollPan slot is filled
};
// Scroll: Option over the comparison zooms; Shift accumulates toward a gain
// step of ±1 at 10 points (the accumulator is updated in place); otherwise the
// accumulator resets and, over the comparison without Command and with a
// scrollPan handler, the picture pans. See the header comment for units.
ShortcutDecision decideScroll(const ScrollEvent& event, ScrollContext context, double& differenceScrollAccumulator);

// Calls the registry for `command` (nothing for std::monostate). Empty slots
// are skipped.
void performShortcutCommand(const ShortcutCommand& command, KeyboardCommandRegistry& registry);

// The per-workspace glue: applies the rules, keeps the Shift-scroll
// accumulator and calls the registry. Each method returns whether the event is
// consumed. `isGateOpen` is the monitor's gate: its workspace is active, its
// view is in a window and that window has the keyboard focus; when it is
// false the event passes on untouched.
class ShortcutCoordinator {
 public:
  explicit ShortcutCoordinator(KeyboardCommandRegistry& registry) : registry_(registry) {}

  bool keyDown(const KeyEvent& event, bool isGateOpen);
  bool keyUp(const KeyEvent& event, bool isGateOpen);
  bool modifiersChanged(ModifierKeys modifiers, bool isGateOpen);
  bool scroll(const ScrollEvent& event, bool isGateOpen);

  double differenceScrollAccumulator() const { return accumulator_; }

 private:
  bool act(const ShortcutDecision& decision);

  KeyboardCommandRegistry& registry_;
  double accumulator_ = 0;
};

}  // namespace quorlin
