#include "gui/comparison/QtInputTranslation.h"

#include <QGuiApplication>

namespace quorlin::gui {

namespace {

// X11 and Wayland key codes are evdev codes shifted by 8.
constexpr quint32 evdevOffset = 8;

enum class KeyCodeSource { evdevScanCode, macVirtualKey, character };

KeyCodeSource keyCodeSource() {
  static const KeyCodeSource source = [] {
    QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("cocoa")) return KeyCodeSource::macVirtualKey;
    if (platform == QLatin1String("xcb") || platform.startsWith(QLatin1String("wayland"))) {
      return KeyCodeSource::evdevScanCode;
    }
    return KeyCodeSource::character;
  }();
  return source;
}

// The modifier that pressing or releasing `key` changes; none for other keys.
std::optional<Qt::KeyboardModifier> modifierOfKey(int key) {
  switch (key) {
    case Qt::Key_Shift:
      return Qt::ShiftModifier;
    case Qt::Key_Control:
      return Qt::ControlModifier;
    case Qt::Key_Alt:
      return Qt::AltModifier;
    case Qt::Key_Meta:
      return Qt::MetaModifier;
    default:
      return std::nullopt;
  }
}

PhysicalKey physicalKeyFromQtKey(int key) {
  return key > 0 && key < 128 ? physicalKeyFromCharacter(key) : PhysicalKey::other;
}

}  // namespace

ModifierKeys modifierKeysOf(Qt::KeyboardModifiers modifiers) {
  return {modifiers.testFlag(Qt::ShiftModifier), modifiers.testFlag(Qt::MetaModifier),
          modifiers.testFlag(Qt::AltModifier), modifiers.testFlag(Qt::ControlModifier)};
}

PhysicalKey physicalKeyOf(const QKeyEvent& event) {
  switch (keyCodeSource()) {
    case KeyCodeSource::macVirtualKey:
      if (event.nativeVirtualKey() != 0 || event.nativeScanCode() != 0) {
        return physicalKeyFromMacKeyCode(static_cast<int>(event.nativeVirtualKey()));
      }
      break;
    case KeyCodeSource::evdevScanCode:
      if (event.nativeScanCode() > evdevOffset) {
        return physicalKeyFromEvdevCode(static_cast<int>(event.nativeScanCode() - evdevOffset));
      }
      break;
    case KeyCodeSource::character:
      break;
  }
  return physicalKeyFromQtKey(event.key());
}

KeyEvent keyEventOf(const QKeyEvent& event) {
  return {physicalKeyOf(event), modifierKeysOf(event.modifiers()), event.isAutoRepeat()};
}

std::optional<ModifierKeys> modifiersAfterModifierKeyEvent(const QKeyEvent& event) {
  auto modifier = modifierOfKey(event.key());
  if (!modifier) return std::nullopt;
  Qt::KeyboardModifiers after = event.modifiers();
  after.setFlag(*modifier, event.type() == QEvent::KeyPress);
  return modifierKeysOf(after);
}

ScrollEvent scrollEventOf(const QWheelEvent& event) {
  ScrollEvent scroll;
  scroll.modifiers = modifierKeysOf(event.modifiers());
  QPoint pixels = event.pixelDelta();
  if (!pixels.isNull()) {
    scroll.deltaX = pixels.x();
    scroll.deltaY = pixels.y();
    scroll.hasPreciseDeltas = true;
  } else {
    constexpr double angleUnitsPerLine = 120.0;   // eighths of a degree per notch
    scroll.deltaX = event.angleDelta().x() / angleUnitsPerLine;
    scroll.deltaY = event.angleDelta().y() / angleUnitsPerLine;
  }
  return scroll;
}

}  // namespace quorlin::gui
