#include "gui/widgets/PaletteColors.h"

#include <algorithm>
#include <cmath>

namespace quorlin::gui {

namespace {

double relativeLuminance(const QColor& colour) {
  auto linear = [](double channel) {
    return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

}  // namespace

bool isDarkPalette(const QPalette& palette) { return palette.color(QPalette::Window).lightnessF() < 0.5; }

QColor blendColors(const QColor& from, const QColor& to, double amount) {
  auto mix = [amount](int a, int b) { return int(a + (b - a) * amount + 0.5); };
  return QColor(mix(from.red(), to.red()), mix(from.green(), to.green()), mix(from.blue(), to.blue()));
}

QColor statusColor(StatusTone tone, const QPalette& palette) {
  const bool isDark = isDarkPalette(palette);
  switch (tone) {
    case StatusTone::red:
      return isDark ? QColor(0xff, 0x6b, 0x63) : QColor(0xc4, 0x1e, 0x16);
    case StatusTone::orange:
      return isDark ? QColor(0xff, 0xb0, 0x40) : QColor(0xb3, 0x58, 0x00);
    case StatusTone::green:
      return isDark ? QColor(0x5c, 0xd6, 0x7a) : QColor(0x1e, 0x7b, 0x34);
  }
  return palette.color(QPalette::WindowText);
}

QColor secondaryTextColor(const QPalette& palette) {
  return blendColors(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.4);
}

double contrastRatio(const QColor& first, const QColor& second) {
  const double a = relativeLuminance(first);
  const double b = relativeLuminance(second);
  return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

}  // namespace quorlin::gui
