#include "gui/ratedistortion/SweepAndCapture.h"

#include <QCoreApplication>
#include <QPixmap>
#include <QTableWidget>
#include <QTimer>

#include <cstdio>

#include "core/workspace/CompressionWorkspace.h"
#include "gui/app/QuorlinApplication.h"
#include "gui/ratedistortion/RateDistortionWindow.h"
#include "gui/workspace/MainWindow.h"

namespace quorlin::gui {

SweepAndCapture::SweepAndCapture(QuorlinApplication& application, QString pictureFile)
    : QObject(&application),
      application_(application),
      workspace_(application.mainWindow().tabList().selectedWorkspace()),
      pictureFile_(std::move(pictureFile)) {
  workspaceSubscription_ = workspace_.observe([this](const WorkspaceChange&) { changed(); });
  QTimer::singleShot(0, this, [this] { changed(); });
}

void SweepAndCapture::changed() {
  if (isDone_) return;
  if (!window_) {
    if (workspace_.isLoadingSource()) return;
    if (workspace_.loadErrorMessage()) return fail(QString::fromStdString(*workspace_.loadErrorMessage()));
    if (!workspace_.sourceURL()) return fail("no image to sweep");
    window_ = &application_.mainWindow().showRateDistortion();
    sessionSubscription_ = window_->session().observe([this] { changed(); });
    window_->session().sweepAll();
    if (!window_->session().isSweeping()) return fail("the sweep did not start");
    return;
  }
  if (window_->session().isSweeping()) return;
  isDone_ = true;
  // Let the window take in the outcome before the picture is taken.
  QTimer::singleShot(0, this, [this] { finish(); });
}

void SweepAndCapture::finish() {
  bool isComplete = true;
  for (int i = 0; i < CompressionWorkspace::panelCount; ++i) isComplete = isComplete && window_->session().sweep(i);
  std::printf("%s\n", window_->session().statusText().c_str());
  QTableWidget* table = window_->deltaTable();
  for (int row = 0; row < table->rowCount(); ++row) {
    QStringList cells;
    for (int column = 0; column < table->columnCount(); ++column) cells << table->item(row, column)->text();
    std::printf("%s\n", cells.join("  ").toUtf8().constData());
  }
  std::fflush(stdout);
  if (!window_->grab().save(pictureFile_, "PNG")) return fail("cannot write " + pictureFile_);
  QCoreApplication::exit(isComplete ? 0 : 1);
}

void SweepAndCapture::fail(const QString& reason) {
  isDone_ = true;
  std::fprintf(stderr, "quorlin: %s\n", reason.toUtf8().constData());
  QCoreApplication::exit(1);
}

}  // namespace quorlin::gui
