// MainWindow: the "Quorlin: Brimwell Tool" window: a strip of comparison tabs,
// one CompressionWorkspaceView per tab, and the toolbar with New Tab, Close
// Tab, Console, Required Tools and Rate–Distortion (a window per tab, made
// when first asked for and closed with its tab); the Compare Folder window is
// per tab in the same way.
//
// The tabs, the selection and the workspaces are the WorkspaceTabList's; the
// window mirrors them (one page per tab, in order, labelled with the shortened
// title) and passes the user's tab choice back. The window installs the
// application-wide registry handlers (new tab, new target tab, console,
// required tools, help) when it is first shown and whenever a workspace is
// activated, and owns the console, required tools and help window controllers.
// The first showing also opens the required tools window, once per user.
//
// Main thread only. The services must outlive the window.
#pragma once

#include <QMainWindow>

#include <filesystem>
#include <memory>
#include <vector>

#include "core/common/Uuid.h"
#include "core/ratedistortion/PanelSweep.h"
#include "core/workspace/CompressionWorkspace.h"
#include "core/workspace/WorkspaceTabList.h"

class QAction;
class QTabWidget;
class QToolBar;

namespace quorlin {
class CommandConsoleStore;
class ExecutableURLCache;
class ToolSearchPath;
}

namespace quorlin::gui {

class AppHelpWindowController;
class CommandConsoleWindowController;
class CompressionWorkspaceView;
class CorpusWindow;
class RateDistortionWindow;
class RequiredToolsWindowController;
class ResultsTableWindowController;

struct MainWindowServices {
  WorkspaceServices workspace;              // handed to every tab's workspace
  CommandConsoleStore& console;             // shown by the console window
  ExecutableURLCache& executables;          // checked by the required tools window
  const ToolSearchPath& toolSearchPath;
};

class MainWindow : public QMainWindow {
  Q_OBJECT

 public:
  explicit MainWindow(MainWindowServices services, QWidget* parent = nullptr);
  ~MainWindow() override;

  // The toolbar's and the registry's tab commands.
  void addTab(RateControlMode mode);
  void closeSelectedTab();
  // File › Open… for the selected tab.
  void openImage();
  // View › Results Table for the selected tab.
  void showResultsTable();
  // Installs newTab, newTargetTab, toggleCommandConsole, showRequiredTools and showHelp.
  void registerGlobalCommands();

  WorkspaceTabList& tabList() { return *tabs_; }
  QTabWidget* tabWidget() const { return tabWidget_; }
  // The page of the tab with `id`; null for an unknown id.
  CompressionWorkspaceView* workspaceView(const Uuid& id) const;

  QToolBar* toolBar() const { return toolBar_; }
  QAction* newTabAction() const { return newTabAction_; }
  QAction* closeTabAction() const { return closeTabAction_; }
  QAction* consoleAction() const { return consoleAction_; }
  QAction* requiredToolsAction() const { return requiredToolsAction_; }
  QAction* rateDistortionAction() const { return rateDistortionAction_; }
  // File › "Compare Folder…" (Ctrl+Shift+O): showCorpus.
  QAction* compareFolderAction() const { return compareFolderAction_; }

  // Shows the selected tab's Rate–Distortion window, making it on first use.
  RateDistortionWindow& showRateDistortion();
  // The window of the tab with `id`; null until it was first shown.
  RateDistortionWindow* rateDistortionWindow(const Uuid& id) const;
  // File › Compare Folder…: the selected tab's Corpus window, made on first use.
  CorpusWindow& showCorpus();
  // A new tab of `mode` with these panels (results dropped), showing `image`
  // and generating its panels once it is read; with `curves` (an image of a
  // corpus run), the tab's Rate–Distortion window opens in front showing them.
  void openImageInNewTab(const std::filesystem::path& image, const std::vector<CodecPanel>& panels,
                         RateControlMode mode, double targetScore, std::vector<PanelSweep> curves = {});

  CommandConsoleWindowController& consoleWindow() { return *consoleWindow_; }
  RequiredToolsWindowController& requiredToolsWindow() { return *requiredToolsWindow_; }
  AppHelpWindowController& helpWindow() { return *helpWindow_; }
  ResultsTableWindowController& resultsTableWindow() { return *resultsTableWindow_; }

 signals:
  // The user closed the window (the application quits then).
  void closed();

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  struct Page {
    Uuid id;
    CompressionWorkspaceView* view;
    RateDistortionWindow* rateDistortion = nullptr;
    CorpusWindow* corpus = nullptr;
    Subscription generateOnLoad;  // a tab opened from a corpus row, until its image is read
  };

  void buildToolBar();
  // Makes the strip match the tab list: pages, order, labels, selection.
  void synchronizeTabs();
  void removePage(std::size_t index);
  void tabChosen(int index);

  MainWindowServices services_;
  std::unique_ptr<CommandConsoleWindowController> consoleWindow_;
  std::unique_ptr<RequiredToolsWindowController> requiredToolsWindow_;
  std::unique_ptr<AppHelpWindowController> helpWindow_;
  std::unique_ptr<ResultsTableWindowController> resultsTableWindow_;

  QTabWidget* tabWidget_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QAction* newTabAction_ = nullptr;
  QAction* closeTabAction_ = nullptr;
  QAction* consoleAction_ = nullptr;
  QAction* requiredToolsAction_ = nullptr;
  QAction* rateDistortionAction_ = nullptr;
  QAction* compareFolderAction_ = nullptr;

  std::vector<Page> pages_;  // in strip order
  bool isSynchronizing_ = false;
  bool hasBeenShown_ = false;

  // Last: its workspaces call back into the window while it is made and destroyed.
  std::unique_ptr<WorkspaceTabList> tabs_;
  Subscription tabsSubscription_;
};

}  // namespace quorlin::gui
