// QtInputTranslation: Qt key and wheel events as the shortcut rules describe
// them (KeyboardShortcuts.h).
//
// Modifiers: Ctrl is `command` (Qt reports the Command key as Ctrl on macOS),
// Alt is `option`, Meta is `control`, Shift is `shift`.
//
// Physical keys: on X11 and Wayland the native scan code is the evdev code + 8;
// on macOS the native virtual key is the hardware key code. Where neither
// applies (the offscreen platform of the tests, or a synthesized event with no
// scan code), the key's unshifted character stands in.
//
// Wheels: a non-zero pixelDelta is a precise delta in points; otherwise the
// delta is in lines, angleDelta / 120 (one notch is one line).
//
// Pure functions of the event (plus the platform's name); main thread.
#pragma once

#include <QKeyEvent>
#include <QWheelEvent>

#include <optional>

#include "core/comparison/KeyboardShortcuts.h"

namespace quorlin::gui {

ModifierKeys modifierKeysOf(Qt::KeyboardModifiers modifiers);

PhysicalKey physicalKeyOf(const QKeyEvent& event);

// The key, its modifiers and its auto-repeat flag.
KeyEvent keyEventOf(const QKeyEvent& event);

// For the press or release of Shift, Ctrl, Alt or Meta: the modifiers as they
// are after that change (platforms differ in whether an event already counts
// its own key). None for any other key.
std::optional<ModifierKeys> modifiersAfterModifierKeyEvent(const QKeyEvent& event);

ScrollEvent scrollEventOf(const QWheelEvent& event);

}  // namespace quorlin::gui
