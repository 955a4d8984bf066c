// Symbol icons: every symbol the table names draws something, in the
// palette's text colour, and unknown names give no icon.
#include <QApplication>
#include <QImage>
#include <QPalette>
#include <QPixmap>

#include <gtest/gtest.h>

#include <algorithm>

#include "GuiTestSupport.h"
#include "gui/app/SymbolIcons.h"

namespace quorlin::test {
namespace {

using namespace gui;

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

// Every symbol the interface names: toolbar, panels, console, settings, tools
// window, inspectors, help.
constexpr std::string_view interfaceSymbols[] = {
    "arrow.clockwise", "arrow.triangle.2.circlepath", "arrow.up.left.and.arrow.down.right", "checkmark.circle.fill",
    "doc.badge.gearshape", "doc.on.doc", "doc.richtext", "exclamationmark.triangle.fill", "info.circle",
    "magnifyingglass", "minus.circle", "minus.magnifyingglass", "photo", "photo.on.rectangle.angled",
    "play.circle", "play.fill", "plus", "plus.magnifyingglass", "scope", "square.on.square", "stop.fill", "terminal",
    "viewfinder", "wrench.and.screwdriver", "xmark", "xmark.circle.fill",
};

TEST(SymbolIconsTest, EverySymbolTheInterfaceNamesDrawsInThePaletteTextColourAndUnknownOnesNone) {
  std::vector<std::string_view> known = knownSymbolNames();
  for (std::string_view name : interfaceSymbols) {
    EXPECT_NE(std::find(known.begin(), known.end(), name), known.end()) << name;
  }
  const QPalette original = QApplication::palette();
  QPalette palette = original;
  palette.setColor(QPalette::Active, QPalette::WindowText, QColor(200, 30, 30));
  QApplication::setPalette(palette);
  for (std::string_view name : known) {
    for (const QIcon& icon : {bundledSymbolIcon(name), symbolIcon(name)}) {
      ASSERT_FALSE(icon.isNull()) << name;
      for (int side : {16, 32}) {
        QImage image = icon.pixmap(side, side).toImage().convertToFormat(QImage::Format_ARGB32);
        InkCount ink = inkOf(image, QColor(200, 30, 30));
        EXPECT_GT(ink.pixels, side) << name << " at " << side;   // at least a line's worth
        EXPECT_EQ(ink.inOtherColours, 0) << name << " at " << side;
      }
    }
  }
  QApplication::setPalette(original);
  EXPECT_TRUE(symbolIcon("no.such.symbol").isNull());
  EXPECT_TRUE(bundledSymbolIcon("no.such.symbol").isNull());
}

TEST(SymbolIconsTest, TintedIconsDrawInTheirOwnColourWhateverThePaletteAtAnyPixelRatio) {
  QIcon icon = tintedSymbolIcon("checkmark.circle.fill", QColor(30, 160, 60));
  ASSERT_FALSE(icon.isNull());
  QImage image = icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
  InkCount ink = inkOf(image, QColor(30, 160, 60));
  EXPECT_GT(ink.pixels, 32 * 32 / 3);   // a filled disc
  EXPECT_EQ(ink.inOtherColours, 0);
  // The check mark is cut out of the disc, so the centre line has a gap.
  int gaps = 0;
  for (int x = 8; x < 24; ++x) gaps += image.pixelColor(x, 19).alpha() < 128 ? 1 : 0;
  EXPECT_GT(gaps, 0);
  EXPECT_TRUE(tintedSymbolIcon("no.such.symbol", Qt::red).isNull());

  QPixmap doubled = bundledSymbolIcon("arrow.up.left.and.arrow.down.right").pixmap(QSize(16, 16), 2.0);
  EXPECT_EQ(doubled.size(), QSize(32, 32));
  EXPECT_DOUBLE_EQ(doubled.devicePixelRatio(), 2.0);
}

}  // namespace
}  // namespace quorlin::test
