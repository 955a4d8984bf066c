// Main thread only; colours come from the palette at paint time.
#pragma once

#include <QColor>
#include <QLabel>
#include <QPalette>

#include "gui/widgets/PaletteColors.h"

namespace quorlin::gui {

// A label whose text colour is a status tone or the secondary colour, kept
// right when the palette changes.
class ToneLabel : public QLabel {
 public:
  enum class Tone { primary, secondary, red, orange, green };

  explicit ToneLabel(const QString& text = {}, QWidget* parent = nullptr);
  void setTone(Tone tone);
  Tone tone() const { return tone_; }

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void applyTone();
  Tone tone_ = Tone::primary;
  bool isApplying_ = false;
};

ToneLabel::Tone toneOf(StatusTone tone);

// The colour of `tone` for `palette`.
QColor toneColor(ToneLabel::Tone tone, const QPalette& palette);

}  // namespace quorlin::gui
