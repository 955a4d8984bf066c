#include "gui/app/QuorlinApplication.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSize>

#include <chrono>
#include <csignal>
#include <utility>

#include "core/engine/CompressionRunner.h"
#include "core/engine/DisplayImageReader.h"
#include "core/engine/EngineContext.h"
#include "gui/app/AppIcon.h"
#include "gui/app/QSettingsStore.h"
#include "gui/app/QtMainThreadDispatcher.h"
#include "gui/app/TerminationSignals.h"
#include "gui/windows/HelpAndAboutWindows.h"
#include "gui/windows/SettingsWindow.h"
#include "gui/workspace/MainWindow.h"

namespace quorlin::gui {

namespace {

using namespace std::chrono_literals;

constexpr double staleDirectoryAge = 86400;  // one day, in seconds
// How long termination waits for tools that were asked to end, before and after SIGKILL.
constexpr auto terminationGrace = 5s;
constexpr auto killGrace = 2s;

}  // namespace

QuorlinApplication::QuorlinApplication(QuorlinLaunchOptions options)
    : dispatcher_(std::make_shared<QtMainThreadDispatcher>()),
      settings_(std::make_unique<AppSettings>(std::make_shared<QSettingsStore>(), toolSearchPath_)),
      temporaryDirectories_(defaultTemporaryRoot()),
      workers_(std::make_shared<BackgroundWorkers>()) {
  initializeAppResources();
  QApplication::setWindowIcon(applicationIcon());

  appearance_.apply(settings_->appearance());
  appearanceSubscription_ = settings_->observe([this](AppSetting setting) {
    if (setting == AppSetting::appearance) appearance_.apply(settings_->appearance());
  });

  // Tools get no terminal input: a tool that asks for some must not hang a run.
  runner_ = std::make_unique<ToolRunner>(executables_, toolSearchPath_, *dispatcher_, console_,
                                         ChildStandardInput::nullDevice, &children_);
  runner_->setTimeLimit(settings_->toolTimeLimit());
  setMaximumDecodedPixelCount(settings_->maximumPixelCount());
  limitsSubscription_ = settings_->observe([this](AppSetting setting) {
    if (setting == AppSetting::toolTimeLimit) runner_->setTimeLimit(settings_->toolTimeLimit());
    if (setting == AppSetting::maximumPixelCount) setMaximumDecodedPixelCount(settings_->maximumPixelCount());
  });
  budget_.setThreadsPerPass(settings_->threadsPerPass());
  budgetSubscription_ = settings_->observe([this](AppSetting setting) {
    if (setting == AppSetting::threadsPerPass) budget_.setThreadsPerPass(settings_->threadsPerPass());
  });
  engine_ = std::make_shared<CompressionRunner>(EngineContext{
      *runner_, executables_, toolSearchPath_, versions_, temporaryDirectories_.rootDirectory(), &budget_});

  temporaryDirectories_.purgeStaleDirectories(staleDirectoryAge);

  settingsWindow_ = std::make_unique<SettingsWindowController>(*settings_);
  aboutWindow_ = std::make_unique<AboutWindowController>();

  WorkspaceServices workspaceServices{*settings_, temporaryDirectories_, registry_, engine_, dispatcher_, workers_};
  mainWindow_ = std::make_unique<MainWindow>(
      MainWindowServices{workspaceServices, console_, executables_, toolSearchPath_});
  menus_ = installAppMenus(*mainWindow_->menuBar(), registry_,
                           AppMenuHandlers{[this] { aboutWindow_->show(); }, [this] { settingsWindow_->show(); },
                                           [] { QCoreApplication::quit(); }, [this] { mainWindow_->openImage(); },
                                           [this] { mainWindow_->closeSelectedTab(); },
                                           [this] { mainWindow_->showResultsTable(); }});
  // After Open…, before the tab items.
  menus_.fileMenu->insertAction(menus_.newTab, mainWindow_->compareFolderAction());
  menus_.viewMenu->addSeparator();
  menus_.viewMenu->addAction(mainWindow_->rateDistortionAction());
  // Closing the main window quits, even while auxiliary windows are open.
  connect(mainWindow_.get(), &MainWindow::closed, this, [] { QCoreApplication::quit(); });

  CompressionWorkspace& firstTab = mainWindow_->tabList().selectedWorkspace();
  for (std::size_t i = 0; i < options.panelCodecs.size() && i < CompressionWorkspace::panelCount; ++i) {
    firstTab.updatePanel(static_cast<int>(i), [codec = options.panelCodecs[i]](CodecPanel& panel) {
      panel.selectCodec(codec);
    });
  }
  if (options.imageToOpen) firstTab.loadSource(std::filesystem::absolute(*options.imageToOpen));

  connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { terminate(); });
  signals_ = new TerminationSignals([](int signalNumber) { QCoreApplication::exit(128 + signalNumber); }, this);
}

QuorlinApplication::~QuorlinApplication() { terminate(); }

void QuorlinApplication::show() {
  // Room for the four panels' settings and results without scrolling, and a
  // canvas wider than tall; never larger than the screen, less a margin for
  // the window frame.
  QSize size(1600, 1040);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    size = size.boundedTo(screen->availableGeometry().size() - QSize(48, 48));
  }
  mainWindow_->resize(size);
  mainWindow_->show();
}

bool QuorlinApplication::terminate() {
  if (terminated_) return *terminated_;
  // Tabs first: their workspaces cancel their work and their bags delete what they own.
  mainWindow_.reset();
  children_.terminateAll(SIGTERM);
  bool finished = workers_->waitUntilIdle(std::chrono::duration_cast<std::chrono::milliseconds>(terminationGrace));
  if (!finished) {
    children_.terminateAll(SIGKILL);
    finished = workers_->waitUntilIdle(std::chrono::duration_cast<std::chrono::milliseconds>(killGrace));
  }
  // Outcomes that arrived for the closed tabs delete their directories when applied.
  // Applying one may post another (a pass that ends), hence a few rounds.
  for (int round = 0; round < 3; ++round) QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
  temporaryDirectories_.removeTrackedDirectories();
  terminated_ = finished;
  return finished;
}

}  // namespace quorlin::gui
