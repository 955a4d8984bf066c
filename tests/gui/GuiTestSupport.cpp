#include "GuiTestSupport.h"

#include <cstdlib>
#include <sstream>
#include <utility>

namespace quorlin::test {

namespace {

// One QApplication for the whole test run, made before the first test and
// destroyed after the last one (inside main, while Qt is still intact).
class QtApplicationEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    application_ = std::make_unique<QApplication>(argc_, argv_);
  }
  void TearDown() override { application_.reset(); }

 private:
  int argc_ = 1;
  char name_[20] = "quorlin_gui_tests";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> application_;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

}  // namespace

DisplayImage makePicture(int width, int height, bool hasAlpha, const std::function<QColor(int, int)>& pixelAt) {
  const int channels = hasAlpha ? 4 : 3;
  std::vector<std::byte> bytes(static_cast<std::size_t>(width) * height * channels);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const QColor colour = pixelAt(x, y);
      const int values[4] = {colour.red(), colour.green(), colour.blue(), colour.alpha()};
      const std::size_t offset = (static_cast<std::size_t>(y) * width + x) * channels;
      for (int k = 0; k < channels; ++k) bytes[offset + k] = static_cast<std::byte>(values[k]);
    }
  }
  auto image = std::make_shared<const DecodedImage>(width, height, channels, SampleFormat::uint8, std::move(bytes),
                                                    ColorSpace::wellKnown(ColorSpace::WellKnown::sRGB));
  return {image, {double(width), double(height)}, std::nullopt};
}

DisplayImage solidPicture(int width, int height, QColor colour) {
  return makePicture(width, height, colour.alpha() != 255, [&](int, int) { return colour; });
}

std::vector<CodecPanel> panelsShowing(const std::vector<std::optional<DisplayImage>>& results) {
  std::vector<CodecPanel> panels = makeDefaultPanels();
  for (std::size_t i = 0; i < panels.size() && i < results.size(); ++i) {
    if (!results[i]) continue;
    CompressionResult result;
    result.codec = panels[i].codec;
    result.decodedImage = *results[i];
    result.settingsSignature = panels[i].settingsSignature();
    panels[i].result = result;
  }
  return panels;
}

void recordEveryCommand(KeyboardCommandRegistry& registry, std::vector<std::string>& calls) {
  auto named = [&calls](const char* name) {
    return [&calls, name](auto... arguments) {
      std::ostringstream call;
      call << name;
      if constexpr (sizeof...(arguments) > 0) {
        const char* separator = "(";
        ((call << separator << static_cast<int>(arguments), separator = ", "), ...);
        call << ")";
      }
      calls.push_back(call.str());
    };
  };
  for (auto [slot, name] :
       {std::pair{&registry.resetImage, "resetImage"}, {&registry.zoomActualSize, "zoomActualSize"},
        {&registry.zoomIn, "zoomIn"}, {&registry.zoomOut, "zoomOut"}, {&registry.generate, "generate"},
        {&registry.newTab, "newTab"}, {&registry.newTargetTab, "newTargetTab"},
        {&registry.toggleCommandConsole, "toggleCommandConsole"}, {&registry.showRequiredTools, "showRequiredTools"},
        {&registry.showHelp, "showHelp"}, {&registry.showOriginal, "showOriginal"},
        {&registry.showDifference, "showDifference"}, {&registry.hideComparisonOverlay, "hideComparisonOverlay"},
        {&registry.hideDifference, "hideDifference"}, {&registry.showErrorMap, "showErrorMap"},
        {&registry.hideErrorMap, "hideErrorMap"}, {&registry.toggleErrorMap, "toggleErrorMap"}}) {
    *slot = named(name);
  }
  registry.zoomToScale = named("zoomToScale");
  registry.stepDifferenceGain = named("stepDifferenceGain");
  registry.setDifferenceGainStep = named("setDifferenceGainStep");
  registry.optionScrollZoom = named("optionScrollZoom");
  registry.scrollPan = named("scrollPan");
}

QStringList labelTexts(const QWidget* parent, const QString& objectName) {
  QStringList texts;
  for (const QLabel* label : parent->findChildren<QLabel*>(objectName)) texts << label->text();
  return texts;
}

::testing::AssertionResult isNear(QColor actual, QColor expected, int tolerance) {
  const int distance = std::max({std::abs(actual.red() - expected.red()), std::abs(actual.green() - expected.green()),
                                 std::abs(actual.blue() - expected.blue())});
  if (distance <= tolerance) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "colour " << actual.name().toStdString() << " is not within " << tolerance
                                       << " of " << expected.name().toStdString();
}

}  // namespace quorlin::test
