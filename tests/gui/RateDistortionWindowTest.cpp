#include "gui/ratedistortion/RateDistortionWindow.h"

#include <QChart>
#include <QLineSeries>
#include <QProgressBar>
#include <QPushButton>
#include <QScatterSeries>
#include <QTableWidget>

#include <gtest/gtest.h>

#include "GuiTestSupport.h"
#include "support/WorkspaceFixture.h"

namespace quorlin {
namespace {

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

TEST_F(RateDistortionWindowTest, ChartsFourCurvesWithTheirPointsAndTheDeltaTable) {
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(seriesOf(i, "line").size(), 1u);
    EXPECT_EQ(seriesOf(i, "line")[0]->count(), i == 3 ? 8 : 9);
    EXPECT_EQ(seriesOf(i, "kept")[0]->count(), i == 3 ? 8 : 9);
    EXPECT_EQ(seriesOf(i, "dropped")[0]->count(), i == 3 ? 1 : 0);
    EXPECT_TRUE(seriesOf(i, "current").empty());
  }
  QTableWidget* table = window->deltaTable();
  ASSERT_EQ(table->rowCount(), 3);
  EXPECT_EQ(table->item(0, 0)->text(), "2");
  EXPECT_TRUE(table->item(0, 2)->text().endsWith("% size")) << table->item(0, 2)->text().toStdString();
  EXPECT_TRUE(table->item(0, 2)->text().startsWith(QChar(0x2212)));
  EXPECT_TRUE(window->progressBar()->isHidden());
  EXPECT_FALSE(window->cancelButton()->isEnabled());
}

TEST_F(RateDistortionWindowTest, ClickingAPointShowsItInThePanelWithoutEncoding) {
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

TEST_F(RateDistortionWindowTest, ASettingsChangeMarksTheCurveStale) {
  workspace->updatePanel(1, [](CodecPanel& panel) { panel.avifDepth = AVIFDepth::ten; });
  QLineSeries* stale = static_cast<QLineSeries*>(seriesOf(1, "line")[0]);
  EXPECT_TRUE(stale->name().endsWith("Needs Regeneration")) << stale->name().toStdString();
  EXPECT_EQ(stale->pen().style(), Qt::DashLine);
  EXPECT_EQ(static_cast<QLineSeries*>(seriesOf(0, "line")[0])->pen().style(), Qt::SolidLine);
}

TEST_F(RateDistortionWindowTest, ExportsPointsAndChart) {
  window->resize(700, 600);
  for (const char* name : {"points.csv", "points.json", "chart.svg", "chart.png"}) {
    const auto file = scratch / name;
    const bool isChart = file.extension() == ".svg" || file.extension() == ".png";
    ASSERT_TRUE(isChart ? window->exportChart(file) : window->exportPoints(file)) << name;
    EXPECT_GT(std::filesystem::file_size(file), 200u) << name;
  }
  EXPECT_EQ(test::readTextFile(scratch / "points.csv").find("panel,codec,setting,"), 0u);
  EXPECT_NE(test::readTextFile(scratch / "chart.svg").find("<svg"), std::string::npos);
}

}  // namespace
}  // namespace quorlin
