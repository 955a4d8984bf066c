#include "gui/app/GenerateAndCapture.h"

#include <QCoreApplication>
#include <QPixmap>
#include <QTimer>

#include <cstdio>
#include <string>

#include "core/common/ByteCount.h"
#include "core/workspace/CompressionWorkspace.h"
#include "gui/app/QuorlinApplication.h"
#include "gui/workspace/MainWindow.h"

namespace quorlin::gui {

GenerateAndCapture::GenerateAndCapture(QuorlinApplication& application, QString pictureFile)
    : QObject(&application),
      application_(application),
      workspace_(application.mainWindow().tabList().selectedWorkspace()),
      pictureFile_(std::move(pictureFile)) {
  subscription_ = workspace_.observe([this](const WorkspaceChange&) { workspaceChanged(); });
  // The source may have loaded (or failed) before this object existed.
  QTimer::singleShot(0, this, [this] { workspaceChanged(); });
}

void GenerateAndCapture::workspaceChanged() {
  switch (stage_) {
    case Stage::loading:
      if (workspace_.isLoadingSource()) return;
      if (workspace_.loadErrorMessage()) return fail(QString::fromStdString(*workspace_.loadErrorMessage()));
      if (!workspace_.sourceURL()) return fail("no image to generate from");
      stage_ = Stage::generating;
      KeyboardCommandRegistry::call(application_.commandRegistry().generate);
      if (!workspace_.isRunning()) return fail("generation did not start");
      return;
    case Stage::generating:
      if (workspace_.isRunning()) return;
      stage_ = Stage::done;
      // Let the views take in the last outcome before the picture is taken.
      QTimer::singleShot(0, this, [this] { finish(); });
      return;
    case Stage::done:
      return;
  }
}

void GenerateAndCapture::finish() {
  bool everyPanelSucceeded = true;
  for (int i = 0; i < CompressionWorkspace::panelCount; ++i) {
    const CodecPanel& panel = workspace_.panel(i);
    std::string line = std::to_string(i + 1) + " " + std::string(rawValue(panel.codec)) + ": ";
    if (panel.result) {
      line += formatByteCount(panel.result->encodedSize) + ", SSIMULACRA2 " + std::to_string(panel.result->ssimulacra2Score);
    } else {
      everyPanelSucceeded = false;
      line += panel.errorMessage.value_or("no result");
    }
    std::printf("%s\n", line.c_str());
  }
  std::fflush(stdout);
  const QPixmap picture = application_.mainWindow().grab();
  if (!picture.save(pictureFile_, "PNG")) return fail("cannot write " + pictureFile_);
  QCoreApplication::exit(everyPanelSucceeded ? 0 : 1);
}

void GenerateAndCapture::fail(const QString& reason) {
  stage_ = Stage::done;
  std::fprintf(stderr, "quorlin: %s\n", reason.toUtf8().constData());
  QCoreApplication::exit(1);
}

}  // namespace quorlin::gui
