#include "gui/comparison/KeyboardShortcutMonitor.h"

#include <QApplication>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QWheelEvent>
#include <QWindow>

#include <utility>

#include "gui/comparison/QtInputTranslation.h"

namespace quorlin::gui {

namespace {

// Long enough for the press that follows an X11 repeat release to be handled,
// short enough not to be felt when Space is let go.
std::chrono::milliseconds platformSpaceReleaseGrace() {
  using namespace std::chrono_literals;
  return QGuiApplication::platformName() == QLatin1String("xcb") ? 50ms : 0ms;
}

}  // namespace

KeyboardShortcutMonitor::KeyboardShortcutMonitor(KeyboardCommandRegistry& registry, QWidget* parent)
    : QWidget(parent), coordinator_(registry), spaceReleaseGrace_(platformSpaceReleaseGrace()) {
  setFixedSize(0, 0);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::NoFocus);
  spaceReleaseTimer_.setSingleShot(true);
  connect(&spaceReleaseTimer_, &QTimer::timeout, this, &KeyboardShortcutMonitor::actOnPendingSpaceRelease);
  qApp->installEventFilter(this);
}

KeyboardShortcutMonitor::~KeyboardShortcutMonitor() { qApp->removeEventFilter(this); }

bool KeyboardShortcutMonitor::isGateOpen() const {
  if (!isActive_) return false;
  const QWidget* window = this->window();
  return window && window != this && window->isActiveWindow();
}

bool KeyboardShortcutMonitor::isTypingText() {
  const QWidget* focus = QApplication::focusWidget();
  return focus && focus->testAttribute(Qt::WA_InputMethodEnabled);
}

// Events reach the window first and are then handed to widgets (and passed up
// their parents); acting at the window alone acts once per event.
bool KeyboardShortcutMonitor::isDeliveredToOwnWindow(QObject* watched) const {
  return watched->isWindowType() && watched == window()->windowHandle();
}

bool KeyboardShortcutMonitor::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
      return isDeliveredToOwnWindow(watched) && handleKey(event);
    case QEvent::Wheel:
      return isDeliveredToOwnWindow(watched) &&
             coordinator_.scroll(scrollEventOf(*static_cast<QWheelEvent*>(event)), isGateOpen());
    case QEvent::ShortcutOverride:
      return handleShortcutOverride(watched, event);
    case QEvent::WindowActivate:
      if (watched == window() && watched != this && isActive_ && onWindowBecameKey_) onWindowBecameKey_();
      return false;
    default:
      return false;
  }
}

bool KeyboardShortcutMonitor::handleKey(QEvent* event) {
  const auto& keyEvent = *static_cast<QKeyEvent*>(event);
  if (auto modifiers = modifiersAfterModifierKeyEvent(keyEvent)) {
    return coordinator_.modifiersChanged(*modifiers, isGateOpen());
  }
  KeyEvent key = keyEventOf(keyEvent);
  if (key.key == PhysicalKey::e && isTypingText()) return false;
  // Both are held keys: X11 repeats them as release and press pairs.
  if (key.key == PhysicalKey::space || key.key == PhysicalKey::e) return handleSpace(keyEvent, key);
  if (event->type() == QEvent::KeyPress) return coordinator_.keyDown(key, isGateOpen());
  return coordinator_.keyUp(key, isGateOpen());
}

bool KeyboardShortcutMonitor::handleSpace(const QKeyEvent& keyEvent, KeyEvent key) {
  if (keyEvent.type() == QEvent::KeyPress) {
    if (pendingSpaceRelease_) {
      if (!key.isAutoRepeat && keyEvent.timestamp() == pendingSpaceRelease_->timestamp) {
        key.isAutoRepeat = true;   // the release was half of a repeat
        pendingSpaceRelease_.reset();
        spaceReleaseTimer_.stop();
      } else {
        actOnPendingSpaceRelease();   // a real release, then a new press
      }
    }
    return coordinator_.keyDown(key, isGateOpen());
  }
  if (key.isAutoRepeat || spaceReleaseGrace_.count() <= 0 || !isGateOpen()) {
    return coordinator_.keyUp(key, isGateOpen());
  }
  actOnPendingSpaceRelease();
  pendingSpaceRelease_ = PendingRelease{key, keyEvent.timestamp()};
  spaceReleaseTimer_.start(spaceReleaseGrace_);
  return true;   // a Space release is consumed whatever it turns out to be
}

void KeyboardShortcutMonitor::actOnPendingSpaceRelease() {
  spaceReleaseTimer_.stop();
  if (auto pending = std::exchange(pendingSpaceRelease_, std::nullopt)) {
    coordinator_.keyUp(pending->event, true);   // the gate was open when it was released
  }
}

// Menu shortcuts run before the key press reaches the window unless the
// focused widget claims the key; claim the keys the rules consume, so the
// press arrives here and the monitor decides.
bool KeyboardShortcutMonitor::handleShortcutOverride(QObject* watched, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(watched);
  bool isInOwnWindow = widget ? widget->window() == window() : isDeliveredToOwnWindow(watched);
  if (!isInOwnWindow || !isGateOpen()) return false;
  if (keyEventOf(*static_cast<QKeyEvent*>(event)).key == PhysicalKey::e && isTypingText()) return false;
  if (!decideKeyDown(keyEventOf(*static_cast<QKeyEvent*>(event))).isConsumed) return false;
  event->accept();
  return true;
}

}  // namespace quorlin::gui
