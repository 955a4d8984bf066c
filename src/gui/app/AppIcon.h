// AppIcon: the application's icon, the bundled ":/app/quorlin.svg" (four
// quadrants around a split cross), and the registration of that resource.
//
// Main thread only.
#pragma once

#include <QIcon>

namespace quorlin::gui {

// Registers the ":/app" resources of the static widget library; idempotent.
void initializeAppResources();

// The icon at every size, from the bundled drawing.
QIcon applicationIcon();

}  // namespace quorlin::gui
