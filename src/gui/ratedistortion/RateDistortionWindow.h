// RateDistortionWindow: the "Rate–Distortion" window of one tab: a chart of
// every swept panel's curve (bits per pixel on a log axis against
// SSIMULACRA2), the sweep controls with progress and Cancel, the table of
// each panel's deltas against an anchor, and the exports.
//
// In the chart each panel has its own colour and its number in the legend;
// dropped points are hollow, the panel's current result is drawn larger, a
// stale curve is dashed and says so, and every point has a tooltip. Clicking
// a point shows that point in its panel's quadrant without encoding.
//
// Main thread only. It owns the tab's RateDistortionSession; the workspace
// must outlive the window (the main window deletes it with the tab's page).
#pragma once

#include <QWidget>

#include <filesystem>
#include <memory>

#include "core/ratedistortion/RateDistortionSession.h"

class QChart;
class QChartView;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QToolButton;

namespace quorlin::gui {

class RateDistortionWindow : public QWidget {
 public:
  RateDistortionWindow(CompressionWorkspace& workspace, WorkspaceServices services, QWidget* parent = nullptr);
  ~RateDistortionWindow() override;

  RateDistortionSession& session() { return *session_; }
  QChart* chart() const;
  QChartView* chartView() const { return chartView_; }
  QTableWidget* deltaTable() const { return table_; }
  QPushButton* sweepAllButton() const { return sweepAllButton_; }
  QToolButton* sweepPanelButton() const { return sweepPanelButton_; }
  QPushButton* cancelButton() const { return cancelButton_; }
  QProgressBar* progressBar() const { return progressBar_; }
  QComboBox* anchorPicker() const { return anchorPicker_; }

  // What a click on a point of panel `index` does: the point at (bits per
  // pixel, score) is shown in the panel's quadrant. False when no sample is there.
  bool choosePoint(int index, double bitsPerPixel, double score);

  // The chart as an SVG drawing or a PNG picture of the chart's size.
  bool exportChart(const std::filesystem::path& file) const;
  bool exportPoints(const std::filesystem::path& file) const;  // .json or .csv by extension

 private:
  void rebuild();
  void rebuildChart();
  void rebuildTable();

  CompressionWorkspace& workspace_;
  std::unique_ptr<RateDistortionSession> session_;
  QChartView* chartView_ = nullptr;
  QTableWidget* table_ = nullptr;
  QPushButton* sweepAllButton_ = nullptr;
  QToolButton* sweepPanelButton_ = nullptr;
  QPushButton* cancelButton_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  QComboBox* anchorPicker_ = nullptr;
  Subscription sessionSubscription_;
  Subscription workspaceSubscription_;
};

}  // namespace quorlin::gui
