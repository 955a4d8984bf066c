// The interactive comparison view: split drag and click, hover, the commands
// it registers, the percent it writes back, and its labels, cross and badge
// as they are painted.
#include <QApplication>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "GuiTestSupport.h"
#include "gui/comparison/ComparisonOverlayWidget.h"
#include "gui/comparison/FourWayComparisonImageView.h"

namespace quorlin::test {
namespace {

using namespace gui;

constexpr int generousMilliseconds = 10000;

class FourWayComparisonImageViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QObject::connect(view.get(), &FourWayComparisonImageView::viewStateChanged,
                     [this](const ComparisonViewState& state) {
                       reported.push_back(state);
                       owner.viewState = state;
                     });
    QObject::connect(view.get(), &FourWayComparisonImageView::displayedImageScalePercentChanged, [this](int percent) {
      percents.push_back(percent);
      owner.displayedImageScalePercent = percent;
    });
    view->resize(400, 300);
  }

  void showView() {
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
  }

  void give(const FourWayComparisonValues& values) {
    owner = values;
    view->setValues(owner);
  }

  // An active view of a source of the given size (results: none).
  FourWayComparisonValues activeWithSource(int width, int height, QColor colour = QColor(90, 90, 90)) {
    FourWayComparisonValues values;
    values.sourceImage = solidPicture(width, height, colour);
    values.panels = panelsShowing({});
    values.isActive = true;
    return values;
  }

  void hover(QPointF location, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent move(QEvent::MouseMove, location, view->mapToGlobal(location), Qt::NoButton, Qt::NoButton, modifiers);
    QApplication::sendEvent(view.get(), &move);
  }

  ComparisonViewState last() const { return reported.empty() ? ComparisonViewState{} : reported.back(); }

  KeyboardCommandRegistry registry;   // outlives the view
  std::unique_ptr<FourWayComparisonImageView> view = std::make_unique<FourWayComparisonImageView>(registry);
  FourWayComparisonValues owner;
  std::vector<ComparisonViewState> reported;
  std::vector<int> percents;
};

// ---- Split ----

TEST_F(FourWayComparisonImageViewTest, DraggingMovesTheSplitAndStaysOnePointInside) {
  give(activeWithSource(400, 300));
  showView();
  QTest::mousePress(view.get(), Qt::LeftButton, {}, QPoint(100, 60));
  EXPECT_DOUBLE_EQ(last().comparisonX, 0.25);
  EXPECT_DOUBLE_EQ(last().comparisonY, 0.2);
  // Released beyond the view: the split stops one point inside its edge.
  QTest::mouseRelease(view.get(), Qt::LeftButton, {}, QPoint(-50, 500));
  EXPECT_DOUBLE_EQ(last().comparisonX, 1.0 / 400);
  EXPECT_DOUBLE_EQ(last().comparisonY, 299.0 / 300);
  EXPECT_DOUBLE_EQ(owner.viewState.comparisonX, 1.0 / 400);
}

TEST_F(FourWayComparisonImageViewTest, AClickOrTheOwnersZoomOutKeepsTheSplitOnThePicture) {
  // A 200 × 100 source fits at 2: the picture spans y 50..250.
  FourWayComparisonValues values = activeWithSource(200, 100);
  give(values);
  showView();
  QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(100, 10));
  EXPECT_DOUBLE_EQ(last().comparisonY, 50.0 / 300);
  EXPECT_DOUBLE_EQ(view->overlay().handleFrame().center().y(), 50);   // drawn where it was put
  reported.clear();
  values = owner;
  values.viewState.comparisonY = 0.1;   // y 30, above the picture; left alone while zoom and pan stay
  give(values);
  EXPECT_TRUE(reported.empty());
  // At zoom 0.5 the picture spans (100..300, 100..200).
  values = owner;
  values.viewState.zoom = 0.5;
  give(values);
  ASSERT_FALSE(reported.empty());
  EXPECT_DOUBLE_EQ(last().comparisonY, 100.0 / 300);
}

// ---- Commands and the percent ----

TEST_F(FourWayComparisonImageViewTest, ActiveViewRegistersCommandsThatZoomAndReportThePercentLater) {
  give(activeWithSource(800, 600));   // fit 0.5
  showView();
  EXPECT_TRUE(QTest::qWaitFor([&] { return owner.displayedImageScalePercent == 50; }, generousMilliseconds));
  ASSERT_TRUE(registry.zoomIn);
  percents.clear();
  registry.zoomIn();
  EXPECT_DOUBLE_EQ(last().zoom, std::sqrt(2.0));
  EXPECT_TRUE(percents.empty());   // written in a later main-thread task
  EXPECT_TRUE(QTest::qWaitFor([&] { return !percents.empty(); }, generousMilliseconds));
  EXPECT_EQ(percents, std::vector<int>{71});
  registry.zoomActualSize();
  EXPECT_DOUBLE_EQ(last().zoom, 2.0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return owner.displayedImageScalePercent == 100; }, generousMilliseconds));
}

TEST_F(FourWayComparisonImageViewTest, CommandsAreRegisteredAgainOnTokenShowAndResizeOnlyWhileActive) {
  FourWayComparisonValues values = activeWithSource(400, 300);
  give(values);
  showView();
  registry.zoomIn = nullptr;
  values.commandToken = 1;
  give(values);
  EXPECT_TRUE(registry.zoomIn);

  registry.zoomOut = nullptr;
  view->resize(420, 300);
  QCoreApplication::processEvents();
  EXPECT_TRUE(registry.zoomOut);

  registry.scrollPan = nullptr;
  view->hide();
  view->show();
  EXPECT_TRUE(registry.scrollPan);

  // Inactive: the pointer state goes and nothing registers any more.
  registry.isPointerOverComparison = true;
  registry.lastPointerLocation = PointF{5, 5};
  values.isActive = false;
  give(values);
  EXPECT_FALSE(registry.isPointerOverComparison);
  EXPECT_FALSE(registry.lastPointerLocation);
  registry.resetImage = nullptr;
  values.commandToken = 2;
  give(values);
  view->resize(400, 300);
  QCoreApplication::processEvents();
  EXPECT_FALSE(registry.resetImage);
}

TEST_F(FourWayComparisonImageViewTest, HandlersOfAGoneViewDoNothing) {
  give(activeWithSource(400, 300));
  showView();
  hover({10, 10});
  view.reset();
  EXPECT_FALSE(registry.isPointerOverComparison);
  registry.zoomIn();
  registry.scrollPan(10, 10);
  EXPECT_TRUE(reported.empty());
}

// ---- Hover, scroll zoom and pan ----

TEST_F(FourWayComparisonImageViewTest, HoverTellsTheRegistryWhereThePointerIsAndCtrlHoverPans) {
  FourWayComparisonValues values = activeWithSource(400, 300);
  values.viewState.zoom = 2.0;   // maximum pan (200, 150)
  give(values);
  showView();
  hover({100, 80});   // without Ctrl: no pan
  EXPECT_TRUE(reported.empty());
  EXPECT_TRUE(registry.isPointerOverComparison);
  EXPECT_EQ(registry.lastPointerLocation, (PointF{100, 80}));
  hover({0, 150}, Qt::ControlModifier);
  EXPECT_EQ(last().panOffset, (SizeF{200, 0}));   // the picture's left edge at the view's left edge
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(view.get(), &leave);
  EXPECT_FALSE(registry.isPointerOverComparison);
  EXPECT_FALSE(registry.lastPointerLocation);

  reported.clear();
  FourWayComparisonValues inactive = owner;
  inactive.isActive = false;
  give(inactive);
  hover({100, 80}, Qt::ControlModifier);
  EXPECT_FALSE(registry.isPointerOverComparison);
  EXPECT_TRUE(reported.empty());
}

TEST_F(FourWayComparisonImageViewTest, ScrollZoomKeepsThePointedPartAndScrollPanStopsAtTheEdge) {
  give(activeWithSource(400, 300));
  showView();
  hover({100, 75});
  registry.optionScrollZoom(100);   // × 1.35
  EXPECT_DOUBLE_EQ(last().zoom, 1.35);
  EXPECT_NEAR(last().panOffset.width, 35, 1e-9);   // around the pointer

  FourWayComparisonValues values = owner;
  values.viewState.zoom = 2.0;
  values.viewState.panOffset = {};
  give(values);
  registry.scrollPan(30, -500);
  EXPECT_EQ(last().panOffset, (SizeF{30, -150}));
}

// ---- Labels, cross, badge ----

// White pictures, so each label's background shows as its colour over white.
FourWayComparisonValues labelledValues() {
  FourWayComparisonValues values;
  DisplayImage white = solidPicture(400, 300, Qt::white);
  values.sourceImage = white;
  values.panels = panelsShowing({white, white, white, std::nullopt});
  values.panels[2].result->settingsSignature = "made with other settings";
  values.isActive = true;
  return values;
}

TEST_F(FourWayComparisonImageViewTest, LabelsNameEachQuadrantWithTheirBackgrounds) {
  give(labelledValues());
  showView();
  EXPECT_EQ(view->quadrantLabels()[2].text, "3  WebP - Needs Regeneration");
  QImage picture = view->grab().toImage();
  const ComparisonOverlayWidget& overlay = view->overlay();
  // Black at 58 % over white: 255 × 0.42; red at 76 %: (255, 255 × 0.24, 255 × 0.24).
  const QColor normalOverWhite(107, 107, 107);
  const QColor staleOverWhite(255, 61, 61);
  for (int quadrant = 0; quadrant < 4; ++quadrant) {
    QRectF frame = overlay.labelFrame(quadrant);
    QColor expected = quadrant == 2 ? staleOverWhite : normalOverWhite;
    // The padding on the side of the split (a long label may reach past the view's far edge).
    bool isLeft = quadrant == 0 || quadrant == 2;
    QPoint padding(static_cast<int>(isLeft ? frame.right() - 3 : frame.left() + 3),
                   static_cast<int>(frame.center().y()));
    EXPECT_TRUE(isNear(picture.pixelColor(padding), expected, 3)) << "label " << quadrant;
    // White text inside the padding.
    QRect inner = frame.adjusted(8, 4, -8, -4).toRect().intersected(picture.rect());
    int textPixels = 0;
    for (int y = inner.top(); y <= inner.bottom(); ++y) {
      for (int x = inner.left(); x <= inner.right(); ++x) textPixels += picture.pixelColor(x, y).green() > 200;
    }
    EXPECT_GT(textPixels, 20) << "label " << quadrant;
  }
  EXPECT_DOUBLE_EQ(overlay.labelFrame(3).left(), 212);   // 12 points from the split
}

TEST_F(FourWayComparisonImageViewTest, TheCrossIsDashedAcrossTheWholeView) {
  give(labelledValues());
  showView();
  QImage picture = view->grab().toImage();
  // The vertical line at x 200 (the handle covers y 134..166): 3 on, 3 off,
  // black at 62 % over white (97).
  int dark = 0;
  for (int y = 0; y < 12; ++y) dark += picture.pixelColor(200, y).red() < 130;
  EXPECT_EQ(dark, 6);
  EXPECT_TRUE(isNear(picture.pixelColor(200, 1), QColor(97, 97, 97), 4));
  // The horizontal line at y 150 reaches both view edges.
  EXPECT_LT(std::min(picture.pixelColor(1, 150).red(), picture.pixelColor(4, 150).red()), 130);
  EXPECT_LT(std::min(picture.pixelColor(398, 150).red(), picture.pixelColor(395, 150).red()), 130);

  // On a black picture the light outline carries the cross, dashes and gaps alike.
  FourWayComparisonValues onBlack = labelledValues();
  onBlack.sourceImage = solidPicture(400, 300, Qt::black);
  onBlack.panels = panelsShowing({onBlack.sourceImage, onBlack.sourceImage, onBlack.sourceImage, std::nullopt});
  give(onBlack);
  picture = view->grab().toImage();
  for (int y = 0; y < 12; ++y) {
    EXPECT_GT(std::max({picture.pixelColor(199, y).red(), picture.pixelColor(200, y).red(),
                        picture.pixelColor(201, y).red()}),
              100)
        << y;
  }
  EXPECT_LT(picture.pixelColor(190, 20).red(), 5);   // away from the cross the picture is untouched
}

TEST_F(FourWayComparisonImageViewTest, DifferenceShowsTheBadgeAndRelabelsResults) {
  FourWayComparisonValues values = labelledValues();
  values.isShowingDifference = true;
  values.differenceGain = 8;
  give(values);
  showView();
  EXPECT_EQ(view->quadrantLabels()[0].text, "1  Difference \u00D78");
  ASSERT_TRUE(view->overlay().content().badgeText);
  EXPECT_EQ(*view->overlay().content().badgeText, "Difference \u00D78");
  QRectF badge = view->overlay().badgeFrame();
  EXPECT_DOUBLE_EQ(badge.center().x(), 200);
  EXPECT_DOUBLE_EQ(badge.bottom(), 300 - 16);

  values.isShowingDifference = false;
  give(values);
  EXPECT_TRUE(view->overlay().badgeFrame().isEmpty());
}

TEST_F(FourWayComparisonImageViewTest, LabelsFadeAfterADragUnlessAModeHoldsThemUp) {
  give(labelledValues());
  showView();
  EXPECT_DOUBLE_EQ(view->labelOpacity(), 1.0);
  QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(150, 100));
  EXPECT_TRUE(QTest::qWaitFor([&] { return view->labelOpacity() == 0.0; }, generousMilliseconds));
  EXPECT_EQ(view->overlay().content().labelOpacity, 0.0);
  // Only the warning of a stale result stays: its red box, not the others' grey.
  QImage faded = view->grab().toImage();
  const QRectF stale = view->overlay().labelFrame(2);
  const QRectF current = view->overlay().labelFrame(0);
  EXPECT_TRUE(isNear(faded.pixelColor(int(stale.right()) - 3, int(stale.center().y())), QColor(255, 61, 61), 3));
  EXPECT_TRUE(isNear(faded.pixelColor(int(current.right()) - 3, int(current.center().y())), Qt::white, 3));

  // A drag brings them back.
  QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(160, 100));
  EXPECT_TRUE(QTest::qWaitFor([&] { return view->labelOpacity() == 1.0; }, generousMilliseconds));

  // While the difference shows they stay, even after the fade has run out.
  FourWayComparisonValues values = owner;
  values.isShowingDifference = true;
  give(values);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !view->hasPendingLabelFade(); }, generousMilliseconds));
  QCoreApplication::processEvents();
  EXPECT_DOUBLE_EQ(view->labelOpacity(), 1.0);
  values.isShowingDifference = false;
  give(values);
  EXPECT_TRUE(QTest::qWaitFor([&] { return view->labelOpacity() == 0.0; }, generousMilliseconds));
}

}  // namespace
}  // namespace quorlin::test
