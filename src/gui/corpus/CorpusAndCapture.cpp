#include "gui/corpus/CorpusAndCapture.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QTableWidget>
#include <QTimer>

#include <cstdio>

#include "gui/app/QuorlinApplication.h"
#include "gui/corpus/CorpusWindow.h"
#include "gui/workspace/MainWindow.h"

namespace quorlin::gui {

CorpusAndCapture::CorpusAndCapture(QuorlinApplication& application, QString folder, QString qualities,
                                   QString pictureFile)
    : QObject(&application) {
  QTimer::singleShot(0, this, [&application, folder, qualities, pictureFile] {
    CorpusWindow& window = application.mainWindow().showCorpus();
    window.resize(1640, 720);  // every row of eight images in view
    window.setImageFolder(folder.toStdString());
    if (!qualities.isEmpty()) window.ladderEdit()->setText(qualities);
    window.setRunEndedHandler([&window, pictureFile] {
      QTableWidget* table = window.table();
      for (int row = 0; row < table->rowCount(); ++row) {
        QStringList cells;
        for (int column = 0; column < table->columnCount(); ++column) cells << table->item(row, column)->text();
        std::printf("%s\n", cells.join("  ").toUtf8().constData());
      }
      std::printf("%s\n", window.messageText().toUtf8().constData());
      std::fflush(stdout);
      const bool isSaved = window.grab().save(pictureFile, "PNG");
      QCoreApplication::exit(isSaved && window.messageText().startsWith("Done") ? 0 : 1);
    });
    // Half way, a picture of the running window beside the final one ("NAME-running.png").
    QString runningFile = pictureFile;
    runningFile.insert(runningFile.endsWith(".png") ? runningFile.size() - 4 : runningFile.size(), "-running");
    QProgressBar* progress = window.progressBar();
    QObject::connect(progress, &QProgressBar::valueChanged, &window, [&window, progress, runningFile](int value) {
      if (!window.isRunning() || value * 2 < progress->maximum() || progress->property("captured").toBool()) return;
      progress->setProperty("captured", true);
      window.grab().save(runningFile, "PNG");
    });
    if (!window.start()) {
      std::fprintf(stderr, "quorlin: %s\n", window.messageText().toUtf8().constData());
      QCoreApplication::exit(1);
    }
  });
}

}  // namespace quorlin::gui
