// The appearance setting applied to the whole application: light and dark
// switch to Fusion with their palettes, auto gives the desktop's look back.
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QStyle>

#include <gtest/gtest.h>

#include <algorithm>

#include "GuiTestSupport.h"
#include "gui/app/ApplicationAppearance.h"
#include "gui/app/SymbolIcons.h"
#include "gui/widgets/PaletteColors.h"

namespace quorlin::test {
namespace {

using gui::ApplicationAppearance;

int lightness(QPalette::ColorRole role) { return QApplication::palette().color(role).lightness(); }

// The style's own name, or its base style's when it adjusts one.
QString styleName() {
  const QStyle* style = QApplication::style();
  if (const auto* proxy = qobject_cast<const QProxyStyle*>(style)) style = proxy->baseStyle();
  return style->name().toLower();
}

// The strongest contrast any opaque pixel of `image` has against `background`.
double strongestContrast(const QImage& image, const QColor& background) {
  double strongest = 1.0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor pixel = image.pixelColor(x, y);
      if (pixel.alpha() == 255) strongest = std::max(strongest, gui::contrastRatio(pixel, background));
    }
  }
  return strongest;
}

class ApplicationAppearanceTest : public ::testing::Test {
 protected:
  void TearDown() override { appearance.apply(AppAppearance::automatic); }

  QString desktopStyle = styleName();
  QPalette desktopPalette = QApplication::palette();
  ApplicationAppearance appearance;
};

TEST_F(ApplicationAppearanceTest, DarkAndLightUseFusionWithTheirPalettesAndAutoGivesTheDesktopLookBack) {
  appearance.apply(AppAppearance::dark);
  EXPECT_EQ(styleName(), "fusion");
  EXPECT_LT(lightness(QPalette::Window), 100);
  EXPECT_GT(lightness(QPalette::WindowText), 180);
  EXPECT_LT(lightness(QPalette::Base), lightness(QPalette::Window) + 1);

  appearance.apply(AppAppearance::light);
  EXPECT_EQ(styleName(), "fusion");
  EXPECT_GT(lightness(QPalette::Window), 180);
  EXPECT_LT(lightness(QPalette::WindowText), 80);
  EXPECT_EQ(appearance.applied(), AppAppearance::light);

  appearance.apply(AppAppearance::automatic);
  EXPECT_EQ(styleName(), desktopStyle);
  EXPECT_EQ(QApplication::palette().color(QPalette::Window), desktopPalette.color(QPalette::Window));
  EXPECT_EQ(QApplication::palette().color(QPalette::WindowText), desktopPalette.color(QPalette::WindowText));
}

TEST_F(ApplicationAppearanceTest, DarkControlsTextsAndIconsMeetTheContrastMinimums) {
  appearance.apply(AppAppearance::dark);
  const QPalette palette = QApplication::palette();
  const QColor window = palette.color(QPalette::Window);
  // Disabled text stays apart from both the enabled text and the button.
  EXPECT_LT(palette.color(QPalette::Disabled, QPalette::ButtonText).lightness(),
            palette.color(QPalette::Active, QPalette::ButtonText).lightness() - 50);
  EXPECT_GT(palette.color(QPalette::Disabled, QPalette::ButtonText).lightness(),
            palette.color(QPalette::Active, QPalette::Button).lightness() + 30);
  // Texts 4.5:1: the primary, secondary and placeholder shades and every status tone.
  for (const QColor& text : {palette.color(QPalette::WindowText), gui::secondaryTextColor(palette),
                             palette.color(QPalette::PlaceholderText),
                             gui::statusColor(gui::StatusTone::red, palette),
                             gui::statusColor(gui::StatusTone::orange, palette),
                             gui::statusColor(gui::StatusTone::green, palette)}) {
    EXPECT_GE(gui::contrastRatio(text, window), 4.5) << text.name().toStdString();
  }
  // Controls 3:1: an unchecked check box's outline, and the monochrome icons.
  QCheckBox box(QStringLiteral(" "));
  box.resize(box.sizeHint());
  QImage rendered(box.size(), QImage::Format_ARGB32);
  rendered.fill(window);
  box.render(&rendered);
  EXPECT_GE(strongestContrast(rendered, window), 3.0);
  for (const char* symbol : {"scope", "plus", "terminal", "wrench.and.screwdriver"}) {
    QImage icon(20, 20, QImage::Format_ARGB32);
    icon.fill(window);
    QPainter painter(&icon);
    gui::symbolIcon(symbol).paint(&painter, icon.rect());
    painter.end();
    EXPECT_GE(strongestContrast(icon, window), 4.5) << symbol;
  }
}

}  // namespace
}  // namespace quorlin::test
