// Main thread only; colours come from the palette at paint time.
#pragma once

#include <QString>
#include <QWidget>

#include <string_view>

#include "gui/widgets/ToneLabel.h"

namespace quorlin::gui {

// The symbol `symbolName` painted in one colour (the tone's), `side` pixels
// square; a filled disc when the symbol is unknown, so a status is never blank.
class SymbolBadge : public QWidget {
 public:
  SymbolBadge(std::string_view symbolName, ToneLabel::Tone tone, int side, QWidget* parent = nullptr);
  void setSymbol(std::string_view symbolName, ToneLabel::Tone tone);
  QSize sizeHint() const override { return {side_, side_}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString symbolName_;
  ToneLabel::Tone tone_;
  int side_;
};

}  // namespace quorlin::gui
