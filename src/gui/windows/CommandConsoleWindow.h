// CommandConsoleWindowController: the one floating "Command Console" window of
// the application, showing every run of the shared CommandConsoleStore.
//
// Main thread only. The store must outlive the controller.
#pragma once

#include <memory>

class QWidget;

namespace quorlin {
class CommandConsoleStore;
}

namespace quorlin::gui {

class CommandConsoleWindowController {
 public:
  explicit CommandConsoleWindowController(CommandConsoleStore& store);
  ~CommandConsoleWindowController();
  CommandConsoleWindowController(const CommandConsoleWindowController&) = delete;
  CommandConsoleWindowController& operator=(const CommandConsoleWindowController&) = delete;

  // Creates the window on first use (centred), afterwards reuses it; brings it
  // to the front as the active window.
  void show();
  // Closes and drops a visible window, so the next show creates a new, centred
  // one; otherwise shows.
  void toggle();
  // The window while it exists, else nullptr.
  QWidget* window() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quorlin::gui
