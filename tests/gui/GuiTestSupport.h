// Helpers for the widget tests: a QApplication for the whole run (offscreen
// unless QT_QPA_PLATFORM says otherwise), synthetic pictures and pixel reads.
#pragma once

#include <QColor>
#include <QImage>
#include <QStringList>
#include <QWidget>

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/comparison/KeyboardCommandRegistry.h"

#include "core/engine/CodecPanel.h"
#include "core/engine/DisplayImage.h"

namespace quorlin::test {

// An 8-bit sRGB picture whose pixel (x, y) is `pixelAt(x, y)` (alpha kept
// only when `hasAlpha`).
template <typename PixelAt>
DisplayImage makePicture(int width, int height, bool hasAlpha, PixelAt pixelAt) {
  const int channels = hasAlpha ? 4 : 3;
  std::vector<std::byte> bytes(static_cast<std::size_t>(width) * height * channels);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      QColor colour = pixelAt(x, y);
      int values[4] = {colour.red(), colour.green(), colour.blue(), colour.alpha()};
      std::size_t offset = (static_cast<std::size_t>(y) * width + x) * channels;
      for (int k = 0; k < channels; ++k) bytes[offset + k] = static_cast<std::byte>(values[k]);
    }
  }
  auto image = std::make_shared<const DecodedImage>(width, height, channels, SampleFormat::uint8, std::move(bytes),
                                                    ColorSpace::wellKnown(ColorSpace::WellKnown::sRGB));
  return {image, {double(width), double(height)}, std::nullopt};
}

// Every pixel `colour` (with alpha when the colour is not opaque).
DisplayImage solidPicture(int width, int height, QColor colour);

// The four default panels with `results[i]` as panel i's decoded result (a
// result made with the panel's current settings); none leaves the panel
// without a result.
std::vector<CodecPanel> panelsShowing(const std::vector<std::optional<DisplayImage>>& results);

// Fills every command slot of `registry` with one that appends its name, with
// whole-number arguments in parentheses ("zoomToScale(6)", "scrollPan(0, 10)"),
// to `calls`.
void recordEveryCommand(KeyboardCommandRegistry& registry, std::vector<std::string>& calls);

// The texts of the labels under `parent` named `objectName` (all labels when empty), in creation order.
QStringList labelTexts(const QWidget* parent, const QString& objectName = {});

// Whether `actual` is within `tolerance` of `expected` in each of R, G and B.
::testing::AssertionResult isNear(QColor actual, QColor expected, int tolerance = 2);

}  // namespace quorlin::test
