// QuorlinApplication: the desktop application's shared objects and its life
// from start to termination.
//
// Start, in this order: the settings over the user's store (the appearance is
// applied at once and again on every change), tool lookup with the custom tool
// directories, the console store, the tool runner, the version cache, the
// temporary directory manager (directories that earlier runs left for more
// than a day are purged here, before any window opens), the engine, the
// dispatcher and the workers; then the main window with one "Untitled" tab,
// its menus, and the Settings and About windows' controllers.
//
// Termination (quitting, closing the main window, SIGINT or SIGTERM): the tabs
// are closed, running tools are ended, the workers are given a moment to
// finish, what they posted back is applied (so late results delete their
// directories), and every work directory registered during the run is
// removed. The QApplication must exist before and after this object; one
// instance per process, main thread only.
#pragma once

#include <QObject>

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "core/comparison/KeyboardCommandRegistry.h"
#include "core/codecs/CodecCatalog.h"
#include "core/engine/CompressionEngine.h"
#include "core/engine/CoreBudget.h"
#include "core/tools/ChildProcess.h"
#include "core/tools/CommandConsole.h"
#include "core/tools/ProcessRunner.h"
#include "core/tools/TemporaryFiles.h"
#include "core/tools/ToolLookup.h"
#include "core/tools/ToolVersionCache.h"
#include "core/workspace/AppSettings.h"
#include "core/workspace/BackgroundWorkers.h"
#include "gui/app/AppMenus.h"
#include "gui/app/ApplicationAppearance.h"

namespace quorlin::gui {

class AboutWindowController;
class MainWindow;
class QtMainThreadDispatcher;
class SettingsWindowController;
class TerminationSignals;

struct QuorlinLaunchOptions {
  // Loaded into the first tab.
  std::optional<std::filesystem::path> imageToOpen;
  // The codecs of the first tab's first panels, in panel order.
  std::vector<CompressionCodec> panelCodecs;
};

class QuorlinApplication : public QObject {
 public:
  explicit QuorlinApplication(QuorlinLaunchOptions options = {});
  ~QuorlinApplication() override;
  QuorlinApplication(const QuorlinApplication&) = delete;
  QuorlinApplication& operator=(const QuorlinApplication&) = delete;

  // Shows the main window.
  void show();

  // The termination clean-up described above; runs once (QApplication's
  // aboutToQuit calls it). Returns whether every worker had finished, that is
  // whether the shared objects may be destroyed: when it returns false, the
  // caller ends the process without destroying them.
  bool terminate();

  MainWindow& mainWindow() const { return *mainWindow_; }
  const AppMenus& menus() const { return menus_; }
  AppSettings& settings() { return *settings_; }
  KeyboardCommandRegistry& commandRegistry() { return registry_; }
  TemporaryDirectoryManager& temporaryDirectories() { return temporaryDirectories_; }

 private:
  std::shared_ptr<QtMainThreadDispatcher> dispatcher_;
  ExecutableURLCache executables_;
  ToolSearchPath toolSearchPath_{executables_};
  std::unique_ptr<AppSettings> settings_;
  ApplicationAppearance appearance_;
  Subscription appearanceSubscription_;
  CommandConsoleStore console_;
  ChildProcessTracker children_;
  std::unique_ptr<ToolRunner> runner_;
  Subscription limitsSubscription_;  // applies the tool time limit and the pixel limit
  ToolVersionCache versions_;
  CoreBudget budget_;
  Subscription budgetSubscription_;
  TemporaryDirectoryManager temporaryDirectories_;
  std::shared_ptr<CompressionEngine> engine_;
  std::shared_ptr<BackgroundWorkers> workers_;
  KeyboardCommandRegistry registry_;

  std::unique_ptr<SettingsWindowController> settingsWindow_;
  std::unique_ptr<AboutWindowController> aboutWindow_;
  std::unique_ptr<MainWindow> mainWindow_;
  AppMenus menus_;
  TerminationSignals* signals_ = nullptr;
  std::optional<bool> terminated_;  // terminate()'s outcome once it has run
};

}  // namespace quorlin::gui
