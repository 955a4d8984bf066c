// quorlin-canvas-demo: the comparison view on its own, before the main window
// exists. Shows four synthetic results of a synthetic picture (or the given
// files) with the zoom bar, the keyboard and scroll commands and the display
// modes wired the way a workspace wires them.
//
// Usage: quorlin-canvas-demo [options] [SOURCE [RESULT1 [RESULT2 [RESULT3 [RESULT4]]]]]
//   --size WxH        window content size (default 1400x900)
//   --zoom Z          initial zoom relative to fit
//   --split X,Y       initial split fractions
//   --difference      start with the difference shown (--gain N sets the gain)
//   --original        start with the source shown full-frame
//   --codec NAME      the codec of the next result's panel, as the application's
//                     --codec takes it (repeatable; default the default panels')
//   --maps M1,M2,...  the results' error maps (ssimulacra2 --map PFM files)
//   --error-map       start with the error maps shown (--layer all, structure,
//                     artifacts or blur picks the layer)
//   --transparent     synthetic pictures with a transparent border (checkerboard)
//   --grab FILE       save a picture of the window to FILE and quit
//   --trace           print the state line on stdout whenever it changes
//
// Keys: Ctrl+= / Ctrl+- zoom, Ctrl+0 fit, Ctrl+1 100 %, Ctrl+2/4/6/8, Space
// (hold) original, Shift (hold) difference, E (hold) error map, Shift+1..6 gain, Shift+scroll gain,
// Alt+scroll zoom at the pointer, scroll pan, Ctrl+hover pan.
#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/comparison/KeyboardCommandRegistry.h"
#include "core/engine/DisplayImageReader.h"
#include "gui/app/SymbolIcons.h"
#include "gui/comparison/ErrorMapControls.h"
#include "gui/comparison/FourWayComparisonImageView.h"
#include "gui/comparison/KeyboardShortcutMonitor.h"

namespace {

using namespace quorlin;
using namespace quorlin::gui;

// ---- Synthetic pictures ----

constexpr int syntheticWidth = 2400;
constexpr int syntheticHeight = 1600;

struct Rgba {
  double r, g, b, a;
};

// A scene with smooth gradients, hard edges and fine detail, so that every
// kind of coding error shows somewhere.
Rgba sceneAt(int x, int y, bool isTransparent) {
  double u = x / double(syntheticWidth);
  double v = y / double(syntheticHeight);
  Rgba colour{0.15 + 0.7 * u, 0.25 + 0.5 * v, 0.8 - 0.6 * u * v, 1.0};
  for (int i = 0; i < 5; ++i) {
    double cx = 0.18 + 0.16 * i, cy = 0.35 + 0.12 * std::sin(i * 1.7);
    double dx = (u - cx) * syntheticWidth, dy = (v - cy) * syntheticHeight;
    if (dx * dx + dy * dy < 150.0 * 150.0) {
      colour = {0.9 - 0.15 * i, 0.2 + 0.15 * i, 0.3 + 0.1 * (i % 3), 1.0};
    }
  }
  if (v > 0.7 && v < 0.9) {   // fine stripes of decreasing pitch
    int pitch = 1 + static_cast<int>(u * 8);
    double level = ((x / pitch) % 2) ? 0.95 : 0.05;
    colour = {level, level, level, 1.0};
  }
  if (isTransparent) {
    double edge = std::min({u, v, 1 - u, 1 - v});
    colour.a = std::clamp(edge * 12.0, 0.0, 1.0);
  }
  return colour;
}

// How result `panel` deviates from the scene.
Rgba degraded(int panel, int x, int y, bool isTransparent) {
  switch (panel) {
    case 0: {   // banding: 5 bits per channel
      Rgba c = sceneAt(x, y, isTransparent);
      auto q = [](double value) { return std::round(value * 31) / 31; };
      return {q(c.r), q(c.g), q(c.b), c.a};
    }
    case 1: {   // blur: 3 × 3 box
      Rgba sum{0, 0, 0, 0};
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
          Rgba c = sceneAt(std::clamp(x + dx, 0, syntheticWidth - 1), std::clamp(y + dy, 0, syntheticHeight - 1),
                           isTransparent);
          sum = {sum.r + c.r / 9, sum.g + c.g / 9, sum.b + c.b / 9, sum.a + c.a / 9};
        }
      }
      return sum;
    }
    case 2: {   // noise of ±3 levels
      Rgba c = sceneAt(x, y, isTransparent);
      unsigned hash = static_cast<unsigned>(x) * 73856093u ^ static_cast<unsigned>(y) * 19349663u;
      double n = (static_cast<int>(hash % 7) - 3) / 255.0;
      return {c.r + n, c.g - n, c.b + n, c.a};
    }
    default: {   // blocks: 8 × 8 cells flattened to their corner's colour
      return sceneAt(x / 8 * 8, y / 8 * 8, isTransparent);
    }
  }
}

template <typename Pixel>
DisplayImage makeSyntheticImage(Pixel pixelAt, bool isTransparent) {
  const int channels = isTransparent ? 4 : 3;
  std::vector<std::byte> bytes(static_cast<std::size_t>(syntheticWidth) * syntheticHeight * channels);
  for (int y = 0; y < syntheticHeight; ++y) {
    for (int x = 0; x < syntheticWidth; ++x) {
      Rgba c = pixelAt(x, y);
      double values[4] = {c.r, c.g, c.b, c.a};
      std::size_t offset = (static_cast<std::size_t>(y) * syntheticWidth + x) * channels;
      for (int k = 0; k < channels; ++k) {
        bytes[offset + k] = static_cast<std::byte>(std::lround(std::clamp(values[k], 0.0, 1.0) * 255));
      }
    }
  }
  auto image = std::make_shared<const DecodedImage>(syntheticWidth, syntheticHeight, channels, SampleFormat::uint8,
                                                    std::move(bytes), ColorSpace::wellKnown(ColorSpace::WellKnown::sRGB));
  return {image, {double(syntheticWidth), double(syntheticHeight)}, std::nullopt};
}

// ---- Options ----

struct DemoOptions {
  int width = 1400;
  int height = 900;
  double zoom = 1.0;
  double splitX = 0.5;
  double splitY = 0.5;
  bool isShowingDifference = false;
  bool isShowingOriginal = false;
  int gain = defaultDifferenceGain;
  bool isTransparent = false;
  bool isTracing = false;
  bool isShowingErrorMap = false;
  ErrorMapLayer errorMapLayer = ErrorMapLayer::all;
  std::vector<std::string> maps;
  std::vector<CompressionCodec> codecs;
  QString grabFile;
  std::vector<std::string> files;
};

bool parseOptions(const QStringList& arguments, DemoOptions& options) {
  for (int i = 1; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    auto next = [&](QString& value) {
      if (i + 1 >= arguments.size()) return false;
      value = arguments[++i];
      return true;
    };
    QString value;
    if (argument == "--size" && next(value)) {
      QStringList parts = value.split('x');
      if (parts.size() != 2) return false;
      options.width = parts[0].toInt();
      options.height = parts[1].toInt();
    } else if (argument == "--zoom" && next(value)) {
      options.zoom = value.toDouble();
    } else if (argument == "--split" && next(value)) {
      QStringList parts = value.split(',');
      if (parts.size() != 2) return false;
      options.splitX = parts[0].toDouble();
      options.splitY = parts[1].toDouble();
    } else if (argument == "--gain" && next(value)) {
      options.gain = value.toInt();
    } else if (argument == "--grab" && next(value)) {
      options.grabFile = value;
    } else if (argument == "--difference") {
      options.isShowingDifference = true;
    } else if (argument == "--original") {
      options.isShowingOriginal = true;
    } else if (argument == "--transparent") {
      options.isTransparent = true;
    } else if (argument == "--maps" && next(value)) {
      for (const QString& map : value.split(',')) options.maps.push_back(map.toStdString());
    } else if (argument == "--codec" && next(value)) {
      auto codec = compressionCodecFromRawValue(value.toStdString());
      if (!codec) return false;
      options.codecs.push_back(*codec);
    } else if (argument == "--error-map") {
      options.isShowingErrorMap = true;
    } else if (argument == "--layer" && next(value)) {
      auto layer = std::find_if(std::begin(errorMapLayers), std::end(errorMapLayers), [&](ErrorMapLayer candidate) {
        return value.compare(QString::fromUtf8(errorMapLayerName(candidate).data()), Qt::CaseInsensitive) == 0;
      });
      if (layer == std::end(errorMapLayers)) return false;
      options.errorMapLayer = *layer;
    } else if (argument == "--trace") {
      options.isTracing = true;
    } else if (argument.startsWith("--")) {
      return false;
    } else {
      options.files.push_back(argument.toStdString());
    }
  }
  return options.width > 0 && options.height > 0 && options.files.size() <= 5;
}

// ---- The stand-in workspace ----

// Holds the values a workspace would hold and wires the view, the monitor and
// the registry as a workspace does; the zoom bar sits above the view.
class DemoWorkspace : public QWidget {
 public:
  DemoWorkspace(KeyboardCommandRegistry& registry, FourWayComparisonValues values, bool isTracing)
      : registry_(registry), values_(std::move(values)), isTracing_(isTracing) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(8, 4, 8, 4);
    addZoomButton(bar, "minus.magnifyingglass", "Zoom out", [this] { zoomCommand(registry_.zoomOut); });
    addZoomButton(bar, "magnifyingglass", "Fit image", [this] { zoomCommand(registry_.resetImage); });
    addZoomButton(bar, "plus.magnifyingglass", "Zoom in", [this] { zoomCommand(registry_.zoomIn); });
    addZoomButton(bar, "scope", "Reset pan", [this] {
      values_.viewState.panOffset = {};
      view_->setValues(values_);
    });
    percentButton_ = new QToolButton;
    percentButton_->setMinimumWidth(58);
    percentButton_->setAutoRaise(true);
    connect(percentButton_, &QToolButton::clicked, this, [this] { zoomCommand(registry_.zoomActualSize); });
    bar->addWidget(percentButton_);
    auto* transparency = new QCheckBox("Checkerboard background");
    transparency->setFocusPolicy(Qt::NoFocus);
    transparency->setChecked(values_.usesTransparencyBackground);
    connect(transparency, &QCheckBox::toggled, this, [this](bool isOn) {
      values_.usesTransparencyBackground = isOn;
      view_->setValues(values_);
    });
    bar->addSpacing(12);
    bar->addWidget(transparency);
    errorMapControls_ = new ErrorMapControls;
    connect(errorMapControls_, &ErrorMapControls::toggleRequested, this,
            [this] { setErrorMap(!values_.isShowingErrorMap); });
    connect(errorMapControls_, &ErrorMapControls::layerChosen, this, [this](ErrorMapLayer layer) {
      values_.errorMapLayer = layer;
      setErrorMap(values_.isShowingErrorMap);
    });
    bar->addSpacing(12);
    bar->addWidget(errorMapControls_);
    bar->addStretch();
    status_ = new QLabel;
    bar->addWidget(status_);
    layout->addLayout(bar);

    view_ = new FourWayComparisonImageView(registry_);
    layout->addWidget(view_, 1);
    monitor_ = new KeyboardShortcutMonitor(registry_, this);
    monitor_->setActive(true);
    monitor_->setOnWindowBecameKey([this] { activate(); });

    connect(view_, &FourWayComparisonImageView::viewStateChanged, this, [this](const ComparisonViewState& state) {
      values_.viewState = state;
      refreshStatus();
    });
    connect(view_, &FourWayComparisonImageView::displayedImageScalePercentChanged, this, [this](int percent) {
      values_.displayedImageScalePercent = percent;
      refreshStatus();
    });
    values_.isActive = true;
    registerWorkspaceCommands();
    view_->setValues(values_);
    refreshStatus();
  }

 private:
  template <typename Action>
  void addZoomButton(QHBoxLayout* bar, const char* symbol, const char* tooltip, Action action) {
    auto* button = new QToolButton;
    button->setIcon(symbolIcon(symbol));
    button->setToolTip(tooltip);
    button->setAutoRaise(true);
    button->setFocusPolicy(Qt::NoFocus);
    connect(button, &QToolButton::clicked, this, action);
    bar->addWidget(button);
  }

  // A zoom-bar command, then a new command token, as the workspace does.
  void zoomCommand(const KeyboardCommandRegistry::Action& command) {
    KeyboardCommandRegistry::call(command);
    ++values_.commandToken;
    view_->setValues(values_);
  }

  void setModes(bool isShowingOriginal, bool isShowingDifference) {
    values_.isShowingOriginal = isShowingOriginal;
    values_.isShowingDifference = isShowingDifference;
    view_->setValues(values_);
    refreshStatus();
  }

  void setErrorMap(bool isShowing) {
    values_.isShowingErrorMap = isShowing;
    view_->setValues(values_);
    refreshStatus();
  }

  void registerWorkspaceCommands() {
    registry_.showErrorMap = [this] { setErrorMap(true); };
    registry_.hideErrorMap = [this] { setErrorMap(false); };
    registry_.toggleErrorMap = [this] { setErrorMap(!values_.isShowingErrorMap); };
    registry_.generate = [this] { status_->setText("Generate is not part of this demo."); };
    registry_.showOriginal = [this] { setModes(true, false); };
    registry_.showDifference = [this] { setModes(false, true); };
    registry_.hideComparisonOverlay = [this] { setModes(false, false); };
    registry_.hideDifference = [this] { setModes(values_.isShowingOriginal, false); };
    registry_.stepDifferenceGain = [this](int step) {
      values_.differenceGain = quorlin::stepDifferenceGain(values_.differenceGain, step);
      view_->setValues(values_);
      refreshStatus();
    };
    registry_.setDifferenceGainStep = [this](int index) {
      values_.differenceGain = quorlin::setDifferenceGainStep(values_.differenceGain, index);
      view_->setValues(values_);
      refreshStatus();
    };
  }

  void activate() {
    registerWorkspaceCommands();
    ++values_.commandToken;
    view_->setValues(values_);
  }

  void refreshStatus() {
    percentButton_->setText(QString::number(values_.displayedImageScalePercent) + "%");
    errorMapControls_->setState(values_.isShowingErrorMap, values_.errorMapLayer);
    const ComparisonViewState& state = values_.viewState;
    QString text = QString("zoom %1  pan (%2, %3)  split (%4, %5)  gain %6%7  %8%")
                       .arg(state.zoom, 0, 'f', 2)
                       .arg(state.panOffset.width, 0, 'f', 0)
                       .arg(state.panOffset.height, 0, 'f', 0)
                       .arg(state.comparisonX, 0, 'f', 3)
                       .arg(state.comparisonY, 0, 'f', 3)
                       .arg(values_.differenceGain)
                       .arg(values_.isShowingOriginal     ? "  original"
                            : values_.isShowingDifference ? "  difference"
                                                          : "")
                       .arg(values_.displayedImageScalePercent);
    if (isTracing_ && text != status_->text()) {
      std::printf("%s\n", qPrintable(text));
      std::fflush(stdout);
    }
    status_->setText(text);
  }

  KeyboardCommandRegistry& registry_;
  FourWayComparisonValues values_;
  bool isTracing_ = false;
  FourWayComparisonImageView* view_ = nullptr;
  KeyboardShortcutMonitor* monitor_ = nullptr;
  QToolButton* percentButton_ = nullptr;
  ErrorMapControls* errorMapControls_ = nullptr;
  QLabel* status_ = nullptr;
};

// Panels with results; the fourth was made with other settings, so its label
// asks for regeneration.
std::vector<CodecPanel> panelsWithResults(const std::vector<std::optional<DisplayImage>>& images,
                                          const std::vector<std::string>& maps,
                                          const std::vector<CompressionCodec>& codecs, bool isSynthetic) {
  std::vector<CodecPanel> panels = makeDefaultPanels();
  for (std::size_t i = 0; i < panels.size() && i < codecs.size(); ++i) panels[i].codec = codecs[i];
  for (std::size_t i = 0; i < panels.size() && i < images.size(); ++i) {
    if (!images[i]) continue;
    CompressionResult result;
    result.codec = panels[i].codec;
    result.decodedImage = *images[i];
    // The synthetic fourth result shows the stale-result label.
    result.settingsSignature = i == 3 && isSynthetic ? "other settings" : panels[i].settingsSignature();
    if (i < maps.size() && !maps[i].empty()) result.errorMapURL = maps[i];
    panels[i].result = result;
  }
  return panels;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  DemoOptions options;
  if (!parseOptions(QApplication::arguments(), options)) {
    std::fprintf(stderr,
                 "Usage: quorlin-canvas-demo [--size WxH] [--zoom Z] [--split X,Y] [--difference] [--gain N] "
                 "[--original] [--codec NAME]... [--maps M1,M2,...] [--error-map] [--layer L] [--transparent] "
                 "[--trace] [--grab FILE] [SOURCE [RESULT1..RESULT4]]\n");
    return 2;
  }

  FourWayComparisonValues values;
  std::vector<std::optional<DisplayImage>> results;
  if (options.files.empty()) {
    bool transparent = options.isTransparent;
    values.sourceImage = makeSyntheticImage([&](int x, int y) { return sceneAt(x, y, transparent); }, transparent);
    for (int panel = 0; panel < 4; ++panel) {
      results.push_back(
          makeSyntheticImage([&](int x, int y) { return degraded(panel, x, y, transparent); }, transparent));
    }
    values.usesTransparencyBackground = transparent;
  } else {
    values.sourceImage = readDisplayImage(options.files[0], nullptr, std::nullopt);
    if (!values.sourceImage) {
      std::fprintf(stderr, "quorlin-canvas-demo: could not read %s\n", options.files[0].c_str());
      return 1;
    }
    values.usesTransparencyBackground = values.sourceImage->image->hasAlpha();
    for (std::size_t i = 1; i < options.files.size(); ++i) {
      results.push_back(readDisplayImage(options.files[i], nullptr, std::nullopt));
      if (!results.back()) std::fprintf(stderr, "quorlin-canvas-demo: could not read %s\n", options.files[i].c_str());
    }
  }
  values.panels = panelsWithResults(results, options.maps, options.codecs, options.files.empty());
  values.isShowingErrorMap = options.isShowingErrorMap;
  values.errorMapLayer = options.errorMapLayer;
  values.viewState.zoom = options.zoom;
  values.viewState.comparisonX = options.splitX;
  values.viewState.comparisonY = options.splitY;
  values.isShowingDifference = options.isShowingDifference;
  values.isShowingOriginal = options.isShowingOriginal;
  values.differenceGain = options.gain;

  KeyboardCommandRegistry registry;
  DemoWorkspace workspace(registry, std::move(values), options.isTracing);
  workspace.setWindowTitle("Quorlin canvas demo");
  workspace.resize(options.width, options.height);
  workspace.show();
  workspace.activateWindow();

  if (!options.grabFile.isEmpty()) {
    QTimer::singleShot(200, &workspace, [&] {
      bool isSaved = workspace.grab().save(options.grabFile);
      if (!isSaved) std::fprintf(stderr, "quorlin-canvas-demo: could not write %s\n", qPrintable(options.grabFile));
      QApplication::exit(isSaved ? 0 : 1);
    });
  }
  return QApplication::exec();
}
