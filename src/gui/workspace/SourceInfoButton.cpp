#include "gui/workspace/SourceInfoButton.h"

#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "gui/app/TextStyles.h"

namespace quorlin::gui {

SourceInfoButton::SourceInfoButton(QWidget* parent)
    : QAbstractButton(parent),
      name_(new PaletteTextLabel(PaletteTextLabel::Shade::primary)),
      summary_(new PaletteTextLabel(PaletteTextLabel::Shade::secondary)) {
  setFocusPolicy(Qt::TabFocus);
  name_->setFont(calloutFont(QFont::Medium));
  summary_->setFont(captionFont());
  for (PaletteTextLabel* label : {name_, summary_}) label->setAttribute(Qt::WA_TransparentForMouseEvents);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 3, 8, 3);
  layout->setSpacing(1);
  layout->addWidget(name_);
  layout->addWidget(summary_);
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  policy.setRetainSizeWhenHidden(true);
  setSizePolicy(policy);
}

void SourceInfoButton::setContent(const QString& fileName, const QString& summary) {
  name_->setText(fileName);
  // Without a summary the second line stays, empty, so the toolbar's height
  // does not change with the metadata.
  summary_->setText(summary);
  updateGeometry();
}

void SourceInfoButton::setInteractive(bool isInteractive) {
  isInteractive_ = isInteractive;
  setCursor(isInteractive ? Qt::PointingHandCursor : Qt::ArrowCursor);
  setFocusPolicy(isInteractive ? Qt::TabFocus : Qt::NoFocus);
  update();
}

QSize SourceInfoButton::sizeHint() const { return layout()->sizeHint(); }

QSize SourceInfoButton::minimumSizeHint() const { return layout()->minimumSize(); }

bool SourceInfoButton::hitButton(const QPoint& position) const {
  return isInteractive_ && QAbstractButton::hitButton(position);
}

void SourceInfoButton::enterEvent(QEnterEvent* event) {
  isHovered_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void SourceInfoButton::leaveEvent(QEvent* event) {
  isHovered_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void SourceInfoButton::paintEvent(QPaintEvent*) {
  // Borderless: only a soft highlight under the pointer (stronger while
  // pressed) says that the block can be clicked.
  if (!isInteractive_ || !(isHovered_ || isDown() || hasFocus())) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor fill = palette().color(QPalette::WindowText);
  fill.setAlphaF(isDown() ? 0.16f : 0.08f);
  QPainterPath shape;
  shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
  painter.fillPath(shape, fill);
}

}  // namespace quorlin::gui
