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
// Gate: the monitor acts only while it is active (its workspace's tab is the
// selected one) and the event is delivered to its own window while that window
// is the active window; otherwise events pass on untouched. When its window
// becomes active while the monitor is active, onWindowBecameKey runs.
//
// The registry must outlive the monitor. Main thread only.
#pragma once

#include <QWidget>

#include <functional>

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

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool isGateOpen() const;
  bool isDeliveredToOwnWindow(QObject* watched) const;
  bool handleKey(QEvent* event);
  bool handleShortcutOverride(QObject* watched, QEvent* event);

  ShortcutCoordinator coordinator_;
  bool isActive_ = false;
  std::function<void()> onWindowBecameKey_;
};

}  // namespace quorlin::gui
