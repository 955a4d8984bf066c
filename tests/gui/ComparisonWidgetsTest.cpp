// The comparison widgets: the canvas as painted, the interactive view over
// it, and the keyboard and pointer layer.
#include "GuiTestSupport.h"
#include "gui/comparison/CanvasMagnification.h"
#include "gui/comparison/ComparisonOverlayWidget.h"
#include "gui/comparison/FourWayCanvasWidget.h"
#include "gui/comparison/FourWayComparisonImageView.h"
#include "gui/comparison/KeyboardShortcutMonitor.h"

namespace quorlin::test {
namespace {

using namespace gui;
using namespace std::chrono_literals;

// The canvas widget as a user sees it: grabs of the painted widget, sampled at
// points whose colour follows from the layout rules worked out by hand.
const QColor sourceGrey(128, 128, 128), red(220, 40, 40), green(40, 200, 60), blue(30, 60, 220), yellow(230, 210, 30);
const QColor black(0, 0, 0), white(255, 255, 255);
// The checkerboard's two greys: white levels 0.78 and 0.9.
const QColor darkerSquare(199, 199, 199), lighterSquare(230, 230, 230);

// Counts renderings and hands them to the real rasteriser.
class CountingRasterizer : public CanvasRasterizer {
 public:
  std::shared_ptr<const RasterizedImage> rasterize(const DecodedImage& image, std::optional<double> contentHeadroom,
                                                   double displayHeadroom) override {
    ++normalCount;
    return real_.rasterize(image, contentHeadroom, displayHeadroom);
  }
  std::shared_ptr<const RasterizedImage> rasterizeDifference(const DecodedImage& source, const DecodedImage& comparison,
                                                             int gain, double displayHeadroom) override {
    ++differenceCount;
    return real_.rasterizeDifference(source, comparison, gain, displayHeadroom);
  }
  int normalCount = 0;
  int differenceCount = 0;

 private:
  ImageRasterizer real_;
};

// `colours` drawn by `paint` (source first, then the results) at `width` × `height`.
template <typename Paint>
FourWayImageCanvas picturesOf(std::initializer_list<QColor> colours, int width, int height, Paint paint) {
  FourWayImageCanvas values;
  for (QColor colour : colours) {
    DisplayImage picture = makePicture(width, height, false, [&](int x, int y) { return paint(colour, x, y); });
    if (!values.sourceImage) values.sourceImage = picture;
    else values.panelImages.push_back(picture);
  }
  return values;
}
// Four solid results over a grey source, all the view's size.
FourWayImageCanvas fourSolidResults() {
  return picturesOf({sourceGrey, red, green, blue, yellow}, 400, 300, [](QColor colour, int, int) { return colour; });
}

class FourWayCanvasWidgetTest : public ::testing::Test {
 protected:
  void SetUp() override { showAt(400, 300); }

  void showAt(int width, int height) {
    canvas->resize(width, height);
    canvas->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(canvas.get()));
  }
  void set(const FourWayImageCanvas& values) {
    canvas->setValues(values);
    grabbed = QImage();
  }
  QColor pixel(int x, int y) {
    if (grabbed.isNull()) grabbed = canvas->grab().toImage();
    return grabbed.pixelColor(x, y);
  }
  // Every sample's pixel is within `tolerance` of its colour.
  void expectPixels(std::initializer_list<std::pair<QPoint, QColor>> samples, int tolerance = 2) {
    for (const auto& [point, colour] : samples) {
      EXPECT_TRUE(isNear(pixel(point.x(), point.y()), colour, tolerance)) << point.x() << ", " << point.y();
    }
  }

  std::shared_ptr<CountingRasterizer> rasterizer = std::make_shared<CountingRasterizer>();
  std::unique_ptr<FourWayCanvasWidget> canvas = std::make_unique<FourWayCanvasWidget>(nullptr, rasterizer);
  QImage grabbed;
};

TEST_F(FourWayCanvasWidgetTest, EachResultFillsItsOwnQuadrantUpToTheSplitWhereverItIs) {
  set(fourSolidResults());   // split at (200, 150): quadrant 0 covers pixels x 0..199, y 0..149
  expectPixels({{{199, 149}, red}, {{200, 149}, green}, {{199, 150}, blue}, {{200, 150}, yellow}});
  FourWayImageCanvas moved = fourSolidResults();
  moved.comparisonX = 0.0;   // at the edge only quadrant 1 (top right) has area
  moved.comparisonY = 1.0;
  set(moved);
  expectPixels({{{0, 0}, green}, {{399, 299}, green}});
}

// Pictures of 200 × 100 with a white 20 × 20 square in the middle (pixels 90..109,
// 40..59), in a 400 × 300 view: fit 2, so at zoom 1 the picture spans y 50..250
// and the square (180..220, 130..170); at zoom 2 the picture is 800 × 400 at
// (−200, −50) and the square (160..240, 110..190). Samples keep 5 points away
// from edges, clear of the bilinear blend.
TEST_F(FourWayCanvasWidgetTest, ZoomAndPanMoveTheSameFittedPictureInEveryQuadrant) {
  FourWayImageCanvas zoomed = picturesOf({sourceGrey, red, green, blue, yellow}, 200, 100, [](QColor colour, int x, int y) {
    return x >= 90 && x < 110 && y >= 40 && y < 60 ? white : colour;
  });
  set(zoomed);
  // Above and below the letter-boxed picture, then inside it.
  expectPixels({{{200, 20}, black}, {{200, 280}, black}, {{170, 120}, red}, {{215, 165}, white}});
  zoomed.zoom = 2.0;
  set(zoomed);
  expectPixels({{{200, 20}, green}, {{165, 115}, white}});   // the picture now covers the top
  // Pan (50, −30): the square moves to (210..290, 80..160).
  zoomed.panOffset = {50, -30};
  set(zoomed);
  expectPixels({{{215, 85}, white}, {{165, 115}, red}});
}

TEST_F(FourWayCanvasWidgetTest, OriginalModeMissingResultsAndTheDifference) {
  FourWayImageCanvas original = fourSolidResults();
  original.isShowingOriginal = true;
  set(original);
  expectPixels({{{300, 225}, sourceGrey}});

  // Panels without results show the source.
  FourWayImageCanvas partial = fourSolidResults();
  partial.panelImages = {partial.panelImages[0], std::nullopt};
  set(partial);
  expectPixels({{{100, 75}, red}, {{300, 225}, sourceGrey}});

  // The difference is black where the result equals the source.
  FourWayImageCanvas difference = fourSolidResults();
  difference.panelImages[0] = difference.sourceImage;
  difference.isShowingDifference = true;
  set(difference);
  expectPixels({{{100, 75}, black}}, 0);
  QColor changed = pixel(300, 75);   // green against grey: red and blue fell, green rose
  EXPECT_GT(changed.red() + changed.green() + changed.blue(), 100);
}

TEST_F(FourWayCanvasWidgetTest, TransparencyShowsTheCheckerboardBehindAndBlendsWithIt) {
  FourWayImageCanvas transparent;
  transparent.sourceImage = solidPicture(400, 300, QColor(255, 0, 0, 0));
  transparent.usesTransparencyBackground = true;
  set(transparent);
  // 16-point squares, the lighter ones top right and bottom left of each tile.
  expectPixels({{{5, 5}, darkerSquare}, {{20, 5}, lighterSquare}, {{37, 37}, darkerSquare}});
  transparent.usesTransparencyBackground = false;
  set(transparent);
  expectPixels({{{5, 5}, black}}, 0);
  // Premultiplied red 128 plus the square's grey times (1 − 128/255).
  transparent.sourceImage = solidPicture(400, 300, QColor(255, 0, 0, 128));
  transparent.usesTransparencyBackground = true;
  set(transparent);
  expectPixels({{{5, 5}, QColor(227, 99, 99)}}, 3);

  // Without a source only the background shows, results or not.
  FourWayImageCanvas empty;
  empty.panelImages = {solidPicture(400, 300, red)};
  set(empty);
  expectPixels({{{100, 75}, black}}, 0);
  empty.usesTransparencyBackground = true;
  set(empty);
  expectPixels({{{5, 5}, darkerSquare}});
}

TEST_F(FourWayCanvasWidgetTest, ShrunkPicturesAreAveragedAndZoomPanSplitAndResizeNeverRenderAgain) {
  // Columns with one white pixel in four: at a quarter of the size each screen
  // pixel covers one period, whose mean is 255 / 4; sampling would give 0.
  FourWayImageCanvas stripes;
  stripes.sourceImage = makePicture(1600, 1200, false, [](int x, int) { return x % 4 == 0 ? white : black; });
  set(stripes);
  expectPixels({{{11, 10}, QColor(64, 64, 64)}}, 3);
  rasterizer->normalCount = 0;

  FourWayImageCanvas moving = fourSolidResults();
  set(moving);
  EXPECT_EQ(rasterizer->normalCount, 5);   // the source and four results
  moving.zoom = 3.0;
  moving.panOffset = {40, -20};
  moving.comparisonX = 0.3;
  set(moving);
  canvas->resize(500, 320);
  QCoreApplication::processEvents();
  (void)pixel(10, 10);
  EXPECT_EQ(rasterizer->normalCount, 5);
  EXPECT_EQ(rasterizer->differenceCount, 0);
  moving.isShowingDifference = true;
  set(moving);
  EXPECT_EQ(rasterizer->differenceCount, 4);
  moving.differenceGain = 8;
  set(moving);
  EXPECT_EQ(rasterizer->differenceCount, 8);
  moving.isShowingDifference = false;
  set(moving);
  EXPECT_EQ(rasterizer->normalCount, 5);
}

TEST_F(FourWayCanvasWidgetTest, At400PercentPixelsAreHardEdgedSquaresUnlessSmoothMagnificationIsChosen) {
  showAt(8, 8);   // a 2 x 2 checker fits at 400 %
  FourWayImageCanvas checker;
  checker.sourceImage = makePicture(2, 2, false, [](int x, int y) { return (x + y) % 2 ? white : black; });
  set(checker);
  int blended = 0;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) blended += isNear(pixel(x, y), black, 0) || isNear(pixel(x, y), white, 0) ? 0 : 1;
  }
  EXPECT_EQ(blended, 0);
  expectPixels({{{4, 3}, white}}, 0);

  gui::CanvasMagnification::instance().setSmooth(true);
  showAt(400, 200);
  // Two pixels, black and white, each 200 points wide: the centres are at 100
  // and 300, and the level rises linearly between them.
  FourWayImageCanvas twoPixels;
  twoPixels.sourceImage = makePicture(2, 1, false, [](int x, int) { return x == 0 ? black : white; });
  set(twoPixels);
  const int middle = pixel(200, 100).red();
  gui::CanvasMagnification::instance().setSmooth(false);
  EXPECT_NEAR(middle, 128, 20);
}

// The interactive comparison view: split drag and click, hover, the commands
// it registers, the percent it writes back, and its labels, cross and badge
// as they are painted.
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

TEST_F(FourWayComparisonImageViewTest, CommandsAreRegisteredAgainOnTokenShowAndResizeOnlyWhileActiveAndAGoneViewsDoNothing) {
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
  auto redAt = [&](int x, int y) { return picture.pixelColor(x, y).red(); };
  // The vertical line at x 200 (the handle covers y 134..166): 3 on, 3 off,
  // black at 62 % over white (97).
  int dark = 0;
  for (int y = 0; y < 12; ++y) dark += redAt(200, y) < 130;
  EXPECT_EQ(dark, 6);
  EXPECT_TRUE(isNear(picture.pixelColor(200, 1), QColor(97, 97, 97), 4));
  // The horizontal line at y 150 reaches both view edges.
  EXPECT_LT(std::min(redAt(1, 150), redAt(4, 150)), 130);
  EXPECT_LT(std::min(redAt(398, 150), redAt(395, 150)), 130);

  // On a black picture the light outline carries the cross, dashes and gaps alike.
  give(activeValues(400, 300, Qt::black, true));
  picture = view->grab().toImage();
  for (int y = 0; y < 12; ++y) EXPECT_GT(std::max({redAt(199, y), redAt(200, y), redAt(201, y)}), 100) << y;
  EXPECT_LT(redAt(190, 20), 5);   // away from the cross the picture is untouched
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

// The keyboard and pointer layer with events delivered as the platform
// delivers them: through the window, past menu shortcuts, to the focus widget.
using Calls = std::vector<std::string>;

// The focus widget: what reaches it was passed on.
class RecordingWidget : public QWidget {
 public:
  using QWidget::QWidget;
  bool pressed(int key) const { return std::find(pressedKeys.begin(), pressedKeys.end(), key) != pressedKeys.end(); }
  std::vector<int> pressedKeys;
  std::vector<int> releasedKeys;
  int wheelCount = 0;

 protected:
  void keyPressEvent(QKeyEvent* event) override { pressedKeys.push_back(event->key()); }
  void keyReleaseEvent(QKeyEvent* event) override { releasedKeys.push_back(event->key()); }
  void wheelEvent(QWheelEvent* event) override {
    ++wheelCount;
    event->accept();
  }
};

class KeyboardShortcutMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recordEveryCommand(registry, calls);
    window.resize(300, 200);
    receiver->setGeometry(0, 0, 300, 200);
    receiver->setFocusPolicy(Qt::StrongFocus);
    monitor->setActive(true);
    monitor->setSpaceReleaseGrace(std::chrono::milliseconds(0));   // releases act at once, on any platform
    activate(window);
    receiver->setFocus();
  }

  static void activate(QWidget& widget) {
    widget.show();
    widget.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&widget));
  }

  QWindow* handle() { return window.windowHandle(); }

  // One key event as the platform sends it, modifiers as they are at that moment.
  void key(bool isPress, Qt::Key code, Qt::KeyboardModifiers modifiers = {}, bool isAutoRepeat = false) {
    QTest::simulateEvent(handle(), isPress, code, modifiers, code == Qt::Key_Space ? " " : "", isAutoRepeat);
  }
  // A space event with the platform's timestamp.
  void space(QEvent::Type type, quint64 timestamp) {
    QKeyEvent event(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    event.setTimestamp(timestamp);
    QApplication::sendEvent(handle(), &event);
  }

  void wheel(QPoint angleDelta, QPoint pixelDelta = {}, Qt::KeyboardModifiers modifiers = {}) {
    QPointF position(150, 100);
    QWheelEvent event(position, window.mapToGlobal(position), pixelDelta, angleDelta, Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(handle(), &event);
  }

  KeyboardCommandRegistry registry;   // outlives the monitor
  QWidget window;
  RecordingWidget* receiver = new RecordingWidget(&window);
  KeyboardShortcutMonitor* monitor = new KeyboardShortcutMonitor(registry, &window);
  Calls calls;
};

// ---- Key down ----

TEST_F(KeyboardShortcutMonitorTest, ShortcutKeysRunTheirCommandsAndWinOverAMenuShortcutOthersPassOn) {
  QAction action(&window);
  action.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Equal));
  window.addAction(&action);
  int triggered = 0;
  QObject::connect(&action, &QAction::triggered, [&] { ++triggered; });
  struct Case {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    Calls expected;   // in this order among the calls
  };
  const Case cases[] = {
      {Qt::Key_Equal, Qt::ControlModifier | Qt::ShiftModifier, {"zoomIn"}},
      {Qt::Key_6, Qt::ControlModifier, {"zoomToScale(6)"}},
      // Shifted digits arrive as their shifted characters and still name the digit key.
      {Qt::Key_3, Qt::ShiftModifier, {"setDifferenceGainStep(2)", "showDifference"}},
      {Qt::Key_7, Qt::ShiftModifier, {}},   // no command: passed on
  };
  for (const Case& shortcut : cases) {
    SCOPED_TRACE(QKeySequence(shortcut.key | shortcut.modifiers).toString().toStdString());
    calls.clear();
    receiver->pressedKeys.clear();
    QTest::keyClick(handle(), shortcut.key, shortcut.modifiers);
    EXPECT_NE(std::search(calls.begin(), calls.end(), shortcut.expected.begin(), shortcut.expected.end()), calls.end());
    const auto commands = std::count_if(calls.begin(), calls.end(),
                                        [](const std::string& call) { return !call.ends_with("Difference"); });
    EXPECT_EQ(commands, shortcut.expected.empty() ? 0 : 1);
    EXPECT_EQ(receiver->pressed(shortcut.key), shortcut.expected.empty());
  }
  EXPECT_EQ(triggered, 0);
  // The same keys reach the menu shortcut when the monitor stands aside.
  monitor->setActive(false);
  QTest::keyClick(handle(), Qt::Key_Equal, Qt::ControlModifier);
  EXPECT_EQ(triggered, 1);
}

TEST_F(KeyboardShortcutMonitorTest, HeldSpaceShowsTheOriginalOnceAndHeldShiftTheDifferenceWhichPassesOn) {
  key(true, Qt::Key_Space);
  key(false, Qt::Key_Space, {}, true);   // X11 repeats a held key as pairs marked auto-repeat
  key(true, Qt::Key_Space, {}, true);
  key(false, Qt::Key_Space);
  EXPECT_EQ(calls, (Calls{"showOriginal", "hideComparisonOverlay"}));
  EXPECT_FALSE(receiver->pressed(Qt::Key_Space));

  calls.clear();
  key(true, Qt::Key_Shift);
  EXPECT_EQ(calls, Calls{"showDifference"});
  key(false, Qt::Key_Shift, Qt::ShiftModifier);
  EXPECT_EQ(calls, (Calls{"showDifference", "hideDifference"}));
  // Modifier changes always pass on.
  EXPECT_TRUE(receiver->pressed(Qt::Key_Shift));
  EXPECT_EQ(receiver->releasedKeys, std::vector<int>{Qt::Key_Shift});
}

TEST_F(KeyboardShortcutMonitorTest, AnX11RepeatMissedByQtIsStillAnAutoRepeat) {
  // Qt may fail to mark X11's release and press pair as a repeat; the pair
  // shares one timestamp, and the release waits out a grace for its press.
  monitor->setSpaceReleaseGrace(std::chrono::milliseconds(20));
  for (auto [type, timestamp] : {std::pair{QEvent::KeyPress, 100}, {QEvent::KeyRelease, 200}, {QEvent::KeyPress, 200},
                                 {QEvent::KeyRelease, 240}, {QEvent::KeyPress, 240}}) {
    space(type, timestamp);
  }
  EXPECT_EQ(calls, Calls{"showOriginal"});
  space(QEvent::KeyRelease, 300);   // the real release
  EXPECT_EQ(calls, Calls{"showOriginal"});
  EXPECT_TRUE(QTest::qWaitFor([&] { return calls.size() == 2; }, 10000));
  // Released and pressed again at once, at different times: both count.
  space(QEvent::KeyPress, 400);
  space(QEvent::KeyRelease, 450);
  space(QEvent::KeyPress, 460);
  EXPECT_EQ(calls, (Calls{"showOriginal", "hideComparisonOverlay", "showOriginal", "hideComparisonOverlay",
                          "showOriginal"}));
  EXPECT_FALSE(receiver->pressed(Qt::Key_Space));
  EXPECT_TRUE(receiver->releasedKeys.empty());
}

// ---- Scrolling ----

TEST_F(KeyboardShortcutMonitorTest, ScrollingOverTheComparisonPansAltScrollZoomsOthersPassOn) {
  registry.isPointerOverComparison = true;
  wheel({0, 120});   // one notch: one line, ten points
  wheel({0, 0}, {3, -7});   // precise deltas, in points
  wheel({120, 0}, {}, Qt::AltModifier);   // X11 reports Alt+wheel as horizontal
  wheel({0, 0}, {0, -30}, Qt::AltModifier);
  wheel({-120, 0}, {}, Qt::ShiftModifier);   // a notch turned sideways is ten points on its own
  EXPECT_EQ(calls, (Calls{"scrollPan(0, 10)", "scrollPan(3, -7)", "optionScrollZoom(10)", "optionScrollZoom(-30)",
                          "stepDifferenceGain(-1)"}));
  EXPECT_EQ(receiver->wheelCount, 0);
  calls.clear();
  wheel({0, 120}, {}, Qt::ControlModifier);
  registry.isPointerOverComparison = false;
  wheel({0, 120});
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(receiver->wheelCount, 2);
}

// ---- Gate ----

TEST_F(KeyboardShortcutMonitorTest, AnInactiveMonitorOrWindowPassesEverythingOnAndTheWindowBecomingActiveRunsTheActivation) {
  registry.isPointerOverComparison = true;
  monitor->setActive(false);
  QTest::keyClick(handle(), Qt::Key_Equal, Qt::ControlModifier);
  key(true, Qt::Key_Space);
  wheel({0, 120});
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(receiver->pressed(Qt::Key_Equal) && receiver->pressed(Qt::Key_Space));
  EXPECT_EQ(receiver->wheelCount, 1);

  monitor->setActive(true);
  receiver->pressedKeys.clear();
  QWidget other;
  other.resize(100, 100);
  activate(other);
  QTest::keyClick(handle(), Qt::Key_Equal, Qt::ControlModifier);
  wheel({0, 120});
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(receiver->pressed(Qt::Key_Equal));
  EXPECT_EQ(receiver->wheelCount, 2);

  int activations = 0;
  monitor->setOnWindowBecameKey([&] { ++activations; });
  for (bool isActive : {true, false}) {
    monitor->setActive(isActive);
    activate(other);
    activate(window);
  }
  EXPECT_EQ(activations, 1);
}

}  // namespace
}  // namespace quorlin::test
