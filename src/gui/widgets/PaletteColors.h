// PaletteColors: the one place that decides whether a palette is dark and
// which shades read well on it. Every widget derives its colours from here
// each time it paints, so a change of appearance repaints in the new look.
#pragma once

#include <QColor>
#include <QPalette>

namespace quorlin::gui {

enum class StatusTone { red, orange, green };

// Whether the palette's window background is dark.
bool isDarkPalette(const QPalette& palette);
// `from` moved `amount` (0…1) of the way towards `to`, opaque.
QColor blendColors(const QColor& from, const QColor& to, double amount);
// A red, orange or green with at least 4.5:1 contrast on the palette's window
// (darker shades on light palettes, lighter ones on dark palettes).
QColor statusColor(StatusTone tone, const QPalette& palette);
// Text of lesser importance: the window text blended towards the background,
// still above 4.5:1 on the stock light and dark palettes.
QColor secondaryTextColor(const QPalette& palette);
// WCAG contrast ratio of two opaque colours (1…21).
double contrastRatio(const QColor& first, const QColor& second);

}  // namespace quorlin::gui
