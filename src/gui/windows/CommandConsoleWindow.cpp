#include "gui/windows/CommandConsoleWindow.h"

#include <QVBoxLayout>
#include <QWidget>

#include "core/tools/CommandConsole.h"
#include "gui/windows/CommandConsoleView.h"
#include "gui/windows/WindowStyle.h"

namespace quorlin::gui {

struct CommandConsoleWindowController::State {
  CommandConsoleStore& store;
  std::unique_ptr<QWidget> window;
};

CommandConsoleWindowController::CommandConsoleWindowController(CommandConsoleStore& store)
    : state_(std::make_unique<State>(State{store, nullptr})) {}

CommandConsoleWindowController::~CommandConsoleWindowController() = default;

void CommandConsoleWindowController::show() {
  bool isNew = !state_->window;
  if (isNew) {
    // A floating panel that stays up while another application is active.
    state_->window = std::make_unique<QWidget>(nullptr, Qt::Tool);
    state_->window->setAttribute(Qt::WA_MacAlwaysShowToolWindow);
    state_->window->setWindowTitle(QStringLiteral("Command Console"));
    state_->window->setMinimumSize(560, 320);
    auto* layout = new QVBoxLayout(state_->window.get());
    layout->setContentsMargins(0, 0, 0, 0);
  }
  QWidget* window = state_->window.get();
  // Each showing installs a fresh view of the store.
  QLayout* layout = window->layout();
  while (QLayoutItem* item = layout->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  auto* view = new CommandConsoleView(state_->store, window);
  view->setMinimumSize(760, 460);
  layout->addWidget(view);
  if (isNew) {
    window->resize(window->sizeHint().expandedTo(view->minimumSize()));
    centerOnScreen(window);
  }
  window->show();
  window->raise();
  window->activateWindow();
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
