// The main window over the fake engine: tabs and their pages, the selection
// after closing, activation, the toolbar, the window's registry handlers and
// the first showing of the required tools window.
#include <QAction>
#include <QApplication>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QToolBar>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "core/tools/CommandConsole.h"
#include "gui/windows/CommandConsoleWindow.h"
#include "gui/windows/HelpAndAboutWindows.h"
#include "gui/windows/RequiredToolsWindow.h"
#include "gui/windows/ResultsTableWindow.h"
#include "gui/workspace/CompressionWorkspaceView.h"
#include "gui/workspace/MainWindow.h"
#include "support/WorkspaceFixture.h"

namespace quorlin::test {
namespace {

using gui::MainWindow;

class MainWindowTest : public WorkspaceFixture {
 protected:
  void SetUp() override {
    // Most tests are not about the first start.
    settings->setHasSeenToolRequirements(true);
    window = makeWindow();
  }
  void TearDown() override {
    window.reset();
    WorkspaceFixture::TearDown();
  }

  std::unique_ptr<MainWindow> makeWindow() {
    return std::make_unique<MainWindow>(gui::MainWindowServices{services(), console, toolCache, toolSearchPath});
  }

  QTabWidget& strip() { return *window->tabWidget(); }

  std::vector<std::string> labels() {
    std::vector<std::string> texts;
    for (int i = 0; i < strip().count(); ++i) texts.push_back(strip().tabText(i).toStdString());
    return texts;
  }

  // The strip shows exactly the list: one page per tab, in order, the list's selection current.
  void expectStripMatchesList() {
    const auto tabs = window->tabList().tabs();
    ASSERT_EQ(strip().count(), static_cast<int>(tabs.size()));
    for (std::size_t i = 0; i < tabs.size(); ++i) {
      EXPECT_EQ(strip().widget(static_cast<int>(i)), window->workspaceView(tabs[i].id)) << "page " << i;
    }
    EXPECT_EQ(strip().currentIndex(), static_cast<int>(window->tabList().selectedIndex()));
    EXPECT_EQ(window->closeTabAction()->isEnabled(), tabs.size() >= 2);
  }

  Uuid idAt(std::size_t index) { return window->tabList().tabs().at(index).id; }

  CommandConsoleStore console;
  std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, StartsWithOneUntitledSetQualityTabThatCannotBeClosedAndAToolbarOfIcons) {
  EXPECT_EQ(labels(), std::vector<std::string>{"Untitled"});
  EXPECT_EQ(strip().tabBar()->tabButton(0, QTabBar::RightSide), nullptr);
  window->closeSelectedTab();
  expectStripMatchesList();

  const QList<QAction*> actions = window->toolBar()->actions();
  EXPECT_EQ(actions, (QList<QAction*>{window->newTabAction(), window->closeTabAction(), window->consoleAction(),
                                      window->requiredToolsAction(), window->rateDistortionAction()}));
  for (QAction* action : actions) EXPECT_FALSE(action->icon().isNull()) << action->text().toStdString();
}

TEST_F(MainWindowTest, NewTabsAreAppendedSelectedAndActive) {
  window->newTabAction()->trigger();
  ASSERT_TRUE(static_cast<bool>(registry.newTargetTab));
  registry.newTargetTab();

  expectStripMatchesList();
  EXPECT_EQ(window->tabList().selectedIndex(), 2u);
  EXPECT_EQ(window->tabList().tabs()[2].rateControlMode, RateControlMode::targetScore);
}

TEST_F(MainWindowTest, ClosingATabSelectsTheOneAfterItOrElseThePreviousOne) {
  for (int i = 0; i < 4; ++i) window->addTab(RateControlMode::manual);
  const std::vector<Uuid> ids{idAt(0), idAt(1), idAt(2), idAt(3), idAt(4)};
  // A tab's own close button closes that tab, whichever is selected.
  QWidget* closeSecond = strip().tabBar()->tabButton(1, QTabBar::RightSide);
  ASSERT_NE(closeSecond, nullptr);
  QTest::mouseClick(closeSecond, Qt::LeftButton);
  EXPECT_EQ(window->workspaceView(ids[1]), nullptr);
  EXPECT_EQ(window->tabList().tabCount(), 4u);
  EXPECT_EQ(idAt(1), ids[2]);
  expectStripMatchesList();

  strip().setCurrentIndex(3);   // the user picks the last tab
  window->closeTabAction()->trigger();
  EXPECT_EQ(window->tabList().selectedTabID(), ids[3]);
  EXPECT_TRUE(window->tabList().workspace(ids[3])->isActive());
  expectStripMatchesList();
}

TEST_F(MainWindowTest, ChoosingATabMovesActivationAndTheCommands) {
  window->addTab(RateControlMode::manual);
  CompressionWorkspace* first = window->tabList().workspace(idAt(0));
  CompressionWorkspace* second = window->tabList().workspace(idAt(1));
  second->canvasView().setShowingOriginal(true);

  registry.newTab = nullptr;
  strip().setCurrentIndex(0);
  EXPECT_TRUE(first->isActive());
  EXPECT_FALSE(second->isActive());
  EXPECT_FALSE(second->canvasView().isShowingOriginal()) << "a deactivated tab releases its hold-to-show overlays";

  // The registry's generate now belongs to the first tab, and the window's commands are back.
  load(*first, writeImage("first.png"));
  registry.generate();
  EXPECT_TRUE(first->isRunning());
  EXPECT_FALSE(second->isRunning());
  for (const auto& run : waitingRuns(4)) finishAndApply(run.number);
  ASSERT_TRUE(static_cast<bool>(registry.newTab));
  registry.newTab();
  EXPECT_EQ(window->tabList().tabCount(), 3u);
}

TEST_F(MainWindowTest, TabLabelsFollowTheTitleShortenedWhenLong) {
  window->addTab(RateControlMode::manual);
  window->addTab(RateControlMode::manual);
  const std::string longer = "a-rather-long-photograph-name.png";
  window->tabList().workspace(idAt(1))->setTabTitle(longer);
  load(*window->tabList().workspace(idAt(2)), writeImage("cups.png"));
  EXPECT_EQ(labels(), (std::vector<std::string>{"Untitled", "a-rather-long-ph...-name.png", "cups.png"}));
  EXPECT_EQ(strip().tabToolTip(1).toStdString(), longer);
}

TEST_F(MainWindowTest, TheWindowCommandsOpenWindowsThatEscapeClosesAndGoWithTheWindow) {
  registry = KeyboardCommandRegistry{};
  window->registerGlobalCommands();
  ASSERT_TRUE(registry.newTab && registry.newTargetTab && registry.toggleCommandConsole && registry.showRequiredTools &&
              registry.showHelp);
  registry.showHelp();
  registry.showRequiredTools();
  registry.toggleCommandConsole();
  for (QWidget* auxiliary :
       {window->helpWindow().window(), window->consoleWindow().window(), window->requiredToolsWindow().window()}) {
    ASSERT_NE(auxiliary, nullptr);
    ASSERT_TRUE(auxiliary->isVisible());
    auxiliary->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(auxiliary));
    QTest::keyClick(auxiliary, Qt::Key_Escape);
    EXPECT_FALSE(auxiliary->isVisible()) << auxiliary->windowTitle().toStdString();
  }

  window.reset();
  EXPECT_FALSE(registry.newTab || registry.newTargetTab || registry.toggleCommandConsole ||
               registry.showRequiredTools || registry.showHelp);
}

TEST_F(MainWindowTest, TheFirstShowingOpensTheRequiredToolsWindowOnce) {
  window.reset();
  settings->setHasSeenToolRequirements(false);
  window = makeWindow();
  window->show();
  QApplication::processEvents();
  EXPECT_TRUE(settings->hasSeenToolRequirements());
  ASSERT_NE(window->requiredToolsWindow().window(), nullptr);
  EXPECT_TRUE(window->requiredToolsWindow().window()->isVisible());

  // A later start, and a later showing of the same window, leave it closed.
  window = makeWindow();
  window->show();
  window->hide();
  window->show();
  QApplication::processEvents();
  EXPECT_EQ(window->requiredToolsWindow().window(), nullptr);
}

TEST_F(MainWindowTest, TheResultsTableFollowsTheSelectedTabAndLetsGoOfAClosedOne) {
  window->addTab(RateControlMode::manual);
  CompressionWorkspace& second = window->tabList().selectedWorkspace();
  second.updatePanel(1, [](CodecPanel& panel) { panel.errorMessage = "avifenc failed."; });
  window->showResultsTable();
  QTableWidget* table = window->resultsTableWindow().table();
  ASSERT_EQ(table->rowCount(), 4);
  EXPECT_EQ(table->item(1, 9)->text(), "Failed");
  window->closeSelectedTab();   // back on the first tab, where nothing failed
  EXPECT_EQ(table->item(1, 9)->text(), "Not Generated");
  EXPECT_NE(window->resultsTableWindow().csv().find("2,AVIF,,,,,,,,Not Generated"), std::string::npos);
}

TEST_F(MainWindowTest, FitsSmallScreensWithEveryControlInsideAndHalfTheWidthForTheCanvas) {
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  gui::CompressionWorkspaceView* view = window->workspaceView(idAt(0));
  for (QSize screen : {QSize(1280, 720), QSize(1024, 640)}) {
    SCOPED_TRACE(screen.width());
    EXPECT_LE(window->minimumSizeHint().width(), screen.width());
    EXPECT_LE(window->minimumSizeHint().height(), screen.height());
    window->resize(screen);
    QCoreApplication::processEvents();
    ASSERT_EQ(window->size(), screen);
    EXPECT_GE(view->findChild<QWidget*>("canvasArea")->width(), screen.width() / 2);
    QList<QWidget*> controls = view->findChildren<QWidget*>("generateButton");   // the toolbar's and the panels'
    for (const char* name : {"openButton", "rateControlPicker", "statusText", "actualSizeButton"}) {
      controls.push_back(view->findChild<QWidget*>(name));
    }
    for (QWidget* control : controls) {
      ASSERT_NE(control, nullptr);
      const QRect inWindow(control->mapTo(window.get(), QPoint(0, 0)), control->size());
      EXPECT_TRUE(window->rect().contains(inWindow)) << control->objectName().toStdString();
    }
  }
}

}  // namespace
}  // namespace quorlin::test
