#include "gui/app/TextStyles.h"

#include <QApplication>

#include <algorithm>

namespace quorlin::gui {

namespace {

QFont applicationFontWith(double pointSize, QFont::Weight weight) {
  QFont font = QApplication::font();
  font.setPointSizeF(pointSize);
  font.setWeight(weight);
  return font;
}

double applicationPointSize() {
  double size = QApplication::font().pointSizeF();
  return size > 0 ? size : 10.0;   // a pixel-sized application font reports -1
}

}  // namespace

QFont captionFont(QFont::Weight weight) {
  return applicationFontWith(std::max(8.0, applicationPointSize() - 1.0), weight);
}

QFont calloutFont(QFont::Weight weight) { return applicationFontWith(applicationPointSize(), weight); }

}  // namespace quorlin::gui
