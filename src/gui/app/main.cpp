// quorlin [IMAGE] [--codec NAME]... [--generate-and-capture PNG] [--sweep-and-capture PNG]
//         [--compare-folder-and-capture PNG [--qualities Q,...]]
//
// The desktop application. IMAGE is loaded into the first tab. The two
// options exist for scripted runs: --codec sets the first tab's panels in
// order ("JPEG XL", "AVIF", "WebP", "JPEG (libjpeg-turbo)", ...: the codec
// names of the panel's menu); --generate-and-capture generates IMAGE, saves a
// picture of the window to PNG and quits (see GenerateAndCapture.h);
// --sweep-and-capture sweeps IMAGE's panels and saves a picture of the
// Rate–Distortion window (see SweepAndCapture.h); --compare-folder-and-capture
// runs the folder IMAGE through the panels and saves a picture of the Compare
// Folder window (see CorpusAndCapture.h).
//
// Exit status: 0 normally, 2 for a usage error, 128 + the signal number after
// SIGINT or SIGTERM, and that of either capture when it is given.
#include <QApplication>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "core/codecs/CodecCatalog.h"
#include "gui/app/GenerateAndCapture.h"
#include "gui/app/QuorlinApplication.h"
#include "gui/corpus/CorpusAndCapture.h"
#include "gui/ratedistortion/SweepAndCapture.h"

namespace {

using quorlin::gui::QuorlinLaunchOptions;

// The options, or the exit status of a usage error.
std::optional<QuorlinLaunchOptions> parseArguments(QCommandLineParser& parser, const QApplication& application,
                                                   QString& pictureFile, QString& sweepPictureFile,
                                                   QString& corpusPictureFile, QString& corpusFolder,
                                                   QString& qualities) {
  parser.setApplicationDescription("Compare four image codecs side by side.");
  parser.addHelpOption();
  parser.addVersionOption();
  parser.addPositionalArgument("image", "The image to open in the first tab.", "[IMAGE]");
  const QCommandLineOption codecOption("codec", "The codec of the next panel of the first tab (repeatable).", "name");
  const QCommandLineOption captureOption(
      "generate-and-capture", "Generate IMAGE, save a picture of the window to PNG and quit.", "png");
  parser.addOption(codecOption);
  parser.addOption(captureOption);
  const QCommandLineOption sweepCaptureOption(
      "sweep-and-capture", "Sweep IMAGE's panels, save a picture of the Rate-Distortion window to PNG and quit.",
      "png");
  parser.addOption(sweepCaptureOption);
  const QCommandLineOption corpusCaptureOption(
      "compare-folder-and-capture",
      "Run the folder IMAGE through the panels, save a picture of the Compare Folder window to PNG and quit.", "png");
  const QCommandLineOption qualitiesOption("qualities", "The qualities of --compare-folder-and-capture.", "list");
  parser.addOption(corpusCaptureOption);
  parser.addOption(qualitiesOption);
  parser.process(application);  // prints help, version or an unknown option and exits

  QuorlinLaunchOptions options;
  const QStringList positional = parser.positionalArguments();
  if (positional.size() > 1) {
    std::fprintf(stderr, "quorlin: only one image can be opened.\n");
    return std::nullopt;
  }
  if (parser.isSet(corpusCaptureOption)) {
    corpusPictureFile = parser.value(corpusCaptureOption);
    qualities = parser.value(qualitiesOption);
    // The positional argument is the folder then, not an image for the first tab.
    if (positional.isEmpty()) {
      std::fprintf(stderr, "quorlin: --compare-folder-and-capture needs a folder.\n");
      return std::nullopt;
    }
    corpusFolder = QFileInfo(positional.front()).absoluteFilePath();
  } else if (!positional.isEmpty()) {
    options.imageToOpen = positional.front().toStdString();
  }
  for (const QString& name : parser.values(codecOption)) {
    auto codec = quorlin::compressionCodecFromRawValue(name.toStdString());
    if (!codec) {
      std::fprintf(stderr, "quorlin: unknown codec \"%s\".\n", name.toUtf8().constData());
      return std::nullopt;
    }
    options.panelCodecs.push_back(*codec);
  }
  if (parser.isSet(captureOption)) pictureFile = parser.value(captureOption);
  if (parser.isSet(sweepCaptureOption)) sweepPictureFile = parser.value(sweepCaptureOption);
  return options;
}

}  // namespace

int main(int argc, char* argv[]) {
  // Answered before the application connects to a display, so it works anywhere.
  if (argc == 2 && (std::strcmp(argv[1], "--version") == 0 || std::strcmp(argv[1], "-v") == 0)) {
    std::printf("Quorlin %s\n", QUORLIN_VERSION);
    return 0;
  }
  QApplication application(argc, argv);
  QApplication::setOrganizationName("Quorlin");
  QApplication::setApplicationName("Quorlin");
  QApplication::setApplicationVersion(QUORLIN_VERSION);
  QApplication::setDesktopFileName("quorlin");

  QCommandLineParser parser;
  QString pictureFile;
  QString sweepPictureFile;
  QString corpusPictureFile;
  QString corpusFolder;
  QString corpusQualities;
  std::optional<QuorlinLaunchOptions> options = parseArguments(parser, application, pictureFile, sweepPictureFile,
                                                               corpusPictureFile, corpusFolder, corpusQualities);
  if (!options) return 2;

  quorlin::gui::QuorlinApplication quorlin(std::move(*options));
  if (!pictureFile.isEmpty()) new quorlin::gui::GenerateAndCapture(quorlin, pictureFile);
  if (!sweepPictureFile.isEmpty()) new quorlin::gui::SweepAndCapture(quorlin, sweepPictureFile);
  if (!corpusPictureFile.isEmpty()) {
    new quorlin::gui::CorpusAndCapture(quorlin, corpusFolder, corpusQualities, corpusPictureFile);
  }
  quorlin.show();
  const int status = QApplication::exec();
  if (!quorlin.terminate()) {
    // A tool ignored every signal: its worker still uses the shared objects, so
    // they are left alone and the process ends here, its directories removed.
    std::fflush(nullptr);
    std::_Exit(status);
  }
  return status;
}
