// SweepAndCapture: the "--sweep-and-capture PNG" automation of the quorlin
// executable, for scripted pictures of the Rate–Distortion window.
//
// It waits until the first tab's source has loaded, opens the tab's
// Rate–Distortion window, sweeps every panel, saves a picture of the window
// to PNG and quits, printing the window's delta table on standard output.
// Exit status 0 when every panel has a curve and the picture was saved, else 1.
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
class RateDistortionWindow;

class SweepAndCapture : public QObject {
 public:
  SweepAndCapture(QuorlinApplication& application, QString pictureFile);

 private:
  void changed();
  void finish();
  void fail(const QString& reason);

  QuorlinApplication& application_;
  CompressionWorkspace& workspace_;
  QString pictureFile_;
  RateDistortionWindow* window_ = nullptr;
  bool isDone_ = false;
  Subscription workspaceSubscription_;
  Subscription sessionSubscription_;
};

}  // namespace quorlin::gui
