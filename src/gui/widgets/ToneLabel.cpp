#include "gui/widgets/ToneLabel.h"

#include <QApplication>
#include <QEvent>

namespace quorlin::gui {

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

}  // namespace quorlin::gui
