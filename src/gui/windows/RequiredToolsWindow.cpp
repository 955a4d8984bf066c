#include "gui/windows/RequiredToolsWindow.h"

#include <QVBoxLayout>
#include <QWidget>

#include "core/tools/ToolLookup.h"
#include "gui/windows/RequiredToolsView.h"

namespace quorlin::gui {

struct RequiredToolsWindowController::State {
  ExecutableURLCache& executables;
  const ToolSearchPath& searchPath;
  // Declared before the window, so the window's rows are gone (and hear of no
  // more results) before the queue waits for its last loads.
  ToolLoadQueue loads;
  std::unique_ptr<QWidget> window;

  State(ExecutableURLCache& cache, const ToolSearchPath& path) : executables(cache), searchPath(path) {}
};

RequiredToolsWindowController::RequiredToolsWindowController(ExecutableURLCache& executables,
                                                             const ToolSearchPath& searchPath)
    : state_(std::make_unique<State>(executables, searchPath)) {}

RequiredToolsWindowController::~RequiredToolsWindowController() = default;

void RequiredToolsWindowController::show() {
  state_->executables.invalidate();
  bool isNew = !state_->window;
  if (isNew) {
    // A floating panel, kept (hidden) when closed.
    state_->window = std::make_unique<QWidget>(nullptr, Qt::Tool);
    state_->window->setAttribute(Qt::WA_MacAlwaysShowToolWindow);
    state_->window->setWindowTitle(QStringLiteral("Required Command-Line Tools"));
    state_->window->setMinimumSize(480, 400);
    auto* layout = new QVBoxLayout(state_->window.get());
    layout->setContentsMargins(0, 0, 0, 0);
  }
  QWidget* window = state_->window.get();
  // Every showing recomputes every row with a fresh view.
  QLayout* layout = window->layout();
  while (QLayoutItem* item = layout->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  auto* view = new RequiredToolsView(state_->executables, state_->searchPath, state_->loads,
                                     clipboardCopyAction(), window);
  view->setMinimumSize(520, 460);
  layout->addWidget(view);
  if (isNew) {
    window->resize(640, 720);
    centerOnScreen(window);
  }
  window->show();
  window->raise();
  window->activateWindow();
}

QWidget* RequiredToolsWindowController::window() const { return state_->window.get(); }

}  // namespace quorlin::gui
