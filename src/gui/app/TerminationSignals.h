// TerminationSignals: SIGINT and SIGTERM end the application the way quitting
// from the menu does, so the work directories are removed before the process
// exits.
//
// The signal handler only writes one byte to a pipe (the one thing it can do
// safely); a QSocketNotifier on the other end calls `onSignal` on the main
// thread. The handlers reset themselves after the first signal, so a second
// Ctrl+C ends a stuck process at once. One instance per process.
#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace quorlin::gui {

class TerminationSignals : public QObject {
 public:
  // Installs the handlers; `onSignal` gets the signal number.
  explicit TerminationSignals(std::function<void(int signalNumber)> onSignal, QObject* parent = nullptr);
  // Restores the default handlers and closes the pipe.
  ~TerminationSignals() override;
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

 private:
  void readSignals();

  std::function<void(int)> onSignal_;
  int readEnd_ = -1;
  QSocketNotifier* notifier_ = nullptr;
};

}  // namespace quorlin::gui
