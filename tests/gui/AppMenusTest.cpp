// The menu bar: titles, order, shortcuts and roles, and that every item calls
// only the registry slot of the moment (and nothing when it is empty).
#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMainWindow>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "core/comparison/KeyboardCommandRegistry.h"
#include "gui/app/AppMenus.h"

namespace quorlin::test {
namespace {

using gui::AppMenus;

std::vector<std::string> itemTitles(const QMenu* menu) {
  std::vector<std::string> titles;
  for (const QAction* action : menu->actions()) {
    if (!action->isSeparator()) titles.push_back(action->text().toStdString());
  }
  return titles;
}

class AppMenusTest : public ::testing::Test {
 protected:
  AppMenusTest() {
    menus = gui::installAppMenus(menuBar, registry,
                                 gui::AppMenuHandlers{[this] { calls.push_back("about"); },
                                                      [this] { calls.push_back("settings"); },
                                                      [this] { calls.push_back("quit"); },
                                                      [this] { calls.push_back("open"); },
                                                      [this] { calls.push_back("closeTab"); },
                                                      [this] { calls.push_back("resultsTable"); }});
  }

  // Every slot records its name (and argument) when called.
  void fillRegistry() {
    auto record = [this](std::string name) { return [this, name] { calls.push_back(name); }; };
    registry.resetImage = record("resetImage");
    registry.zoomActualSize = record("zoomActualSize");
    registry.zoomToScale = [this](double scale) { calls.push_back("zoomToScale " + std::to_string(int(scale))); };
    registry.zoomIn = record("zoomIn");
    registry.zoomOut = record("zoomOut");
    registry.generate = record("generate");
    registry.newTab = record("newTab");
    registry.newTargetTab = record("newTargetTab");
    registry.toggleCommandConsole = record("toggleCommandConsole");
    registry.showRequiredTools = record("showRequiredTools");
    registry.showHelp = record("showHelp");
    registry.showOriginal = record("showOriginal");
    registry.showDifference = record("showDifference");
    registry.hideComparisonOverlay = record("hideComparisonOverlay");
    registry.hideDifference = record("hideDifference");
    registry.stepDifferenceGain = [this](int) { calls.push_back("stepDifferenceGain"); };
    registry.setDifferenceGainStep = [this](int) { calls.push_back("setDifferenceGainStep"); };
    registry.optionScrollZoom = [this](double) { calls.push_back("optionScrollZoom"); };
    registry.scrollPan = [this](double, double) { calls.push_back("scrollPan"); };
  }

  // What choosing each item calls, in menu order.
  std::vector<std::pair<QAction*, std::string>> expectedCalls() {
    return {{menus.open, "open"},
            {menus.newTab, "newTab"},
            {menus.newTargetTab, "newTargetTab"},
            {menus.closeTab, "closeTab"},
            {menus.quit, "quit"},
            {menus.settings, "settings"},
            {menus.applicationRequiredTools, "showRequiredTools"},
            {menus.generate, "generate"},
            {menus.zoomIn, "zoomIn"},
            {menus.zoomOut, "zoomOut"},
            {menus.resetImage, "resetImage"},
            {menus.actualSize, "zoomActualSize"},
            {menus.zoom200, "zoomToScale 2"},
            {menus.zoom400, "zoomToScale 4"},
            {menus.zoom600, "zoomToScale 6"},
            {menus.zoom800, "zoomToScale 8"},
            {menus.resultsTable, "resultsTable"},
            {menus.commandConsole, "toggleCommandConsole"},
            {menus.help, "showHelp"},
            {menus.helpRequiredTools, "showRequiredTools"},
            {menus.about, "about"}};
  }

  QMenuBar menuBar;
  KeyboardCommandRegistry registry;
  AppMenus menus;
  std::vector<std::string> calls;
};

TEST_F(AppMenusTest, MenusAndItemsComeInOrderWithTheirTitles) {
  std::vector<std::string> menuTitles;
  for (const QAction* action : menuBar.actions()) menuTitles.push_back(action->text().toStdString());
  EXPECT_EQ(menuTitles, (std::vector<std::string>{"&File", "&Edit", "&View", "&Window", "&Help"}));

  EXPECT_EQ(itemTitles(menus.fileMenu),
            (std::vector<std::string>{"Open…", "New Tab", "New Target Comparison Tab", "Close Tab", "Quit"}));
  EXPECT_EQ(itemTitles(menus.editMenu), (std::vector<std::string>{"Settings…", "Required Tools…"}));
  EXPECT_EQ(itemTitles(menus.viewMenu),
            (std::vector<std::string>{"Generate", "Zoom In", "Zoom Out", "Reset Image", "Actual Size", "200%", "400%",
                                      "600%", "800%", "Error Map", "Smooth Magnification", "Results Table"}));
  EXPECT_EQ(itemTitles(menus.windowMenu), (std::vector<std::string>{"Command Console"}));
  EXPECT_EQ(itemTitles(menus.helpMenu),
            (std::vector<std::string>{"Quorlin Help", "Required Tools…", "About Quorlin"}));
}

TEST_F(AppMenusTest, ShortcutsUseCtrlForCommandAndAltForOption) {
  auto shortcut = [](const QAction* action) { return action->shortcut().toString(QKeySequence::PortableText).toStdString(); };
  EXPECT_EQ(shortcut(menus.newTab), "Ctrl+T");
  EXPECT_EQ(shortcut(menus.newTargetTab), "Ctrl+Alt+T");
  EXPECT_EQ(shortcut(menus.settings), "Ctrl+,");
  EXPECT_EQ(shortcut(menus.applicationRequiredTools), "");
  EXPECT_EQ(shortcut(menus.commandConsole), "Ctrl+Shift+C");
  EXPECT_EQ(shortcut(menus.generate), "Ctrl+G");
  EXPECT_EQ(shortcut(menus.zoomIn), "Ctrl++");
  EXPECT_EQ(shortcut(menus.zoomOut), "Ctrl+-");
  EXPECT_EQ(shortcut(menus.resetImage), "Ctrl+0");
  EXPECT_EQ(shortcut(menus.actualSize), "Ctrl+1");
  EXPECT_EQ(shortcut(menus.zoom200), "Ctrl+2");
  EXPECT_EQ(shortcut(menus.zoom400), "Ctrl+4");
  EXPECT_EQ(shortcut(menus.zoom600), "Ctrl+6");
  EXPECT_EQ(shortcut(menus.zoom800), "Ctrl+8");
  EXPECT_EQ(shortcut(menus.help), "Ctrl+?");
  EXPECT_EQ(shortcut(menus.helpRequiredTools), "Ctrl+Alt+R");
  EXPECT_EQ(shortcut(menus.about), "");
}

TEST_F(AppMenusTest, ApplicationItemsCarryTheRolesOfTheApplicationMenu) {
  EXPECT_EQ(menus.about->menuRole(), QAction::AboutRole);
  EXPECT_EQ(menus.settings->menuRole(), QAction::PreferencesRole);
  EXPECT_EQ(menus.quit->menuRole(), QAction::QuitRole);
  EXPECT_EQ(menus.applicationRequiredTools->menuRole(), QAction::ApplicationSpecificRole);
}

TEST_F(AppMenusTest, EachItemCallsOnlyItsOwnSlot) {
  fillRegistry();
  for (const auto& [action, expected] : expectedCalls()) {
    calls.clear();
    action->trigger();
    EXPECT_EQ(calls, std::vector<std::string>{expected}) << action->text().toStdString();
  }
}

TEST_F(AppMenusTest, ItemsCallTheHandlerRegisteredAtTheMomentOfChoosing) {
  registry.generate = [this] { calls.push_back("first"); };
  menus.generate->trigger();
  registry.generate = [this] { calls.push_back("second"); };
  menus.generate->trigger();
  EXPECT_EQ(calls, (std::vector<std::string>{"first", "second"}));
}

TEST_F(AppMenusTest, AnItemWhoseSlotIsEmptyDoesNothing) {
  // Only the application's own items act; every registry item finds its slot empty.
  for (const auto& [action, expected] : expectedCalls()) action->trigger();
  EXPECT_EQ(calls, (std::vector<std::string>{"open", "closeTab", "quit", "settings", "resultsTable", "about"}));
}

TEST(AppMenusShortcutTest, ShortcutsTypedInTheWindowReachTheRegistry) {
  QMainWindow window;
  KeyboardCommandRegistry registry;
  std::vector<std::string> calls;
  gui::installAppMenus(*window.menuBar(), registry,
                       gui::AppMenuHandlers{[] {}, [] {}, [] {}, [&] { calls.push_back("open"); },
                                            [&] { calls.push_back("closeTab"); }, [] {}});
  registry.newTargetTab = [&] { calls.push_back("newTargetTab"); };
  registry.showHelp = [&] { calls.push_back("showHelp"); };
  registry.toggleCommandConsole = [&] { calls.push_back("toggleCommandConsole"); };
  registry.zoomToScale = [&](double scale) { calls.push_back("zoomToScale " + std::to_string(int(scale))); };
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

  QTest::keyClick(&window, Qt::Key_T, Qt::ControlModifier | Qt::AltModifier);
  // Synthetic events carry no scan code, so Shift (which the platform's key
  // mapping strips when it only makes the "?") is left out here.
  QTest::keyClick(&window, Qt::Key_Question, Qt::ControlModifier);
  QTest::keyClick(&window, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(&window, Qt::Key_6, Qt::ControlModifier);
  // The keys a Linux user reaches for first.
  QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
  QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
  QTest::keyClick(&window, Qt::Key_F1);
  EXPECT_EQ(calls, (std::vector<std::string>{"newTargetTab", "showHelp", "toggleCommandConsole", "zoomToScale 6", "open",
                                             "closeTab", "showHelp"}));
}

}  // namespace
}  // namespace quorlin::test
