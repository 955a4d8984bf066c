// GenerateAndCapture: the "--generate-and-capture PNG" automation of the
// quorlin executable, for smoke tests and scripted screenshots.
//
// It waits until the first tab's source has loaded, starts generation through
// the registry's `generate` handler (as ⌘G and the menu do), waits for the
// pass to end, saves a picture of the main window to PNG and quits. It prints
// one line per panel (codec, size, score or error) and the resident memory on
// standard output. Exit
// status: 0 when every panel has a result and the picture was saved, 1
// otherwise (no source given, the source failed to load, generation was
// refused, a panel failed or the picture could not be written).
//
// Main thread only; the application must outlive it.
#pragma once

#include <QObject>
#include <QString>

#include "core/workspace/ObserverList.h"

namespace quorlin {
class CompressionWorkspace;
}

namespace quorlin::gui {

class QuorlinApplication;

class GenerateAndCapture : public QObject {
 public:
  GenerateAndCapture(QuorlinApplication& application, QString pictureFile);

 private:
  enum class Stage { loading, generating, done };

  void workspaceChanged();
  void finish();
  void fail(const QString& reason);

  QuorlinApplication& application_;
  CompressionWorkspace& workspace_;
  QString pictureFile_;
  Stage stage_ = Stage::loading;
  Subscription subscription_;
};

}  // namespace quorlin::gui
