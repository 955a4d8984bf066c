#include "gui/app/ContrastStyle.h"

#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>

#include "gui/widgets/PaletteColors.h"

namespace quorlin::gui {

ContrastStyle::ContrastStyle(const QString& baseStyleName) : QProxyStyle(QStyleFactory::create(baseStyleName)) {}

namespace {

const QStyleOptionToolButton* textBesideIcon(const QStyleOption* option) {
  const auto* button = qstyleoption_cast<const QStyleOptionToolButton*>(option);
  if (!button || button->toolButtonStyle != Qt::ToolButtonTextBesideIcon) return nullptr;
  return button->icon.isNull() || button->text.isEmpty() ? nullptr : button;
}

}  // namespace

void ContrastStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                                const QWidget* widget) const {
  const QStyleOptionToolButton* button = element == CE_ToolButtonLabel ? textBesideIcon(option) : nullptr;
  if (!button) {
    QProxyStyle::drawControl(element, option, painter, widget);
    return;
  }
  // The icon in its own box at the left, the label after a gap.
  const int iconBox = button->iconSize.width() + 4;
  QStyleOptionToolButton icon = *button;
  icon.text.clear();
  icon.toolButtonStyle = Qt::ToolButtonIconOnly;
  icon.rect.setWidth(iconBox);
  QProxyStyle::drawControl(element, &icon, painter, widget);
  QStyleOptionToolButton label = *button;
  label.icon = QIcon();
  label.toolButtonStyle = Qt::ToolButtonTextOnly;
  label.rect.setLeft(button->rect.left() + iconBox + iconLabelGap - 4);
  QProxyStyle::drawControl(element, &label, painter, widget);
}

QSize ContrastStyle::sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                                      const QWidget* widget) const {
  QSize result = QProxyStyle::sizeFromContents(type, option, size, widget);
  if (type == CT_ToolButton && textBesideIcon(option)) result.rwidth() += iconLabelGap;
  return result;
}

QColor controlOutlineColor(const QPalette& palette, bool isEnabled) {
  return blendColors(palette.color(QPalette::WindowText), palette.color(QPalette::Window), isEnabled ? 0.45 : 0.7);
}

void ContrastStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                  const QWidget* widget) const {
  QProxyStyle::drawPrimitive(element, option, painter, widget);
  const bool isIndicator = element == PE_IndicatorCheckBox || element == PE_IndicatorRadioButton;
  if (!isIndicator || !isDarkPalette(option->palette)) return;
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing, true);
  painter->setBrush(Qt::NoBrush);
  painter->setPen(QPen(controlOutlineColor(option->palette, option->state & State_Enabled), 1.0));
  const QRectF frame = QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5);
  if (element == PE_IndicatorCheckBox) {
    painter->drawRoundedRect(frame, 1.5, 1.5);
  } else {
    painter->drawEllipse(frame.adjusted(0.5, 0.5, -0.5, -0.5));
  }
  painter->restore();
}

}  // namespace quorlin::gui
