#include "gui/corpus/CorpusWindow.h"

#include <unistd.h>

#include <QComboBox>
#include <QDate>
#include <QDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>

#include "core/codecs/CodecCatalog.h"
#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/corpus/CorpusResultsFile.h"
#include "core/engine/CompressionRunner.h"
#include "core/ratedistortion/RateDistortionSample.h"
#include "gui/widgets/PaletteColors.h"
#include "gui/widgets/ToneLabel.h"

namespace quorlin::gui {

namespace {

namespace fs = std::filesystem;

constexpr int sortKeyRole = Qt::UserRole;
constexpr int pinnedRole = Qt::UserRole + 1;  // 1, 2, 3: the aggregate rows in order; 0 for images
constexpr int pathRole = Qt::UserRole + 2;
constexpr int shaRole = Qt::UserRole + 3;
constexpr int thumbnailSize = 40;

// Sorts by its key (NaN: no value, always last), the aggregate rows always on
// top in their own order, whichever way the column is sorted.
class SortItem : public QTableWidgetItem {
 public:
  using QTableWidgetItem::QTableWidgetItem;

  bool operator<(const QTableWidgetItem& other) const override {
    const bool isAscending =
        !tableWidget() || tableWidget()->horizontalHeader()->sortIndicatorOrder() == Qt::AscendingOrder;
    const int pinned = data(pinnedRole).toInt();
    const int otherPinned = other.data(pinnedRole).toInt();
    if (pinned || otherPinned) {
      if (pinned && otherPinned) return isAscending ? pinned < otherPinned : pinned > otherPinned;
      return pinned ? isAscending : !isAscending;
    }
    const QVariant key = data(sortKeyRole);
    const QVariant otherKey = other.data(sortKeyRole);
    if (!key.isValid() || !otherKey.isValid()) return text().localeAwareCompare(other.text()) < 0;
    const double value = key.toDouble();
    const double otherValue = otherKey.toDouble();
    if (std::isnan(value) || std::isnan(otherValue)) {
      if (std::isnan(value) && std::isnan(otherValue)) return false;
      return std::isnan(value) ? !isAscending : isAscending;
    }
    return value < otherValue;
  }
};

QString percentText(std::optional<double> fraction) {
  if (!fraction) return QStringLiteral("—");
  const QString number = QString::number(std::abs(*fraction) * 100, 'f', 1);
  return (*fraction < 0 ? QString(QChar(0x2212)) : *fraction > 0 ? QStringLiteral("+") : QString()) + number + "%";
}

std::optional<double> median(std::vector<double> values) {
  if (values.empty()) return std::nullopt;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::optional<double> mean(const std::vector<double>& values) {
  if (values.empty()) return std::nullopt;
  double sum = 0;
  for (double value : values) sum += value;
  return sum / static_cast<double>(values.size());
}

std::optional<double> geometricMean(const std::vector<double>& values) {
  if (values.empty()) return std::nullopt;
  double sum = 0;
  for (double value : values) {
    if (value <= 0) return std::nullopt;
    sum += std::log(value);
  }
  return std::exp(sum / static_cast<double>(values.size()));
}

std::vector<double> parseNumbers(const QString& text, bool* isValid) {
  std::vector<double> values;
  *isValid = true;
  for (const QString& part : text.split(QRegularExpression("[,\\s]+"), Qt::SkipEmptyParts)) {
    bool ok = false;
    const double value = part.toDouble(&ok);
    if (!ok || !std::isfinite(value)) *isValid = false;
    values.push_back(value);
  }
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
  return values;
}

QString numbersText(const std::vector<double>& values) {
  QStringList parts;
  for (double value : values) parts << QString::fromStdString(numberText(value));
  return parts.join(", ");
}

QIcon thumbnailOf(const QString& path) {
  QImageReader reader(path);
  reader.setAutoTransform(true);
  const QSize size = reader.size();
  if (size.isValid()) reader.setScaledSize(size.scaled(thumbnailSize, thumbnailSize, Qt::KeepAspectRatio));
  const QImage image = reader.read();
  return image.isNull() ? QIcon() : QIcon(QPixmap::fromImage(image));
}

std::string hostName() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

}  // namespace

fs::path CorpusWindow::defaultResultsFolder(const std::string& folderName) {
  fs::path data;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    data = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    data = fs::path(home) / ".local" / "share";
  } else {
    data = fs::temp_directory_path();
  }
  const std::string date = QDate::currentDate().toString(Qt::ISODate).toStdString();
  return data / "quorlin" / "runs" / (date + "-" + (folderName.empty() ? std::string("images") : folderName));
}

CorpusWindow::CorpusWindow(CorpusWindowSetup setup, QWidget* parent) : QWidget(parent), setup_(std::move(setup)) {
  setWindowTitle("Compare Folder");
  setWindowFlag(Qt::Window);
  resize(1100, 700);
  auto* layout = new QVBoxLayout(this);

  auto* form = new QFormLayout;
  auto fieldWithButton = [this](QLineEdit*& edit, const QString& button, auto chosen) {
    auto* row = new QHBoxLayout;
    edit = new QLineEdit(this);
    auto* choose = new QPushButton(button, this);
    connect(choose, &QPushButton::clicked, this, chosen);
    row->addWidget(edit, 1);
    row->addWidget(choose);
    return row;
  };
  form->addRow("Images:", fieldWithButton(folderEdit_, "Choose…", [this] { chooseImageFolder(); }));
  connect(folderEdit_, &QLineEdit::textEdited, this, [this](const QString& text) {
    if (!isResultsFolderEdited_) {
      resultsEdit_->setText(QString::fromStdString(defaultResultsFolder(fs::path(text.toStdString()).filename()).string()));
    }
  });
  folderEdit_->setPlaceholderText("A folder of images (searched with its subfolders)");

  ladderEdit_ = new QLineEdit(this);
  if (setup_.mode == RateControlMode::targetScore) {
    std::vector<double> targets(defaultTargetScores().begin(), defaultTargetScores().end());
    targets.push_back(setup_.targetScore);
    std::sort(targets.begin(), targets.end());
    targets.erase(std::unique(targets.begin(), targets.end()), targets.end());
    ladderEdit_->setText(numbersText(targets));
    ladderEdit_->setToolTip("Each panel searches every target score for every image");
    form->addRow("Target scores:", ladderEdit_);
  } else {
    ladderEdit_->setPlaceholderText("Each codec's own ladder");
    ladderEdit_->setToolTip("Qualities every quality-driven panel runs for every image; distance-driven panels "
                            "keep their codec's ladder");
    form->addRow("Qualities:", ladderEdit_);
  }
  form->addRow("Results:", fieldWithButton(resultsEdit_, "Choose…", [this] { chooseResultsFolder(); }));
  connect(resultsEdit_, &QLineEdit::textEdited, this, [this] { isResultsFolderEdited_ = true; });
  layout->addLayout(form);

  auto* buttons = new QHBoxLayout;
  startButton_ = new QPushButton("Start", this);
  startButton_->setDefault(true);
  stopButton_ = new QPushButton("Stop", this);
  auto* openButton = new QPushButton("Open Results…", this);
  exportButton_ = new QPushButton("Export Report…", this);
  anchorPicker_ = new QComboBox(this);
  for (std::size_t i = 0; i < setup_.panels.size(); ++i) {
    anchorPicker_->addItem(QString("Anchor: %1 %2").arg(i + 1).arg(
                               QString::fromUtf8(codecInfo(setup_.panels[i].codec).displayName.data(),
                                                 static_cast<int>(codecInfo(setup_.panels[i].codec).displayName.size()))),
                           static_cast<int>(i + 1));
  }
  connect(startButton_, &QPushButton::clicked, this, [this] { start(); });
  connect(stopButton_, &QPushButton::clicked, this, [this] { stop(); });
  connect(openButton, &QPushButton::clicked, this, [this] { chooseResultsToOpen(); });
  connect(exportButton_, &QPushButton::clicked, this, [this] { chooseReportFile(); });
  connect(anchorPicker_, &QComboBox::currentIndexChanged, this, [this] { refreshReport(); });
  buttons->addWidget(startButton_);
  buttons->addWidget(stopButton_);
  buttons->addStretch(1);
  buttons->addWidget(anchorPicker_);
  buttons->addWidget(openButton);
  buttons->addWidget(exportButton_);
  layout->addLayout(buttons);

  auto* progressRow = new QHBoxLayout;
  progressBar_ = new QProgressBar(this);
  progressBar_->setTextVisible(false);
  progressLabel_ = new ToneLabel({}, this);
  static_cast<ToneLabel*>(progressLabel_)->setTone(ToneLabel::Tone::secondary);
  failuresButton_ = new QPushButton(this);
  failuresButton_->setFlat(true);
  failuresButton_->setToolTip("Show the failed units and why they failed");
  connect(failuresButton_, &QPushButton::clicked, this, [this] {
    QDialog dialog(this);
    dialog.setWindowTitle("Failed Units");
    auto* dialogLayout = new QVBoxLayout(&dialog);
    auto* text = new QPlainTextEdit(failureText_, &dialog);
    text->setReadOnly(true);
    dialogLayout->addWidget(text);
    auto* close = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    connect(close, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    dialogLayout->addWidget(close);
    dialog.resize(700, 400);
    dialog.exec();
  });
  progressBar_->setFixedWidth(320);
  progressRow->addWidget(progressBar_);
  progressRow->addWidget(progressLabel_, 1);
  progressRow->addWidget(failuresButton_);
  layout->addLayout(progressRow);

  messageLabel_ = new ToneLabel({}, this);
  messageLabel_->setWordWrap(true);
  messageLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(messageLabel_);

  table_ = new QTableWidget(this);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setIconSize(QSize(thumbnailSize, thumbnailSize));
  table_->verticalHeader()->setVisible(false);
  table_->verticalHeader()->setDefaultSectionSize(thumbnailSize + 6);
  table_->setAlternatingRowColors(true);
  table_->setTextElideMode(Qt::ElideMiddle);
  table_->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
    const QTableWidgetItem* item = table_->item(row, 0);
    const QString path = item ? item->data(pathRole).toString() : QString();
    if (path.isEmpty() || !setup_.openImage || !report_) return;
    std::vector<CorpusRecord> records;
    const std::string sha = item->data(shaRole).toString().toStdString();
    for (const CorpusImageRow& image : report_->images) {
      if (image.imageSha256 != sha) continue;
      for (const auto& [panel, curve] : image.panels) {
        records.insert(records.end(), curve.records.begin(), curve.records.end());
      }
    }
    setup_.openImage(path.toStdString(), records);
  });
  layout->addWidget(table_, 1);
  // The name column fills the width the others leave, as the table or another column changes size.
  table_->viewport()->installEventFilter(this);
  connect(table_->horizontalHeader(), &QHeaderView::sectionResized, this, [this](int column) {
    if (column != 0) fitNameColumn();
  });

  refreshTimer_ = new QTimer(this);
  refreshTimer_->setSingleShot(true);
  refreshTimer_->setInterval(1500);
  connect(refreshTimer_, &QTimer::timeout, this, [this] { refreshReport(); });

  rebuildTable();
  updateButtons();
}

CorpusWindow::~CorpusWindow() {
  alive_.reset();
  if (worker_) worker_->request_stop();
  worker_.reset();  // joins: the run ends its tools and returns
}

void CorpusWindow::setImageFolder(const fs::path& folder) {
  folderEdit_->setText(QString::fromStdString(folder.string()));
  if (!isResultsFolderEdited_) {
    resultsEdit_->setText(QString::fromStdString(defaultResultsFolder(folder.filename().string()).string()));
  }
}

void CorpusWindow::setResultsFolder(const fs::path& folder) {
  isResultsFolderEdited_ = true;
  resultsEdit_->setText(QString::fromStdString(folder.string()));
}

void CorpusWindow::chooseImageFolder() {
  const QString folder = QFileDialog::getExistingDirectory(this, "Choose a Folder of Images", folderEdit_->text());
  if (!folder.isEmpty()) setImageFolder(folder.toStdString());
}

void CorpusWindow::chooseResultsFolder() {
  const QString folder = QFileDialog::getExistingDirectory(this, "Choose the Results Folder", resultsEdit_->text());
  if (!folder.isEmpty()) setResultsFolder(folder.toStdString());
}

void CorpusWindow::chooseResultsToOpen() {
  const QString folder = QFileDialog::getExistingDirectory(this, "Open Results", resultsEdit_->text());
  if (!folder.isEmpty()) openResults(folder.toStdString());
}

void CorpusWindow::chooseReportFile() {
  const QString file = QFileDialog::getSaveFileName(
      this, "Export Report", QString::fromStdString((runFolder_ / "report.html").string()), "HTML page (*.html)");
  if (!file.isEmpty()) exportReport(file.toStdString());
}

void CorpusWindow::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  // The left-out texts take their colour from the palette.
  if (event->type() == QEvent::PaletteChange && table_) rebuildTable();
}

bool CorpusWindow::eventFilter(QObject* watched, QEvent* event) {
  if (table_ && watched == table_->viewport() && event->type() == QEvent::Resize) fitNameColumn();
  return QWidget::eventFilter(watched, event);
}

void CorpusWindow::fitNameColumn() {
  if (table_->columnCount() == 0 || nameColumnWidth_ < 0) return;
  int others = 0;
  for (int column = 1; column < table_->columnCount(); ++column) others += table_->columnWidth(column);
  table_->setColumnWidth(0, std::max(nameColumnWidth_, table_->viewport()->width() - others));
}

QString CorpusWindow::messageText() const { return messageLabel_->text(); }

void CorpusWindow::showMessage(const QString& text, bool isError) {
  messageLabel_->setText(text);
  static_cast<ToneLabel*>(messageLabel_)->setTone(isError ? ToneLabel::Tone::red : ToneLabel::Tone::secondary);
}

std::optional<std::vector<SweepPlan>> CorpusWindow::plans() {
  bool isValid = true;
  const std::vector<double> values = parseNumbers(ladderEdit_->text(), &isValid);
  const bool isTarget = setup_.mode == RateControlMode::targetScore;
  if (!isValid || (isTarget && values.empty())) {
    showMessage(isTarget ? "Give the target scores as numbers, such as \"70, 80, 90\"."
                         : "Give the qualities as numbers, such as \"30, 50, 70, 90\", or leave them empty.",
                true);
    return std::nullopt;
  }
  std::vector<SweepPlan> plans;
  for (std::size_t i = 0; i < setup_.panels.size(); ++i) {
    SweepPlan plan;
    plan.panel = corpusPanel(setup_.panels[i]);
    plan.panelNumber = static_cast<int>(i) + 1;
    if (isTarget) {
      plan.targetScores = values;
    } else if (codecInfo(plan.panel.codec).rateParameter == RateParameterKind::quality) {
      plan.ladder = values;
    }
    plans.push_back(std::move(plan));
  }
  return plans;
}

bool CorpusWindow::start() {
  if (worker_) return false;
  const fs::path folder = folderEdit_->text().trimmed().toStdString();
  if (folder.empty()) {
    showMessage("Choose a folder of images first.", true);
    return false;
  }
  if (resultsEdit_->text().trimmed().isEmpty()) setImageFolder(folder);
  auto planned = plans();
  if (!planned) return false;
  runFolder_ = fs::absolute(resultsEdit_->text().trimmed().toStdString());
  std::error_code error;
  fs::create_directories(runFolder_, error);
  if (error || ::access(runFolder_.c_str(), W_OK) != 0) {
    showMessage(QString("Cannot write the results folder %1: %2. Choose another one.")
                    .arg(QString::fromStdString(runFolder_.string()),
                         QString::fromStdString(error ? error.message() : std::string("permission denied"))),
                true);
    return false;
  }
  showMessage("Looking for images…", false);
  failureText_.clear();
  shownImagesDone_ = 0;

  unitsPerImage_ = 0;
  for (const auto& plan : *planned) unitsPerImage_ += unitValues(plan).size();

  CorpusRunSettings settings;
  settings.runFolder = runFolder_;
  settings.host = hostName();
  if (auto* runner = dynamic_cast<CompressionRunner*>(setup_.engine.get())) {
    settings.toolVersion = [runner](CompressionCodec codec) {
      const std::string_view tool = codecInfo(codec).encoderTool;
      if (tool.empty()) return std::string();
      auto version = runner->context().installedVersion(tool);
      return version ? version->text() : std::string();
    };
  }
  std::weak_ptr<int> alive = alive_;
  auto dispatcher = setup_.dispatcher;
  settings.progress = [this, alive, dispatcher](const CorpusProgress& progress) {
    dispatcher->post([this, alive, progress] {
      if (alive.lock()) progressed(progress);
    });
  };
  worker_.emplace([this, alive, dispatcher, folder, plans = std::move(*planned),
                   settings = std::move(settings)](std::stop_token stopToken) {
    std::string message;
    bool isCancelled = false;
    std::vector<SkippedInput> skipped;
    try {
      CorpusInputs inputs = gatherCorpusInputs({folder.string()});
      skipped = inputs.skipped;
      if (!inputs.errors.empty()) {
        message = inputs.errors.front();
      } else if (inputs.images.empty()) {
        message = "No images in " + folder.string() + " or its subfolders.";
      } else {
        runCorpus(inputs.images, plans, *setup_.engine, settings, stopToken);
      }
    } catch (const CancellationError&) {
      isCancelled = true;
    } catch (...) {
      message = describeError(std::current_exception());
    }
    dispatcher->post([this, alive, message, isCancelled, skipped = std::move(skipped)]() mutable {
      if (!alive.lock()) return;
      skipped_ = std::move(skipped);
      runEnded(message, isCancelled);
    });
  });
  updateButtons();
  return true;
}

void CorpusWindow::stop() {
  if (!worker_) return;
  worker_->request_stop();
  showMessage("Stopping: the running tools are ending; finished units are kept.", false);
  stopButton_->setEnabled(false);
}

void CorpusWindow::progressed(const CorpusProgress& progress) {
  if (!worker_) return;
  progressBar_->setRange(0, static_cast<int>(std::max<std::size_t>(progress.unitsTotal, 1)));
  progressBar_->setValue(static_cast<int>(progress.unitsDone));
  progressLabel_->setText(QString::fromStdString(corpusProgressText(progress)));
  // A finished image shows soon, without re-reading a large results file for every one.
  if (progress.imagesDone != shownImagesDone_ && !refreshTimer_->isActive()) {
    shownImagesDone_ = progress.imagesDone;
    refreshTimer_->start();
  }
  if (!worker_->get_stop_token().stop_requested()) showMessage("Running…", false);
}

void CorpusWindow::runEnded(const std::string& error, bool isCancelled) {
  worker_.reset();
  refreshTimer_->stop();
  refreshReport();
  if (!error.empty()) {
    showMessage(QString::fromStdString(error), true);
  } else if (isCancelled) {
    showMessage("Stopped. The finished units are kept; Start resumes the run.", false);
  } else {
    showMessage(QString("Done. Results in %1").arg(QString::fromStdString(runFolder_.string())), false);
  }
  updateButtons();
  if (runEndedHandler_) runEndedHandler_();
}

bool CorpusWindow::openResults(const fs::path& runFolder) {
  if (worker_) return false;
  runFolder_ = fs::absolute(runFolder);
  setResultsFolder(runFolder_);
  skipped_.clear();
  refreshReport();
  if (!report_) return false;
  showMessage(QString("Results of %1").arg(QString::fromStdString(runFolder_.string())), false);
  return true;
}

bool CorpusWindow::exportReport(const fs::path& file) {
  if (!report_) {
    showMessage("There is no report to export yet.", true);
    return false;
  }
  const std::string page = corpusReportHtml(*report_);
  QSaveFile out(QString::fromStdString(file.string()));
  if (!out.open(QIODevice::WriteOnly) || out.write(page.data(), static_cast<qint64>(page.size())) < 0 ||
      !out.commit()) {
    showMessage(QString("Could not write %1: %2").arg(QString::fromStdString(file.string()), out.errorString()), true);
    return false;
  }
  showMessage(QString("Report written to %1").arg(QString::fromStdString(file.string())), false);
  return true;
}

void CorpusWindow::refreshReport() {
  records_.clear();
  try {
    records_ = readRunFolders({runFolder_});
  } catch (const CorpusError& error) {
    if (!worker_) showMessage(QString::fromUtf8(error.what()), true);
  }
  const int anchor = anchorPicker_->currentData().toInt();
  // While running, an image shows once all its units are recorded.
  std::vector<CorpusRecord> finished;
  if (worker_) {
    std::map<std::string, std::size_t> counts;
    for (const auto& record : records_) ++counts[record.imageSha256];
    for (const auto& record : records_) {
      if (counts[record.imageSha256] >= unitsPerImage_) finished.push_back(record);
    }
  }
  const std::vector<CorpusRecord>& shown = worker_ ? finished : records_;
  if (!shown.empty()) {
    try {
      report_ = buildCorpusReport(shown, anchor > 0 ? anchor : 1);
    } catch (const CorpusError& error) {
      // While running, the anchor may not have a record yet: keep what is shown.
      if (!worker_) {
        report_.reset();
        showMessage(QString::fromUtf8(error.what()), true);
      }
    }
  } else {
    report_.reset();
  }
  QStringList failures;
  for (const auto& record : records_) {
    if (record.isOk) continue;
    failures << QString("%1, panel %2 (%3) at %4: %5")
                    .arg(QString::fromStdString(record.image))
                    .arg(record.panel)
                    .arg(QString::fromStdString(record.codec), QString::fromStdString(numberText(record.setting)),
                         QString::fromStdString(record.error));
  }
  failureText_ = failures.join("\n");
  rebuildTable();
  updateButtons();
}

void CorpusWindow::updateButtons() {
  const bool isRunning = worker_.has_value();
  startButton_->setEnabled(!isRunning);
  startButton_->setText(!isRunning && report_ ? "Resume" : "Start");
  if (!isRunning) stopButton_->setEnabled(false);
  else if (!worker_->get_stop_token().stop_requested()) stopButton_->setEnabled(true);
  folderEdit_->setEnabled(!isRunning);
  resultsEdit_->setEnabled(!isRunning);
  ladderEdit_->setEnabled(!isRunning);
  exportButton_->setEnabled(report_.has_value());
  const int failed = static_cast<int>(std::count_if(records_.begin(), records_.end(),
                                                    [](const CorpusRecord& r) { return !r.isOk; }));
  failuresButton_->setText(QString("%1 failed").arg(failed));
  failuresButton_->setVisible(failed > 0);
  progressBar_->setVisible(isRunning || report_.has_value());
}

void CorpusWindow::rebuildTable() {
  const int sortColumn = table_->horizontalHeader()->sortIndicatorSection();
  const Qt::SortOrder sortOrder = table_->horizontalHeader()->sortIndicatorOrder();
  table_->setSortingEnabled(false);
  table_->clear();
  table_->setRowCount(0);

  // Opened results may come from other panels than the tab's: their own names and number win.
  std::map<int, QString> panelNames;
  for (std::size_t i = 0; i < setup_.panels.size(); ++i) {
    const auto name = codecInfo(setup_.panels[i].codec).displayName;
    panelNames[static_cast<int>(i) + 1] = QString::fromUtf8(name.data(), static_cast<int>(name.size()));
  }
  if (report_) {
    panelNames.clear();
    for (const auto& summary : report_->panels) panelNames[summary.panel] = QString::fromStdString(summary.codec);
  }
  const int panelCount = panelNames.empty() ? 0 : panelNames.rbegin()->first;
  const int anchor = report_ ? report_->anchor : anchorPicker_->currentData().toInt();
  QStringList headers{"Image", "Size"};
  for (int p = 1; p <= panelCount; ++p) {
    const QString label = QString("%1 %2").arg(p).arg(panelNames[p]);
    headers << label + "\nBD-rate" << label + "\nScore" << label + "\nbpp";
  }
  table_->setColumnCount(static_cast<int>(headers.size()));
  table_->setHorizontalHeaderLabels(headers);
  if (table_->horizontalHeader()->count() > 0) {
    table_->horizontalHeaderItem(bdRateColumn(1))->setToolTip("Size change against the anchor at equal score");
  }

  const QColor secondary = secondaryTextColor(palette());
  auto cell = [&](int row, int column, const QString& text, std::optional<double> key, int pinned) {
    auto* item = new SortItem(text);
    if (key) item->setData(sortKeyRole, *key);
    else if (column >= 1) item->setData(sortKeyRole, std::nan(""));
    item->setData(pinnedRole, pinned);
    if (column >= 1) item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    table_->setItem(row, column, item);
    return item;
  };

  // The chosen point of each panel: the target (target mode) or the ladder point nearest the panel's setting.
  const bool isTarget = setup_.mode == RateControlMode::targetScore;
  bool isValid = true;
  const std::vector<double> targets = parseNumbers(ladderEdit_->text(), &isValid);
  const double chosenTarget =
      std::find(targets.begin(), targets.end(), setup_.targetScore) != targets.end() || targets.empty()
          ? setup_.targetScore
          : targets.front();
  auto chosenRecord = [&](const CorpusPanelCurve& curve, int panel) -> const CorpusRecord* {
    const CorpusRecord* best = nullptr;
    const auto index = static_cast<std::size_t>(panel - 1);
    const double wanted = isTarget               ? chosenTarget
                          : index < setup_.panels.size() ? settingValue(setup_.panels[index])
                                                         : curve.records.back().setting;
    for (const auto& record : curve.records) {
      if (!best || std::abs(record.setting - wanted) < std::abs(best->setting - wanted)) best = &record;
    }
    return best;
  };

  std::map<int, std::vector<double>> rates, scores, bpps;
  if (report_) {
    for (const auto& image : report_->images) {
      const int row = table_->rowCount();
      table_->insertRow(row);
      QString path;
      for (const auto& [panel, curve] : image.panels) {
        if (!curve.records.empty()) path = QString::fromStdString(curve.records.front().path);
      }
      if (path.isEmpty()) {
        for (const auto& record : records_) {
          if (record.imageSha256 == image.imageSha256) path = QString::fromStdString(record.path);
        }
      }
      QTableWidgetItem* name = cell(row, 0, QString::fromStdString(image.image), std::nullopt, 0);
      name->setData(pathRole, path);
      name->setData(shaRole, QString::fromStdString(image.imageSha256));
      name->setToolTip(path);
      if (!path.isEmpty()) {
        auto thumbnail = thumbnails_.find(path);
        if (thumbnail == thumbnails_.end()) thumbnail = thumbnails_.insert(path, thumbnailOf(path));
        name->setIcon(*thumbnail);
      }
      cell(row, 1, QString("%1 × %2").arg(image.width).arg(image.height),
           static_cast<double>(image.width * image.height), 0);
      for (int p = 1; p <= panelCount; ++p) {
        const int column = bdRateColumn(p);
        auto leftOut = image.leftOut.find(p);
        auto delta = image.bdRate.find(p);
        if (p == anchor && leftOut == image.leftOut.end()) {
          cell(row, column, "anchor", std::nullopt, 0)->setForeground(secondary);
        } else if (leftOut != image.leftOut.end()) {
          QTableWidgetItem* item = cell(row, column, QString::fromStdString(leftOut->second), std::nullopt, 0);
          item->setForeground(secondary);
          item->setToolTip(QString::fromStdString(leftOut->second));
        } else if (delta != image.bdRate.end() && delta->second.value) {
          cell(row, column, percentText(delta->second.value), *delta->second.value, 0);
          rates[p].push_back(*delta->second.value);
        } else {
          cell(row, column, "—", std::nullopt, 0);
        }
        const CorpusRecord* chosen = nullptr;
        if (auto curve = image.panels.find(p); curve != image.panels.end()) chosen = chosenRecord(curve->second, p);
        if (chosen && chosen->ssimulacra2) {
          cell(row, column + 1, QString::number(*chosen->ssimulacra2, 'f', 1), *chosen->ssimulacra2, 0);
          scores[p].push_back(*chosen->ssimulacra2);
        } else {
          cell(row, column + 1, "—", std::nullopt, 0);
        }
        if (chosen && chosen->bitsPerPixel) {
          cell(row, column + 2, QString::number(*chosen->bitsPerPixel, 'f', 3), *chosen->bitsPerPixel, 0);
          bpps[p].push_back(*chosen->bitsPerPixel);
        } else {
          cell(row, column + 2, "—", std::nullopt, 0);
        }
        if (chosen) {
          const QString at = isTarget ? QString("at target %1").arg(QString::fromStdString(numberText(chosen->setting)))
                                      : QString("at setting %1").arg(QString::fromStdString(numberText(chosen->setting)));
          table_->item(row, column + 1)->setToolTip(at);
          table_->item(row, column + 2)->setToolTip(at);
        }
      }
    }
  }
  for (const auto& skipped : skipped_) {
    const int row = table_->rowCount();
    table_->insertRow(row);
    cell(row, 0, QString::fromStdString(skipped.path.filename().string()), std::nullopt, 0)
        ->setToolTip(QString::fromStdString(skipped.path.string()));
    QTableWidgetItem* reason = cell(row, 1, QString::fromStdString(skipped.reason), std::nullopt, 0);
    reason->setForeground(secondary);
    for (int column = 2; column < table_->columnCount(); ++column) cell(row, column, "", std::nullopt, 0);
  }

  if (report_ && !report_->images.empty()) {
    struct Aggregate {
      const char* name;
      std::optional<double> (*of)(std::vector<double>);
    };
    const Aggregate aggregates[] = {
        {"Mean", [](std::vector<double> v) { return mean(v); }},
        {"Median", [](std::vector<double> v) { return median(std::move(v)); }},
        {"Geometric mean", [](std::vector<double> v) { return geometricMean(v); }},
    };
    for (int a = 0; a < 3; ++a) {
      table_->insertRow(a);
      QTableWidgetItem* name = cell(a, 0, aggregates[a].name, std::nullopt, a + 1);
      QFont bold = name->font();
      bold.setBold(true);
      name->setFont(bold);
      cell(a, 1, QString("%1 images").arg(report_->images.size()), std::nullopt, a + 1);
      for (int p = 1; p <= panelCount; ++p) {
        const int column = bdRateColumn(p);
        const CorpusPanelSummary* summary = nullptr;
        for (const auto& s : report_->panels) {
          if (s.panel == p) summary = &s;
        }
        std::optional<double> rate;
        if (summary) {
          rate = a == 0 ? summary->meanBdRate : a == 1 ? summary->medianBdRate : summary->geometricMeanBdRate;
        }
        QTableWidgetItem* item = cell(a, column, p == anchor ? "anchor" : percentText(rate), std::nullopt, a + 1);
        item->setFont(bold);
        if (summary && !summary->leftOut.empty()) {
          item->setToolTip(QString("Over %1 images; %2 left out").arg(summary->count).arg(summary->leftOut.size()));
        }
        const auto score = aggregates[a].of(scores[p]);
        const auto bpp = aggregates[a].of(bpps[p]);
        cell(a, column + 1, score ? QString::number(*score, 'f', 1) : "—", std::nullopt, a + 1)->setFont(bold);
        cell(a, column + 2, bpp ? QString::number(*bpp, 'f', 3) : "—", std::nullopt, a + 1)->setFont(bold);
      }
    }
  }
  table_->setSortingEnabled(true);
  table_->sortItems(sortColumn >= 0 && sortColumn < table_->columnCount() ? sortColumn : 0,
                    sortColumn >= 0 ? sortOrder : Qt::AscendingOrder);
  nameColumnWidth_ = -1;  // not fitted while the columns take their contents' widths
  table_->resizeColumnsToContents();
  // A long left-out reason is elided; its tooltip has it whole.
  for (int column = 1; column < table_->columnCount(); ++column) {
    table_->setColumnWidth(column, std::min(table_->columnWidth(column), 150));
  }
  nameColumnWidth_ = table_->columnWidth(0);
  fitNameColumn();
}

}  // namespace quorlin::gui
