#include "gui/windows/SettingsWindow.h"

#include <QDialog>
#include <QVBoxLayout>

#include "core/workspace/AppSettings.h"
#include "gui/windows/PreferencesView.h"

namespace quorlin::gui {

struct SettingsWindowController::State {
  AppSettings& settings;
  std::unique_ptr<QDialog> window;
};

SettingsWindowController::SettingsWindowController(AppSettings& settings)
    : state_(std::make_unique<State>(State{settings, nullptr})) {}

SettingsWindowController::~SettingsWindowController() = default;

void SettingsWindowController::show() {
  if (!state_->window) {
    state_->window = std::make_unique<QDialog>();
    state_->window->setWindowTitle(QStringLiteral("Settings"));
    auto* layout = new QVBoxLayout(state_->window.get());
    layout->setContentsMargins(0, 0, 0, 0);
    // The form's height follows its rows (the "Wait" row comes and goes).
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(new PreferencesView(state_->settings, state_->window.get()));
  }
  state_->window->show();
  state_->window->raise();
  state_->window->activateWindow();
}

QWidget* SettingsWindowController::window() const { return state_->window.get(); }

}  // namespace quorlin::gui
