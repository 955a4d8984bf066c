// The required tools window over a fake tool directory: each group's status
// icon, text and colour, each executable's path or "not found" and version,
// notes and the older-version limitations, the install commands with their
// copy buttons, "Re-check", and results that arrive after their row is gone.
#include <QApplication>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>

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
    EXPECT_TRUE(QTest::qWaitFor([&] {
      auto rows = rowsShown();
      return !rows.empty() && std::all_of(rows.begin(), rows.end(), [](auto* row) { return row->hasLoadedTools(); });
    }, 60'000)) << "the tool rows never finished loading";
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

  static ToneLabel* statusOf(RequiredToolRow* row) { return row->findChild<ToneLabel*>("status"); }

  test::ScratchDirectory tools;
  test::ScratchDirectory release;   // outside the search path
  ExecutableURLCache cache;
  ToolSearchPath searchPath{cache, {tools.path().string()}};
  RequiredToolsWindowController controller{cache, searchPath};
};

TEST_F(RequiredToolsWindowTest, EachGroupShowsItsStatusToneToolsAndLimitations) {
  showLoaded();
  EXPECT_EQ(rowsShown().size(), allToolRequirements().size());
  // Complete (heif through its older decoder name), partial and missing groups.
  struct Case {
    const char* title;
    ToneLabel::Tone tone;
    int versions;
    int notFound;
  };
  const Case cases[] = {
      {"AVIF", ToneLabel::Tone::green, 2, 0},
      {"HEIF / AVIF / JPEG 2000 (libheif)", ToneLabel::Tone::green, 2, 0},
      {"JPEG XL & SSIMULACRA2 metric", ToneLabel::Tone::orange, 2, 2},
      {"WebP", ToneLabel::Tone::red, 0, 2},
  };
  for (const Case& expected : cases) {
    SCOPED_TRACE(expected.title);
    RequiredToolRow* shown = row(expected.title);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(statusOf(shown)->tone(), expected.tone);
    EXPECT_EQ(test::labelTexts(shown, "version").size(), expected.versions);
    EXPECT_EQ(test::labelTexts(shown, "notFound").size(), expected.notFound);
  }
  RequiredToolRow* avif = row("AVIF");
  EXPECT_EQ(test::labelTexts(avif, "path").value(0), QString::fromStdString((tools / "avifenc").string()));
  // The older decoder name stands in, and the older encoder's limits are told.
  RequiredToolRow* heif = row("HEIF / AVIF / JPEG 2000 (libheif)");
  EXPECT_EQ(test::labelTexts(heif, "toolName"), (QStringList{"heif-enc", "heif-dec (heif-convert)"}));
  EXPECT_TRUE(test::labelTexts(heif, "limitation").join('\n').contains("1.15.1"));
  EXPECT_TRUE(test::labelTexts(avif, "limitation").isEmpty());
}

TEST_F(RequiredToolsWindowTest, StatusIsShownBeforeTheVersionsArriveAndLateResultsOfGoneRowsAreDropped) {
  // A probe that answers only when released: until then the row has its
  // status from the presence search alone and no tool lines.
  test::writeFakeTool(tools.path(), "cwebp",
                      "while [ ! -e \"" + (release.path() / "go").string() + "\" ]; do sleep 0.02; done; echo 1.4.0");
  controller.show();
  RequiredToolRow* webp = row("WebP");
  EXPECT_FALSE(webp->hasLoadedTools());
  EXPECT_EQ(statusOf(webp)->text(), "Missing dwebp");
  EXPECT_TRUE(test::labelTexts(webp, "toolName").isEmpty());

  controller.window()->close();   // closing mid-load
  controller.show();              // a fresh view while the first loads still run
  test::writeTextFile(release.path() / "go", "");
  waitForLoads();
  QApplication::processEvents();
  // Each row shows its tools once: nothing of the replaced rows arrived.
  EXPECT_EQ(rowsShown().size(), allToolRequirements().size());
  EXPECT_EQ(test::labelTexts(row("WebP"), "toolName"), (QStringList{"cwebp", "dwebp"}));
  EXPECT_EQ(test::labelTexts(row("WebP"), "version"), QStringList{"Version 1.4.0"});
}

TEST_F(RequiredToolsWindowTest, CopyButtonsPutExactlyTheCommandOnTheClipboard) {
  showLoaded();
  auto copied = [](QPushButton* button) {
    button->click();
    return QGuiApplication::clipboard()->text().toStdString();
  };
  // The first copy button of the window copies the combined command.
  EXPECT_EQ(copied(controller.window()->findChildren<QPushButton*>("copyCommand").front()), combinedInstallCommand());
  for (const ToolRequirement& requirement : allToolRequirements()) {
    SCOPED_TRACE(requirement.title);
    auto buttons = row(requirement.title)->findChildren<QPushButton*>("copyCommand");
    ASSERT_EQ(buttons.size(), requirement.debianInstallCommand ? 2 : 1);
    EXPECT_EQ(copied(buttons[0]), installCommand(requirement));
    if (requirement.debianInstallCommand) {
      EXPECT_EQ(copied(buttons[1]), *requirement.debianInstallCommand);
    }
  }
  EXPECT_TRUE(test::labelTexts(row("JPEGli"), "note").join("").endsWith(
      "The app already searches ~/bin, so no PATH changes are needed."));
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
  EXPECT_TRUE(cache.locate("jxlinfo", searchPath.toolSearchDirectories()));

  test::writeFakeTool(tools.path(), "cjpeg", "echo 'libjpeg-turbo version 2.1.5 (build 20230203)'");
  QSize size = window->size();
  controller.show();
  EXPECT_EQ(controller.window(), window);
  EXPECT_EQ(window->size(), size);
  waitForLoads();
  EXPECT_EQ(statusOf(row("JPEG (libjpeg-turbo)"))->text(), "Installed 2.1.5");
}

}  // namespace
}  // namespace quorlin::gui
