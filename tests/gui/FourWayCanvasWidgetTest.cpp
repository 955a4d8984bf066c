// The canvas widget as a user sees it: grabs of the painted widget, sampled at
// points whose colour follows from the layout rules worked out by hand.
#include <QTest>

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "gui/comparison/CanvasMagnification.h"
#include "gui/comparison/FourWayCanvasWidget.h"

namespace quorlin::test {
namespace {

using gui::FourWayCanvasWidget;

const QColor sourceGrey(128, 128, 128);
const QColor red(220, 40, 40);
const QColor green(40, 200, 60);
const QColor blue(30, 60, 220);
const QColor yellow(230, 210, 30);
const QColor black(0, 0, 0);
const QColor white(255, 255, 255);
// The checkerboard's two greys: white levels 0.78 and 0.9.
const QColor darkerSquare(199, 199, 199);
const QColor lighterSquare(230, 230, 230);

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

class FourWayCanvasWidgetTest : public ::testing::Test {
 protected:
  void SetUp() override { showAt(400, 300); }

  void showAt(int width, int height) {
    canvas->resize(width, height);
    canvas->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(canvas.get()));
  }

  void set(const FourWayImageCanvas& newValues) {
    values = newValues;
    canvas->setValues(values);
    grabbed = QImage();
  }

  QColor pixel(int x, int y) {
    if (grabbed.isNull()) grabbed = canvas->grab().toImage();
    return grabbed.pixelColor(x, y);
  }

  // Four solid results over a grey source, all the view's size.
  FourWayImageCanvas fourSolidResults(int width, int height) {
    FourWayImageCanvas canvasValues;
    canvasValues.sourceImage = solidPicture(width, height, sourceGrey);
    for (QColor colour : {red, green, blue, yellow}) canvasValues.panelImages.push_back(solidPicture(width, height, colour));
    return canvasValues;
  }

  std::shared_ptr<CountingRasterizer> rasterizer = std::make_shared<CountingRasterizer>();
  std::unique_ptr<FourWayCanvasWidget> canvas = std::make_unique<FourWayCanvasWidget>(nullptr, rasterizer);
  FourWayImageCanvas values;
  QImage grabbed;
};

TEST_F(FourWayCanvasWidgetTest, EachResultFillsItsOwnQuadrantUpToTheSplitWhereverItIs) {
  set(fourSolidResults(400, 300));   // split at (200, 150): quadrant 0 covers pixels x 0..199, y 0..149
  const std::pair<QPoint, QColor> samples[] = {{{199, 149}, red}, {{200, 149}, green}, {{199, 150}, blue},
                                               {{200, 150}, yellow}};
  for (const auto& [point, colour] : samples) EXPECT_TRUE(isNear(pixel(point.x(), point.y()), colour)) << point.x();
  FourWayImageCanvas moved = fourSolidResults(400, 300);
  moved.comparisonX = 0.0;   // at the edge only quadrant 1 (top right) has area
  moved.comparisonY = 1.0;
  set(moved);
  EXPECT_TRUE(isNear(pixel(0, 0), green));
  EXPECT_TRUE(isNear(pixel(399, 299), green));
}

// Pictures of 200 × 100 with a white 20 × 20 square in the middle (pixels 90..109,
// 40..59), in a 400 × 300 view: fit 2, so at zoom 1 the picture spans y 50..250
// and the square (180..220, 130..170); at zoom 2 the picture is 800 × 400 at
// (−200, −50) and the square (160..240, 110..190). Samples keep 5 points away
// from edges, clear of the bilinear blend.
FourWayImageCanvas markedResults() {
  FourWayImageCanvas canvasValues;
  auto marked = [](QColor colour) {
    return makePicture(200, 100, false, [colour](int x, int y) {
      return x >= 90 && x < 110 && y >= 40 && y < 60 ? white : colour;
    });
  };
  canvasValues.sourceImage = marked(sourceGrey);
  for (QColor colour : {red, green, blue, yellow}) canvasValues.panelImages.push_back(marked(colour));
  return canvasValues;
}

TEST_F(FourWayCanvasWidgetTest, ZoomAndPanMoveTheSameFittedPictureInEveryQuadrant) {
  FourWayImageCanvas zoomed = markedResults();
  set(zoomed);
  EXPECT_TRUE(isNear(pixel(200, 20), black));    // above the letter-boxed picture
  EXPECT_TRUE(isNear(pixel(200, 280), black));   // below it
  EXPECT_TRUE(isNear(pixel(170, 120), red));
  EXPECT_TRUE(isNear(pixel(215, 165), white));

  zoomed.zoom = 2.0;
  set(zoomed);
  EXPECT_TRUE(isNear(pixel(200, 20), green));    // the picture now covers the top
  EXPECT_TRUE(isNear(pixel(165, 115), white));
  // Pan (50, −30): the square moves to (210..290, 80..160).
  zoomed.panOffset = {50, -30};
  set(zoomed);
  EXPECT_TRUE(isNear(pixel(215, 85), white));
  EXPECT_TRUE(isNear(pixel(165, 115), red));
}

TEST_F(FourWayCanvasWidgetTest, OriginalModeMissingResultsAndTheDifference) {
  FourWayImageCanvas original = fourSolidResults(400, 300);
  original.isShowingOriginal = true;
  set(original);
  EXPECT_TRUE(isNear(pixel(300, 225), sourceGrey));

  // Panels without results show the source.
  FourWayImageCanvas partial;
  partial.sourceImage = solidPicture(400, 300, sourceGrey);
  partial.panelImages = {solidPicture(400, 300, red), std::nullopt};
  set(partial);
  EXPECT_TRUE(isNear(pixel(100, 75), red));
  EXPECT_TRUE(isNear(pixel(300, 225), sourceGrey));

  // The difference is black where the result equals the source.
  FourWayImageCanvas difference = fourSolidResults(400, 300);
  difference.panelImages[0] = difference.sourceImage;
  difference.isShowingDifference = true;
  set(difference);
  EXPECT_TRUE(isNear(pixel(100, 75), black, 0));
  QColor changed = pixel(300, 75);   // green against grey: red and blue fell, green rose
  EXPECT_GT(changed.red() + changed.green() + changed.blue(), 100);
}

TEST_F(FourWayCanvasWidgetTest, TransparencyShowsTheCheckerboardBehindAndBlendsWithIt) {
  FourWayImageCanvas transparent;
  transparent.sourceImage = solidPicture(400, 300, QColor(255, 0, 0, 0));
  transparent.usesTransparencyBackground = true;
  set(transparent);
  // 16-point squares, the lighter ones top right and bottom left of each tile.
  EXPECT_TRUE(isNear(pixel(5, 5), darkerSquare));
  EXPECT_TRUE(isNear(pixel(20, 5), lighterSquare));
  EXPECT_TRUE(isNear(pixel(37, 37), darkerSquare));
  transparent.usesTransparencyBackground = false;
  set(transparent);
  EXPECT_TRUE(isNear(pixel(5, 5), black, 0));

  // Premultiplied red 128 plus the square's grey times (1 − 128/255).
  transparent.sourceImage = solidPicture(400, 300, QColor(255, 0, 0, 128));
  transparent.usesTransparencyBackground = true;
  set(transparent);
  EXPECT_TRUE(isNear(pixel(5, 5), QColor(227, 99, 99), 3));

  // Without a source only the background shows, results or not.
  FourWayImageCanvas empty;
  empty.panelImages = {solidPicture(400, 300, red)};
  set(empty);
  EXPECT_TRUE(isNear(pixel(100, 75), black, 0));
  empty.usesTransparencyBackground = true;
  set(empty);
  EXPECT_TRUE(isNear(pixel(5, 5), darkerSquare));
}

TEST_F(FourWayCanvasWidgetTest, ShrunkPicturesAreAveragedNotSampled) {
  // Columns with one white pixel in four: at a quarter of the size each screen
  // pixel covers one period, whose mean is 255 / 4; sampling would give 0.
  FourWayImageCanvas stripes;
  stripes.sourceImage = makePicture(1600, 1200, false, [](int x, int) { return x % 4 == 0 ? white : black; });
  set(stripes);
  EXPECT_TRUE(isNear(pixel(11, 10), QColor(64, 64, 64), 3));
}

TEST_F(FourWayCanvasWidgetTest, ZoomPanSplitAndResizeNeverRenderAgain) {
  FourWayImageCanvas moving = fourSolidResults(400, 300);
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
  EXPECT_TRUE(isNear(pixel(4, 3), white, 0));

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

}  // namespace
}  // namespace quorlin::test
