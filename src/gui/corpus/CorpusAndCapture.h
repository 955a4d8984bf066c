// CorpusAndCapture: the "--compare-folder-and-capture PNG" automation of the
// quorlin executable, for scripted pictures of the Compare Folder window.
//
// It opens the first tab's Compare Folder window on FOLDER (the positional
// argument), optionally with the given qualities, runs it into the default
// results folder, saves a picture of the window half way (NAME-running.png)
// and at the end to PNG and quits, printing the window's table on standard output. Exit status 0 when the run finished and
// the picture was saved, else 1.
//
// Main thread only; the application must outlive it.
#pragma once

#include <QObject>
#include <QString>

namespace quorlin::gui {

class QuorlinApplication;

class CorpusAndCapture : public QObject {
 public:
  CorpusAndCapture(QuorlinApplication& application, QString folder, QString qualities, QString pictureFile);
};

}  // namespace quorlin::gui
