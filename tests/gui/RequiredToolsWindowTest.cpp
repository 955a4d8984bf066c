// The required tools window over a fake tool directory: each group's status
// icon, text and colour, each executable's path or "not found" and version,
// notes and the older-version limitations, the install commands with their
// copy buttons, "Re-check", and results that arrive after their row is gone.
#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QLabel>
#include <QPushButton>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>

#include "GuiTestSupport.h"
#include "core/tools/ToolLookup.h"
#include "core/tools/ToolRequirements.h"
#include "gui/windows/RequiredToolsView.h"
#include "gui/windows/RequiredToolsWindow.h"
#include "support/TestSupport.h"

namespace quorlin::gui {
namespace {

class RequiredToolsWindowTest : public ::testing::Test {
 protected:
  RequiredToolsWindowTest() {
    // The JPEG XL group is half there; AVIF, libheif (through its older
    // decoder name) and ExifTool are complete; the rest is missing.
    test::writeFakeTool(tools.path(), "cjxl", "echo 'JPEG XL encoder v0.11.1 [AVX2]'");
    test::writeFakeTool(tools.path(), "djxl", "echo 'JPEG XL decoder v0.11.1 [AVX2]'");
    test::writeFakeTool(tools.path(), "avifenc", "echo 'Version: 1.1.1 (dav1d [dec]:1.4.3)'");
    test::writeFakeTool(tools.path(), "avifdec", "echo 'Version: 1.1.1 (dav1d [dec]:1.4.3)'");
    test::writeFakeTool(tools.path(), "heif-enc", "echo 'unrecognized option'; echo 'libheif version: 1.15.1'");
    test::writeFakeTool(tools.path(), "heif-convert", "echo 'unrecognized option'; echo 'libheif version: 1.15.1'");
    test::writeFakeTool(tools.path(), "exiftool", "echo 12.76");
  }

  // Shows the window and lets every row's load arrive.
  QWidget* showLoaded() {
    controller.show();
    waitForLoads();
    return controller.window();
  }

  void waitForLoads() {
    // The loads are bounded by the probes' own five-second limit; this only
    // keeps a broken build from hanging.
    QDeadlineTimer deadline(60'000);
    while (!deadline.hasExpired()) {
      QApplication::processEvents();
      auto rows = rowsShown();
      if (!rows.empty() && std::all_of(rows.begin(), rows.end(), [](auto* row) { return row->hasLoadedTools(); })) {
        return;
      }
      QThread::msleep(5);
    }
    ADD_FAILURE() << "the tool rows never finished loading";
  }

  std::vector<RequiredToolRow*> rowsShown() const {
    if (!controller.window()) return {};
    auto found = controller.window()->findChildren<RequiredToolRow*>();
    return {found.begin(), found.end()};
  }

  RequiredToolRow* row(std::string_view title) const {
    for (auto* row : rowsShown()) {
      if (row->requirement().title == title) return row;
    }
    ADD_FAILURE() << "no row " << title;
    return nullptr;
  }

  static QStringList textsOf(QWidget* parent, const char* name) {
    QStringList texts;
    for (auto* label : parent->findChildren<QLabel*>(name)) texts << label->text();
    return texts;
  }

  static ToneLabel* statusOf(RequiredToolRow* row) { return row->findChild<ToneLabel*>("status"); }

  test::ScratchDirectory tools;
  ExecutableURLCache cache;
  ToolSearchPath searchPath{cache, {tools.path().string()}};
  RequiredToolsWindowController controller{cache, searchPath};
};

TEST_F(RequiredToolsWindowTest, CompleteGroupsAreGreenWithTheirVersionsPathsAndLimitations) {
  showLoaded();
  EXPECT_EQ(controller.window()->windowTitle(), "Required Command-Line Tools");
  EXPECT_EQ(rowsShown().size(), allToolRequirements().size());

  RequiredToolRow* avif = row("AVIF");
  EXPECT_EQ(statusOf(avif)->text(), "Installed 1.1.1");
  EXPECT_EQ(statusOf(avif)->tone(), ToneLabel::Tone::green);
  EXPECT_EQ(textsOf(avif, "version"), (QStringList{"Version 1.1.1", "Version 1.1.1"}));
  EXPECT_EQ(textsOf(avif, "path"), (QStringList{QString::fromStdString((tools / "avifenc").string()),
                                                QString::fromStdString((tools / "avifdec").string())}));

  RequiredToolRow* exiftool = row("ExifTool (metadata)");
  EXPECT_EQ(statusOf(exiftool)->text(), "Installed 12.76");

  // The older decoder name stands in, and the older encoder's limits are told.
  RequiredToolRow* heif = row("HEIF / AVIF / JPEG 2000 (libheif)");
  EXPECT_EQ(statusOf(heif)->text(), "Installed 1.15.1");
  EXPECT_EQ(textsOf(heif, "toolName"), (QStringList{"heif-enc", "heif-dec (heif-convert)"}));
  QStringList limitations = textsOf(heif, "limitation");
  ASSERT_FALSE(limitations.isEmpty());
  EXPECT_TRUE(limitations.join('\n').contains("1.15.1"));
  EXPECT_TRUE(textsOf(avif, "limitation").isEmpty());
}

TEST_F(RequiredToolsWindowTest, PartialGroupIsOrangeAndNamesWhatIsMissing) {
  showLoaded();
  RequiredToolRow* jpegXL = row("JPEG XL & SSIMULACRA2 metric");
  EXPECT_EQ(statusOf(jpegXL)->text(), "Missing jxlinfo, ssimulacra2");
  EXPECT_EQ(statusOf(jpegXL)->tone(), ToneLabel::Tone::orange);
  EXPECT_EQ(textsOf(jpegXL, "toolName"), (QStringList{"cjxl", "djxl", "jxlinfo", "ssimulacra2"}));
  EXPECT_EQ(textsOf(jpegXL, "notFound"), (QStringList{"not found", "not found"}));
  EXPECT_EQ(textsOf(jpegXL, "version"), (QStringList{"Version 0.11.1", "Version 0.11.1"}));
  for (auto* missing : jpegXL->findChildren<ToneLabel*>("notFound")) EXPECT_EQ(missing->tone(), ToneLabel::Tone::red);
}

TEST_F(RequiredToolsWindowTest, MissingGroupIsRedWithEveryToolNotFound) {
  showLoaded();
  for (std::string_view title : {"JPEGli", "WebP", "JPEG (libjpeg-turbo)"}) {
    RequiredToolRow* missing = row(title);
    EXPECT_EQ(statusOf(missing)->text(), "Not installed") << title;
    EXPECT_EQ(statusOf(missing)->tone(), ToneLabel::Tone::red) << title;
    EXPECT_EQ(textsOf(missing, "notFound").size(), qsizetype(missing->requirement().executables.size())) << title;
    EXPECT_TRUE(textsOf(missing, "version").isEmpty()) << title;
  }
}

TEST_F(RequiredToolsWindowTest, StatusIsShownBeforeTheVersionsArrive) {
  // A probe that takes a while: until it answers, the row has its status from
  // the presence search alone and no tool lines.
  test::writeFakeTool(tools.path(), "cwebp", "sleep 1; echo 1.4.0");
  controller.show();
  RequiredToolRow* webp = row("WebP");
  EXPECT_FALSE(webp->hasLoadedTools());
  EXPECT_EQ(statusOf(webp)->text(), "Missing dwebp");
  EXPECT_TRUE(textsOf(webp, "toolName").isEmpty());
  waitForLoads();
  EXPECT_EQ(textsOf(row("WebP"), "version"), QStringList{"Version 1.4.0"});
}

TEST_F(RequiredToolsWindowTest, CopyButtonsPutExactlyTheCommandOnTheClipboard) {
  showLoaded();
  RequiredToolRow* jpegli = row("JPEGli");
  auto buttons = jpegli->findChildren<QPushButton*>("copyCommand");
  ASSERT_FALSE(buttons.isEmpty());
  buttons.front()->click();
  QString script = QGuiApplication::clipboard()->text();
  QStringList lines = script.split('\n');
  ASSERT_EQ(lines.size(), 7);
  EXPECT_EQ(lines[0], "brew install git cmake ninja pkg-config clang-format googletest doxygen graphviz");
  EXPECT_TRUE(lines[1].startsWith("git clone "));
  EXPECT_EQ(lines[2], "cd jpegli");
  EXPECT_EQ(lines[3], "./deps.sh");
  EXPECT_EQ(lines[4], "SKIP_TEST=1 ./ci.sh release");
  EXPECT_EQ(lines[5], "mkdir -p ~/bin");
  EXPECT_EQ(lines[6], "cp build/tools/cjpegli build/tools/djpegli ~/bin/");
  EXPECT_TRUE(textsOf(jpegli, "note").join("").endsWith(
      "The app already searches ~/bin, so no PATH changes are needed."));

  // The first copy button of the window copies the combined command.
  controller.window()->findChildren<QPushButton*>("copyCommand").front()->click();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "brew install jpeg-xl libavif webp libheif jpeg-turbo exiftool");

  // A group's Homebrew and Debian/Ubuntu commands, each with its own button.
  auto avifButtons = row("AVIF")->findChildren<QPushButton*>("copyCommand");
  ASSERT_EQ(avifButtons.size(), 2);
  avifButtons[0]->click();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "brew install libavif");
  avifButtons[1]->click();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), "sudo apt install libavif-bin");
  QStringList titles;
  for (auto* label : row("AVIF")->findChildren<QLabel*>()) titles << label->text();
  EXPECT_TRUE(titles.contains("Homebrew"));
  EXPECT_TRUE(titles.contains("Debian/Ubuntu"));
}

TEST_F(RequiredToolsWindowTest, RecheckAndShowingAgainFindToolsInstalledMeanwhile) {
  // A miss remembered by the cache before the window opens is forgotten.
  ASSERT_FALSE(cache.locate("jxlinfo", searchPath.toolSearchDirectories()));
  QWidget* window = showLoaded();
  test::writeFakeTool(tools.path(), "jxlinfo", "echo 'jxlinfo v0.11.1'");
  test::writeFakeTool(tools.path(), "ssimulacra2", "echo 'usage'");
  EXPECT_EQ(statusOf(row("JPEG XL & SSIMULACRA2 metric"))->text(), "Missing jxlinfo, ssimulacra2");

  window->findChild<QPushButton*>("recheck")->click();
  waitForLoads();
  RequiredToolRow* jpegXL = row("JPEG XL & SSIMULACRA2 metric");
  EXPECT_EQ(statusOf(jpegXL)->text(), "Installed 0.11.1");
  EXPECT_EQ(statusOf(jpegXL)->tone(), ToneLabel::Tone::green);
  EXPECT_EQ(textsOf(jpegXL, "version"),
            (QStringList{"Version 0.11.1", "Version 0.11.1", "This tool does not report a version.",
                         "This tool does not report a version."}));
  EXPECT_TRUE(cache.locate("jxlinfo", searchPath.toolSearchDirectories()));

  test::writeFakeTool(tools.path(), "cjpeg", "echo 'libjpeg-turbo version 2.1.5 (build 20230203)'");
  QSize size = window->size();
  controller.show();
  EXPECT_EQ(controller.window(), window);
  EXPECT_EQ(window->size(), size);
  waitForLoads();
  EXPECT_EQ(statusOf(row("JPEG (libjpeg-turbo)"))->text(), "Installed 2.1.5");
}

TEST_F(RequiredToolsWindowTest, ResultsForRowsThatAreGoneAreDropped) {
  test::writeFakeTool(tools.path(), "cwebp", "sleep 1; echo 1.4.0");
  controller.show();
  controller.window()->close();   // closing mid-load
  controller.show();              // a fresh view while the first loads still run
  waitForLoads();
  QApplication::processEvents();
  // Each row shows its tools once: nothing of the replaced rows arrived.
  EXPECT_EQ(textsOf(row("WebP"), "toolName"), (QStringList{"cwebp", "dwebp"}));
  EXPECT_EQ(rowsShown().size(), allToolRequirements().size());
}

}  // namespace
}  // namespace quorlin::gui
