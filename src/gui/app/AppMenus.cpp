#include "gui/app/AppMenus.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

#include <utility>

#include "core/comparison/KeyboardCommandRegistry.h"
#include "gui/comparison/CanvasMagnification.h"

namespace quorlin::gui {

namespace {

using Registry = KeyboardCommandRegistry;

QAction* addItem(QMenu* menu, const char* title, const QKeySequence& shortcut, std::function<void()> action) {
  QAction* item = menu->addAction(QString::fromUtf8(title));
  item->setShortcut(shortcut);
  QObject::connect(item, &QAction::triggered, item, [action = std::move(action)] {
    if (action) action();
  });
  return item;
}

// An item calling the registry slot `slot` with `arguments` at the moment it is chosen.
template <typename Slot, typename... Arguments>
QAction* addRegistryItem(QMenu* menu, const char* title, const QKeySequence& shortcut, Registry& registry,
                         Slot Registry::*slot, Arguments... arguments) {
  return addItem(menu, title, shortcut, [&registry, slot, arguments...] { Registry::call(registry.*slot, arguments...); });
}

QKeySequence ctrl(int key) { return QKeySequence(QKeyCombination(Qt::ControlModifier, Qt::Key(key))); }
QKeySequence ctrlAlt(int key) {
  return QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::AltModifier, Qt::Key(key)));
}

}  // namespace

AppMenus installAppMenus(QMenuBar& menuBar, KeyboardCommandRegistry& registry, AppMenuHandlers handlers) {
  AppMenus menus;

  menus.fileMenu = menuBar.addMenu("&File");
  menus.open = addItem(menus.fileMenu, "Open…", QKeySequence::Open, std::move(handlers.openImage));
  menus.fileMenu->addSeparator();
  menus.newTab = addRegistryItem(menus.fileMenu, "New Tab", ctrl(Qt::Key_T), registry, &Registry::newTab);
  menus.newTargetTab = addRegistryItem(menus.fileMenu, "New Target Comparison Tab", ctrlAlt(Qt::Key_T), registry,
                                       &Registry::newTargetTab);
  menus.closeTab = addItem(menus.fileMenu, "Close Tab", ctrl(Qt::Key_W), std::move(handlers.closeTab));
  menus.fileMenu->addSeparator();
  menus.quit = addItem(menus.fileMenu, "Quit", QKeySequence::Quit, std::move(handlers.quit));
  menus.quit->setMenuRole(QAction::QuitRole);

  menus.editMenu = menuBar.addMenu("&Edit");
  menus.settings = addItem(menus.editMenu, "Settings…", ctrl(Qt::Key_Comma), std::move(handlers.showSettings));
  menus.settings->setMenuRole(QAction::PreferencesRole);
  menus.applicationRequiredTools =
      addRegistryItem(menus.editMenu, "Required Tools…", QKeySequence(), registry, &Registry::showRequiredTools);
  menus.applicationRequiredTools->setMenuRole(QAction::ApplicationSpecificRole);

  menus.viewMenu = menuBar.addMenu("&View");
  menus.generate = addRegistryItem(menus.viewMenu, "Generate", ctrl(Qt::Key_G), registry, &Registry::generate);
  menus.zoomIn = addRegistryItem(menus.viewMenu, "Zoom In", ctrl(Qt::Key_Plus), registry, &Registry::zoomIn);
  menus.zoomOut = addRegistryItem(menus.viewMenu, "Zoom Out", ctrl(Qt::Key_Minus), registry, &Registry::zoomOut);
  menus.resetImage = addRegistryItem(menus.viewMenu, "Reset Image", ctrl(Qt::Key_0), registry, &Registry::resetImage);
  menus.actualSize =
      addRegistryItem(menus.viewMenu, "Actual Size", ctrl(Qt::Key_1), registry, &Registry::zoomActualSize);
  menus.zoom200 = addRegistryItem(menus.viewMenu, "200%", ctrl(Qt::Key_2), registry, &Registry::zoomToScale, 2.0);
  menus.zoom400 = addRegistryItem(menus.viewMenu, "400%", ctrl(Qt::Key_4), registry, &Registry::zoomToScale, 4.0);
  menus.zoom600 = addRegistryItem(menus.viewMenu, "600%", ctrl(Qt::Key_6), registry, &Registry::zoomToScale, 6.0);
  menus.zoom800 = addRegistryItem(menus.viewMenu, "800%", ctrl(Qt::Key_8), registry, &Registry::zoomToScale, 8.0);
  menus.viewMenu->addSeparator();
  // E held shows the map too; the key is the comparison's, not a menu shortcut.
  menus.errorMap = addRegistryItem(menus.viewMenu, "Error Map", QKeySequence(), registry, &Registry::toggleErrorMap);
  menus.errorMap->setToolTip(QStringLiteral("Show where each result lost its score (hold E)"));
  menus.smoothMagnification = menus.viewMenu->addAction(QStringLiteral("Smooth Magnification"));
  menus.smoothMagnification->setCheckable(true);
  menus.smoothMagnification->setChecked(CanvasMagnification::instance().isSmooth());
  menus.smoothMagnification->setToolTip(
      QStringLiteral("Interpolate pixels at 200% and above instead of showing them as squares"));
  QObject::connect(menus.smoothMagnification, &QAction::toggled, menus.smoothMagnification,
                   [](bool isSmooth) { CanvasMagnification::instance().setSmooth(isSmooth); });
  menus.resultsTable = addItem(menus.viewMenu, "Results Table",
                               QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_R)),
                               std::move(handlers.showResultsTable));

  menus.windowMenu = menuBar.addMenu("&Window");
  menus.commandConsole =
      addItem(menus.windowMenu, "Command Console",
              QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_C)),
              [&registry] { Registry::call(registry.toggleCommandConsole); });

  menus.helpMenu = menuBar.addMenu("&Help");
  menus.help = addRegistryItem(menus.helpMenu, "Quorlin Help", ctrl(Qt::Key_Question), registry, &Registry::showHelp);
  menus.help->setShortcuts({ctrl(Qt::Key_Question), QKeySequence(Qt::Key_F1)});
  menus.helpRequiredTools =
      addRegistryItem(menus.helpMenu, "Required Tools…", ctrlAlt(Qt::Key_R), registry, &Registry::showRequiredTools);
  menus.helpMenu->addSeparator();
  menus.about = addItem(menus.helpMenu, "About Quorlin", QKeySequence(), std::move(handlers.showAbout));
  menus.about->setMenuRole(QAction::AboutRole);

  return menus;
}

}  // namespace quorlin::gui
