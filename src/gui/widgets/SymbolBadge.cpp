#include "gui/widgets/SymbolBadge.h"

#include <QIcon>
#include <QImage>
#include <QPainter>

#include "gui/app/SymbolIcons.h"

namespace quorlin::gui {

SymbolBadge::SymbolBadge(std::string_view symbolName, ToneLabel::Tone tone, int side, QWidget* parent)
    : QWidget(parent), symbolName_(QString::fromUtf8(symbolName.data(), qsizetype(symbolName.size()))),
      tone_(tone), side_(side) {
  setFixedSize(side, side);
}

void SymbolBadge::setSymbol(std::string_view symbolName, ToneLabel::Tone tone) {
  symbolName_ = QString::fromUtf8(symbolName.data(), qsizetype(symbolName.size()));
  tone_ = tone;
  update();
}

void SymbolBadge::paintEvent(QPaintEvent*) {
  QColor colour = toneColor(tone_, palette());
  QIcon icon = symbolIcon(symbolName_.toStdString());
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  if (icon.isNull()) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawEllipse(QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5));
    return;
  }
  // Any icon, themed or bundled, is recoloured in the status colour.
  qreal scale = devicePixelRatioF();
  QImage image = icon.pixmap(size(), scale).toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
  {
    QPainter tint(&image);
    tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
    tint.fillRect(image.rect(), colour);
  }
  image.setDevicePixelRatio(scale);
  painter.drawImage(QPointF(0, 0), image);
}

}  // namespace quorlin::gui
