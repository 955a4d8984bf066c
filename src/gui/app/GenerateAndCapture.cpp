#include "gui/app/GenerateAndCapture.h"

#include <QCoreApplication>
#include <QPixmap>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "core/common/ByteCount.h"
#include "core/workspace/CompressionWorkspace.h"
#include "gui/app/QuorlinApplication.h"
#include "gui/workspace/MainWindow.h"

namespace quorlin::gui {

namespace {

// The process's resident set and its peak as the kernel reports them ("812 MB, peak 1.4 GB").
std::optional<std::string> residentMemory() {
  std::ifstream status("/proc/self/status");
  std::string line;
  std::optional<std::int64_t> current;
  std::optional<std::int64_t> peak;
  while (std::getline(status, line)) {
    std::istringstream fields(line);
    std::string name;
    std::int64_t kilobytes = 0;
    if (!(fields >> name >> kilobytes)) continue;
    if (name == "VmRSS:") current = kilobytes * 1000;
    if (name == "VmHWM:") peak = kilobytes * 1000;
  }
  if (!current || !peak) return std::nullopt;
  return formatByteCount(*current) + ", peak " + formatByteCount(*peak);
}

}  // namespace

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
  if (auto resident = residentMemory()) std::printf("resident memory: %s\n", resident->c_str());
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
