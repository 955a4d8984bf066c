#include "gui/comparison/KeyboardShortcutMonitor.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWheelEvent>
#include <QWindow>

#include "gui/comparison/QtInputTranslation.h"

namespace quorlin::gui {

KeyboardShortcutMonitor::KeyboardShortcutMonitor(KeyboardCommandRegistry& registry, QWidget* parent)
    : QWidget(parent), coordinator_(registry) {
  setFixedSize(0, 0);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::NoFocus);
  qApp->installEventFilter(this);
}

KeyboardShortcutMonitor::~KeyboardShortcutMonitor() { qApp->removeEventFilter(this); }

bool KeyboardShortcutMonitor::isGateOpen() const {
  if (!isActive_) return false;
  const QWidget* window = this->window();
  return window && window != this && window->isActiveWindow();
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
  if (event->type() == QEvent::KeyPress) return coordinator_.keyDown(keyEventOf(keyEvent), isGateOpen());
  return coordinator_.keyUp(keyEventOf(keyEvent), isGateOpen());
}

// Menu shortcuts run before the key press reaches the window unless the
// focused widget claims the key; claim the keys the rules consume, so the
// press arrives here and the monitor decides.
bool KeyboardShortcutMonitor::handleShortcutOverride(QObject* watched, QEvent* event) {
  auto* widget = qobject_cast<QWidget*>(watched);
  bool isInOwnWindow = widget ? widget->window() == window() : isDeliveredToOwnWindow(watched);
  if (!isInOwnWindow || !isGateOpen()) return false;
  if (!decideKeyDown(keyEventOf(*static_cast<QKeyEvent*>(event))).isConsumed) return false;
  event->accept();
  return true;
}

}  // namespace quorlin::gui
