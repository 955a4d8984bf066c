// WindowStyle: the colours and fonts the auxiliary windows share (status
// colours that stay readable on light and dark palettes, secondary text, the
// monospaced font, the headline font) and a few small widgets built on them.
//
// Colours are derived from the widget's palette each time they are needed, so
// a change of appearance repaints everything in the new look. Main thread only.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QString>
#include <QWidget>

#include <string_view>

#include "gui/app/TextStyles.h"
#include "gui/windows/WindowParts.h"

namespace quorlin::gui {

enum class StatusTone { red, orange, green };

// A red, orange or green that reads well on the palette's window background
// (darker shades on light palettes, lighter ones on dark palettes).
QColor statusColor(StatusTone tone, const QPalette& palette);
// Text of lesser importance: the window text blended towards the background.
QColor secondaryTextColor(const QPalette& palette);
// Whether the palette's window background is dark.
bool isDarkPalette(const QPalette& palette);

// The system's fixed-pitch font, at `pointSizeDelta` points from the
// application font's size.
QFont monospacedFont(double pointSizeDelta = 0);

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

// A one-line text that fits its width by leaving out its middle (paths); the
// full text stays its text and its tooltip.
class ElidedLabel : public QLabel {
 public:
  explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);
  // Drawn in the secondary text colour.
  void setSecondary(bool isSecondary);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool isSecondary_ = false;
};

// A checkable button of a segmented picker: the checked one is tinted with the
// palette's highlight, which stays visible on dark palettes too.
class SegmentButton : public QPushButton {
 public:
  explicit SegmentButton(const QString& text, QWidget* parent = nullptr);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void applyTint();
  bool isApplying_ = false;
};

// A rounded card in the text background colour with a thin outline.
class CardFrame : public QFrame {
 public:
  explicit CardFrame(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The colour of `tone` for `palette`.
QColor toneColor(ToneLabel::Tone tone, const QPalette& palette);

}  // namespace quorlin::gui
