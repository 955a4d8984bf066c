#include "gui/app/AppIcon.h"

// Q_INIT_RESOURCE must be used outside any namespace.
static void registerAppResources() { Q_INIT_RESOURCE(app); }

namespace quorlin::gui {

void initializeAppResources() {
  static const bool registered = (registerAppResources(), true);
  (void)registered;
}

QIcon applicationIcon() {
  initializeAppResources();
  return QIcon(":/app/quorlin.svg");
}

}  // namespace quorlin::gui
