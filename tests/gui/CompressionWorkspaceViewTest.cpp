// The workspace view over a real workspace and the fake engine: what it shows
// before and after a source, how its controls write the model and follow it,
// drops, the load-error alert, the zoom bar, activation and where the four
// panel views sit.
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QScrollArea>
#include <QSlider>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cmath>

#include "GuiTestSupport.h"
#include "gui/comparison/FourWayComparisonImageView.h"
#include "gui/comparison/KeyboardShortcutMonitor.h"
#include "gui/workspace/CodecPanelView.h"
#include "gui/workspace/CompressionWorkspaceView.h"
#include "gui/widgets/PaletteTextLabel.h"
#include "gui/widgets/SegmentedPicker.h"
#include "gui/widgets/ActivityIndicator.h"
#include "gui/workspace/SourceInfoButton.h"
#include "gui/workspace/EmptyWorkspaceState.h"
#include "support/WorkspaceFixture.h"

namespace quorlin::test {
namespace {

namespace fs = std::filesystem;
using namespace gui;

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
  EXPECT_TRUE(empty->isVisible());
  EXPECT_FALSE(canvas()->isVisible());
  // The line is longer than its measure, so it wraps instead of being cut.
  const PaletteTextLabel& detail = empty->detail();
  ASSERT_GT(detail.fontMetrics().horizontalAdvance(detail.text()), detail.width());
  EXPECT_GE(detail.height(), 2 * detail.fontMetrics().height());
  EXPECT_FALSE(generateButton()->isEnabled());
  EXPECT_FALSE(sourceButton()->isVisible());

  load(writeImage("harbour.png", 400, 300));
  EXPECT_TRUE(sourceButton()->isVisible());
  EXPECT_TRUE(sourceButton()->summaryLabel().text().startsWith("400 x 300 px"));
  EXPECT_TRUE(canvas()->isVisible());
  EXPECT_FALSE(empty->isVisible());
  EXPECT_TRUE(generateButton()->isEnabled());
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
  EXPECT_EQ(generateButton()->text(), "Stop");
  EXPECT_EQ(child<ActivityIndicator>("activityIndicator")->opacity(), 1.0);
  QTest::keyClick(view.get(), Qt::Key_Escape);
  ASSERT_TRUE(waitUntil([&] { return !workspace->isRunning(); }));
  EXPECT_EQ(statusText(), "Stopped.");
  EXPECT_EQ(generateButton()->text(), "Generate");
  EXPECT_EQ(child<ActivityIndicator>("activityIndicator")->opacity(), 0.0);
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
  EXPECT_EQ(child<QLabel>("targetValue")->text(), "85");
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

TEST_F(CompressionWorkspaceViewTest, DropsOfFilesLoadThemOtherItemsAlertAndDragsWithoutURLsAreRefused) {
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
  EXPECT_EQ(statusText(), "Loaded dropped.png.");
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
}

TEST_F(CompressionWorkspaceViewTest, AnUnreadableFileShowsTheAlertKeepsTheSourceAndOKDismissesIt) {
  showView();
  load(writeImage("kept.png", 40, 30));
  fs::path notes = scratch / "notes.png";
  writeTextFile(notes, "not an image at all");
  load(notes);
  QMessageBox* box = alert();
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isVisible());
  EXPECT_TRUE(box->informativeText().contains("notes.png")) << box->informativeText().toStdString();
  EXPECT_EQ(sourceButton()->nameLabel().text(), "kept.png");
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

TEST_F(CompressionWorkspaceViewTest, TheKeyboardMonitorHandlersAndTheCanvasFollowActivation) {
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
}

// ---- Panels and metadata ----

TEST_F(CompressionWorkspaceViewTest, ThePanelViewsMirrorTheirQuadrants) {
  showView();
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

}  // namespace
}  // namespace quorlin::test
