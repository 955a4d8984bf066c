// Inspector windows: the single specs panel (toggle, in-place replacement,
// reuse after the user closes it) and the ExifTool windows (one per
// inspection, placeholder text, scrolling), and that discarding a controller
// closes what it opened.
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "core/engine/SourceMetadata.h"
#include "gui/windows/InspectorWindows.h"

namespace quorlin::test {
namespace {

using gui::ExifToolInfoWindowController;
using gui::OriginalFileSpecsWindowController;

SourceImageMetadata pngMetadata() {
  SourceImageMetadata metadata;
  metadata.pixelWidth = 640;
  metadata.pixelHeight = 480;
  metadata.formatDescription = "PNG image";
  metadata.colorProfileName = "sRGB IEC61966-2.1";
  return metadata;
}

SourceImageMetadata jpegMetadata() {
  SourceImageMetadata metadata;
  metadata.pixelWidth = 4032;
  metadata.pixelHeight = 3024;
  metadata.formatDescription = "JPEG image";
  metadata.orientation = 6;
  metadata.isJPEG = true;
  return metadata;
}

void deletePendingWindows() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

QStringList expectedSpecLines(const SourceImageMetadata& metadata, std::int64_t fileSize) {
  QStringList texts;
  for (const std::string& line : specLines(metadata, fileSize)) texts << QString::fromStdString(line);
  return texts;
}

QString fileNameShown(const QWidget* panel) {
  const QLabel* label = panel->findChild<QLabel*>(QStringLiteral("specsFileName"));
  return label ? label->text() : QString();
}

QString exifToolText(const QWidget* window) {
  const auto* text = window->findChild<QPlainTextEdit*>(QStringLiteral("exifToolText"));
  return text ? text->toPlainText() : QString();
}

// Centred within the margins of a window frame (unknown before the first show).
bool isCentredOnScreen(const QWidget* window) {
  QPoint offset = window->frameGeometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center();
  return offset.manhattanLength() <= 16;
}

TEST(OriginalFileSpecsWindowTest, ToggleClosesAndOpensAgainCentredWithItsSpecLines) {
  OriginalFileSpecsWindowController controller;
  controller.toggle("/photos/cups.png", 2'350'000, pngMetadata());
  QPointer<QWidget> first = controller.window();
  ASSERT_TRUE(first);
  EXPECT_TRUE(controller.isVisible());
  EXPECT_TRUE(first->windowFlags().testFlag(Qt::Tool));
  EXPECT_TRUE(isCentredOnScreen(first));

  controller.toggle("/photos/cups.png", 2'350'000, pngMetadata());
  EXPECT_EQ(controller.window(), nullptr);
  deletePendingWindows();
  EXPECT_TRUE(first.isNull());

  controller.toggle("/photos/cups.png", 2'350'000, pngMetadata());
  ASSERT_NE(controller.window(), nullptr);
  EXPECT_TRUE(isCentredOnScreen(controller.window()));
  EXPECT_EQ(labelTexts(controller.window(), "specLine"), expectedSpecLines(pngMetadata(), 2'350'000));
}

TEST(OriginalFileSpecsWindowTest, ShowWhileOpenReplacesTheContentInPlaceAndAClosedPanelIsShownAgain) {
  OriginalFileSpecsWindowController controller;
  controller.show("/photos/cups.png", 2'350'000, pngMetadata());
  QWidget* panel = controller.window();
  ASSERT_NE(panel, nullptr);
  const int usualWidth = panel->width();
  panel->move(37, 41);
  panel->resize(400, 330);
  QPoint position = panel->pos();
  EXPECT_EQ(fileNameShown(panel), QStringLiteral("cups.png"));

  controller.show("/photos/garden.jpg", 4'100'000, jpegMetadata());
  EXPECT_EQ(controller.window(), panel);
  EXPECT_EQ(panel->pos(), position);
  EXPECT_EQ(panel->size(), QSize(400, 330));
  EXPECT_EQ(fileNameShown(panel), QStringLiteral("garden.jpg"));
  // Only the new lines: the old content is gone, not stacked below.
  EXPECT_EQ(labelTexts(panel, "specLine"), expectedSpecLines(jpegMetadata(), 4'100'000));
  EXPECT_EQ(panel->findChildren<QLabel*>(QStringLiteral("specsFileName")).size(), 1);

  // Closed by the user, it is kept: the toggle shows it again where it was.
  panel->move(50, 60);
  panel->close();
  const std::string longName = std::string(150, 'x') + ".png";
  controller.toggle("/photos/" + longName, 2'350'000, pngMetadata());
  EXPECT_EQ(controller.window(), panel);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->pos(), QPoint(50, 60));
  EXPECT_EQ(fileNameShown(panel), QString::fromStdString(longName));   // all of it, to select and copy


  // A long file name does not widen a new panel; Escape closes it, but the controller keeps it.
  OriginalFileSpecsWindowController other;
  other.show("/photos/" + longName, 2'350'000, pngMetadata());
  QWidget* fresh = other.window();
  QApplication::processEvents();
  EXPECT_EQ(fresh->width(), usualWidth);
  EXPECT_LE(fresh->minimumSizeHint().width(), usualWidth);
  QApplication::setActiveWindow(fresh);
  if (QApplication::activeWindow() != fresh) GTEST_SKIP() << "this platform cannot activate windows";
  QTest::keyClick(fresh->findChild<QLabel*>(QStringLiteral("specsFileName")), Qt::Key_Escape);
  EXPECT_FALSE(fresh->isVisible());
  EXPECT_EQ(other.window(), fresh);
}

TEST(ExifToolInfoWindowTest, EachInspectionOpensItsOwnWindowWithTheListingOrThePlaceholder) {
  ExifToolInfoWindowController controller;
  controller.show("JPEG XL Metadata", "panel-1.jxl", "File Type                       : JXL");
  controller.show("JPEG XL Metadata", "panel-1.jxl", "File Type                       : JXL");
  std::vector<QWidget*> windows = controller.windows();
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_NE(windows[0], windows[1]);
  EXPECT_NE(windows[0]->pos(), windows[1]->pos());   // the second does not hide the first
  EXPECT_TRUE(windows[1]->isVisible());
  EXPECT_EQ(windows[1]->windowTitle(), QStringLiteral("JPEG XL Metadata"));
  EXPECT_EQ(exifToolText(windows[1]), QStringLiteral("File Type                       : JXL"));

  // A window the user closes stays in the list, in opening order.
  windows[0]->close();
  controller.show("WebP Metadata", "panel-3.webp", "");
  ASSERT_EQ(controller.windows().size(), 3u);
  EXPECT_EQ(controller.windows()[0], windows[0]);
  EXPECT_EQ(controller.windows()[2]->windowTitle(), QStringLiteral("WebP Metadata"));
  EXPECT_EQ(exifToolText(controller.windows()[2]), QStringLiteral("No ExifTool metadata returned."));

  std::string listing;
  for (int line = 0; line < 200; ++line) listing += "Tag " + std::to_string(line) + "                  : value\n";
  controller.show("WebP Metadata", "panel-3.webp", listing);
  QWidget* window = controller.windows()[3];
  EXPECT_EQ(exifToolText(window), QString::fromStdString(listing));
  QApplication::processEvents();
  const auto* text = window->findChild<QPlainTextEdit*>(QStringLiteral("exifToolText"));
  ASSERT_NE(text, nullptr);
  EXPECT_GT(text->verticalScrollBar()->maximum(), 0);
  EXPECT_TRUE(text->isReadOnly());
}

TEST(InspectorWindowsTest, DiscardingTheControllersClosesEveryWindowTheyOpened) {
  auto specs = std::make_unique<OriginalFileSpecsWindowController>();
  auto exifTool = std::make_unique<ExifToolInfoWindowController>();
  specs->show("/photos/cups.png", 2'350'000, pngMetadata());
  exifTool->show("AVIF Metadata", "a.avif", "x");
  exifTool->show("AVIF Metadata", "a.avif", "y");
  exifTool->windows()[1]->close();
  QPointer<QWidget> specsPanel = specs->window();
  std::vector<QWidget*> opened = exifTool->windows();
  std::vector<QPointer<QWidget>> exifToolWindows(opened.begin(), opened.end());

  specs.reset();
  exifTool.reset();
  EXPECT_TRUE(specsPanel.isNull() || !specsPanel->isVisible());
  for (const QPointer<QWidget>& window : exifToolWindows) EXPECT_TRUE(window.isNull() || !window->isVisible());
  deletePendingWindows();
  EXPECT_TRUE(specsPanel.isNull());
  for (const QPointer<QWidget>& window : exifToolWindows) EXPECT_TRUE(window.isNull());
}

TEST(InspectorWindowsTest, PanelsFloatAboveTheActiveMainWindowAndGoWithIt) {
  auto mainWindow = std::make_unique<QWidget>();
  mainWindow->show();
  QApplication::setActiveWindow(mainWindow.get());
  if (QApplication::activeWindow() != mainWindow.get()) GTEST_SKIP() << "this platform cannot activate windows";

  OriginalFileSpecsWindowController specs;
  ExifToolInfoWindowController exifTool;
  specs.show("/photos/cups.png", 2'350'000, pngMetadata());
  exifTool.show("HEIF Metadata", "b.heic", "x");
  EXPECT_EQ(specs.window()->parentWidget(), mainWindow.get());
  EXPECT_EQ(exifTool.windows()[0]->parentWidget(), mainWindow.get());

  // An inspection started from a panel or a dialog of the main window still
  // floats above the main window.
  QApplication::setActiveWindow(exifTool.windows()[0]);
  exifTool.show("HEIF Metadata", "b.heic", "y");
  EXPECT_EQ(exifTool.windows()[1]->parentWidget(), mainWindow.get());
  auto* dialog = new QWidget(mainWindow.get(), Qt::Dialog);
  dialog->show();
  QApplication::setActiveWindow(dialog);
  specs.toggle("/photos/cups.png", 2'350'000, pngMetadata());
  specs.toggle("/photos/cups.png", 2'350'000, pngMetadata());
  EXPECT_EQ(specs.window()->parentWidget(), mainWindow.get());

  // The main window going away takes its panels along; the controllers notice.
  mainWindow.reset();
  EXPECT_EQ(specs.window(), nullptr);
  EXPECT_TRUE(exifTool.windows().empty());
}

}  // namespace
}  // namespace quorlin::test
