#include "gui/widgets/ElidedLabel.h"

#include <QPainter>

#include "gui/widgets/PaletteColors.h"

namespace quorlin::gui {

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setToolTip(text);
  setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setSecondary(bool isSecondary) {
  isSecondary_ = isSecondary;
  update();
}

void ElidedLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(isSecondary_ ? secondaryTextColor(palette()) : palette().color(QPalette::WindowText));
  painter.setFont(font());
  QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
  painter.drawText(contentsRect(), Qt::AlignVCenter | Qt::AlignLeft, shown);
}

}  // namespace quorlin::gui
