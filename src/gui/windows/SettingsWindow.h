// SettingsWindowController: the Settings window (appearance, auto-regeneration,
// parallel or serial encoding, custom tool directories), editing AppSettings.
//
// Main thread only. The settings must outlive the controller.
#pragma once

#include <memory>

class QWidget;

namespace quorlin {
class AppSettings;
}

namespace quorlin::gui {

class SettingsWindowController {
 public:
  explicit SettingsWindowController(AppSettings& settings);
  ~SettingsWindowController();
  SettingsWindowController(const SettingsWindowController&) = delete;
  SettingsWindowController& operator=(const SettingsWindowController&) = delete;

  // Creates the window on first use, afterwards reuses it; brings it to the front.
  void show();
  // The window while it exists, else nullptr.
  QWidget* window() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quorlin::gui
