#include "gui/workspace/MainWindow.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeySequence>
#include <QPointer>
#include <QShowEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>

#include <algorithm>
#include <utility>

#include "core/comparison/KeyboardCommandRegistry.h"
#include "core/corpus/CorpusRun.h"
#include "core/workspace/TabTitle.h"
#include "gui/app/SymbolIcons.h"
#include "gui/windows/CommandConsoleWindow.h"
#include "gui/windows/HelpAndAboutWindows.h"
#include "gui/windows/RequiredToolsWindow.h"
#include "gui/corpus/CorpusWindow.h"
#include "gui/ratedistortion/RateDistortionWindow.h"
#include "gui/windows/ResultsTableWindow.h"
#include "gui/workspace/CompressionWorkspaceView.h"

namespace quorlin::gui {

MainWindow::MainWindow(MainWindowServices services, QWidget* parent)
    : QMainWindow(parent),
      services_(std::move(services)),
      consoleWindow_(std::make_unique<CommandConsoleWindowController>(services_.console)),
      requiredToolsWindow_(
          std::make_unique<RequiredToolsWindowController>(services_.executables, services_.toolSearchPath)),
      helpWindow_(std::make_unique<AppHelpWindowController>()),
      resultsTableWindow_(std::make_unique<ResultsTableWindowController>()) {
  setWindowTitle("Quorlin: Brimwell Tool");
  setUnifiedTitleAndToolBarOnMac(true);

  tabWidget_ = new QTabWidget(this);
  tabWidget_->setDocumentMode(true);
  tabWidget_->setMovable(false);
  tabWidget_->setTabsClosable(true);   // while more than one tab is open
  tabWidget_->setUsesScrollButtons(true);
  tabWidget_->tabBar()->setExpanding(false);
  tabWidget_->tabBar()->setElideMode(Qt::ElideNone);  // labels are shortened by our own rule
  setCentralWidget(tabWidget_);
  connect(tabWidget_, &QTabWidget::currentChanged, this, [this](int index) { tabChosen(index); });
  connect(tabWidget_, &QTabWidget::tabCloseRequested, this, [this](int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= pages_.size()) return;
    tabs_->selectTab(pages_[static_cast<std::size_t>(index)].id);
    closeSelectedTab();
  });

  buildToolBar();

  // Every workspace re-installs the window's handlers when it is activated.
  QPointer<MainWindow> window(this);
  auto reactivate = [window] {
    if (window) window->registerGlobalCommands();
  };
  tabs_ = std::make_unique<WorkspaceTabList>([this, reactivate](const WorkspaceTab& tab) {
    return std::make_unique<CompressionWorkspace>(services_.workspace, tab.title, tab.rateControlMode, reactivate);
  });
  tabsSubscription_ = tabs_->observe([this] { synchronizeTabs(); });
  synchronizeTabs();
}

MainWindow::~MainWindow() {
  tabsSubscription_.reset();
  // The views refer to their workspaces: they go first.
  isSynchronizing_ = true;
  while (!pages_.empty()) removePage(pages_.size() - 1);
  resultsTableWindow_.reset();
  tabs_.reset();
  KeyboardCommandRegistry& registry = services_.workspace.commandRegistry;
  registry.newTab = nullptr;
  registry.newTargetTab = nullptr;
  registry.toggleCommandConsole = nullptr;
  registry.showRequiredTools = nullptr;
  registry.showHelp = nullptr;
}

void MainWindow::buildToolBar() {
  toolBar_ = addToolBar("Toolbar");
  toolBar_->setObjectName("mainToolBar");
  toolBar_->setMovable(false);
  toolBar_->setFloatable(false);
  toolBar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  toolBar_->toggleViewAction()->setVisible(false);

  // Each button names its symbol, so the icon can be checked against the symbol table.
  auto addToolButton = [this](const char* symbol, const char* label) {
    QAction* action = toolBar_->addAction(symbolIcon(symbol), label);
    action->setProperty("symbolName", symbol);
    return action;
  };
  newTabAction_ = addToolButton("plus", "New Tab");
  connect(newTabAction_, &QAction::triggered, this, [this] { addTab(RateControlMode::manual); });

  closeTabAction_ = addToolButton("xmark", "Close Tab");
  connect(closeTabAction_, &QAction::triggered, this, [this] { closeSelectedTab(); });

  consoleAction_ = addToolButton("terminal", "Console");
  consoleAction_->setToolTip("Show command output console");
  connect(consoleAction_, &QAction::triggered, this, [this] { consoleWindow_->toggle(); });

  requiredToolsAction_ = addToolButton("wrench.and.screwdriver", "Required Tools");
  requiredToolsAction_->setToolTip("Show which command-line tools are installed and how to install the rest");
  connect(requiredToolsAction_, &QAction::triggered, this, [this] { requiredToolsWindow_->show(); });

  rateDistortionAction_ = addToolButton("chart.xyaxis.line", "Rate\u2013Distortion");
  rateDistortionAction_->setToolTip("Sweep each panel's quality or distance and compare the curves");
  connect(rateDistortionAction_, &QAction::triggered, this, [this] { showRateDistortion(); });

  compareFolderAction_ = new QAction("Compare Folder…", this);
  compareFolderAction_->setShortcut(QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_O)));
  compareFolderAction_->setToolTip("Run this tab's panels over a folder of images");
  connect(compareFolderAction_, &QAction::triggered, this, [this] { showCorpus(); });
}

RateDistortionWindow& MainWindow::showRateDistortion() {
  const Uuid selected = tabs_->selectedTabID();
  auto page = std::find_if(pages_.begin(), pages_.end(), [&](const Page& p) { return p.id == selected; });
  if (!page->rateDistortion) {
    page->rateDistortion = new RateDistortionWindow(*tabs_->workspace(selected), services_.workspace);
  }
  page->rateDistortion->show();
  page->rateDistortion->raise();
  page->rateDistortion->activateWindow();
  return *page->rateDistortion;
}

RateDistortionWindow* MainWindow::rateDistortionWindow(const Uuid& id) const {
  auto page = std::find_if(pages_.begin(), pages_.end(), [&](const Page& p) { return p.id == id; });
  return page == pages_.end() ? nullptr : page->rateDistortion;
}

CorpusWindow& MainWindow::showCorpus() {
  const Uuid selected = tabs_->selectedTabID();
  auto page = std::find_if(pages_.begin(), pages_.end(), [&](const Page& p) { return p.id == selected; });
  if (!page->corpus) {
    CompressionWorkspace& workspace = *tabs_->workspace(selected);
    QPointer<MainWindow> window(this);
    const std::vector<CodecPanel> panels = workspace.panels();
    const RateControlMode mode = workspace.rateControlMode();
    const double target = workspace.targetScore();
    page->corpus = new CorpusWindow(CorpusWindowSetup{
        panels, mode, target, services_.workspace.engine, services_.workspace.dispatcher,
        [window, panels, mode, target](const std::filesystem::path& image, const std::vector<CorpusRecord>& records) {
          if (window) window->openImageInNewTab(image, panels, mode, target, recordedSweeps(records, panels));
        }});
    page->corpus->setWindowTitle(QString("Compare Folder — %1").arg(QString::fromStdString(workspace.tabTitle())));
  }
  page->corpus->show();
  page->corpus->raise();
  page->corpus->activateWindow();
  return *page->corpus;
}

void MainWindow::openImageInNewTab(const std::filesystem::path& image, const std::vector<CodecPanel>& panels,
                                   RateControlMode mode, double targetScore, std::vector<PanelSweep> curves) {
  tabs_->addTab(mode);
  const Uuid id = tabs_->selectedTabID();
  CompressionWorkspace& workspace = *tabs_->workspace(id);
  workspace.setTargetScore(targetScore);
  for (std::size_t i = 0; i < panels.size() && i < CompressionWorkspace::panelCount; ++i) {
    CodecPanel panel = panels[i];
    panel.result.reset();
    panel.id = workspace.panel(static_cast<int>(i)).id;
    workspace.setPanel(static_cast<int>(i), std::move(panel));
  }
  auto page = std::find_if(pages_.begin(), pages_.end(), [&](const Page& p) { return p.id == id; });
  if (page != pages_.end()) {
    CompressionWorkspace* target = &workspace;
    page->generateOnLoad = workspace.observe([this, id, target](const WorkspaceChange& change) {
      if (!change.contains(WorkspaceAspect::source) || !target->sourceURL() || target->isLoadingSource()) return;
      // Not from inside the workspace's own notification: it may still be applying the source.
      QPointer<MainWindow> window(this);
      services_.workspace.dispatcher->post([window, this, id] {
        if (!window) return;
        auto found = std::find_if(pages_.begin(), pages_.end(), [&](const Page& p) { return p.id == id; });
        if (found == pages_.end()) return;
        found->generateOnLoad.reset();
        if (CompressionWorkspace* w = tabs_->workspace(id)) w->startGenerateTask();
      });
    });
  }
  workspace.loadSource(image);
  if (curves.empty()) return;
  // The tab in front with its panels generating, and its curves beside it at once.
  show();
  raise();
  activateWindow();
  showRateDistortion().session().adoptSweeps(std::move(curves));
}

void MainWindow::addTab(RateControlMode mode) { tabs_->addTab(mode); }

void MainWindow::closeSelectedTab() {
  if (!tabs_->canCloseSelectedTab()) return;
  const Uuid closing = tabs_->selectedTabID();
  auto page = std::find_if(pages_.begin(), pages_.end(), [&](const Page& p) { return p.id == closing; });
  if (page == pages_.end()) return;
  // The view goes before its workspace; the strip is set right once the list has chosen the next tab.
  isSynchronizing_ = true;
  removePage(static_cast<std::size_t>(page - pages_.begin()));
  isSynchronizing_ = false;
  resultsTableWindow_->detach(tabs_->selectedWorkspace());
  tabs_->closeSelectedTab();
}

void MainWindow::openImage() {
  if (CompressionWorkspaceView* view = workspaceView(tabs_->selectedTabID())) view->chooseSource();
}

void MainWindow::showResultsTable() { resultsTableWindow_->show(tabs_->selectedWorkspace()); }

void MainWindow::registerGlobalCommands() {
  KeyboardCommandRegistry& registry = services_.workspace.commandRegistry;
  QPointer<MainWindow> window(this);
  auto with = [window](auto action) {
    return [window, action] {
      if (window) action(*window);
    };
  };
  registry.newTab = with([](MainWindow& w) { w.addTab(RateControlMode::manual); });
  registry.newTargetTab = with([](MainWindow& w) { w.addTab(RateControlMode::targetScore); });
  registry.toggleCommandConsole = with([](MainWindow& w) { w.consoleWindow_->toggle(); });
  registry.showRequiredTools = with([](MainWindow& w) { w.requiredToolsWindow_->show(); });
  registry.showHelp = with([](MainWindow& w) { w.helpWindow_->show(); });
}

CompressionWorkspaceView* MainWindow::workspaceView(const Uuid& id) const {
  auto page = std::find_if(pages_.begin(), pages_.end(), [&](const Page& p) { return p.id == id; });
  return page == pages_.end() ? nullptr : page->view;
}

void MainWindow::removePage(std::size_t index) {
  CompressionWorkspaceView* view = pages_[index].view;
  delete pages_[index].rateDistortion;
  delete pages_[index].corpus;
  pages_.erase(pages_.begin() + static_cast<std::ptrdiff_t>(index));
  tabWidget_->removeTab(static_cast<int>(index));
  delete view;
}

void MainWindow::synchronizeTabs() {
  const bool wasSynchronizing = std::exchange(isSynchronizing_, true);
  const std::vector<WorkspaceTab> tabs = tabs_->tabs();

  // Pages of closed tabs (closeSelectedTab removes its page itself; this is for any other way).
  for (std::size_t i = pages_.size(); i-- > 0;) {
    const bool exists = std::any_of(tabs.begin(), tabs.end(), [&](const WorkspaceTab& t) { return t.id == pages_[i].id; });
    if (!exists) removePage(i);
  }
  // New tabs get their page at their place; tabs never move, so the order holds.
  for (std::size_t i = 0; i < tabs.size(); ++i) {
    const WorkspaceTab& tab = tabs[i];
    if (i < pages_.size() && pages_[i].id == tab.id) continue;
    CompressionWorkspace* workspace = tabs_->workspace(tab.id);
    auto* view = new CompressionWorkspaceView(*workspace, services_.workspace.commandRegistry);
    pages_.insert(pages_.begin() + static_cast<std::ptrdiff_t>(i), Page{tab.id, view, nullptr, nullptr, {}});
    tabWidget_->insertTab(static_cast<int>(i), view, QString());
  }
  for (std::size_t i = 0; i < tabs.size(); ++i) {
    const QString label = QString::fromUtf8(WorkspaceTabList::label(tabs[i]));
    const QString title = QString::fromUtf8(tabs[i].title);
    const int index = static_cast<int>(i);
    if (tabWidget_->tabText(index) != label) tabWidget_->setTabText(index, label);
    tabWidget_->setTabToolTip(index, label == title ? QString() : title);
  }
  tabWidget_->setCurrentIndex(static_cast<int>(tabs_->selectedIndex()));
  if (!tabs.empty()) resultsTableWindow_->follow(tabs_->selectedWorkspace());
  closeTabAction_->setEnabled(tabs_->canCloseSelectedTab());
  tabWidget_->setTabsClosable(tabs.size() > 1);
  isSynchronizing_ = wasSynchronizing;
}

void MainWindow::tabChosen(int index) {
  if (isSynchronizing_ || index < 0 || static_cast<std::size_t>(index) >= pages_.size()) return;
  tabs_->selectTab(pages_[static_cast<std::size_t>(index)].id);
}

void MainWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (std::exchange(hasBeenShown_, true)) return;
  registerGlobalCommands();
  if (services_.workspace.settings.takeFirstToolRequirementsShowing()) {
    // After the main window is up, so the tools window opens in front of it.
    QTimer::singleShot(0, this, [this] { requiredToolsWindow_->show(); });
  }
}

void MainWindow::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
  if (event->isAccepted()) emit closed();
}

}  // namespace quorlin::gui
