// TextStyles: the few named text sizes the interface uses, derived from the
// application font so they follow the desktop's font settings.
//
// "caption" is the small text of corner labels and secondary lines, "callout"
// the slightly larger text of badges and value read-outs. Main thread only
// (they read the application font).
#pragma once

#include <QFont>

namespace quorlin::gui {

// One point below the application font, never under 8 points.
QFont captionFont(QFont::Weight weight = QFont::Normal);
// The application font's size.
QFont calloutFont(QFont::Weight weight = QFont::Normal);

}  // namespace quorlin::gui
