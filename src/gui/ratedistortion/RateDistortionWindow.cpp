#include "gui/ratedistortion/RateDistortionWindow.h"

#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QCursor>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QLogValueAxis>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScatterSeries>
#include <QSvgGenerator>
#include <QTableWidget>
#include <QToolButton>
#include <QToolTip>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <fstream>

#include "core/common/ByteCount.h"
#include "core/engine/ResultTexts.h"
#include "gui/ratedistortion/RateDistortionChart.h"

namespace quorlin::gui {

namespace fs = std::filesystem;

namespace {

// One colour per panel, apart in hue and readable on light and dark backgrounds.
const QColor panelColours[] = {QColor(0, 114, 178), QColor(213, 94, 0), QColor(0, 158, 115), QColor(204, 121, 167)};

QString text(const std::string& value) { return QString::fromStdString(value); }

QString panelName(const CodecPanel& panel, int index) {
  return QString::number(index + 1) + " " + text(std::string(displayName(panel.codec)));
}

QString tooltipText(const PanelSweep& sweep, const RateDistortionSample& sample) {
  QString tip = text(settingText(sweep.panel.codec, sample.settingValue)) + "\n" +
                text(formatByteCount(sample.encodedSize));
  if (sample.bitsPerPixel) tip += ", " + QString::number(*sample.bitsPerPixel, 'f', 3) + " bpp";
  tip += "\nSSIMULACRA2 " + text(scoreText(sample.ssimulacra2Score));
  if (!sample.commandLine.empty()) tip += "\n" + text(sample.commandLine);
  if (sample.isRecorded) {
    tip += "\nFrom the corpus run: its pictures were not kept.";
  } else if (sample.workDirectory.empty()) {
    tip += "\nA Target Score probe: its pictures were not kept.";
  }
  return tip;
}

bool isDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }

}  // namespace

RateDistortionWindow::RateDistortionWindow(CompressionWorkspace& workspace, WorkspaceServices services,
                                           QWidget* parent)
    : QWidget(parent, Qt::Window),
      workspace_(workspace),
      session_(std::make_unique<RateDistortionSession>(workspace, std::move(services))) {
  setWindowTitle("Rate\u2013Distortion \u2014 " + text(workspace.tabTitle()));
  resize(820, 720);
  auto* layout = new QVBoxLayout(this);

  auto* controls = new QHBoxLayout;
  sweepAllButton_ = new QPushButton("Sweep All");
  sweepAllButton_->setToolTip("Encode every panel at each value of its codec's ladder and chart the curves");
  connect(sweepAllButton_, &QPushButton::clicked, this, [this] { session_->sweepAll(); });
  sweepPanelButton_ = new QToolButton;
  sweepPanelButton_->setText("Sweep Panel");
  sweepPanelButton_->setPopupMode(QToolButton::InstantPopup);
  auto* panelMenu = new QMenu(sweepPanelButton_);
  for (int i = 0; i < CompressionWorkspace::panelCount; ++i) {
    panelMenu->addAction("Panel " + QString::number(i + 1), this, [this, i] { session_->sweepPanel(i); });
  }
  sweepPanelButton_->setMenu(panelMenu);
  progressBar_ = new QProgressBar;
  progressBar_->setTextVisible(false);
  cancelButton_ = new QPushButton("Cancel");
  connect(cancelButton_, &QPushButton::clicked, this, [this] { session_->cancel(); });
  auto* exportButton = new QToolButton;
  exportButton->setText("Export");
  exportButton->setPopupMode(QToolButton::InstantPopup);
  auto* exportMenu = new QMenu(exportButton);
  struct ExportChoice {
    const char* label;
    const char* filter;
    const char* suffix;
    bool isChart;
  };
  static const ExportChoice choices[] = {{"Points as CSV\u2026", "CSV (*.csv)", "csv", false},
                                         {"Points as JSON\u2026", "JSON (*.json)", "json", false},
                                         {"Chart as SVG\u2026", "SVG (*.svg)", "svg", true},
                                         {"Chart as PNG\u2026", "PNG (*.png)", "png", true}};
  for (const ExportChoice& choice : choices) {
    exportMenu->addAction(choice.label, this, [this, choice] {
      QString file = QFileDialog::getSaveFileName(this, "Export", "rate-distortion." + QString(choice.suffix),
                                                  choice.filter);
      if (file.isEmpty()) return;
      const fs::path path = file.toStdString();
      if (!(choice.isChart ? exportChart(path) : exportPoints(path))) {
        statusLabel_->setText("Could not write " + file + ".");
      }
    });
  }
  exportButton->setMenu(exportMenu);
  controls->addWidget(sweepAllButton_);
  controls->addWidget(sweepPanelButton_);
  controls->addWidget(progressBar_, 1);
  controls->addWidget(cancelButton_);
  controls->addWidget(exportButton);
  layout->addLayout(controls);
  statusLabel_ = new QLabel;
  layout->addWidget(statusLabel_);

  chartView_ = new QChartView(new QChart);
  chartView_->setRenderHint(QPainter::Antialiasing);
  chartView_->setMinimumHeight(380);
  chart()->legend()->setAlignment(Qt::AlignBottom);
  layout->addWidget(chartView_, 1);

  auto* anchorRow = new QHBoxLayout;
  anchorRow->addWidget(new QLabel("Against panel:"));
  anchorPicker_ = new QComboBox;
  connect(anchorPicker_, &QComboBox::activated, this, [this](int index) { session_->setAnchor(index); });
  anchorRow->addWidget(anchorPicker_);
  anchorRow->addStretch(1);
  layout->addLayout(anchorRow);
  table_ = new QTableWidget(0, 5);
  table_->setHorizontalHeaderLabels({"Panel", "Codec", "BD-rate", "BD-score", "Overlap"});
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->verticalHeader()->hide();
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setSelectionMode(QAbstractItemView::NoSelection);
  table_->setMaximumHeight(150);
  layout->addWidget(table_);

  sessionSubscription_ = session_->observe([this] { rebuild(); });
  workspaceSubscription_ = workspace_.observe([this](const WorkspaceChange&) { rebuild(); });
  rebuild();
}

RateDistortionWindow::~RateDistortionWindow() = default;

QChart* RateDistortionWindow::chart() const { return chartView_->chart(); }

void RateDistortionWindow::rebuild() {
  const bool isSweeping = session_->isSweeping();
  const bool hasSource = workspace_.sourceURL().has_value();
  sweepAllButton_->setEnabled(hasSource && !isSweeping);
  sweepPanelButton_->setEnabled(hasSource && !isSweeping);
  cancelButton_->setEnabled(isSweeping);
  progressBar_->setRange(0, static_cast<int>(std::max<std::size_t>(session_->totalPoints(), 1)));
  progressBar_->setValue(static_cast<int>(session_->completedPoints()));
  progressBar_->setVisible(isSweeping);
  statusLabel_->setText(hasSource ? text(session_->statusText()) : "Open an image to sweep its panels.");
  auto panelActions = sweepPanelButton_->menu()->actions();
  for (int i = 0; i < CompressionWorkspace::panelCount && i < panelActions.size(); ++i) {
    panelActions[i]->setText("Panel " + panelName(workspace_.panel(i), i));
  }
  anchorPicker_->blockSignals(true);
  anchorPicker_->clear();
  for (int i = 0; i < CompressionWorkspace::panelCount; ++i) anchorPicker_->addItem(panelName(workspace_.panel(i), i));
  anchorPicker_->setCurrentIndex(session_->anchor());
  anchorPicker_->blockSignals(false);
  rebuildChart();
  rebuildTable();
}

void RateDistortionWindow::rebuildChart() {
  std::vector<ChartCurve> curves;
  for (int i = 0; i < CompressionWorkspace::panelCount; ++i) {
    const auto& sweep = session_->sweep(i);
    if (!sweep) continue;
    ChartCurve curve;
    curve.panel = i;
    curve.isStale = session_->isStale(i);
    curve.name = panelName(sweep->panel, i) + (curve.isStale ? " \u2014 Needs Regeneration" : "");
    curve.colour = isDark(palette()) ? panelColours[i].lighter(130) : panelColours[i];
    const RateDistortionCurve kept = sweep->curve();
    for (std::size_t s = 0; s < sweep->samples.size(); ++s) {
      const auto& sample = sweep->samples[s];
      if (!sample.bitsPerPixel || *sample.bitsPerPixel <= 0) continue;
      (kept.kept[s] ? curve.kept : curve.dropped).emplace_back(*sample.bitsPerPixel, sample.ssimulacra2Score);
    }
    const CodecPanel& panel = workspace_.panel(i);
    if (auto pixels = workspace_.sourcePixelCount(); panel.result && pixels) {
      auto bits = bitsPerPixel(panel.result->encodedSize, pixels);
      if (bits && *bits > 0) curve.current = QPointF(*bits, panel.result->ssimulacra2Score);
    }
    curves.push_back(std::move(curve));
  }
  for (const ChartPoints& made : fillRateDistortionChart(*chart(), curves, palette().color(QPalette::Base))) {
    const int i = made.panel;
    for (auto* points : {made.kept, made.dropped}) {
      connect(points, &QScatterSeries::hovered, this, [this, i](const QPointF& point, bool state) {
        const auto& swept = session_->sweep(i);
        if (!state || !swept) return QToolTip::hideText();
        for (const auto& sample : swept->samples) {
          if (sample.bitsPerPixel == point.x() && sample.ssimulacra2Score == point.y()) {
            QToolTip::showText(QCursor::pos(), tooltipText(*swept, sample), chartView_);
          }
        }
      });
      connect(points, &QScatterSeries::clicked, this,
              [this, i](const QPointF& point) { choosePoint(i, point.x(), point.y()); });
    }
  }
}

void RateDistortionWindow::rebuildTable() {
  const auto deltas = session_->deltas();
  table_->setRowCount(static_cast<int>(deltas.size()));
  const QColor smaller = isDark(palette()) ? QColor(120, 220, 140) : QColor(0, 128, 48);
  for (std::size_t row = 0; row < deltas.size(); ++row) {
    const PanelDelta& delta = deltas[row];
    const CodecPanel& panel = workspace_.panel(delta.panelNumber - 1);
    const QString cells[] = {QString::number(delta.panelNumber), text(std::string(displayName(panel.codec))),
                             text(deltaRateText(delta.rate)), text(deltaScoreText(delta.score)),
                             text(overlapText(delta.rate))};
    for (int column = 0; column < 5; ++column) {
      auto* item = new QTableWidgetItem(cells[column]);
      if (column == 2 && delta.rate.value && *delta.rate.value < 0) item->setForeground(smaller);
      table_->setItem(static_cast<int>(row), column, item);
    }
  }
}

bool RateDistortionWindow::choosePoint(int index, double bits, double score) {
  const auto& sweep = session_->sweep(index);
  if (!sweep) return false;
  for (std::size_t s = 0; s < sweep->samples.size(); ++s) {
    const auto& sample = sweep->samples[s];
    if (sample.bitsPerPixel == bits && sample.ssimulacra2Score == score) return session_->showSample(index, s);
  }
  return false;
}

bool RateDistortionWindow::exportChart(const fs::path& file) const {
  const QSize size = chartView_->size();
  if (file.extension() == ".svg") {
    QSvgGenerator generator;
    generator.setFileName(QString::fromStdString(file.string()));
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(), size));
    generator.setTitle("Rate\u2013Distortion");
    QPainter painter(&generator);
    if (!painter.isActive()) return false;
    chartView_->render(&painter);
    return painter.end();
  }
  return chartView_->grab().save(QString::fromStdString(file.string()), "PNG");
}

bool RateDistortionWindow::exportPoints(const fs::path& file) const {
  const std::string contents = file.extension() == ".json" ? session_->json() : session_->csv();
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace quorlin::gui
