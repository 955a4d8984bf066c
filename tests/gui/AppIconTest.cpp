// The application icon: the bundled drawing is registered, Qt's SVG renderer
// draws it, and it shows four different quadrants around a light cross.
#include <QColor>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

#include <set>

#include "GuiTestSupport.h"
#include "gui/app/AppIcon.h"

namespace quorlin::test {
namespace {

TEST(AppIconTest, TheBundledDrawingShowsFourQuadrantsAroundASplitCross) {
  gui::initializeAppResources();
  ASSERT_TRUE(QFile::exists(":/app/quorlin.svg"));
  const QIcon icon = gui::applicationIcon();
  ASSERT_FALSE(icon.isNull());
  const QImage image = icon.pixmap(128, 128).toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(image.width(), 128);

  // The split point sits at (144, 112) of 256: a point well inside each quadrant.
  std::set<QRgb> quadrantColours;
  for (auto [x, y] : {std::pair{40, 35}, std::pair{100, 35}, std::pair{40, 90}, std::pair{100, 90}}) {
    const QColor colour = image.pixelColor(x, y);
    EXPECT_EQ(colour.alpha(), 255) << x << "," << y;
    quadrantColours.insert(colour.rgb());
  }
  EXPECT_EQ(quadrantColours.size(), 4u) << "every quadrant has its own colour";
  // The cross is white where it crosses the tile, away from the centre handle.
  EXPECT_TRUE(isNear(image.pixelColor(72, 15), Qt::white, 30));
  EXPECT_TRUE(isNear(image.pixelColor(15, 56), Qt::white, 30));
  // Outside the rounded tile the icon is transparent.
  EXPECT_EQ(image.pixelColor(2, 2).alpha(), 0);
}

}  // namespace
}  // namespace quorlin::test
