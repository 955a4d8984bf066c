// Main thread only.
#pragma once

#include <QWidget>

#include "gui/widgets/PaletteTextLabel.h"

class QLabel;

namespace quorlin::gui {

// What the canvas area shows before a source is loaded.
class EmptyWorkspaceState : public QWidget {
 public:
  explicit EmptyWorkspaceState(QWidget* parent = nullptr);

  const PaletteTextLabel& headline() const { return *headline_; }
  const PaletteTextLabel& detail() const { return *detail_; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void refreshSymbol();

  QLabel* symbol_;
  PaletteTextLabel* headline_;
  PaletteTextLabel* detail_;
};

}  // namespace quorlin::gui
