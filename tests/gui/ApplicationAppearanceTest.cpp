// The appearance setting applied to the whole application: light and dark
// switch to Fusion with their palettes, auto gives the desktop's look back.
#include <QApplication>
#include <QPalette>
#include <QStyle>

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "gui/app/ApplicationAppearance.h"

namespace quorlin::test {
namespace {

using gui::ApplicationAppearance;

int lightness(QPalette::ColorRole role) { return QApplication::palette().color(role).lightness(); }

class ApplicationAppearanceTest : public ::testing::Test {
 protected:
  void TearDown() override { appearance.apply(AppAppearance::automatic); }

  QString desktopStyle = QApplication::style()->name();
  QPalette desktopPalette = QApplication::palette();
  ApplicationAppearance appearance;
};

TEST_F(ApplicationAppearanceTest, DarkAndLightUseFusionWithTheirPalettes) {
  appearance.apply(AppAppearance::dark);
  EXPECT_EQ(QApplication::style()->name().toLower(), "fusion");
  EXPECT_LT(lightness(QPalette::Window), 100);
  EXPECT_GT(lightness(QPalette::WindowText), 180);
  EXPECT_LT(lightness(QPalette::Base), lightness(QPalette::Window) + 1);

  appearance.apply(AppAppearance::light);
  EXPECT_EQ(QApplication::style()->name().toLower(), "fusion");
  EXPECT_GT(lightness(QPalette::Window), 180);
  EXPECT_LT(lightness(QPalette::WindowText), 80);
  EXPECT_EQ(appearance.applied(), AppAppearance::light);
}

TEST_F(ApplicationAppearanceTest, AutoGivesTheDesktopLookBack) {
  appearance.apply(AppAppearance::dark);
  appearance.apply(AppAppearance::automatic);
  EXPECT_EQ(QApplication::style()->name(), desktopStyle);
  EXPECT_EQ(QApplication::palette().color(QPalette::Window), desktopPalette.color(QPalette::Window));
  EXPECT_EQ(QApplication::palette().color(QPalette::WindowText), desktopPalette.color(QPalette::WindowText));
}

TEST_F(ApplicationAppearanceTest, DisabledTextStaysDistinguishableInTheDarkPalette) {
  const QPalette dark = gui::darkPalette();
  EXPECT_LT(dark.color(QPalette::Disabled, QPalette::ButtonText).lightness(),
            dark.color(QPalette::Active, QPalette::ButtonText).lightness() - 50);
  EXPECT_GT(dark.color(QPalette::Disabled, QPalette::ButtonText).lightness(),
            dark.color(QPalette::Active, QPalette::Button).lightness() + 30);
}

}  // namespace
}  // namespace quorlin::test
