// AppMenus: the menu bar of the main window.
//
// Every command item only calls the handler that sits in its slot of the
// shared KeyboardCommandRegistry when it is chosen; an empty slot does
// nothing. The items the application handles itself (About, Settings, Quit)
// carry the menu roles that move them into the application menu on macOS; on
// Linux About sits in the Help menu and Settings in the Edit menu.
//
//   File    Open… (Ctrl+O), New Tab (Ctrl+T), New Target Comparison Tab
//           (Ctrl+Alt+T), Close Tab (Ctrl+W), Quit
//   Edit    Settings… (Ctrl+,), Required Tools…
//   View    Generate (Ctrl+G), Zoom In (Ctrl++), Zoom Out (Ctrl+-),
//           Reset Image (Ctrl+0), Actual Size (Ctrl+1), 200% (Ctrl+2),
//           400% (Ctrl+4), 600% (Ctrl+6), 800% (Ctrl+8), Error Map (a
//           toggle of the active comparison; E held shows it too), Smooth
//           Magnification (a toggle), Results Table (Ctrl+Shift+R)
//   Window  Command Console (Ctrl+Shift+C)
//   Help    Quorlin Help (Ctrl+? and F1), Required Tools… (Ctrl+Alt+R), About Quorlin
//
// Main thread only. The registry must outlive the menus.
#pragma once

#include <functional>

class QAction;
class QMenu;
class QMenuBar;

namespace quorlin {
class KeyboardCommandRegistry;
}

namespace quorlin::gui {

// What the application itself does for its own items.
struct AppMenuHandlers {
  std::function<void()> showAbout;
  std::function<void()> showSettings;
  std::function<void()> quit;
  std::function<void()> openImage;
  std::function<void()> closeTab;
  std::function<void()> showResultsTable;
};

// The menus and the actions of the menu bar, in menu order.
struct AppMenus {
  QMenu* fileMenu = nullptr;
  QMenu* editMenu = nullptr;
  QMenu* viewMenu = nullptr;
  QMenu* windowMenu = nullptr;
  QMenu* helpMenu = nullptr;

  QAction* open = nullptr;
  QAction* newTab = nullptr;
  QAction* newTargetTab = nullptr;
  QAction* closeTab = nullptr;
  QAction* quit = nullptr;
  QAction* settings = nullptr;
  QAction* applicationRequiredTools = nullptr;  // the application menu's, without a shortcut
  QAction* generate = nullptr;
  QAction* zoomIn = nullptr;
  QAction* zoomOut = nullptr;
  QAction* resetImage = nullptr;
  QAction* actualSize = nullptr;
  QAction* zoom200 = nullptr;
  QAction* zoom400 = nullptr;
  QAction* zoom600 = nullptr;
  QAction* zoom800 = nullptr;
  QAction* errorMap = nullptr;
  QAction* smoothMagnification = nullptr;
  QAction* resultsTable = nullptr;
  QAction* commandConsole = nullptr;
  QAction* help = nullptr;
  QAction* helpRequiredTools = nullptr;
  QAction* about = nullptr;
};

// Adds the five menus to `menuBar`.
AppMenus installAppMenus(QMenuBar& menuBar, KeyboardCommandRegistry& registry, AppMenuHandlers handlers);

}  // namespace quorlin::gui
