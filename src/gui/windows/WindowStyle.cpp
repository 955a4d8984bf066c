#include "gui/windows/WindowStyle.h"

#include <QApplication>
#include <algorithm>
#include <QEvent>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>

#include "gui/app/SymbolIcons.h"

namespace quorlin::gui {

namespace {

QColor blend(const QColor& from, const QColor& to, double amount) {
  auto mix = [amount](int a, int b) { return int(a + (b - a) * amount + 0.5); };
  return QColor(mix(from.red(), to.red()), mix(from.green(), to.green()), mix(from.blue(), to.blue()));
}

}  // namespace

bool isDarkPalette(const QPalette& palette) { return palette.color(QPalette::Window).lightnessF() < 0.5; }

QColor statusColor(StatusTone tone, const QPalette& palette) {
  // Shades chosen for at least 4.5:1 contrast on a white or a near-black window.
  bool isDark = isDarkPalette(palette);
  switch (tone) {
    case StatusTone::red:
      return isDark ? QColor(0xff, 0x6b, 0x63) : QColor(0xc4, 0x1e, 0x16);
    case StatusTone::orange:
      return isDark ? QColor(0xff, 0xb0, 0x40) : QColor(0xb3, 0x58, 0x00);
    case StatusTone::green:
      return isDark ? QColor(0x5c, 0xd6, 0x7a) : QColor(0x1e, 0x7b, 0x34);
  }
  return palette.color(QPalette::WindowText);
}

QColor secondaryTextColor(const QPalette& palette) {
  return blend(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.4);
}

QFont monospacedFont(double pointSizeDelta) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  double base = QApplication::font().pointSizeF();
  if (base <= 0) base = 10.0;
  font.setPointSizeF(std::max(7.0, base + pointSizeDelta));
  return font;
}

QColor toneColor(ToneLabel::Tone tone, const QPalette& palette) {
  switch (tone) {
    case ToneLabel::Tone::primary:
      return palette.color(QPalette::WindowText);
    case ToneLabel::Tone::secondary:
      return secondaryTextColor(palette);
    case ToneLabel::Tone::red:
      return statusColor(StatusTone::red, palette);
    case ToneLabel::Tone::orange:
      return statusColor(StatusTone::orange, palette);
    case ToneLabel::Tone::green:
      return statusColor(StatusTone::green, palette);
  }
  return palette.color(QPalette::WindowText);
}

ToneLabel::Tone toneOf(StatusTone tone) {
  switch (tone) {
    case StatusTone::red:
      return ToneLabel::Tone::red;
    case StatusTone::orange:
      return ToneLabel::Tone::orange;
    case StatusTone::green:
      return ToneLabel::Tone::green;
  }
  return ToneLabel::Tone::primary;
}

ToneLabel::ToneLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {}

void ToneLabel::setTone(Tone tone) {
  tone_ = tone;
  applyTone();
}

void ToneLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  // Our own palette change must not recurse; an inherited one recolours.
  if (event->type() == QEvent::PaletteChange && !isApplying_) applyTone();
}

void ToneLabel::applyTone() {
  isApplying_ = true;
  QPalette palette = parentWidget() ? parentWidget()->palette() : QApplication::palette();
  QColor colour = toneColor(tone_, palette);
  palette.setColor(QPalette::WindowText, colour);
  palette.setColor(QPalette::Text, colour);
  setPalette(palette);
  isApplying_ = false;
}

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
    palette.setColor(QPalette::Button, blend(palette.color(QPalette::Button), palette.color(QPalette::Highlight), 0.45));
  }
  setPalette(palette);
  isApplying_ = false;
}

CardFrame::CardFrame(QWidget* parent) : QFrame(parent) {}

void CardFrame::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor outline = blend(palette().color(QPalette::Base), palette().color(QPalette::WindowText), 0.18);
  painter.setPen(QPen(outline, 1.0));
  painter.setBrush(palette().color(QPalette::Base));
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
}

}  // namespace quorlin::gui
