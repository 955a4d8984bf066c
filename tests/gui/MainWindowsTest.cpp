// The main window over the fake engine, and the rate-distortion and corpus
// windows it opens.
// libvips first: glib names a member "signals", which Qt defines as a macro.
#include "support/TestImages.h"
#include "core/engine/VipsRuntime.h"

#include <QCategoryAxis>
#include <QChart>
#include <QLineSeries>
#include <QScatterSeries>

#include "GuiTestSupport.h"
#include "core/corpus/CorpusResultsFile.h"
#include "core/corpus/CorpusRun.h"
#include "core/engine/CompressionRunner.h"
#include "core/tools/CommandConsole.h"
#include "core/tools/ProcessRunner.h"
#include "core/tools/ToolVersionCache.h"
#include "gui/app/QtMainThreadDispatcher.h"
#include "gui/corpus/CorpusWindow.h"
#include "gui/ratedistortion/RateDistortionWindow.h"
#include "gui/windows/CommandConsoleWindow.h"
#include "gui/windows/HelpAndAboutWindows.h"
#include "gui/windows/RequiredToolsWindow.h"
#include "gui/windows/ResultsTableWindow.h"
#include "gui/workspace/CompressionWorkspaceView.h"
#include "gui/workspace/MainWindow.h"
#include "support/TestSupport.h"
#include "support/WorkspaceFixture.h"

namespace quorlin::test {
namespace {

using namespace gui;
using namespace std::chrono_literals;

// The main window over the fake engine: tabs and their pages, the selection
// after closing, activation, the toolbar, the window's registry handlers and
// the first showing of the required tools window.
class MainWindowTest : public WorkspaceFixture {
 protected:
  void SetUp() override {
    // Most tests are not about the first start.
    settings->setHasSeenToolRequirements(true);
    window = makeWindow();
  }
  void TearDown() override {
    window.reset();
    WorkspaceFixture::TearDown();
  }

  std::unique_ptr<MainWindow> makeWindow() {
    return std::make_unique<MainWindow>(gui::MainWindowServices{services(), console, toolCache, toolSearchPath});
  }

  QTabWidget& strip() { return *window->tabWidget(); }

  std::vector<std::string> labels() {
    std::vector<std::string> texts;
    for (int i = 0; i < strip().count(); ++i) texts.push_back(strip().tabText(i).toStdString());
    return texts;
  }

  // The strip shows exactly the list: one page per tab, in order, the list's selection current.
  void expectStripMatchesList() {
    const auto tabs = window->tabList().tabs();
    ASSERT_EQ(strip().count(), static_cast<int>(tabs.size()));
    for (std::size_t i = 0; i < tabs.size(); ++i) {
      EXPECT_EQ(strip().widget(static_cast<int>(i)), window->workspaceView(tabs[i].id)) << "page " << i;
    }
    EXPECT_EQ(strip().currentIndex(), static_cast<int>(window->tabList().selectedIndex()));
    EXPECT_EQ(window->closeTabAction()->isEnabled(), tabs.size() >= 2);
  }

  Uuid idAt(std::size_t index) { return window->tabList().tabs().at(index).id; }

  CommandConsoleStore console;
  std::unique_ptr<MainWindow> window;
};

TEST_F(MainWindowTest, TabsStartWithOneThatCannotCloseAreAddedSelectedAndClosedTowardsTheNextOne) {
  EXPECT_EQ(labels(), std::vector<std::string>{"Untitled"});
  EXPECT_EQ(strip().tabBar()->tabButton(0, QTabBar::RightSide), nullptr);
  window->closeSelectedTab();
  expectStripMatchesList();
  const QList<QAction*> actions = window->toolBar()->actions();
  EXPECT_EQ(actions, (QList<QAction*>{window->newTabAction(), window->closeTabAction(), window->consoleAction(),
                                      window->requiredToolsAction(), window->rateDistortionAction()}));
  for (QAction* action : actions) EXPECT_FALSE(action->icon().isNull()) << action->text().toStdString();

  window->newTabAction()->trigger();
  registry.newTargetTab();
  expectStripMatchesList();
  EXPECT_EQ(window->tabList().selectedIndex(), 2u);
  EXPECT_EQ(window->tabList().tabs()[2].rateControlMode, RateControlMode::targetScore);
  // Labels follow the titles, shortened when long.
  const std::string longer = "a-rather-long-photograph-name.png";
  window->tabList().workspace(idAt(1))->setTabTitle(longer);
  load(*window->tabList().workspace(idAt(2)), writeImage("cups.png"));
  EXPECT_EQ(labels(), (std::vector<std::string>{"Untitled", "a-rather-long-ph...-name.png", "cups.png"}));
  EXPECT_EQ(strip().tabToolTip(1).toStdString(), longer);

  for (int i = 0; i < 2; ++i) window->addTab(RateControlMode::manual);
  const std::vector<Uuid> ids{idAt(0), idAt(1), idAt(2), idAt(3), idAt(4)};
  // A tab's own close button closes that tab, whichever is selected.
  QTest::mouseClick(strip().tabBar()->tabButton(1, QTabBar::RightSide), Qt::LeftButton);
  EXPECT_EQ(window->workspaceView(ids[1]), nullptr);
  EXPECT_EQ(idAt(1), ids[2]);
  expectStripMatchesList();
  strip().setCurrentIndex(3);   // the user picks the last tab
  window->closeTabAction()->trigger();
  EXPECT_EQ(window->tabList().selectedTabID(), ids[3]);
  EXPECT_TRUE(window->tabList().workspace(ids[3])->isActive());
  expectStripMatchesList();
}

TEST_F(MainWindowTest, ChoosingATabMovesActivationAndTheCommands) {
  window->addTab(RateControlMode::manual);
  CompressionWorkspace* first = window->tabList().workspace(idAt(0));
  CompressionWorkspace* second = window->tabList().workspace(idAt(1));
  second->canvasView().setShowingOriginal(true);

  registry.newTab = nullptr;
  strip().setCurrentIndex(0);
  EXPECT_TRUE(first->isActive());
  EXPECT_FALSE(second->isActive());
  EXPECT_FALSE(second->canvasView().isShowingOriginal()) << "a deactivated tab releases its hold-to-show overlays";

  // The registry's generate now belongs to the first tab, and the window's commands are back.
  load(*first, writeImage("first.png"));
  registry.generate();
  EXPECT_TRUE(first->isRunning());
  EXPECT_FALSE(second->isRunning());
  for (const auto& run : waitingRuns(4)) finishAndApply(run.number);
  ASSERT_TRUE(static_cast<bool>(registry.newTab));
  registry.newTab();
  EXPECT_EQ(window->tabList().tabCount(), 3u);
}

TEST_F(MainWindowTest, TheWindowCommandsOpenWindowsThatEscapeClosesAndGoWithTheWindowAndTheFirstShowingOpensTheToolsWindowOnce) {
  registry = KeyboardCommandRegistry{};
  window->registerGlobalCommands();
  ASSERT_TRUE(registry.newTab && registry.newTargetTab && registry.toggleCommandConsole && registry.showRequiredTools &&
              registry.showHelp);
  registry.showHelp();
  registry.showRequiredTools();
  registry.toggleCommandConsole();
  for (QWidget* auxiliary :
       {window->helpWindow().window(), window->consoleWindow().window(), window->requiredToolsWindow().window()}) {
    ASSERT_NE(auxiliary, nullptr);
    ASSERT_TRUE(auxiliary->isVisible());
    auxiliary->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(auxiliary));
    QTest::keyClick(auxiliary, Qt::Key_Escape);
    EXPECT_FALSE(auxiliary->isVisible()) << auxiliary->windowTitle().toStdString();
  }

  window.reset();
  EXPECT_FALSE(registry.newTab || registry.newTargetTab || registry.toggleCommandConsole ||
               registry.showRequiredTools || registry.showHelp);

  settings->setHasSeenToolRequirements(false);
  window = makeWindow();
  window->show();
  QApplication::processEvents();
  EXPECT_TRUE(settings->hasSeenToolRequirements());
  ASSERT_NE(window->requiredToolsWindow().window(), nullptr);
  EXPECT_TRUE(window->requiredToolsWindow().window()->isVisible());

  // A later start, and a later showing of the same window, leave it closed.
  window = makeWindow();
  window->show();
  window->hide();
  window->show();
  QApplication::processEvents();
  EXPECT_EQ(window->requiredToolsWindow().window(), nullptr);
}

TEST_F(MainWindowTest, TheResultsTableFollowsTheSelectedTabAndLetsGoOfAClosedOne) {
  window->addTab(RateControlMode::manual);
  CompressionWorkspace& second = window->tabList().selectedWorkspace();
  second.updatePanel(1, [](CodecPanel& panel) { panel.errorMessage = "avifenc failed."; });
  window->showResultsTable();
  QTableWidget* table = window->resultsTableWindow().table();
  ASSERT_EQ(table->rowCount(), 4);
  EXPECT_EQ(table->item(1, 9)->text(), "Failed");
  window->closeSelectedTab();   // back on the first tab, where nothing failed
  EXPECT_EQ(table->item(1, 9)->text(), "Not Generated");
}

TEST_F(MainWindowTest, FitsSmallScreensWithEveryControlInsideAndHalfTheWidthForTheCanvas) {
  window->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
  gui::CompressionWorkspaceView* view = window->workspaceView(idAt(0));
  for (QSize screen : {QSize(1280, 720), QSize(1024, 640)}) {
    SCOPED_TRACE(screen.width());
    EXPECT_LE(window->minimumSizeHint().width(), screen.width());
    EXPECT_LE(window->minimumSizeHint().height(), screen.height());
    window->resize(screen);
    QCoreApplication::processEvents();
    ASSERT_EQ(window->size(), screen);
    EXPECT_GE(view->findChild<QWidget*>("canvasArea")->width(), screen.width() / 2);
    QList<QWidget*> controls = view->findChildren<QWidget*>("generateButton");   // the toolbar's and the panels'
    for (const char* name : {"openButton", "rateControlPicker", "statusText", "actualSizeButton"}) {
      controls.push_back(view->findChild<QWidget*>(name));
    }
    for (QWidget* control : controls) {
      ASSERT_NE(control, nullptr);
      const QRect inWindow(control->mapTo(window.get(), QPoint(0, 0)), control->size());
      EXPECT_TRUE(window->rect().contains(inWindow)) << control->objectName().toStdString();
    }
  }
}

// A corpus row's double-click: a new tab with the image and the same panels, generating once the image is
// read, and its Rate–Distortion window showing the curves recorded with those panels' settings.
TEST_F(MainWindowTest, ACorpusRowOpensInANewTabWithThePanelsTheirRecordedCurvesAndGenerates) {
  window->tabList().selectedWorkspace().updatePanel(1, [](CodecPanel& p) { p.selectCodec(CompressionCodec::webP); });
  const auto panels = window->tabList().selectedWorkspace().panels();
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
  gui::CorpusWindow& corpus = window->showCorpus();
  ASSERT_TRUE(corpus.openResults(scratch / "run")) << corpus.messageText().toStdString();
  corpus.table()->cellDoubleClicked(3, 0);
  ASSERT_TRUE(quiesce());
  ASSERT_EQ(window->tabList().tabs().size(), 2u);
  CompressionWorkspace& opened = window->tabList().selectedWorkspace();
  EXPECT_EQ(opened.sourceURL(), scratch / "images" / "photo.png");
  EXPECT_EQ(opened.panel(1).codec, CompressionCodec::webP);
  EXPECT_EQ(engine->waitingRuns().size(), 4u);
  gui::RateDistortionWindow* curves = window->rateDistortionWindow(window->tabList().selectedTabID());
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
}

// The window over a workspace on the fake engine, swept one point at a time:
// point p of panel i scores 30 + 7p + i at 1000 + 500p - 100i bytes, except
// that panel 4's fourth point costs more than its fifth (so it is dropped).
class RateDistortionWindowTest : public test::WorkspaceFixture {
 protected:
  void SetUp() override {
    settings->setEncodeInParallel(false);
    load(writeImage("photo.png", 40, 25));
    window = std::make_unique<gui::RateDistortionWindow>(*workspace, services());
    window->session().sweepAll();
    std::map<CompressionCodec, int> points;
    for (int guard = 0; guard < 100 && window->session().isSweeping(); ++guard) {
      ASSERT_TRUE(quiesce());
      for (const auto& run : engine->waitingRuns()) {
        int i = 0;
        while (workspace->panel(i).codec != run.panel.codec) ++i;
        const int p = points[run.panel.codec]++;
        engine->finishRun(run.number, 30 + 7 * p + i, 1000 + 500 * p - 100 * i + (i == 3 && p == 3 ? 900 : 0));
      }
    }
    ASSERT_TRUE(quiesce());
    ASSERT_FALSE(window->session().isSweeping());
  }
  void TearDown() override {
    window.reset();
    WorkspaceFixture::TearDown();
  }

  // The series of panel `index` of one kind: "line", "kept", "dropped" or "current".
  std::vector<QXYSeries*> seriesOf(int index, const std::string& kind) const {
    std::vector<QXYSeries*> found;
    const QString name = QString::number(index + 1) + " ";
    int panel = -1;
    for (QAbstractSeries* series : window->chart()->series()) {
      auto* xy = static_cast<QXYSeries*>(series);
      if (auto* line = qobject_cast<QLineSeries*>(series); line && series->type() == QAbstractSeries::SeriesTypeLine) {
        panel = line->name().startsWith(name) ? index : -1;
        if (panel == index && kind == "line") found.push_back(xy);
        continue;
      }
      if (panel != index) continue;
      const bool isCurrent = series->property("current").toBool();
      auto* points = static_cast<QScatterSeries*>(series);
      const bool isHollow = points->brush().color() != points->pen().color();
      if ((kind == "current" && isCurrent) || (kind == "kept" && !isCurrent && !isHollow) ||
          (kind == "dropped" && !isCurrent && isHollow)) {
        found.push_back(xy);
      }
    }
    return found;
  }

  std::unique_ptr<gui::RateDistortionWindow> window;
};

TEST_F(RateDistortionWindowTest, ChartsFourCurvesWithTheirPointsAndTheDeltaTableAndAClickedPointShowsInThePanelWithoutEncoding) {
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(seriesOf(i, "line").size(), 1u);
    EXPECT_EQ(seriesOf(i, "line")[0]->count(), i == 3 ? 8 : 9);
    EXPECT_EQ(seriesOf(i, "kept")[0]->count(), i == 3 ? 8 : 9);
    EXPECT_EQ(seriesOf(i, "dropped")[0]->count(), i == 3 ? 1 : 0);
    EXPECT_TRUE(seriesOf(i, "current").empty());
  }
  // Rates of 5.6 to 40 bpp, under a decade apart, still read off at least three labelled ticks.
  QCategoryAxis* rates = nullptr;
  for (QAbstractAxis* axis : window->chart()->axes(Qt::Horizontal)) {
    if (axis->isVisible()) rates = qobject_cast<QCategoryAxis*>(axis);
  }
  ASSERT_TRUE(rates);
  EXPECT_GE(rates->categoriesLabels().size(), 3);
  QTableWidget* table = window->deltaTable();
  ASSERT_EQ(table->rowCount(), 3);
  EXPECT_EQ(table->item(0, 0)->text(), "2");
  EXPECT_TRUE(window->progressBar()->isHidden());
  EXPECT_FALSE(window->cancelButton()->isEnabled());

  const int runs = engine->startedRunCount();
  const QPointF point = seriesOf(2, "kept")[0]->at(4);
  ASSERT_TRUE(window->choosePoint(2, point.x(), point.y()));
  const CodecPanel& panel = workspace->panel(2);
  EXPECT_EQ(panel.quality, 70);
  ASSERT_TRUE(panel.result && panel.result->decodedImage.image);
  EXPECT_EQ(panel.result->ssimulacra2Score, point.y());
  dispatcher->advanceClock(std::chrono::seconds(60));
  ASSERT_TRUE(quiesce());
  EXPECT_EQ(engine->startedRunCount(), runs);
  // The chart now marks the panel's result larger, on its point.
  ASSERT_EQ(seriesOf(2, "current").size(), 1u);
  EXPECT_EQ(seriesOf(2, "current")[0]->at(0), point);
  EXPECT_FALSE(window->choosePoint(2, point.x() * 3, point.y()));
}

TEST_F(RateDistortionWindowTest, ASettingsChangeMarksTheCurveStaleAndPointsAndChartExport) {
  workspace->updatePanel(1, [](CodecPanel& panel) { panel.avifDepth = AVIFDepth::ten; });
  QLineSeries* stale = static_cast<QLineSeries*>(seriesOf(1, "line")[0]);
  EXPECT_TRUE(stale->name().endsWith("Needs Regeneration")) << stale->name().toStdString();
  EXPECT_EQ(stale->pen().style(), Qt::DashLine);
  EXPECT_EQ(static_cast<QLineSeries*>(seriesOf(0, "line")[0])->pen().style(), Qt::SolidLine);

  window->resize(700, 600);
  for (const char* name : {"points.csv", "points.json", "chart.svg", "chart.png"}) {
    const auto file = scratch / name;
    const bool isChart = file.extension() == ".svg" || file.extension() == ".png";
    ASSERT_TRUE(isChart ? window->exportChart(file) : window->exportPoints(file)) << name;
    EXPECT_GT(std::filesystem::file_size(file), 200u) << name;
  }
  EXPECT_NE(test::readTextFile(scratch / "chart.svg").find("<svg"), std::string::npos);
}

// libvips first: glib names a member "signals", which Qt defines as a macro.
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
      const fs::path file = scratch / "corpus" / (i % 2 ? "sub" : "") / ("p" + std::to_string(i) + ".png");
      test::makeTestPicture(24 + 7 * i, 16 + 3 * i).pngsave(file.c_str());
    }
    test::writeTextFile(scratch / "corpus" / "notes.txt", "not an image");
    // Each tool finds its output (and cwebp its input, quality and effort) among its arguments.
    const std::string sh = "PATH=/usr/bin:/bin\nfor a in \"$@\"; do [ \"$a\" = -o ] && in=$prev; [ \"$prev\" = -o ] && out=$a; "
                           "[ \"$prev\" = -q ] && q=$a; [ \"$prev\" = -m ] && m=$a; prev=$a; last=$a; done\n";
    test::writeFakeTool(scratch / "tools", "cwebp", sh + "case \"$1\" in --version|-version) echo 1.2.4; exit 0;; esac\n"
        "n=$(wc -c < \"$in\")\n[ \"$q\" = 70 ] && while [ ! -e '" + (scratch / "release").string() + "' ]; do sleep 0.01; done\n"
        "cp '" + (scratch / "sample.webp").string() + "' \"$out\"\nhead -c $(($q * (40 + 20 * $m) + n / 3)) /dev/zero >> \"$out\"\n"
        "echo $(($q + n % 7 + 2 * $m)) > \"$(dirname \"$out\")/quality\"\n");
    test::writeFakeTool(scratch / "tools", "dwebp", sh + "cp '" + (scratch / "decoded.png").string() + "' \"$last\"\n");
    test::writeFakeTool(scratch / "tools", "ssimulacra2", sh + "cat \"$(dirname \"$last\")/quality\"\n");
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

}  // namespace
}  // namespace quorlin::test
