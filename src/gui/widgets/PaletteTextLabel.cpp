#include "gui/widgets/PaletteTextLabel.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>

#include "gui/widgets/PaletteColors.h"

namespace quorlin::gui {

PaletteTextLabel::PaletteTextLabel(Shade shade, Layout layout, QWidget* parent)
    : QWidget(parent), shade_(shade), layout_(layout) {
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  if (layout_ == Layout::wrapped) policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

void PaletteTextLabel::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  updateGeometry();
  update();
}

void PaletteTextLabel::setAlignment(Qt::Alignment alignment) {
  alignment_ = alignment;
  update();
}

QString PaletteTextLabel::displayedText() const {
  if (layout_ == Layout::wrapped) return text_;
  return fontMetrics().elidedText(text_, Qt::ElideMiddle, std::max(0, contentsRect().width()));
}

int PaletteTextLabel::preferredWrapWidth() const {
  const QFontMetrics metrics = fontMetrics();
  return std::min({metrics.horizontalAdvance(text_) + 2, metrics.averageCharWidth() * 60, maximumWidth()});
}

QSize PaletteTextLabel::sizeHint() const {
  const QFontMetrics metrics = fontMetrics();
  if (layout_ == Layout::wrapped) {
    const int width = preferredWrapWidth();
    return {width, heightForWidth(width)};
  }
  return {metrics.horizontalAdvance(text_) + 2, metrics.height()};
}

QSize PaletteTextLabel::minimumSizeHint() const {
  const QFontMetrics metrics = fontMetrics();
  if (layout_ == Layout::wrapped) return {metrics.averageCharWidth() * 12, metrics.height()};
  return {std::min(metrics.horizontalAdvance(text_) + 2, metrics.averageCharWidth() * 8), metrics.height()};
}

int PaletteTextLabel::heightForWidth(int width) const {
  if (layout_ != Layout::wrapped) return fontMetrics().height();
  // A layout that places the text by alignment gives it no more than its
  // preferred width, yet asks for the height at the whole width it has.
  width = std::min(width, preferredWrapWidth());
  const QRect bounds = fontMetrics().boundingRect(QRect(0, 0, std::max(1, width), 100000),
                                                  int(alignment_) | Qt::TextWordWrap, text_);
  return std::max(bounds.height(), fontMetrics().height());
}

QColor PaletteTextLabel::textColor() const {
  return shade_ == Shade::secondary ? secondaryTextColor(palette()) : palette().color(QPalette::WindowText);
}

void PaletteTextLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(textColor());
  painter.setFont(font());
  if (layout_ == Layout::wrapped) {
    painter.drawText(contentsRect(), int(alignment_) | Qt::TextWordWrap, text_);
  } else {
    painter.drawText(contentsRect(), int(alignment_) | Qt::TextSingleLine, displayedText());
  }
}

void PaletteTextLabel::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) updateGeometry();
  QWidget::changeEvent(event);
}

}  // namespace quorlin::gui
