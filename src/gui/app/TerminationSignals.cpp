#include "gui/app/TerminationSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>
#include <utility>

namespace quorlin::gui {

namespace {

// The write end, read by the handler; -1 while no instance exists.
volatile sig_atomic_t signalWriteEnd = -1;

void writeSignalByte(int signalNumber) {
  const int savedErrno = errno;
  const int fd = signalWriteEnd;
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // Nothing to do about a failure here: a full pipe already holds a pending signal.
    [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
  }
  errno = savedErrno;
}

void installHandler(int signalNumber, void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  ::sigaction(signalNumber, &action, nullptr);
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void(int signalNumber)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("Cannot create the signal pipe.");
  readEnd_ = ends[0];
  signalWriteEnd = ends[1];
  notifier_ = new QSocketNotifier(readEnd_, QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { readSignals(); });
  for (int signalNumber : {SIGINT, SIGTERM}) installHandler(signalNumber, writeSignalByte, SA_RESTART | SA_RESETHAND);
}

TerminationSignals::~TerminationSignals() {
  for (int signalNumber : {SIGINT, SIGTERM}) installHandler(signalNumber, SIG_DFL, 0);
  const int writeEnd = signalWriteEnd;
  signalWriteEnd = -1;
  delete notifier_;
  ::close(writeEnd);
  ::close(readEnd_);
}

void TerminationSignals::readSignals() {
  unsigned char bytes[16];
  for (;;) {
    const ssize_t count = ::read(readEnd_, bytes, sizeof bytes);
    if (count <= 0) break;
    for (ssize_t i = 0; i < count; ++i) onSignal_(bytes[i]);
  }
}

}  // namespace quorlin::gui
