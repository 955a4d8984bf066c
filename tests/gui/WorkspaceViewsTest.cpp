// The workspace view and its codec panels over a real workspace and the
// fake engine.
#include "GuiTestSupport.h"
#include "gui/app/ApplicationAppearance.h"
#include "gui/comparison/FourWayComparisonImageView.h"
#include "gui/comparison/KeyboardShortcutMonitor.h"
#include "gui/widgets/ActivityIndicator.h"
#include "gui/widgets/PaletteTextLabel.h"
#include "gui/widgets/SegmentedPicker.h"
#include "gui/workspace/CodecPanelView.h"
#include "gui/workspace/CompressionWorkspaceView.h"
#include "gui/workspace/DistanceSlider.h"
#include "gui/workspace/EmptyWorkspaceState.h"
#include "gui/workspace/LabeledSlider.h"
#include "gui/workspace/ResultMetricLine.h"
#include "gui/workspace/SourceInfoButton.h"
#include "support/CodecParameters.h"
#include "support/WorkspaceFixture.h"

namespace quorlin::test {
namespace {

using namespace gui;
using namespace std::chrono_literals;

// The workspace view over a real workspace and the fake engine: what it shows
// before and after a source, how its controls write the model and follow it,
// drops, the load-error alert, the zoom bar, activation and where the four
// panel views sit.
namespace fs = std::filesystem;

class CompressionWorkspaceViewTest : public WorkspaceFixture {
 protected:
  void SetUp() override { view->resize(1400, 900); }
  void TearDown() override {
    view.reset();
    WorkspaceFixture::TearDown();
  }

  void showView(bool activate = false) {
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    if (!activate) return;
    view->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(view.get()));
  }

  template <typename Widget = QWidget>
  Widget* child(const char* name) const {
    auto* widget = view->findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << "no child named " << name;
    return widget;
  }
  void click(const char* name) { QTest::mouseClick(child<QAbstractButton>(name), Qt::LeftButton); }

  // Pumps both the workspace's queue and Qt's events until `done` holds
  // (bounded generously; the machine is shared).
  bool waitUntil(const std::function<bool()>& done) {
    return QTest::qWaitFor([&] {
      dispatcher->runPending();
      return done();
    }, 20'000);
  }

  QString statusText() const { return child<PaletteTextLabel>("statusText")->text(); }
  QAbstractButton* generateButton() const { return child<QAbstractButton>("generateButton"); }
  SourceInfoButton* sourceButton() const { return child<SourceInfoButton>("sourceButton"); }
  QMessageBox* alert() const { return view->findChild<QMessageBox*>("loadErrorAlert"); }
  QString percentText() const { return child<QToolButton>("actualSizeButton")->text(); }
  FourWayComparisonImageView* canvas() const { return child<FourWayComparisonImageView>("comparisonView"); }

  // A drag enter and a drop of `mime` at the view's centre; whether each was accepted.
  std::pair<bool, bool> dragAndDrop(const QMimeData& mime) {
    const QPoint centre = view->rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.get(), &enter);
    QDropEvent drop(QPointF(centre), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.get(), &drop);
    return {enter.isAccepted(), drop.isAccepted()};
  }

  static std::size_t visibleWindowsTitled(const QString& title) {
    const auto windows = QApplication::topLevelWidgets();
    return std::count_if(windows.begin(), windows.end(),
                         [&](QWidget* window) { return window->isVisible() && window->windowTitle() == title; });
  }

  std::unique_ptr<CompressionWorkspaceView> view = std::make_unique<CompressionWorkspaceView>(*workspace, registry);
};

// ---- Empty and loaded ----

TEST_F(CompressionWorkspaceViewTest, BeforeASourceTheEmptyStateShowsWrappedAndASourceShowsItsNameElidedAndSpecs) {
  showView();
  auto* empty = child<EmptyWorkspaceState>("emptyState");
  // Shown: the empty state, the canvas, the source block; Generate enabled.
  auto state = [&] {
    return std::vector<bool>{empty->isVisible(), canvas()->isVisible(), sourceButton()->isVisible(),
                             generateButton()->isEnabled()};
  };
  EXPECT_EQ(state(), (std::vector<bool>{true, false, false, false}));
  // The line is longer than its measure, so it wraps instead of being cut.
  const PaletteTextLabel& detail = empty->detail();
  ASSERT_GT(detail.fontMetrics().horizontalAdvance(detail.text()), detail.width());
  EXPECT_GE(detail.height(), 2 * detail.fontMetrics().height());
  load(writeImage("harbour.png", 400, 300));
  EXPECT_EQ(state(), (std::vector<bool>{false, true, true, true}));
  EXPECT_TRUE(sourceButton()->summaryLabel().text().startsWith("400 x 300 px"));
  QTest::mouseClick(sourceButton(), Qt::LeftButton);
  EXPECT_EQ(visibleWindowsTitled("Original File Specs"), 1u);
  // Another source keeps the open panel open (it follows the source).
  const std::string name = "a-very-long-name-" + std::string(200, 'x') + "-end.png";
  load(writeImage(name));
  EXPECT_EQ(visibleWindowsTitled("Original File Specs"), 1u);
  const QString shown = sourceButton()->nameLabel().displayedText();
  EXPECT_LT(shown.size(), qsizetype(name.size()));
  EXPECT_TRUE(shown.startsWith("a-very-long") && shown.endsWith("-end.png")) << shown.toStdString();
  QTest::mouseClick(sourceButton(), Qt::LeftButton);
  EXPECT_EQ(visibleWindowsTitled("Original File Specs"), 0u);
  QTest::mouseClick(sourceButton(), Qt::LeftButton);
  EXPECT_EQ(visibleWindowsTitled("Original File Specs"), 1u);
}

// ---- Generate ----

TEST_F(CompressionWorkspaceViewTest, ControlReturnStartsAPassOnlyWhenGenerateIsEnabledAndEscapeStopsIt) {
  showView(true);
  QTest::keyClick(view.get(), Qt::Key_Return, Qt::ControlModifier);
  // A delivered shortcut would have pressed the button at once.
  EXPECT_FALSE(generateButton()->isDown());
  dispatcher->runPending();
  EXPECT_EQ(engine->startedRunCount(), 0);

  load(writeImage("scene.png", 40, 30));
  QTest::keyClick(view.get(), Qt::Key_Return, Qt::ControlModifier);
  EXPECT_TRUE(generateButton()->isDown());
  ASSERT_TRUE(waitUntil([&] { return workspace->isRunning(); }));
  auto runs = waitingRuns(4);
  auto busy = [&] { return std::pair{generateButton()->text(), child<ActivityIndicator>("activityIndicator")->opacity()}; };
  EXPECT_EQ(busy(), std::pair(QString("Stop"), 1.0));
  QTest::keyClick(view.get(), Qt::Key_Escape);
  ASSERT_TRUE(waitUntil([&] { return !workspace->isRunning(); }));
  EXPECT_EQ(statusText(), "Stopped.");
  EXPECT_EQ(busy(), std::pair(QString("Generate"), 0.0));
  for (const auto& run : runs) finishAndApply(run.number);   // late outcomes change nothing
  EXPECT_FALSE(workspace->panel(0).result);
}

// ---- Rate control ----

TEST_F(CompressionWorkspaceViewTest, RateControlPickerAndTargetSliderWriteTheModelAndFollowIt) {
  showView();
  auto* picker = child<SegmentedPicker>("rateControlPicker");
  auto* target = child("targetControl");
  auto* slider = child<QSlider>("targetSlider");
  EXPECT_EQ(picker->currentIndex(), 0);
  EXPECT_FALSE(target->isVisible());

  QTest::mouseClick(picker->segment(1), Qt::LeftButton);
  EXPECT_EQ(workspace->rateControlMode(), RateControlMode::targetScore);
  EXPECT_TRUE(target->isVisible());
  slider->setValue(9000);
  EXPECT_DOUBLE_EQ(workspace->targetScore(), 90.0);
  EXPECT_EQ(child<QLabel>("targetValue")->text(), "90");
  QTest::mouseClick(picker->segment(0), Qt::LeftButton);
  EXPECT_EQ(workspace->rateControlMode(), RateControlMode::manual);
  EXPECT_FALSE(target->isVisible());

  // Following the model, without writing back.
  workspace->setRateControlMode(RateControlMode::targetScore);
  EXPECT_EQ(picker->currentIndex(), 1);
  workspace->setTargetScore(72.437);   // the slider moves in hundredths; the finer value survives
  EXPECT_EQ(slider->value(), 7244);
  EXPECT_DOUBLE_EQ(workspace->targetScore(), 72.437);

  // A tab that starts in target score mode shows its target.
  auto targetTab = makeWorkspace(RateControlMode::targetScore);
  auto targetView = std::make_unique<CompressionWorkspaceView>(*targetTab, registry);
  EXPECT_EQ(targetView->findChild<SegmentedPicker*>("rateControlPicker")->currentIndex(), 1);
  EXPECT_EQ(targetView->findChild<QSlider*>("targetSlider")->value(), 8500);
  targetView.reset();
}

// ---- Drops and the alert ----

TEST_F(CompressionWorkspaceViewTest, DropsOfFilesLoadThemOtherItemsAndUnreadableFilesAlertWhileTheSourceIsKept) {
  QMimeData text;
  text.setText("/tmp/picture.png");
  EXPECT_EQ(dragAndDrop(text), std::make_pair(false, false));
  EXPECT_EQ(alert(), nullptr);

  fs::path file = writeImage("dropped.png", 40, 30);
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(QString::fromStdString(file.string()))});
  EXPECT_EQ(dragAndDrop(mime), std::make_pair(true, true));
  ASSERT_TRUE(quiesce());
  EXPECT_EQ(workspace->sourceURL(), file);
  EXPECT_EQ(alert(), nullptr);

  QMimeData remote;
  remote.setUrls({QUrl("https://example.com/picture.png")});
  EXPECT_EQ(dragAndDrop(remote), std::make_pair(true, true));
  EXPECT_EQ(statusText(), "Could not read the dropped item.");
  ASSERT_NE(alert(), nullptr);
  EXPECT_TRUE(alert()->isVisible());
  // The model dismissing the error closes the alert.
  workspace->dismissLoadError();
  EXPECT_FALSE(alert()->isVisible());

  fs::path notes = scratch / "notes.png";
  writeTextFile(notes, "not an image at all");
  load(notes);
  QMessageBox* box = alert();
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isVisible());
  EXPECT_TRUE(box->informativeText().contains("notes.png")) << box->informativeText().toStdString();
  EXPECT_EQ(sourceButton()->nameLabel().text(), "dropped.png");
  QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
  EXPECT_FALSE(workspace->loadErrorMessage().has_value());
  EXPECT_FALSE(box->isVisible());
  load(notes);   // a second failure opens the alert again
  EXPECT_TRUE(alert()->isVisible());
}

// ---- Zoom bar and canvas ----

TEST_F(CompressionWorkspaceViewTest, ZoomBarCommandsReachTheCanvasAndAdvanceTheTokenAndADragMovesTheSplit) {
  showView();
  load(writeImage("wide.png", 400, 300));
  const double fit = std::min(canvas()->width() / 400.0, canvas()->height() / 300.0);
  auto percentAt = [&](double zoom) { return QString::number(std::lround(fit * zoom * 100)) + "%"; };
  ASSERT_TRUE(waitUntil([&] { return percentText() == percentAt(1.0); })) << percentText().toStdString();

  const int token = workspace->canvasView().canvasCommandToken();
  click("zoomInButton");
  EXPECT_DOUBLE_EQ(workspace->canvasView().zoom(), std::sqrt(2.0));
  EXPECT_EQ(workspace->canvasView().canvasCommandToken(), token + 1);
  EXPECT_TRUE(waitUntil([&] { return percentText() == percentAt(std::sqrt(2.0)); })) << percentText().toStdString();
  click("zoomOutButton");
  click("zoomOutButton");
  EXPECT_NEAR(workspace->canvasView().zoom(), std::sqrt(0.5), 1e-12);
  click("fitImageButton");
  EXPECT_DOUBLE_EQ(workspace->canvasView().zoom(), 1.0);
  click("actualSizeButton");
  EXPECT_EQ(workspace->canvasView().canvasCommandToken(), token + 5);
  EXPECT_TRUE(waitUntil([&] { return percentText() == "100%"; })) << percentText().toStdString();
  EXPECT_EQ(canvas()->values().viewState.zoom, workspace->canvasView().zoom());

  // Reset Pan zeroes the pan and leaves the zoom, without a new command.
  workspace->canvasView().setPanOffset({12.0, -7.0});
  click("resetPanButton");
  EXPECT_EQ(canvas()->values().viewState.panOffset, SizeF{});
  EXPECT_EQ(workspace->canvasView().canvasCommandToken(), token + 5);

  click("fitImageButton");
  QTest::mouseClick(canvas(), Qt::LeftButton, {}, QPoint(canvas()->width() / 4, canvas()->height() / 4));
  EXPECT_NEAR(workspace->canvasView().comparisonX(), 0.25, 0.01);
  EXPECT_NEAR(workspace->canvasView().comparisonY(), 0.25, 0.01);
}

// ---- Activation ----

TEST_F(CompressionWorkspaceViewTest, TheKeyboardMonitorHandlersFollowActivationAndThePanelViewsMirrorTheirQuadrants) {
  auto* monitor = child<KeyboardShortcutMonitor>("keyboardShortcutMonitor");
  EXPECT_FALSE(monitor->isActive());
  workspace->setActive(true);
  EXPECT_TRUE(monitor->isActive());
  EXPECT_TRUE(canvas()->values().isActive);
  // Showing an active workspace installs its handlers again.
  registry.generate = nullptr;
  registry.zoomIn = nullptr;
  showView();
  EXPECT_TRUE(registry.generate && registry.zoomIn);
  workspace->setActive(false);
  EXPECT_FALSE(monitor->isActive());

  auto frameOf = [&](QWidget* widget) { return QRect(widget->mapTo(view.get(), QPoint(0, 0)), widget->size()); };
  std::array<QRect, 4> frames;
  for (int index = 0; index < 4; ++index) {
    const std::string name = "codecPanelSlot" + std::to_string(index + 1);
    auto* slot = child<QScrollArea>(name.c_str());
    ASSERT_NE(slot, nullptr);
    EXPECT_NE(dynamic_cast<CodecPanelView*>(slot->widget()), nullptr) << name;
    frames[index] = frameOf(slot);
  }
  const QRect canvasArea = frameOf(child<QStackedWidget>("canvasArea"));
  EXPECT_LE(frames[2].right(), canvasArea.left());
  EXPECT_GE(frames[1].left(), canvasArea.right());
  EXPECT_LT(frames[1].bottom(), frames[3].top());
  EXPECT_EQ(frames[0].top(), frames[1].top());
}

TEST_F(CompressionWorkspaceViewTest, InspectingMetadataOpensAnExifToolWindowPerRequest) {
  load(writeImage("scene.png", 40, 30));
  generateAllAndFinish();
  for (int i = 0; i < 2; ++i) {
    workspace->inspectEncodedMetadata(0);
    ASSERT_TRUE(quiesce());
  }
  EXPECT_EQ(visibleWindowsTitled("JPEG XL Metadata"), 2u);
  // Once the view is gone its windows are too, and nothing opens any more.
  view.reset();
  workspace->inspectEncodedMetadata(0);
  ASSERT_TRUE(quiesce());
  EXPECT_EQ(visibleWindowsTitled("JPEG XL Metadata"), 0u);
}

// The codec panel over a real workspace (fake engine): which rows show for
// which codec and mode, edits reaching the panel, the result and failure
// areas, and the panel's own actions.
constexpr int jpegXLPanel = 0;
constexpr int webPPanel = 2;

class CodecPanelViewTest : public WorkspaceFixture {
 protected:
  void TearDown() override {
    views.clear();
    WorkspaceFixture::TearDown();
  }

  CodecPanelView& viewOf(int index) { return *views.emplace_back(std::make_unique<CodecPanelView>(*workspace, index)); }

  static bool shows(const CodecPanelView& view, const QWidget* widget) {
    return widget != nullptr && widget->isVisibleTo(&view);
  }

  // The first `Widget` whose label (or text) is `text`, visible ones only when asked
  // (several codecs have a "Lossless" toggle, and several panels a "File Size" line).
  template <typename Widget>
  static Widget* withText(const CodecPanelView& view, const QString& text, bool visibleOnly = false) {
    for (auto* candidate : view.findChildren<Widget*>()) {
      QString shown;
      if constexpr (requires { candidate->label(); }) shown = candidate->label();
      else shown = candidate->text();
      if (shown == text && (!visibleOnly || candidate->isVisibleTo(&view))) return candidate;
    }
    return nullptr;
  }
  static LabeledSlider* slider(const CodecPanelView& view, const QString& label) {
    return withText<LabeledSlider>(view, label);
  }
  static QCheckBox* toggle(const CodecPanelView& view, const QString& text) { return withText<QCheckBox>(view, text, true); }
  static ResultMetricLine* line(const CodecPanelView& view, const QString& label) {
    return withText<ResultMetricLine>(view, label, true);
  }
  static double opacityOf(QWidget* widget) {
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(widget->graphicsEffect());
    return effect && effect->isEnabled() ? effect->opacity() : 1.0;
  }

  static void pickCodec(CodecPanelView& view, CompressionCodec codec) {
    auto* picker = view.findChild<QComboBox*>("codecPicker");
    const int row = picker->findData(static_cast<int>(codec));
    ASSERT_GE(row, 0);
    picker->setCurrentIndex(row);
    emit picker->activated(row);
  }

  // A result made with the panel's current settings, as the search or a run would leave it.
  void giveResult(int index, double score = 88.04, std::optional<int> foundQuality = {}) {
    workspace->updatePanel(index, [&](CodecPanel& panel) {
      CompressionResult result;
      result.codec = panel.codec;
      result.encodedSize = 50'000;
      result.ssimulacra2Score = score;
      result.decodeDuration = 0.5;
      result.settingsSignature = panel.settingsSignature();
      result.foundQuality = foundQuality;
      panel.result = result;
    });
  }

  // One run of panel `index` started and waiting.
  int startRun(int index) {
    workspace->generatePanel(workspace->panel(index).id);
    auto runs = waitingRuns(1);
    return runs.empty() ? -1 : runs.back().number;
  }

  std::vector<std::unique_ptr<CodecPanelView>> views;
};

// The rows shown for each codec are the catalog's panel settings (which the
// command line takes too) with the same kinds and ranges.
class CodecPanelRowsTest : public CodecPanelViewTest, public ::testing::WithParamInterface<CompressionCodec> {};

TEST_P(CodecPanelRowsTest, AreTheCatalogSettingsWithTheirRanges) {
  CodecPanelView& view = viewOf(jpegXLPanel);
  pickCodec(view, GetParam());
  const auto catalogRows = panelSettings(GetParam());
  std::size_t shownRows = 0;
  for (auto* row : view.findChildren<QWidget*>()) {
    const QString field = row->property("panelField").toString();
    if (field.isEmpty() || !row->isVisibleTo(&view)) continue;
    ++shownRows;
    SCOPED_TRACE(field.toStdString());
    auto setting = std::find_if(catalogRows.begin(), catalogRows.end(),
                                [&](const PanelSetting& s) { return QString::fromUtf8(s.field) == field; });
    ASSERT_NE(setting, catalogRows.end());
    using K = PanelSettingKind;
    if (auto* slider = qobject_cast<LabeledSlider*>(row)) {
      EXPECT_EQ(setting->kind, K::wholeNumber);
      EXPECT_EQ(slider->range(), setting->range);
    } else if (qobject_cast<DistanceSlider*>(row)) {
      EXPECT_EQ(setting->kind, K::number);
      EXPECT_EQ(setting->range.upperBound, maximumSliderDistance);
    } else if (qobject_cast<QCheckBox*>(row)) {
      EXPECT_EQ(setting->kind, K::flag);
    } else if (auto* picker = qobject_cast<QComboBox*>(row)) {
      ASSERT_EQ(setting->kind, K::choice);
      ASSERT_EQ(static_cast<std::size_t>(picker->count()), setting->choices.size());
      for (int i = 0; i < picker->count(); ++i) EXPECT_EQ(picker->itemData(i).toInt(), i);
    } else {
      const auto levels = row->findChildren<QToolButton*>();
      ASSERT_FALSE(levels.isEmpty());
      EXPECT_EQ(setting->kind, K::wholeNumber);
      EXPECT_EQ((IntegerRange{levels.front()->text().toInt(), levels.back()->text().toInt()}), setting->range);
    }
  }
  EXPECT_EQ(shownRows, catalogRows.size());
}

INSTANTIATE_TEST_SUITE_P(Catalog, CodecPanelRowsTest, catalogCodecs(), codecParameterName);

TEST_F(CodecPanelViewTest, GenerateRunsThisPanelWithProgressShownOnlyWhileRunning) {
  CodecPanelView& view = viewOf(3);
  auto* picker = view.findChild<QComboBox*>("codecPicker");
  EXPECT_EQ(static_cast<std::size_t>(picker->count()), allCompressionCodecs().size());
  EXPECT_EQ(picker->currentData().toInt(), static_cast<int>(workspace->panel(3).codec));
  auto* generate = view.findChild<QToolButton*>("generateButton");
  auto* progress = view.findChild<QLabel*>("progressMessage");
  EXPECT_FALSE(generate->isEnabled());   // nothing to encode yet
  load(writeImage("photo.png"));
  generate->click();
  auto runs = waitingRuns(1);
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].panel.id, workspace->panel(3).id);
  EXPECT_EQ(generate->toolTip(), "Stop this codec");
  EXPECT_TRUE(shows(view, view.findChild<QProgressBar*>()));
  // The workspace writes these while a search probes.
  workspace->updatePanel(3, [](CodecPanel& panel) { panel.progressMessage = "Quality 88: 84.2"; });
  EXPECT_TRUE(shows(view, progress) && progress->text() == "Quality 88: 84.2");
  finishAndApply(runs[0].number);
  EXPECT_FALSE(shows(view, view.findChild<QProgressBar*>()));
  EXPECT_FALSE(shows(view, progress));   // a stale text is not shown once the run is over
}

TEST_F(CodecPanelViewTest, ACodecSwitchDuringARunLeavesTheArrivingResultDimmedUnderNeedsRegeneration) {
  CodecPanelView& view = viewOf(webPPanel);
  load(writeImage("photo.png"));
  const int run = startRun(webPPanel);
  pickCodec(view, CompressionCodec::avif);
  finishAndApply(run);
  ASSERT_TRUE(workspace->panel(webPPanel).needsRegeneration());
  auto* notice = view.findChild<QLabel*>("staleNotice");
  EXPECT_TRUE(shows(view, notice));
  QWidget* resultArea = line(view, "File Size")->parentWidget();
  EXPECT_LT(opacityOf(resultArea), 1.0);
  finishAndApply(startRun(webPPanel));
  EXPECT_FALSE(shows(view, notice));
  EXPECT_EQ(opacityOf(resultArea), 1.0);
}

TEST_F(CodecPanelViewTest, ThePickerDimsCodecsThatCannotRunHereNamesTheReasonAndStillOffersThem) {
  engine->unavailableCodecs = {{CompressionCodec::jpegli, "cjpegli not installed"}};
  CodecPanelView& view = viewOf(jpegXLPanel);
  auto* picker = view.findChild<QComboBox*>("codecPicker");
  const int jpegli = picker->findData(static_cast<int>(CompressionCodec::jpegli));
  EXPECT_EQ(picker->itemData(jpegli, Qt::ToolTipRole).toString(), "cjpegli not installed");
  EXPECT_TRUE(picker->itemData(jpegli, Qt::ForegroundRole).isValid());
  EXPECT_FALSE(picker->itemData(0, Qt::ToolTipRole).isValid());
  pickCodec(view, CompressionCodec::jpegli);
  EXPECT_EQ(workspace->panel(jpegXLPanel).codec, CompressionCodec::jpegli);
  EXPECT_EQ(picker->toolTip(), "JPEGli: cjpegli not installed");
}

TEST_F(CodecPanelViewTest, PickingAnotherCodecClearsTheResultAndErrorAndKeepsTheOtherCodecsSettings) {
  CodecPanelView& view = viewOf(jpegXLPanel);
  auto* distance = view.findChild<DistanceSlider*>();
  ASSERT_TRUE(shows(view, distance));
  EXPECT_FALSE(shows(view, slider(view, "Quality")));
  distance->slider()->setValue(DistanceSlider::positionSteps / 2);
  toggle(view, "More Progressive")->click();
  ASSERT_EQ(workspace->panel(jpegXLPanel).distance, 6.25);
  ASSERT_TRUE(workspace->panel(jpegXLPanel).isJPEGXLProgressive);
  giveResult(jpegXLPanel);
  workspace->updatePanel(jpegXLPanel, [](CodecPanel& panel) { panel.errorMessage = "earlier failure"; });
  ASSERT_NE(line(view, "File Size"), nullptr);

  pickCodec(view, CompressionCodec::webP);
  EXPECT_EQ(line(view, "File Size"), nullptr);
  EXPECT_FALSE(shows(view, withText<QLabel>(view, "Failed")));
  EXPECT_FALSE(shows(view, distance));
  ASSERT_TRUE(shows(view, slider(view, "Quality")));
  EXPECT_EQ(toggle(view, "More Progressive"), nullptr);

  pickCodec(view, CompressionCodec::jpegXL);
  ASSERT_TRUE(shows(view, distance));
  EXPECT_DOUBLE_EQ(distance->position(), 0.5);
  EXPECT_TRUE(toggle(view, "More Progressive")->isChecked());
}

TEST_F(CodecPanelViewTest, ControlsWriteTheirFieldsAndTheWebPLosslessLevelOnlyWhileLossless) {
  CodecPanelView& view = viewOf(webPPanel);
  LabeledSlider* level = slider(view, "Lossless Level (-z)");
  ASSERT_TRUE(shows(view, level));
  EXPECT_FALSE(level->isEnabled());
  toggle(view, "Lossless")->click();
  EXPECT_TRUE(workspace->panel(webPPanel).isWebPLossless);
  EXPECT_TRUE(level->isEnabled());
  level->slider()->setValue(9);
  EXPECT_EQ(workspace->panel(webPPanel).webPLosslessLevel, 9);

  CodecPanelView& avif = viewOf(1);
  QComboBox* depth = nullptr;
  for (auto* picker : avif.findChildren<QComboBox*>()) depth = picker->accessibleName() == "Depth" ? picker : depth;
  ASSERT_TRUE(shows(avif, depth));
  depth->setCurrentIndex(3);
  emit depth->activated(3);
  EXPECT_EQ(workspace->panel(1).avifDepth, AVIFDepth::twelve);

  pickCodec(avif, CompressionCodec::jpegli);
  QAbstractButton* levelOne = withText<QToolButton>(avif, "1");
  ASSERT_TRUE(shows(avif, levelOne));
  levelOne->click();
  EXPECT_EQ(workspace->panel(1).progressiveLevel, 1);
  // The distance knob writes the rounded distance and is left where it was put.
  auto* distance = avif.findChild<DistanceSlider*>();
  distance->slider()->setValue(317);   // 0.317^2 x 25 = 2.512... -> 2.5
  EXPECT_DOUBLE_EQ(workspace->panel(1).distance, 2.5);
  EXPECT_EQ(distance->slider()->value(), 317);
}

TEST_F(CodecPanelViewTest, TargetScoreModeShowsTheCaptionAndTheSearchResultInAColourForThePaletteWhenUnreached) {
  CodecPanelView& webP = viewOf(webPPanel);
  CodecPanelView& jpegXL = viewOf(jpegXLPanel);
  giveResult(webPPanel);
  EXPECT_EQ(line(webP, "Search Result"), nullptr);   // manual mode
  EXPECT_TRUE(line(webP, "File Size")->isEmphasized());
  workspace->setRateControlMode(RateControlMode::targetScore);
  EXPECT_FALSE(shows(webP, slider(webP, "Quality")));
  EXPECT_EQ(toggle(webP, "Lossless"), nullptr);
  EXPECT_TRUE(shows(webP, slider(webP, "Encoding Effort")));
  EXPECT_FALSE(shows(jpegXL, jpegXL.findChild<DistanceSlider*>()));
  EXPECT_EQ(toggle(jpegXL, "Lossless JPEG transcode"), nullptr);
  QLabel* caption = withText<QLabel>(jpegXL, "Distance set by target score search");
  ASSERT_TRUE(shows(jpegXL, caption));
  // An unreached target is reported after the found value, in a colour for the palette.
  giveResult(webPPanel, 83.9, 91);
  ASSERT_NE(line(webP, "Search Result"), nullptr);
  EXPECT_TRUE(line(webP, "Search Result")->emphasisColor().isValid());
  giveResult(webPPanel, 84.6, 91);
  EXPECT_FALSE(line(webP, "Search Result")->emphasisColor().isValid());
  giveResult(webPPanel, 80.0, 91);
  webP.setPalette(gui::lightPalette());
  const QColor onLight = line(webP, "Search Result")->emphasisColor();
  webP.setPalette(gui::darkPalette());
  EXPECT_GT(line(webP, "Search Result")->emphasisColor().lightness(), onLight.lightness());
  workspace->setRateControlMode(RateControlMode::manual);
  EXPECT_TRUE(shows(webP, slider(webP, "Quality")));
  EXPECT_FALSE(shows(jpegXL, caption));
}

TEST_F(CodecPanelViewTest, TranscodeIsOnlyForAJPEGSourceAndDimsTheDistanceAndProgressiveControls) {
  load(writeImage("photo.png"));
  CodecPanelView& other = viewOf(jpegXLPanel);
  ASSERT_NE(toggle(other, "Lossless JPEG transcode"), nullptr);
  EXPECT_FALSE(toggle(other, "Lossless JPEG transcode")->isEnabled());

  load(writeImage("photo.jpg"));
  CodecPanelView& view = viewOf(jpegXLPanel);
  auto* distance = view.findChild<DistanceSlider*>();
  QCheckBox* progressive = toggle(view, "More Progressive");
  EXPECT_EQ(opacityOf(distance), 1.0);
  QCheckBox* transcode = toggle(view, "Lossless JPEG transcode");
  ASSERT_TRUE(transcode->isEnabled());
  transcode->click();
  EXPECT_TRUE(workspace->panel(jpegXLPanel).isJPEGLosslessTranscode);
  EXPECT_LT(opacityOf(distance), 1.0);
  EXPECT_LT(opacityOf(progressive->parentWidget()), 1.0);
  EXPECT_TRUE(distance->isEnabled());   // it still drives a non-JPEG source's encode
  pickCodec(view, CompressionCodec::jpegli);   // the codec change switches transcode off
  EXPECT_EQ(opacityOf(distance), 1.0);
}

TEST_F(CodecPanelViewTest, AFailureShowsTheErrorUnderFailedAndAResultExportsAndShowsItsMetadata) {
  load(writeImage("photo.png"));
  CodecPanelView& view = viewOf(webPPanel);
  EXPECT_FALSE(shows(view, withText<QLabel>(view, "Failed")));
  const auto error = CompressionError::missingTool("cwebp");
  failAndApply(startRun(webPPanel), error);
  EXPECT_TRUE(shows(view, withText<QLabel>(view, "Failed")));
  EXPECT_TRUE(shows(view, withText<QLabel>(view, QString::fromStdString(error.message()))));
  EXPECT_EQ(line(view, "File Size"), nullptr);
  EXPECT_FALSE(shows(view, withText<QToolButton>(view, "Export")));

  finishAndApply(startRun(webPPanel), 90.0, 1234);
  ASSERT_TRUE(workspace->panel(webPPanel).result.has_value());
  const auto destination = scratch / "exported.webp";
  QString offeredName, offeredFilter;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    offeredName = dialog->selectedFiles().value(0);
    offeredFilter = dialog->nameFilters().value(0);
    dialog->selectFile(QString::fromStdString(destination.string()));
    static_cast<QDialog*>(dialog)->accept();   // the file dialog checks the chosen name
  });
  withText<QToolButton>(view, "Export", true)->click();
  EXPECT_TRUE(offeredName.endsWith(
      QString::fromStdString(workspace->panel(webPPanel).result->encodedURL.filename().string())));
  EXPECT_TRUE(offeredFilter.contains("*.webp")) << offeredFilter.toStdString();
  EXPECT_TRUE(exists(destination));

  std::vector<EncodedMetadataInspection> inspections;
  workspace->setMetadataPresenter([&](const EncodedMetadataInspection& shown) { inspections.push_back(shown); });
  QToolButton* metadata = nullptr;
  for (auto* button : view.findChildren<QToolButton*>()) {
    if (button->toolTip() == "Show ExifTool metadata") metadata = button;
  }
  ASSERT_TRUE(shows(view, metadata));
  metadata->click();
  ASSERT_TRUE(quiesce());
  ASSERT_EQ(inspections.size(), 1u);
  EXPECT_EQ(inspections[0].title, "WebP Metadata");
}

// ---- The companion widgets on their own

TEST(DistanceSliderTest, PositionsTextsAndOnlyUserMovesReported) {
  DistanceSlider slider;
  std::vector<double> edits;
  QObject::connect(&slider, &DistanceSlider::distanceEdited, [&](double d) { edits.push_back(d); });
  slider.setDistance(40.0, CompressionCodec::jpegXL);   // beyond the slider: knob at the end, value as stored
  EXPECT_EQ(slider.position(), 1.0);
  EXPECT_EQ(slider.valueText(), "40.0");
  EXPECT_TRUE(edits.empty());   // setting is not editing
  slider.slider()->triggerAction(QAbstractSlider::SliderToMaximum);   // the knob is there already
  EXPECT_EQ(edits, std::vector<double>{25.0});

  LabeledSlider effort("Encoding Effort", {0, 6});
  std::vector<int> efforts;
  QObject::connect(&effort, &LabeledSlider::valueEdited, [&](int value) { efforts.push_back(value); });
  effort.setValue(7);   // a JPEG XL effort shown on the WebP range
  EXPECT_EQ(effort.valueText(), "7");
  EXPECT_EQ(effort.slider()->value(), 6);
  effort.slider()->triggerAction(QAbstractSlider::SliderToMaximum);   // the knob is there already
  EXPECT_EQ(efforts, std::vector<int>{6});
  EXPECT_EQ(effort.valueText(), "6");
  efforts.clear();
  effort.setValue(7);
  effort.setRange({1, 10});
  EXPECT_EQ(effort.slider()->value(), 7);
  EXPECT_TRUE(efforts.empty());
}

}  // namespace
}  // namespace quorlin::test
