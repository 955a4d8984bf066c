// libvips first: glib names a member "signals", which Qt defines as a macro.
#include "support/TestImages.h"
#include "core/engine/VipsRuntime.h"

#include "gui/corpus/CorpusWindow.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "GuiTestSupport.h"
#include "core/corpus/CorpusResultsFile.h"
#include "core/corpus/CorpusRun.h"
#include "core/engine/CompressionRunner.h"
#include "core/tools/CommandConsole.h"
#include "core/tools/ProcessRunner.h"
#include "core/tools/ToolVersionCache.h"
#include "gui/app/QtMainThreadDispatcher.h"
#include "gui/ratedistortion/RateDistortionWindow.h"
#include "gui/workspace/MainWindow.h"
#include "support/WorkspaceFixture.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;

// The window on the real engine over fake WebP tools: four WebP panels of
// efforts 1 to 4, each effort point pricier and better; quality 70 waits for
// the file "release". Six generated pictures and a text file in the folder.
class CorpusWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ensureVipsInitialized();
    test::makeTestPicture(32, 20).webpsave((scratch / "sample.webp").c_str());
    test::makeTestPicture(32, 20).pngsave((scratch / "decoded.png").c_str());
    fs::create_directories(scratch / "corpus" / "sub");
    for (int i = 0; i < 6; ++i) {
      const fs::path file = scratch / "corpus" / (i % 2 ? "sub" : "") / std::string("p").append(std::to_string(i)).append(".png");
      test::makeTestPicture(24 + 7 * i, 16 + 3 * i).pngsave(file.c_str());
    }
    test::writeTextFile(scratch / "corpus" / "notes.txt", "not an image");
    const std::string sh = "PATH=/usr/bin:/bin\n";
    test::writeFakeTool(scratch / "tools", "cwebp", sh + "case \"$1\" in --version|-version) echo 1.2.4; exit 0;; esac\n"
        "for a in \"$@\"; do [ \"$a\" = -o ] && in=$prev; [ \"$prev\" = -o ] && out=$a; [ \"$prev\" = -q ] && q=$a; "
        "[ \"$prev\" = -m ] && m=$a; prev=$a; done\nn=$(wc -c < \"$in\")\n"
        "[ \"$q\" = 70 ] && while [ ! -e '" + (scratch / "release").string() + "' ]; do sleep 0.01; done\n"
        "cp '" + (scratch / "sample.webp").string() + "' \"$out\"\nhead -c $(($q * (40 + 20 * $m) + n / 3)) /dev/zero >> \"$out\"\n"
        "echo $(($q + n % 7 + 2 * $m)) > \"$(dirname \"$out\")/quality\"\n");
    test::writeFakeTool(scratch / "tools", "dwebp", sh + "for a in \"$@\"; do last=$a; done\ncp '" + (scratch / "decoded.png").string() + "' \"$last\"\n");
    test::writeFakeTool(scratch / "tools", "ssimulacra2", sh + "for a in \"$@\"; do last=$a; done\ncat \"$(dirname \"$last\")/quality\"\n");
    searchPath.setCustomToolDirectories({(scratch / "tools").string()});
    window = makeWindow();
  }

  std::unique_ptr<gui::CorpusWindow> makeWindow() {
    std::vector<CodecPanel> panels(4);
    for (int i = 0; i < 4; ++i) {
      panels[i].selectCodec(CompressionCodec::webP);
      panels[i].effort = i + 1;
    }
    auto made = std::make_unique<gui::CorpusWindow>(gui::CorpusWindowSetup{
        panels, RateControlMode::manual, 85, engine, dispatcher, [this](const fs::path& file, auto&&) { opened = file; }});
    made->setImageFolder(scratch / "corpus");
    made->setResultsFolder(scratch / "run");
    made->ladderEdit()->setText("30, 50, 70, 90");
    return made;
  }

  bool finish() { return QTest::qWaitFor([&] { return !window->isRunning(); }, 120000); }
  std::vector<std::string> lines() {
    std::ifstream in(scratch / "run" / resultsFileName({}));
    std::vector<std::string> read;
    for (std::string line; std::getline(in, line);) read.push_back(line);
    return read;
  }
  QString cellText(int row, int column) { return window->table()->item(row, column)->text(); }

  test::ScratchDirectory scratch;
  std::shared_ptr<gui::QtMainThreadDispatcher> dispatcher = std::make_shared<gui::QtMainThreadDispatcher>();
  ExecutableURLCache cache;
  ToolSearchPath searchPath{cache, {}};
  CommandConsoleStore console;
  ToolRunner runner{cache, searchPath, *dispatcher, console, ChildStandardInput::nullDevice, nullptr};
  ToolVersionCache versions;
  std::shared_ptr<CompressionRunner> engine = std::make_shared<CompressionRunner>(
      EngineContext{runner, cache, searchPath, versions, scratch / "tmp", nullptr, false});
  std::optional<fs::path> opened;
  std::unique_ptr<gui::CorpusWindow> window;
};

TEST_F(CorpusWindowTest, FillsTheSortableTableAndOpensARowAndExportsTheSameReport) {
  test::writeTextFile(scratch / "release", "");
  ASSERT_TRUE(window->start());
  ASSERT_TRUE(finish());
  EXPECT_EQ(lines().size(), 6u * 4 * 4) << window->messageText().toStdString();
  QTableWidget* table = window->table();
  ASSERT_EQ(table->rowCount(), 3 + 6 + 1);
  const int column = gui::CorpusWindow::bdRateColumn(2);
  for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
    table->sortItems(column, order);
    EXPECT_EQ(cellText(2, 0), "Geometric mean");   // the summary rows stay on top
    std::vector<double> rates;
    for (int row = 3; row < 9; ++row) rates.push_back(table->item(row, column)->data(Qt::UserRole).toDouble());
    EXPECT_TRUE(order == Qt::AscendingOrder ? std::is_sorted(rates.begin(), rates.end())
                                            : std::is_sorted(rates.rbegin(), rates.rend()));
    EXPECT_NE(rates.front(), rates.back());
    EXPECT_EQ(cellText(9, 1), "not an image");
  }
  table->cellDoubleClicked(3, 0);
  ASSERT_TRUE(opened);
  EXPECT_TRUE(fs::exists(*opened) && opened->string().ends_with(cellText(3, 0).toStdString()));

  const auto exported = scratch / "report.html";
  ASSERT_TRUE(window->exportReport(exported));
  EXPECT_EQ(test::readTextFile(exported), corpusReportHtml(buildCorpusReport(readRunFolders({scratch / "run"}), 1)));
  auto reopened = makeWindow();
  ASSERT_TRUE(reopened->openResults(scratch / "run"));
  EXPECT_EQ(reopened->table()->rowCount(), 3 + 6);
}

TEST_F(CorpusWindowTest, StopThenStartResumesWithoutRepeatingUnits) {
  ASSERT_TRUE(window->start());
  ASSERT_TRUE(QTest::qWaitFor([&] { return window->progressBar()->value() >= 2; }, 60000));
  window->stop();
  ASSERT_TRUE(finish());
  EXPECT_TRUE(window->messageText().startsWith("Stopped")) << window->messageText().toStdString();
  EXPECT_LT(lines().size(), 96u);
  test::writeTextFile(scratch / "release", "");
  ASSERT_TRUE(window->start());
  ASSERT_TRUE(finish());
  std::set<std::string> keys;
  for (const auto& line : lines()) keys.insert(parseRecordLine(line)->key());
  EXPECT_EQ(lines().size(), 96u);
  EXPECT_EQ(keys.size(), 96u);
}

TEST_F(CorpusWindowTest, SaysWhyARunCannotStart) {
  fs::create_directories(scratch / "empty");
  window->setImageFolder(scratch / "empty");
  ASSERT_TRUE(window->start());
  ASSERT_TRUE(finish());
  EXPECT_TRUE(window->messageText().startsWith("No images in")) << window->messageText().toStdString();
  test::writeTextFile(scratch / "file", "");
  window->setImageFolder(scratch / "corpus");
  window->setResultsFolder(scratch / "file" / "run");
  EXPECT_FALSE(window->start());
  EXPECT_TRUE(window->messageText().startsWith("Cannot write the results folder")) << window->messageText().toStdString();
  window->ladderEdit()->setText("30, fifty");
  window->setResultsFolder(scratch / "run");
  EXPECT_FALSE(window->start());
  EXPECT_TRUE(window->messageText().contains("as numbers"));
}

// A row's double-click in the application: a new tab with the image and the same panels, generating once
// the image is read, and its Rate–Distortion window showing the curves recorded with those panels' settings.
class CorpusNewTabTest : public test::WorkspaceFixture {};

TEST_F(CorpusNewTabTest, OpensTheImageInANewTabWithThePanelsTheirRecordedCurvesAndGenerates) {
  CommandConsoleStore console;
  settings->setHasSeenToolRequirements(true);
  auto main = std::make_unique<gui::MainWindow>(gui::MainWindowServices{services(), console, toolCache, toolSearchPath});
  main->tabList().selectedWorkspace().updatePanel(1, [](CodecPanel& p) { p.selectCodec(CompressionCodec::webP); });
  const auto panels = main->tabList().selectedWorkspace().panels();
  const std::string image = writeImage("photo.png", 8, 6);
  std::string lines;
  for (int p = 0; p < 3; ++p) {  // panel 3's records are of another effort
    SweepPlan recorded;
    recorded.panel = panels[p], recorded.panel.effort += 50 * (p / 2);
    for (double q : {40.0, 80.0}) {
      CorpusRecord r;
      r.image = "photo.png", r.path = image, r.imageSha256 = std::string(64, 'a'), r.panel = p + 1, r.setting = q;
      r.signature = unitSignature(recorded, q), r.isOk = true, r.bitsPerPixel = q / 32 + p, r.ssimulacra2 = q - p;
      lines += recordLine(r);
    }
  }
  test::writeTextFile(scratch / "run" / resultsFileName({}), lines);
  gui::CorpusWindow& corpus = main->showCorpus();
  ASSERT_TRUE(corpus.openResults(scratch / "run")) << corpus.messageText().toStdString();
  corpus.table()->cellDoubleClicked(3, 0);
  ASSERT_TRUE(quiesce());
  ASSERT_EQ(main->tabList().tabs().size(), 2u);
  CompressionWorkspace& opened = main->tabList().selectedWorkspace();
  EXPECT_EQ(opened.sourceURL(), scratch / "images" / "photo.png");
  EXPECT_EQ(opened.panel(1).codec, CompressionCodec::webP);
  EXPECT_EQ(engine->waitingRuns().size(), 4u);
  gui::RateDistortionWindow* curves = main->rateDistortionWindow(main->tabList().selectedTabID());
  ASSERT_TRUE(curves && curves->isVisible());
  std::vector<std::tuple<int, double, double, double>> shown;  // panel, setting, bits per pixel, score
  for (int p = 0; p < 4; ++p) {
    for (const auto& s : curves->session().sweep(p).value_or(PanelSweep()).samples) {
      shown.emplace_back(p, s.settingValue, s.bitsPerPixel.value_or(0), s.ssimulacra2Score);
    }
  }
  EXPECT_EQ(shown, (decltype(shown){{0, 40, 1.25, 40}, {0, 80, 2.5, 80}, {1, 40, 2.25, 39}, {1, 80, 3.5, 79}}));
  engine->shutDown();
  ASSERT_TRUE(quiesce());
  main.reset();
}

}  // namespace
}  // namespace quorlin
