#include "gui/widgets/CardFrame.h"

#include <QPainter>

#include "gui/widgets/PaletteColors.h"

namespace quorlin::gui {

CardFrame::CardFrame(QWidget* parent) : QFrame(parent) {}

void CardFrame::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor outline = blendColors(palette().color(QPalette::Base), palette().color(QPalette::WindowText), 0.18);
  painter.setPen(QPen(outline, 1.0));
  painter.setBrush(palette().color(QPalette::Base));
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
}

}  // namespace quorlin::gui
