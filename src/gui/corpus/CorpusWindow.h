// CorpusWindow: "Compare Folder" for one tab's four panels: every image of a
// folder run through the panels by the same corpus engine and results files
// as `quorlin-cli corpus run`, so a run stopped here resumes here or on the
// command line with the same panels, and the reverse.
//
// The window shows the run's progress (images, units, elapsed and remaining
// time), its failures one click away, and a table of the report as images
// finish: one row per image (thumbnail, name, size), per panel its BD-rate
// against the anchor and its score and bits per pixel at the chosen target
// (target mode) or at the panel's own setting (the nearest ladder point),
// with the mean, median and geometric mean pinned on top whatever the sort.
// Images that could not be used keep a row that says why. A double-click
// hands the row's image and its records to `openImage`.
//
// Main thread only. The run goes on a worker thread of the window's own;
// closing the window stops it (finished units stay recorded).
#pragma once

#include <QHash>
#include <QIcon>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

#include "core/common/MainThreadDispatcher.h"
#include "core/corpus/CorpusInputs.h"
#include "core/corpus/CorpusReport.h"
#include "core/corpus/CorpusRun.h"
#include "core/engine/CodecPanel.h"
#include "core/engine/CompressionEngine.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTimer;

namespace quorlin::gui {

struct CorpusWindowSetup {
  std::vector<CodecPanel> panels;  // the tab's four, in order
  RateControlMode mode = RateControlMode::manual;
  double targetScore = 85;
  std::shared_ptr<CompressionEngine> engine;
  std::shared_ptr<MainThreadDispatcher> dispatcher;
  // A double-clicked row: its image and its recorded units (the ok ones).
  std::function<void(const std::filesystem::path& image, const std::vector<CorpusRecord>& records)> openImage;
};

class CorpusWindow : public QWidget {
 public:
  explicit CorpusWindow(CorpusWindowSetup setup, QWidget* parent = nullptr);
  ~CorpusWindow() override;

  // "$XDG_DATA_HOME/quorlin/runs/DATE-NAME" (~/.local/share without the variable).
  static std::filesystem::path defaultResultsFolder(const std::string& folderName);

  void setImageFolder(const std::filesystem::path& folder);
  void setResultsFolder(const std::filesystem::path& folder);
  // Starts a run (or resumes the one in the results folder); false, with the
  // reason in messageText(), when it cannot start.
  bool start();
  void stop();
  bool isRunning() const { return worker_.has_value(); }
  // Called on the main thread after every run, once the window shows its end.
  void setRunEndedHandler(std::function<void()> handler) { runEndedHandler_ = std::move(handler); }

  // Shows a finished (or partial) run folder, also one of a cluster; false
  // with the reason in messageText() when it holds no usable results.
  bool openResults(const std::filesystem::path& runFolder);
  // The same page as `quorlin-cli corpus report --html`.
  bool exportReport(const std::filesystem::path& file);

  QString messageText() const;
  QString failureText() const { return failureText_; }
  const std::optional<CorpusReport>& report() const { return report_; }
  QTableWidget* table() const { return table_; }
  QProgressBar* progressBar() const { return progressBar_; }
  QLabel* progressLabel() const { return progressLabel_; }
  QPushButton* startButton() const { return startButton_; }
  QPushButton* stopButton() const { return stopButton_; }
  QPushButton* failuresButton() const { return failuresButton_; }
  QComboBox* anchorPicker() const { return anchorPicker_; }
  QLineEdit* ladderEdit() const { return ladderEdit_; }
  // The table's column of panel `number`'s BD-rate (score and bpp follow it).
  static int bdRateColumn(int panelNumber) { return 2 + 3 * (panelNumber - 1); }

 protected:
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void chooseImageFolder();
  void chooseResultsFolder();
  void chooseResultsToOpen();
  void chooseReportFile();
  std::optional<std::vector<SweepPlan>> plans();
  void showMessage(const QString& text, bool isError);
  void progressed(const CorpusProgress& progress);
  void runEnded(const std::string& error, bool isCancelled);
  void refreshReport();
  void rebuildTable();
  void fitNameColumn();
  void updateButtons();

  CorpusWindowSetup setup_;
  std::filesystem::path runFolder_;
  std::vector<SkippedInput> skipped_;
  std::optional<CorpusReport> report_;
  std::vector<CorpusRecord> records_;
  QString failureText_;
  std::function<void()> runEndedHandler_;
  QHash<QString, QIcon> thumbnails_;  // by path: decoded once per window
  QTimer* refreshTimer_ = nullptr;    // re-reads the results at most this often while running
  std::size_t shownImagesDone_ = 0;
  std::size_t unitsPerImage_ = 0;  // of the running run
  bool isResultsFolderEdited_ = false;
  int nameColumnWidth_ = 0;  // the image names' own width; the column also takes the spare width

  std::optional<std::jthread> worker_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);

  QLineEdit* folderEdit_ = nullptr;
  QLineEdit* ladderEdit_ = nullptr;
  QLineEdit* resultsEdit_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  QPushButton* failuresButton_ = nullptr;
  QPushButton* exportButton_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  QLabel* progressLabel_ = nullptr;
  QLabel* messageLabel_ = nullptr;
  QComboBox* anchorPicker_ = nullptr;
  QTableWidget* table_ = nullptr;
};

}  // namespace quorlin::gui
