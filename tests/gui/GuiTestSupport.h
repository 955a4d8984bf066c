// Helpers for the widget tests: a QApplication for the whole run (offscreen
// unless QT_QPA_PLATFORM says otherwise), synthetic pictures and pixel reads.
#pragma once

// The widget tests share one set of includes: Qt's widgets and test tools,
// GoogleTest and the standard headers they all use.
#include <QtTest>
#include <QtWidgets>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/comparison/KeyboardCommandRegistry.h"

#include "core/engine/CodecPanel.h"
#include "core/engine/DisplayImage.h"

namespace quorlin::test {

// An 8-bit sRGB picture whose pixel (x, y) is `pixelAt(x, y)` (alpha kept
// only when `hasAlpha`).
DisplayImage makePicture(int width, int height, bool hasAlpha, const std::function<QColor(int, int)>& pixelAt);

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
