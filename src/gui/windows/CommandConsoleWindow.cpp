#include "gui/windows/CommandConsoleWindow.h"

#include <QWidget>

#include "core/tools/CommandConsole.h"
#include "gui/windows/CommandConsoleView.h"
#include "gui/windows/WindowParts.h"


namespace quorlin::gui {

struct CommandConsoleWindowController::State {
  CommandConsoleStore& store;
  std::unique_ptr<QWidget> window;
};

CommandConsoleWindowController::CommandConsoleWindowController(CommandConsoleStore& store)
    : state_(std::make_unique<State>(State{store, nullptr})) {}

CommandConsoleWindowController::~CommandConsoleWindowController() = default;

void CommandConsoleWindowController::show() {
  const bool isNew = !state_->window;
  if (isNew) state_->window = makeFloatingPanel(QStringLiteral("Command Console"), {560, 320});
  QWidget* window = state_->window.get();
  // Each showing installs a fresh view of the store.
  auto* view = new CommandConsoleView(state_->store, window);
  view->setMinimumSize(760, 460);
  replacePanelContent(window, view);
  if (isNew) {
    window->resize(window->sizeHint().expandedTo(view->minimumSize()));
    centerOnScreen(window);
  }
  bringToFront(window);
}

void CommandConsoleWindowController::toggle() {
  if (state_->window && state_->window->isVisible()) {
    state_->window->close();
    state_->window.reset();
    return;
  }
  show();
}

QWidget* CommandConsoleWindowController::window() const { return state_->window.get(); }

}  // namespace quorlin::gui
