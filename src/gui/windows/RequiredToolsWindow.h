// RequiredToolsWindowController: the "Required Tools" window: every tool group
// with its status, paths and versions, and the commands that install it.
//
// Main thread only. The cache and the search path must outlive the controller.
#pragma once

#include <memory>

class QWidget;

namespace quorlin {
class ExecutableURLCache;
class ToolSearchPath;
}

namespace quorlin::gui {

class RequiredToolsWindowController {
 public:
  // Every show and every "Re-check" invalidates `executables`, so a tool
  // installed meanwhile is found at once.
  RequiredToolsWindowController(ExecutableURLCache& executables, const ToolSearchPath& searchPath);
  ~RequiredToolsWindowController();
  RequiredToolsWindowController(const RequiredToolsWindowController&) = delete;
  RequiredToolsWindowController& operator=(const RequiredToolsWindowController&) = delete;

  // Creates the window on first use, brings it to the front and re-checks every
  // group (statuses are never cached across shows).
  void show();
  // The window while it exists, else nullptr.
  QWidget* window() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace quorlin::gui
