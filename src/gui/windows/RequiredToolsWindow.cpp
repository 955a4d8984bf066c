#include "gui/windows/RequiredToolsWindow.h"

#include <QWidget>

#include "core/tools/ToolLookup.h"
#include "gui/windows/RequiredToolsView.h"
#include "gui/windows/WindowParts.h"

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
  const bool isNew = !state_->window;
  if (isNew) state_->window = makeFloatingPanel(QStringLiteral("Required Command-Line Tools"), {480, 400});
  QWidget* window = state_->window.get();
  // Every showing recomputes every row with a fresh view.
  auto* view = new RequiredToolsView(state_->executables, state_->searchPath, state_->loads,
                                     clipboardCopyAction(), window);
  view->setMinimumSize(520, 460);
  replacePanelContent(window, view);
  if (isNew) {
    window->resize(640, 720);
    centerOnScreen(window);
  }
  bringToFront(window);
}

QWidget* RequiredToolsWindowController::window() const { return state_->window.get(); }

}  // namespace quorlin::gui
