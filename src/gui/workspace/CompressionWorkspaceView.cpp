#include "gui/workspace/CompressionWorkspaceView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QSlider>
#include <QStackedWidget>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include "core/comparison/KeyboardCommandRegistry.h"
#include "core/codecs/ContentTypes.h"
#include "core/engine/SourceMetadata.h"
#include "core/workspace/CompressionWorkspace.h"
#include "core/workspace/WorkspaceTexts.h"
#include "gui/app/SymbolIcons.h"
#include "gui/app/TextStyles.h"
#include "gui/comparison/ErrorMapControls.h"
#include "gui/comparison/FourWayComparisonImageView.h"
#include "gui/comparison/KeyboardShortcutMonitor.h"
#include "gui/windows/InspectorWindows.h"
#include "gui/workspace/CodecPanelView.h"
#include "gui/widgets/PaletteTextLabel.h"
#include "gui/widgets/SegmentedPicker.h"
#include "gui/widgets/SeparatorLine.h"
#include "gui/widgets/ActivityIndicator.h"
#include "gui/workspace/SourceInfoButton.h"
#include "gui/workspace/EmptyWorkspaceState.h"

namespace quorlin::gui {

namespace {

namespace fs = std::filesystem;

constexpr double minimumTargetScore = 50.0;
constexpr double maximumTargetScore = 99.0;
// The target slider moves in hundredths, so it feels continuous.
constexpr int targetSliderStepsPerPoint = 100;
// Panel columns are this wide while the canvas keeps at least half the
// width; on narrower windows they give way down to the narrowest width a
// panel's rows still read at.
constexpr int panelColumnWidth = 300;
constexpr int narrowestPanelColumnWidth = 250;

const char* const rateControlTooltip =
    "Set Quality: set quality or distance per panel. Target Score: automatically search each codec's quality for "
    "the target SSIMULACRA2 score.";
const char* const targetTooltip =
    "Target SSIMULACRA2 score. Each panel searches its quality or distance to hit this score, then reports the file "
    "size.";

QString fileNameOf(const fs::path& file) { return QString::fromStdString(file.filename().string()); }

QString formattedTargetScore(double score) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", score);
  return QString::fromLatin1(text);
}

// "Images (*.png *.jpg ...)": every image type of the content-type table.
QString imageNameFilter() {
  QStringList patterns;
  for (const ContentTypeInfo& type : allContentTypes()) {
    if (type.identifier == ContentTypeIdentifier::image ||
        !contentTypeConforms(type.identifier, ContentTypeIdentifier::image)) {
      continue;
    }
    for (std::string_view extension : type.extensions) {
      QString pattern = QStringLiteral("*.") + QString::fromUtf8(extension);
      if (!patterns.contains(pattern)) patterns.push_back(pattern);
    }
  }
  return QStringLiteral("Images (%1)").arg(patterns.join(' '));
}

QToolButton* borderlessSymbolButton(const char* symbol, const char* tooltip) {
  auto* button = new QToolButton;
  button->setIcon(symbolIcon(symbol));
  button->setToolTip(QString::fromUtf8(tooltip));
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  return button;
}

// The view's drag-and-drop and first-show handling, kept out of the public
// header as an event filter on the view itself.
class WorkspaceViewEvents : public QObject {
 public:
  WorkspaceViewEvents(CompressionWorkspace& workspace, QWidget& view) : QObject(&view), workspace_(workspace) {
    view.setAcceptDrops(true);
    view.installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove: {
        // Only file-URL items are taken; anything else is refused.
        auto* drag = static_cast<QDragMoveEvent*>(event);
        if (drag->mimeData() && drag->mimeData()->hasUrls()) {
          drag->acceptProposedAction();
        } else {
          drag->ignore();
        }
        return true;
      }
      case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!drop->mimeData() || !drop->mimeData()->hasUrls()) {
          drop->ignore();
          return true;
        }
        drop->acceptProposedAction();
        workspace_.loadDroppedItem(droppedFile(drop->mimeData()->urls()));
        return true;
      }
      case QEvent::Show:
        // The registry must hold the selected tab's handlers from the moment
        // its workspace is first on screen.
        if (!hasBeenShown_ && workspace_.isActive()) workspace_.activate();
        hasBeenShown_ = true;
        break;
      default:
        break;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  // The first dropped item as a local file, or nothing when it names none.
  static std::optional<fs::path> droppedFile(const QList<QUrl>& urls) {
    if (urls.isEmpty() || !urls.front().isLocalFile()) return std::nullopt;
    const QString path = urls.front().toLocalFile();
    if (path.isEmpty()) return std::nullopt;
    return fs::path(path.toStdString());
  }

  CompressionWorkspace& workspace_;
  bool hasBeenShown_ = false;
};

}  // namespace

struct CompressionWorkspaceView::State {
  State(CompressionWorkspace& model, KeyboardCommandRegistry& commandRegistry)
      : workspace(model), registry(commandRegistry) {}

  void build(CompressionWorkspaceView& view);
  QWidget* buildToolbar();
  QWidget* buildCentre();
  QWidget* buildBottomBar();

  void refresh(const WorkspaceChange& change);
  void refreshRateControl();
  void refreshSource();
  void refreshGenerate();
  void refreshZoomBar();
  void refreshLoadError();
  void pushCanvasValues();
  FourWayComparisonValues canvasValues() const;

  void chooseSource();
  void toggleOriginalSpecs();
  void canvasCommand(void (FourWayComparisonImageView::*command)());
  void storeCanvasViewState(const ComparisonViewState& viewState);
  void storeDisplayedPercent(int percent);

  CompressionWorkspace& workspace;
  KeyboardCommandRegistry& registry;
  QWidget* view = nullptr;
  OriginalFileSpecsWindowController originalSpecsWindow;
  ExifToolInfoWindowController exifToolWindow;

  SegmentedPicker* rateControlPicker = nullptr;
  QWidget* targetControl = nullptr;
  QSlider* targetSlider = nullptr;
  QLabel* targetValue = nullptr;
  QPushButton* openButton = nullptr;
  QPushButton* generateButton = nullptr;
  SourceInfoButton* sourceButton = nullptr;

  QStackedWidget* canvasArea = nullptr;
  EmptyWorkspaceState* emptyState = nullptr;
  FourWayComparisonImageView* canvas = nullptr;
  std::array<QScrollArea*, CompressionWorkspace::panelCount> panelSlots{};
  std::array<QWidget*, 2> columnWidgets{};   // left (panels 1, 3) and right (2, 4)

  ActivityIndicator* activity = nullptr;
  PaletteTextLabel* statusText = nullptr;
  QToolButton* percentButton = nullptr;
  ErrorMapControls* errorMapControls = nullptr;

  KeyboardShortcutMonitor* monitor = nullptr;
  QPointer<QMessageBox> loadErrorAlert;

  // Set while the canvas's own edits are written into the workspace: the
  // canvas already shows them, and the workspace tells them one field at a
  // time, so handing partial values back would undo the rest.
  bool isStoringCanvasEdit = false;
  Subscription subscription;
};

CompressionWorkspaceView::CompressionWorkspaceView(CompressionWorkspace& workspace, KeyboardCommandRegistry& registry,
                                                   QWidget* parent)
    : QWidget(parent), state_(std::make_unique<State>(workspace, registry)) {
  // Small enough for a 1024 x 640 screen with the window's menus, toolbar and tabs.
  setMinimumSize(2 * narrowestPanelColumnWidth + 500, 440);
  state_->build(*this);
  new WorkspaceViewEvents(workspace, *this);

  State* state = state_.get();
  workspace.setMetadataPresenter([state](const EncodedMetadataInspection& inspection) {
    state->exifToolWindow.show(inspection.title, inspection.fileName, inspection.text);
  });
  state_->subscription = workspace.observe([state](const WorkspaceChange& change) { state->refresh(change); });

  WorkspaceChange everything;
  for (std::size_t aspect = 0; aspect < WorkspaceChange::aspectCount; ++aspect) {
    everything.add(static_cast<WorkspaceAspect>(aspect));
  }
  state_->refresh(everything);
}

CompressionWorkspaceView::~CompressionWorkspaceView() {
  state_->subscription.reset();
  state_->workspace.setMetadataPresenter(nullptr);
  // The children call into the state; they go before it does.
  const QObjectList ownChildren = children();
  for (QObject* child : ownChildren) {
    if (child->isWidgetType()) delete child;
  }
}

// ---- Building ----

void CompressionWorkspaceView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const int halfWidth = width() / 2;
  const int columnWidth = std::clamp(halfWidth / 2 - 1, narrowestPanelColumnWidth, panelColumnWidth);
  for (QWidget* column : state_->columnWidgets) {
    if (column->width() != columnWidth) column->setFixedWidth(columnWidth);
  }
}

void CompressionWorkspaceView::State::build(CompressionWorkspaceView& owner) {
  view = &owner;
  auto* layout = new QVBoxLayout(&owner);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(buildToolbar());
  layout->addWidget(new SeparatorLine(Qt::Horizontal));
  layout->addWidget(buildCentre(), 1);
  layout->addWidget(new SeparatorLine(Qt::Horizontal));
  layout->addWidget(buildBottomBar());

  monitor = new KeyboardShortcutMonitor(registry, &owner);
  monitor->setObjectName("keyboardShortcutMonitor");
  CompressionWorkspace* model = &workspace;
  monitor->setOnWindowBecameKey([model] { model->activate(); });
}

QWidget* CompressionWorkspaceView::State::buildToolbar() {
  auto* bar = new QWidget;
  auto* layout = new QHBoxLayout(bar);
  layout->setContentsMargins(12, 8, 12, 8);
  layout->setSpacing(8);

  openButton = new QPushButton(symbolIcon("photo"), QStringLiteral("Open"));
  openButton->setObjectName("openButton");
  QObject::connect(openButton, &QPushButton::clicked, view, [this] { chooseSource(); });
  layout->addWidget(openButton);

  sourceButton = new SourceInfoButton;
  sourceButton->setObjectName("sourceButton");
  sourceButton->setMaximumWidth(460);
  QObject::connect(sourceButton, &QAbstractButton::clicked, view, [this] { toggleOriginalSpecs(); });
  layout->addWidget(sourceButton, 1);
  layout->addStretch();

  rateControlPicker = new SegmentedPicker({QStringLiteral("Set Quality"), QStringLiteral("Target Score")});
  rateControlPicker->setObjectName("rateControlPicker");
  rateControlPicker->setAccessibleName(QStringLiteral("Rate Control"));
  rateControlPicker->setToolTip(QString::fromUtf8(rateControlTooltip));
  QObject::connect(rateControlPicker, &SegmentedPicker::segmentClicked, view, [this](int index) {
    workspace.setRateControlMode(index == 1 ? RateControlMode::targetScore : RateControlMode::manual);
  });
  layout->addWidget(rateControlPicker);

  targetControl = new QWidget;
  targetControl->setObjectName("targetControl");
  targetControl->setToolTip(QString::fromUtf8(targetTooltip));
  auto* targetLayout = new QHBoxLayout(targetControl);
  targetLayout->setContentsMargins(4, 0, 0, 0);
  targetLayout->setSpacing(6);
  auto* targetLabel = new QLabel(QStringLiteral("Target"));
  targetLabel->setFont(captionFont(QFont::DemiBold));
  targetSlider = new QSlider(Qt::Horizontal);
  targetSlider->setObjectName("targetSlider");
  targetSlider->setRange(int(minimumTargetScore * targetSliderStepsPerPoint),
                         int(maximumTargetScore * targetSliderStepsPerPoint));
  targetSlider->setSingleStep(targetSliderStepsPerPoint);
  targetSlider->setPageStep(5 * targetSliderStepsPerPoint);
  targetSlider->setFixedWidth(150);
  targetSlider->setToolTip(QString::fromUtf8(targetTooltip));
  QObject::connect(targetSlider, &QSlider::valueChanged, view, [this](int value) {
    workspace.setTargetScore(double(value) / targetSliderStepsPerPoint);
  });
  targetValue = new QLabel;
  targetValue->setObjectName("targetValue");
  targetValue->setFont(calloutFont(QFont::Medium));
  // Two digits always: a fixed width keeps the slider still while it moves.
  targetValue->setMinimumWidth(QFontMetrics(targetValue->font()).horizontalAdvance(QStringLiteral("00")) + 2);
  targetValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  targetValue->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
  targetControl->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
  targetLayout->addWidget(targetLabel);
  targetLayout->addWidget(targetSlider);
  targetLayout->addWidget(targetValue);
  layout->addWidget(targetControl);

  layout->addSpacing(8);
  generateButton = new QPushButton(symbolIcon("play.fill"), QStringLiteral("Generate"));
  generateButton->setObjectName("generateButton");
  generateButton->setDefault(false);
  generateButton->setMinimumWidth(generateButton->sizeHint().width());  // stays put as Stop
  // While a pass runs the button is Stop, and Escape presses it.
  QObject::connect(generateButton, &QPushButton::clicked, view, [this] {
    if (workspace.isRunning()) {
      workspace.stop();
    } else {
      workspace.startGenerateTask();
    }
  });
  layout->addWidget(generateButton);
  return bar;
}

QWidget* CompressionWorkspaceView::State::buildCentre() {
  auto* centre = new QWidget;
  auto* layout = new QHBoxLayout(centre);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  // Panel i sits beside the quadrant it fills: 1 and 3 on the left (top,
  // bottom), 2 and 4 on the right.
  std::array<QVBoxLayout*, 2> columns{};
  for (int side = 0; side < 2; ++side) {
    columnWidgets[side] = new QWidget;
    columnWidgets[side]->setFixedWidth(panelColumnWidth);
    columns[side] = new QVBoxLayout(columnWidgets[side]);
    columns[side]->setContentsMargins(0, 0, 0, 0);
    columns[side]->setSpacing(0);
  }
  for (int index = 0; index < CompressionWorkspace::panelCount; ++index) {
    auto* slot = new QScrollArea;
    slot->setObjectName(QStringLiteral("codecPanelSlot%1").arg(index + 1));
    slot->setWidgetResizable(true);
    slot->setFrameShape(QFrame::NoFrame);
    slot->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The panel scrolls its own rows under a fixed header; a second bar here
    // would narrow the slot below the panel's fixed width and cut it off.
    slot->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    slot->setWidget(new CodecPanelView(workspace, index));
    panelSlots[static_cast<std::size_t>(index)] = slot;
    QVBoxLayout* column = columns[index % 2];
    if (column->count() > 0) column->addWidget(new SeparatorLine(Qt::Horizontal));
    column->addWidget(slot, 1);
  }

  canvasArea = new QStackedWidget;
  canvasArea->setObjectName("canvasArea");
  emptyState = new EmptyWorkspaceState;
  emptyState->setObjectName("emptyState");
  canvas = new FourWayComparisonImageView(registry);
  canvas->setObjectName("comparisonView");
  canvasArea->addWidget(emptyState);
  canvasArea->addWidget(canvas);
  QObject::connect(canvas, &FourWayComparisonImageView::viewStateChanged, view,
                   [this](const ComparisonViewState& viewState) { storeCanvasViewState(viewState); });
  QObject::connect(canvas, &FourWayComparisonImageView::displayedImageScalePercentChanged, view,
                   [this](int percent) { storeDisplayedPercent(percent); });

  layout->addWidget(columnWidgets[0]);
  layout->addWidget(new SeparatorLine(Qt::Vertical));
  layout->addWidget(canvasArea, 1);
  layout->addWidget(new SeparatorLine(Qt::Vertical));
  layout->addWidget(columnWidgets[1]);
  return centre;
}

QWidget* CompressionWorkspaceView::State::buildBottomBar() {
  auto* bar = new QWidget;
  auto* layout = new QHBoxLayout(bar);
  layout->setContentsMargins(12, 3, 8, 3);
  layout->setSpacing(6);

  activity = new ActivityIndicator;
  activity->setObjectName("activityIndicator");
  statusText = new PaletteTextLabel(PaletteTextLabel::Shade::secondary);
  statusText->setObjectName("statusText");
  statusText->setFont(captionFont());
  statusText->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  layout->addWidget(activity);
  layout->addWidget(statusText, 1);

  struct ZoomButton {
    const char* objectName;
    const char* symbol;
    const char* tooltip;
    void (FourWayComparisonImageView::*command)();
  };
  const ZoomButton zoomButtons[] = {
      {"zoomOutButton", "minus.magnifyingglass", "Zoom out", &FourWayComparisonImageView::zoomOut},
      {"fitImageButton", "magnifyingglass", "Fit image", &FourWayComparisonImageView::resetImage},
      {"zoomInButton", "plus.magnifyingglass", "Zoom in", &FourWayComparisonImageView::zoomIn},
  };
  for (const ZoomButton& zoomButton : zoomButtons) {
    QToolButton* button = borderlessSymbolButton(zoomButton.symbol, zoomButton.tooltip);
    button->setObjectName(zoomButton.objectName);
    auto command = zoomButton.command;
    QObject::connect(button, &QToolButton::clicked, view, [this, command] { canvasCommand(command); });
    layout->addWidget(button);
  }
  QToolButton* resetPan = borderlessSymbolButton("scope", "Reset pan");
  resetPan->setObjectName("resetPanButton");
  QObject::connect(resetPan, &QToolButton::clicked, view, [this] { workspace.canvasView().resetPan(); });
  layout->addWidget(resetPan);

  percentButton = new QToolButton;
  percentButton->setObjectName("actualSizeButton");
  percentButton->setAutoRaise(true);
  percentButton->setFocusPolicy(Qt::NoFocus);
  percentButton->setMinimumWidth(58);
  percentButton->setFont(calloutFont());
  QObject::connect(percentButton, &QToolButton::clicked, view,
                   [this] { canvasCommand(&FourWayComparisonImageView::zoomActualSize); });
  layout->addWidget(percentButton);

  errorMapControls = new ErrorMapControls;
  errorMapControls->setObjectName("errorMapControls");
  QObject::connect(errorMapControls, &ErrorMapControls::toggleRequested, view,
                   [this] { workspace.canvasView().toggleErrorMap(); });
  QObject::connect(errorMapControls, &ErrorMapControls::layerChosen, view,
                   [this](ErrorMapLayer layer) { workspace.canvasView().setErrorMapLayer(layer); });
  layout->addWidget(errorMapControls);
  return bar;
}

// ---- Binding ----

void CompressionWorkspaceView::State::refresh(const WorkspaceChange& change) {
  using Aspect = WorkspaceAspect;
  if (change.contains(Aspect::rateControl)) refreshRateControl();
  if (change.contains(Aspect::source)) refreshSource();
  if (change.contains(Aspect::source) || change.contains(Aspect::running)) refreshGenerate();
  if (change.contains(Aspect::status)) statusText->setText(QString::fromStdString(workspace.statusMessage()));
  if (change.contains(Aspect::viewValues)) refreshZoomBar();
  if (change.contains(Aspect::activation)) monitor->setActive(workspace.isActive());
  if (change.contains(Aspect::source) || change.contains(Aspect::viewValues) || change.contains(Aspect::panels) ||
      change.contains(Aspect::canvasCommand) || change.contains(Aspect::activation)) {
    pushCanvasValues();
  }
  // Last: the alert may open a window, and everything else should be current
  // by then.
  if (change.contains(Aspect::loadError)) refreshLoadError();
}

void CompressionWorkspaceView::State::refreshRateControl() {
  const bool isTargetScore = workspace.rateControlMode() == RateControlMode::targetScore;
  rateControlPicker->setCurrentIndex(isTargetScore ? 1 : 0);
  targetControl->setVisible(isTargetScore);
  const double score = workspace.targetScore();
  const int position = int(std::lround(score * targetSliderStepsPerPoint));
  if (targetSlider->value() != position) {
    // The slider shows the model; only the user's moves write it back.
    const QSignalBlocker blocker(targetSlider);
    targetSlider->setValue(position);
  }
  targetValue->setText(formattedTargetScore(score));
}

void CompressionWorkspaceView::State::refreshSource() {
  const auto& sourceURL = workspace.sourceURL();
  const auto& metadata = workspace.sourceMetadata();
  sourceButton->setVisible(sourceURL.has_value());
  if (sourceURL) {
    const QString summary =
        metadata ? QString::fromStdString(summaryLine(*metadata, workspace.sourceFileSize())) : QString();
    sourceButton->setContent(fileNameOf(*sourceURL), summary);
  } else {
    sourceButton->setContent({}, {});
  }
  const bool hasSpecs = sourceURL && metadata;
  sourceButton->setInteractive(hasSpecs);
  sourceButton->setToolTip(hasSpecs ? QStringLiteral("Show original file specs") : QString());
  canvasArea->setCurrentWidget(workspace.sourceImage() ? static_cast<QWidget*>(canvas) : emptyState);
  // An open specs panel follows the source.
  if (hasSpecs && originalSpecsWindow.isVisible()) {
    originalSpecsWindow.show(*sourceURL, workspace.sourceFileSize(), *metadata);
  }
}

void CompressionWorkspaceView::State::refreshGenerate() {
  const bool isRunning = workspace.isRunning();
  generateButton->setText(isRunning ? QStringLiteral("Stop") : QStringLiteral("Generate"));
  generateButton->setIcon(symbolIcon(isRunning ? "stop.fill" : "play.fill"));
  generateButton->setShortcut(isRunning ? QKeySequence(Qt::Key_Escape) : QKeySequence(Qt::CTRL | Qt::Key_Return));
  generateButton->setEnabled(isRunning || workspace.canGenerate());
  activity->setRunning(workspace.isRunning());
}

void CompressionWorkspaceView::State::refreshZoomBar() {
  percentButton->setText(QString::number(workspace.canvasView().displayedImageScalePercent()) + QLatin1Char('%'));
  errorMapControls->setState(workspace.canvasView().isShowingErrorMap(), workspace.canvasView().errorMapLayer());
}

void CompressionWorkspaceView::State::refreshLoadError() {
  const auto& message = workspace.loadErrorMessage();
  if (!message) {
    if (loadErrorAlert && loadErrorAlert->isVisible()) loadErrorAlert->close();
    return;
  }
  if (!loadErrorAlert) {
    // One alert per view, opened again for each new message.
    auto* alert = new QMessageBox(QMessageBox::Warning, QString::fromUtf8(WorkspaceTexts::loadErrorAlertTitle),
                                  QString::fromUtf8(WorkspaceTexts::loadErrorAlertTitle), QMessageBox::Ok, view);
    alert->setObjectName("loadErrorAlert");
    alert->setTextFormat(Qt::PlainText);
    alert->setWindowModality(Qt::WindowModal);
    QObject::connect(alert, &QMessageBox::finished, view, [this] { workspace.dismissLoadError(); });
    loadErrorAlert = alert;
  }
  loadErrorAlert->setInformativeText(QString::fromStdString(*message));
  if (!loadErrorAlert->isVisible()) loadErrorAlert->open();
}

FourWayComparisonValues CompressionWorkspaceView::State::canvasValues() const {
  FourWayComparisonValues values;
  values.sourceImage = workspace.sourceImage();
  values.panels = workspace.panels();
  values.viewState.zoom = workspace.canvasView().zoom();
  values.viewState.panOffset = workspace.canvasView().panOffset();
  values.viewState.comparisonX = workspace.canvasView().comparisonX();
  values.viewState.comparisonY = workspace.canvasView().comparisonY();
  values.displayedImageScalePercent = workspace.canvasView().displayedImageScalePercent();
  values.isShowingOriginal = workspace.canvasView().isShowingOriginal();
  values.isShowingDifference = workspace.canvasView().isShowingDifference();
  values.differenceGain = workspace.canvasView().differenceGain();
  values.isShowingErrorMap = workspace.canvasView().isShowingErrorMap();
  values.errorMapLayer = workspace.canvasView().errorMapLayer();
  values.usesTransparencyBackground = workspace.usesTransparencyBackground();
  values.isActive = workspace.isActive();
  values.commandToken = workspace.canvasView().canvasCommandToken();
  return values;
}

void CompressionWorkspaceView::State::pushCanvasValues() {
  if (isStoringCanvasEdit) return;
  canvas->setValues(canvasValues());
}

void CompressionWorkspaceView::State::storeCanvasViewState(const ComparisonViewState& viewState) {
  const bool wasStoring = std::exchange(isStoringCanvasEdit, true);
  workspace.canvasView().setZoom(viewState.zoom);
  workspace.canvasView().setPanOffset(viewState.panOffset);
  workspace.canvasView().setComparisonPoint(viewState.comparisonX, viewState.comparisonY);
  isStoringCanvasEdit = wasStoring;
}

void CompressionWorkspaceView::State::storeDisplayedPercent(int percent) {
  const bool wasStoring = std::exchange(isStoringCanvasEdit, true);
  workspace.canvasView().setDisplayedImageScalePercent(percent);
  isStoringCanvasEdit = wasStoring;
}

// ---- Actions ----

void CompressionWorkspaceView::State::chooseSource() {
  const QString file = QFileDialog::getOpenFileName(view, QStringLiteral("Open"), QString(), imageNameFilter());
  if (!file.isEmpty()) workspace.loadSource(fs::path(file.toStdString()));
}

void CompressionWorkspaceView::chooseSource() { state_->chooseSource(); }

void CompressionWorkspaceView::State::toggleOriginalSpecs() {
  const auto& sourceURL = workspace.sourceURL();
  const auto& metadata = workspace.sourceMetadata();
  if (!sourceURL || !metadata) return;
  originalSpecsWindow.toggle(*sourceURL, workspace.sourceFileSize(), *metadata);
}

// A zoom-bar command on the canvas, then a new command token so that the
// canvas registers its handlers again.
void CompressionWorkspaceView::State::canvasCommand(void (FourWayComparisonImageView::*command)()) {
  (canvas->*command)();
  workspace.canvasView().advanceCanvasCommandToken();
}

}  // namespace quorlin::gui
