// ApplicationAppearance: turns the AppAppearance setting into the look of the
// whole application, at once.
//
// "auto" gives the desktop's own style and palette back (as they were when the
// first ApplicationAppearance was made, before any override); "light" and
// "dark" switch to the Fusion style with a light or a dark palette. Every
// style is wrapped in ContrastStyle's corrections.
//
// Main thread only; needs the QApplication.
#pragma once

#include <QPalette>
#include <QString>

#include "core/workspace/AppAppearance.h"

namespace quorlin::gui {

// Fusion's palettes for the two fixed appearances.
QPalette lightPalette();
QPalette darkPalette();

class ApplicationAppearance {
 public:
  // Records the desktop's style and palette.
  ApplicationAppearance();

  void apply(AppAppearance appearance);
  AppAppearance applied() const { return applied_; }

 private:
  QString desktopStyleName_;
  QPalette desktopPalette_;
  AppAppearance applied_ = AppAppearance::automatic;
};

}  // namespace quorlin::gui
