#include "gui/widgets/SegmentButton.h"

#include <QApplication>
#include <QEvent>

#include "gui/widgets/PaletteColors.h"

namespace quorlin::gui {

SegmentButton::SegmentButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  setCheckable(true);
  connect(this, &QPushButton::toggled, this, [this] { applyTint(); });
}

void SegmentButton::changeEvent(QEvent* event) {
  QPushButton::changeEvent(event);
  if (event->type() == QEvent::PaletteChange && !isApplying_) applyTint();
}

void SegmentButton::applyTint() {
  isApplying_ = true;
  QPalette palette = parentWidget() ? parentWidget()->palette() : QApplication::palette();
  if (isChecked()) {
    palette.setColor(QPalette::Button, blendColors(palette.color(QPalette::Button), palette.color(QPalette::Highlight), 0.45));
  }
  setPalette(palette);
  isApplying_ = false;
}

}  // namespace quorlin::gui
