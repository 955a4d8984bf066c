// Symbol icons: every symbol the table names draws something, in the
// palette's text colour, and unknown names give no icon.
#include <QApplication>
#include <QImage>
#include <QPalette>
#include <QPixmap>

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "gui/app/SymbolIcons.h"

namespace quorlin::test {
namespace {

using gui::bundledSymbolIcon;
using gui::knownSymbolNames;
using gui::symbolIcon;

// Opaque-enough pixels of `image`, and whether all of them have `colour`.
struct InkCount {
  int pixels = 0;
  int inOtherColours = 0;
};
InkCount inkOf(const QImage& image, QColor colour) {
  InkCount count;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      QColor pixel = image.pixelColor(x, y);
      if (pixel.alpha() < 128) continue;
      ++count.pixels;
      if (!isNear(pixel, colour, 40)) ++count.inOtherColours;
    }
  }
  return count;
}

TEST(SymbolIconsTest, EveryBundledSymbolDrawsInThePaletteTextColour) {
  const QPalette original = QApplication::palette();
  QPalette palette = original;
  palette.setColor(QPalette::Active, QPalette::WindowText, QColor(200, 30, 30));
  QApplication::setPalette(palette);
  ASSERT_FALSE(knownSymbolNames().empty());
  for (std::string_view name : knownSymbolNames()) {
    QIcon icon = bundledSymbolIcon(name);
    ASSERT_FALSE(icon.isNull()) << name;
    for (int side : {16, 32}) {
      QImage image = icon.pixmap(side, side).toImage().convertToFormat(QImage::Format_ARGB32);
      InkCount ink = inkOf(image, QColor(200, 30, 30));
      EXPECT_GT(ink.pixels, side) << name << " at " << side;   // at least a line's worth
      EXPECT_EQ(ink.inOtherColours, 0) << name << " at " << side;
    }
  }
  QApplication::setPalette(original);
}

TEST(SymbolIconsTest, KnownSymbolsAlwaysHaveAnIconAndUnknownOnesNone) {
  for (std::string_view name : knownSymbolNames()) EXPECT_FALSE(symbolIcon(name).isNull()) << name;
  EXPECT_TRUE(symbolIcon("no.such.symbol").isNull());
  EXPECT_TRUE(bundledSymbolIcon("no.such.symbol").isNull());
}

TEST(SymbolIconsTest, BundledIconsFollowTheDevicePixelRatio) {
  QIcon icon = bundledSymbolIcon("arrow.up.left.and.arrow.down.right");
  QPixmap doubled = icon.pixmap(QSize(16, 16), 2.0);
  EXPECT_EQ(doubled.size(), QSize(32, 32));
  EXPECT_DOUBLE_EQ(doubled.devicePixelRatio(), 2.0);
}

}  // namespace
}  // namespace quorlin::test
