// TextStyles: the few named text sizes the interface uses, derived from the
// application font so they follow the desktop's font settings.
//
// "caption" is the small text of corner labels and secondary lines, "callout"
// the slightly larger text of badges and value read-outs, "headline" a
// semibold callout for the header of a window's content, "title3" the heading
// of a section and "largeTitle" the name at the top of Help and About. Main
// thread only (they read the application font).
#pragma once

#include <QFont>

namespace quorlin::gui {

// One point below the application font, never under 8 points.
QFont captionFont(QFont::Weight weight = QFont::Normal);
// The application font's size.
QFont calloutFont(QFont::Weight weight = QFont::Normal);
// The application font's size, semibold.
QFont headlineFont();
// A quarter larger than the application font.
QFont title3Font(QFont::Weight weight = QFont::Normal);
// About twice the application font, bold.
QFont largeTitleFont();
// The system's fixed-pitch font at the caption size.
QFont monospacedCaptionFont();
// The system's fixed-pitch font, at `pointSizeDelta` points from the
// application font's size.
QFont monospacedFont(double pointSizeDelta = 0);

}  // namespace quorlin::gui
