#include "gui/widgets/SeparatorLine.h"

#include <QPainter>

namespace quorlin::gui {

SeparatorLine::SeparatorLine(Qt::Orientation orientation, QWidget* parent) : QWidget(parent) {
  if (orientation == Qt::Horizontal) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  } else {
    setFixedWidth(1);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  }
}

void SeparatorLine::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QColor color = palette().color(QPalette::WindowText);
  color.setAlphaF(0.18f);
  painter.fillRect(rect(), color);
}

}  // namespace quorlin::gui
