// The interactive comparison view: split drag and click, hover, the commands
// it registers, the percent it writes back, and its labels, cross and badge
// as they are painted.
#include <QApplication>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

#include "GuiTestSupport.h"
#include "gui/comparison/ComparisonOverlayWidget.h"
#include "gui/comparison/FourWayComparisonImageView.h"

namespace quorlin::test {
namespace {

using namespace gui;

constexpr int generousMilliseconds = 10000;

// Pictures of one colour; panels 0 to 2 show results (panel 2's made with
// other settings) when `withResults`.
FourWayComparisonValues activeValues(int width, int height, QColor colour = QColor(90, 90, 90), bool withResults = false) {
  FourWayComparisonValues values;
  values.sourceImage = solidPicture(width, height, colour);
  values.panels = panelsShowing(withResults ? std::vector<std::optional<DisplayImage>>{values.sourceImage, values.sourceImage,
                                                                                       values.sourceImage, std::nullopt}
                                            : std::vector<std::optional<DisplayImage>>{});
  if (withResults) values.panels[2].result->settingsSignature = "made with other settings";
  values.isActive = true;
  return values;
}
// White pictures, so each label's background shows as its colour over white.
FourWayComparisonValues labelledValues() { return activeValues(400, 300, Qt::white, true); }

class FourWayComparisonImageViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QObject::connect(view.get(), &FourWayComparisonImageView::viewStateChanged, [this](const ComparisonViewState& state) {
      reported.push_back(state);
      owner.viewState = state;
    });
    QObject::connect(view.get(), &FourWayComparisonImageView::displayedImageScalePercentChanged, [this](int percent) {
      percents.push_back(percent);
      owner.displayedImageScalePercent = percent;
    });
    view->resize(400, 300);
  }

  // Hands `values` to the view and shows it.
  void show(const FourWayComparisonValues& values) {
    give(values);
    view->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
  }
  void give(const FourWayComparisonValues& values) {
    owner = values;
    view->setValues(owner);
  }
  // The owner's values changed by `change`, handed back.
  void change(const std::function<void(FourWayComparisonValues&)>& edit) {
    FourWayComparisonValues values = owner;
    edit(values);
    give(values);
  }

  void hover(QPointF location, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QMouseEvent move(QEvent::MouseMove, location, view->mapToGlobal(location), Qt::NoButton, Qt::NoButton, modifiers);
    QApplication::sendEvent(view.get(), &move);
  }
  bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, generousMilliseconds); }

  ComparisonViewState last() const { return reported.empty() ? ComparisonViewState{} : reported.back(); }

  KeyboardCommandRegistry registry;   // outlives the view
  std::unique_ptr<FourWayComparisonImageView> view = std::make_unique<FourWayComparisonImageView>(registry);
  FourWayComparisonValues owner;
  std::vector<ComparisonViewState> reported;
  std::vector<int> percents;
};

// ---- Split ----

TEST_F(FourWayComparisonImageViewTest, DraggingMovesTheSplitAndStaysOnePointInside) {
  show(activeValues(400, 300));
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
  show(activeValues(200, 100));
  QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(100, 10));
  EXPECT_DOUBLE_EQ(last().comparisonY, 50.0 / 300);
  EXPECT_DOUBLE_EQ(view->overlay().handleFrame().center().y(), 50);   // drawn where it was put
  reported.clear();
  change([](auto& values) { values.viewState.comparisonY = 0.1; });   // y 30, above the picture; left alone while zoom and pan stay
  EXPECT_TRUE(reported.empty());
  // At zoom 0.5 the picture spans (100..300, 100..200).
  change([](auto& values) { values.viewState.zoom = 0.5; });
  ASSERT_FALSE(reported.empty());
  EXPECT_DOUBLE_EQ(last().comparisonY, 100.0 / 300);
}

// ---- Commands and the percent ----

TEST_F(FourWayComparisonImageViewTest, ActiveViewRegistersCommandsThatZoomAndReportThePercentLater) {
  show(activeValues(800, 600));   // fit 0.5
  EXPECT_TRUE(waitFor([&] { return owner.displayedImageScalePercent == 50; }));
  ASSERT_TRUE(registry.zoomIn);
  percents.clear();
  registry.zoomIn();
  EXPECT_DOUBLE_EQ(last().zoom, std::sqrt(2.0));
  EXPECT_TRUE(percents.empty());   // written in a later main-thread task
  EXPECT_TRUE(waitFor([&] { return !percents.empty(); }));
  EXPECT_EQ(percents, std::vector<int>{71});
  registry.zoomActualSize();
  EXPECT_DOUBLE_EQ(last().zoom, 2.0);
  EXPECT_TRUE(waitFor([&] { return owner.displayedImageScalePercent == 100; }));
}

TEST_F(FourWayComparisonImageViewTest, CommandsAreRegisteredAgainOnTokenShowAndResizeOnlyWhileActive) {
  show(activeValues(400, 300));
  registry.zoomIn = nullptr;
  change([](auto& values) { values.commandToken = 1; });
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
  change([](auto& values) { values.isActive = false; });
  EXPECT_FALSE(registry.isPointerOverComparison);
  EXPECT_FALSE(registry.lastPointerLocation);
  registry.resetImage = nullptr;
  change([](auto& values) { values.commandToken = 2; });
  view->resize(400, 300);
  QCoreApplication::processEvents();
  EXPECT_FALSE(registry.resetImage);
}

TEST_F(FourWayComparisonImageViewTest, HandlersOfAGoneViewDoNothing) {
  show(activeValues(400, 300));
  hover({10, 10});
  view.reset();
  EXPECT_FALSE(registry.isPointerOverComparison);
  registry.zoomIn();
  registry.scrollPan(10, 10);
  EXPECT_TRUE(reported.empty());
}

// ---- Hover, scroll zoom and pan ----

TEST_F(FourWayComparisonImageViewTest, HoverTellsTheRegistryWhereThePointerIsAndCtrlHoverPans) {
  FourWayComparisonValues values = activeValues(400, 300);
  values.viewState.zoom = 2.0;   // maximum pan (200, 150)
  show(values);
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
  change([](auto& inactive) { inactive.isActive = false; });
  hover({100, 80}, Qt::ControlModifier);
  EXPECT_FALSE(registry.isPointerOverComparison);
  EXPECT_TRUE(reported.empty());
}

TEST_F(FourWayComparisonImageViewTest, ScrollZoomKeepsThePointedPartAndScrollPanStopsAtTheEdge) {
  show(activeValues(400, 300));
  hover({100, 75});
  registry.optionScrollZoom(100);   // × 1.35
  EXPECT_DOUBLE_EQ(last().zoom, 1.35);
  EXPECT_NEAR(last().panOffset.width, 35, 1e-9);   // around the pointer
  change([](auto& values) {
    values.viewState.zoom = 2.0;
    values.viewState.panOffset = {};
  });
  registry.scrollPan(30, -500);
  EXPECT_EQ(last().panOffset, (SizeF{30, -150}));
}

// ---- Labels, cross, badge ----

TEST_F(FourWayComparisonImageViewTest, LabelsNameEachQuadrantWithTheirBackgroundsAndTheDifferenceBadge) {
  show(labelledValues());
  EXPECT_EQ(view->quadrantLabels()[2].text, "3  WebP - Needs Regeneration");
  QImage picture = view->grab().toImage();
  const ComparisonOverlayWidget& overlay = view->overlay();
  for (int quadrant = 0; quadrant < 4; ++quadrant) {
    SCOPED_TRACE(quadrant);
    QRectF frame = overlay.labelFrame(quadrant);
    // Black at 58 % over white: 255 × 0.42; red at 76 %: (255, 255 × 0.24, 255 × 0.24).
    QColor expected = quadrant == 2 ? QColor(255, 61, 61) : QColor(107, 107, 107);
    // The padding on the side of the split (a long label may reach past the view's far edge).
    bool isLeft = quadrant == 0 || quadrant == 2;
    QPoint padding(int(isLeft ? frame.right() - 3 : frame.left() + 3), int(frame.center().y()));
    EXPECT_TRUE(isNear(picture.pixelColor(padding), expected, 3));
    // White text inside the padding.
    QRect inner = frame.adjusted(8, 4, -8, -4).toRect().intersected(picture.rect());
    int textPixels = 0;
    for (int y = inner.top(); y <= inner.bottom(); ++y) {
      for (int x = inner.left(); x <= inner.right(); ++x) textPixels += picture.pixelColor(x, y).green() > 200;
    }
    EXPECT_GT(textPixels, 20);
  }
  EXPECT_DOUBLE_EQ(overlay.labelFrame(3).left(), 212);   // 12 points from the split

  change([](auto& values) {
    values.isShowingDifference = true;
    values.differenceGain = 8;
  });
  EXPECT_EQ(view->quadrantLabels()[0].text, "1  Difference \u00D78");
  EXPECT_EQ(overlay.content().badgeText, std::optional<std::string>("Difference \u00D78"));
  QRectF badge = overlay.badgeFrame();
  EXPECT_DOUBLE_EQ(badge.center().x(), 200);
  EXPECT_DOUBLE_EQ(badge.bottom(), 300 - 16);
  change([](auto& values) { values.isShowingDifference = false; });
  EXPECT_TRUE(overlay.badgeFrame().isEmpty());
}

TEST_F(FourWayComparisonImageViewTest, TheCrossIsDashedAcrossTheWholeView) {
  show(labelledValues());
  QImage picture = view->grab().toImage();
  auto red = [&](int x, int y) { return picture.pixelColor(x, y).red(); };
  // The vertical line at x 200 (the handle covers y 134..166): 3 on, 3 off,
  // black at 62 % over white (97).
  int dark = 0;
  for (int y = 0; y < 12; ++y) dark += red(200, y) < 130;
  EXPECT_EQ(dark, 6);
  EXPECT_TRUE(isNear(picture.pixelColor(200, 1), QColor(97, 97, 97), 4));
  // The horizontal line at y 150 reaches both view edges.
  EXPECT_LT(std::min(red(1, 150), red(4, 150)), 130);
  EXPECT_LT(std::min(red(398, 150), red(395, 150)), 130);

  // On a black picture the light outline carries the cross, dashes and gaps alike.
  give(activeValues(400, 300, Qt::black, true));
  picture = view->grab().toImage();
  for (int y = 0; y < 12; ++y) EXPECT_GT(std::max({red(199, y), red(200, y), red(201, y)}), 100) << y;
  EXPECT_LT(red(190, 20), 5);   // away from the cross the picture is untouched
}

TEST_F(FourWayComparisonImageViewTest, LabelsFadeAfterADragUnlessAModeHoldsThemUp) {
  show(labelledValues());
  EXPECT_DOUBLE_EQ(view->labelOpacity(), 1.0);
  QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(150, 100));
  EXPECT_TRUE(waitFor([&] { return view->labelOpacity() == 0.0; }));
  EXPECT_EQ(view->overlay().content().labelOpacity, 0.0);
  // Only the warning of a stale result stays: its red box, not the others' grey.
  QImage faded = view->grab().toImage();
  auto paddingOf = [&](int quadrant) {
    const QRectF frame = view->overlay().labelFrame(quadrant);
    return faded.pixelColor(int(frame.right()) - 3, int(frame.center().y()));
  };
  EXPECT_TRUE(isNear(paddingOf(2), QColor(255, 61, 61), 3));
  EXPECT_TRUE(isNear(paddingOf(0), Qt::white, 3));

  // A drag brings them back.
  QTest::mouseClick(view.get(), Qt::LeftButton, {}, QPoint(160, 100));
  EXPECT_TRUE(waitFor([&] { return view->labelOpacity() == 1.0; }));
  // While the difference shows they stay, even after the fade has run out.
  change([](auto& values) { values.isShowingDifference = true; });
  EXPECT_TRUE(waitFor([&] { return !view->hasPendingLabelFade(); }));
  QCoreApplication::processEvents();
  EXPECT_DOUBLE_EQ(view->labelOpacity(), 1.0);
  change([](auto& values) { values.isShowingDifference = false; });
  EXPECT_TRUE(waitFor([&] { return view->labelOpacity() == 0.0; }));
}

}  // namespace
}  // namespace quorlin::test
