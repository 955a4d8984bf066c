// The menu bar: every item calls only the registry slot of the moment (and
// nothing when it is empty), and its shortcuts typed in a window arrive.
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
            {menus.zoom200, "zoomToScale(2)"},
            {menus.zoom400, "zoomToScale(4)"},
            {menus.zoom600, "zoomToScale(6)"},
            {menus.zoom800, "zoomToScale(8)"},
            {menus.errorMap, "toggleErrorMap"},
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

TEST_F(AppMenusTest, EachItemCallsOnlyTheSlotRegisteredAtTheMomentOfChoosing) {
  // Only the application's own items act while every registry slot is empty.
  for (const auto& [action, expected] : expectedCalls()) action->trigger();
  EXPECT_EQ(calls, (std::vector<std::string>{"open", "closeTab", "quit", "settings", "resultsTable", "about"}));

  recordEveryCommand(registry, calls);
  for (const auto& [action, expected] : expectedCalls()) {
    calls.clear();
    action->trigger();
    EXPECT_EQ(calls, std::vector<std::string>{expected}) << action->text().toStdString();
  }
  calls.clear();
  registry.generate = [this] { calls.push_back("replaced"); };
  menus.generate->trigger();
  EXPECT_EQ(calls, std::vector<std::string>{"replaced"});
  EXPECT_EQ(menus.settings->menuRole(), QAction::PreferencesRole);
  EXPECT_EQ(menus.applicationRequiredTools->menuRole(), QAction::ApplicationSpecificRole);
}

TEST(AppMenusShortcutTest, ShortcutsTypedInTheWindowReachTheRegistry) {
  QMainWindow window;
  KeyboardCommandRegistry registry;
  std::vector<std::string> calls;
  gui::installAppMenus(*window.menuBar(), registry,
                       gui::AppMenuHandlers{[] {}, [] {}, [] {}, [&] { calls.push_back("open"); },
                                            [&] { calls.push_back("closeTab"); }, [] {}});
  recordEveryCommand(registry, calls);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

  QTest::keyClick(&window, Qt::Key_T, Qt::ControlModifier | Qt::AltModifier);
  // Synthetic events carry no scan code, so Shift (which the platform's key
  // mapping strips when it only makes the "?") is left out here.
  QTest::keyClick(&window, Qt::Key_Question, Qt::ControlModifier);
  QTest::keyClick(&window, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(&window, Qt::Key_6, Qt::ControlModifier);
  QTest::keyClick(&window, Qt::Key_R, Qt::ControlModifier | Qt::AltModifier);
  // The keys a Linux user reaches for first.
  QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
  QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
  QTest::keyClick(&window, Qt::Key_F1);
  EXPECT_EQ(calls, (std::vector<std::string>{"newTargetTab", "showHelp", "toggleCommandConsole", "zoomToScale(6)",
                                             "showRequiredTools", "open", "closeTab", "showHelp"}));
}

}  // namespace
}  // namespace quorlin::test
