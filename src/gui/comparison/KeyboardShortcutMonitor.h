// KeyboardShortcutMonitor: turns the application's key, modifier and scroll
// events into registry commands for one workspace.
//
// An invisible, zero-size widget that the workspace places among its own
// widgets (it finds its window through its parents). It installs itself as an
// application-wide event filter and sees each key, wheel and shortcut-override
// event once, at the window it is delivered to, before any widget or menu
// shortcut: the shortcut rules (ShortcutCoordinator) decide whether the event
// is consumed. Modifier changes are the presses and releases of Shift, Ctrl,
// Alt and Meta; they are never consumed. A key the rules would consume also
// overrides any menu shortcut on the same keys, so the monitor acts first.
//
// Held Space and E: X11 repeats a held key as release and press pairs with one
// timestamp, and Qt marks them auto-repeat only when the press has already
// arrived as it handles the release, which a busy moment defeats. So on X11 a
// Space release is consumed at once but acted on only after a short grace; a
// Space press with the release's timestamp within it turns both into an
// auto-repeat (E the same way). Elsewhere the grace is zero and releases act
// at once. E is left alone while the focused widget takes text.
//
// Gate: the monitor acts only while it is active (its workspace's tab is the
// selected one) and the event is delivered to its own window while that window
// is the active window; otherwise events pass on untouched. When its window
// becomes active while the monitor is active, onWindowBecameKey runs.
//
// The registry must outlive the monitor. Main thread only.
#pragma once

#include <QTimer>
#include <QWidget>

#include <chrono>
#include <functional>
#include <optional>

#include "core/comparison/KeyboardShortcuts.h"

namespace quorlin::gui {

class KeyboardShortcutMonitor : public QWidget {
  Q_OBJECT

 public:
  explicit KeyboardShortcutMonitor(KeyboardCommandRegistry& registry, QWidget* parent = nullptr);
  ~KeyboardShortcutMonitor() override;

  void setActive(bool isActive) { isActive_ = isActive; }
  bool isActive() const { return isActive_; }
  void setOnWindowBecameKey(std::function<void()> action) { onWindowBecameKey_ = std::move(action); }

  double differenceScrollAccumulator() const { return coordinator_.differenceScrollAccumulator(); }

  // How long a Space release waits for a press that would make it an X11
  // auto-repeat (50 ms on X11, else 0).
  void setSpaceReleaseGrace(std::chrono::milliseconds grace) { spaceReleaseGrace_ = grace; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool isGateOpen() const;
  // The focused widget takes typed text, where E is a letter, not the error map.
  static bool isTypingText();
  bool isDeliveredToOwnWindow(QObject* watched) const;
  bool handleKey(QEvent* event);
  bool handleShortcutOverride(QObject* watched, QEvent* event);
  bool handleSpace(const QKeyEvent& keyEvent, KeyEvent key);
  void actOnPendingSpaceRelease();

  struct PendingRelease {
    KeyEvent event;
    quint64 timestamp = 0;
  };

  ShortcutCoordinator coordinator_;
  std::chrono::milliseconds spaceReleaseGrace_;
  std::optional<PendingRelease> pendingSpaceRelease_;
  QTimer spaceReleaseTimer_;
  bool isActive_ = false;
  std::function<void()> onWindowBecameKey_;
};

}  // namespace quorlin::gui
