#include "gui/app/TextStyles.h"

#include <QApplication>
#include <QFontDatabase>

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

QFont headlineFont() { return calloutFont(QFont::DemiBold); }

QFont title3Font(QFont::Weight weight) { return applicationFontWith(applicationPointSize() * 1.25, weight); }

QFont largeTitleFont() { return applicationFontWith(applicationPointSize() * 2.0, QFont::Bold); }

QFont monospacedCaptionFont() {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSizeF(captionFont().pointSizeF());
  return font;
}

QFont monospacedFont(double pointSizeDelta) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPointSizeF(std::max(7.0, applicationPointSize() + pointSizeDelta));
  return font;
}

}  // namespace quorlin::gui
