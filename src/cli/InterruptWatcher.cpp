#include "cli/InterruptWatcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace quorlin::cli {

namespace {

// The write end for the handler; a signal handler can reach nothing else.
volatile sig_atomic_t signalPipeWriteEnd = -1;

extern "C" void forwardSignal(int signalNumber) {
  int savedErrno = errno;
  unsigned char byte = static_cast<unsigned char>(signalNumber);
  if (signalPipeWriteEnd >= 0) (void)!::write(signalPipeWriteEnd, &byte, 1);
  errno = savedErrno;
}

constexpr unsigned char stopWatching = 0;

}  // namespace

InterruptWatcher::InterruptWatcher(std::function<void(int, int)> onSignal) : onSignal_(std::move(onSignal)) {
  if (::pipe2(pipe_, O_CLOEXEC) != 0) throw std::runtime_error("cannot create the signal pipe");
  signalPipeWriteEnd = pipe_[1];
  struct sigaction action {};
  action.sa_handler = forwardSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGINT, &action, &previousInterrupt_);
  ::sigaction(SIGTERM, &action, &previousTerminate_);
  thread_ = std::thread([this] { watch(); });
}

InterruptWatcher::~InterruptWatcher() {
  ::sigaction(SIGINT, &previousInterrupt_, nullptr);
  ::sigaction(SIGTERM, &previousTerminate_, nullptr);
  unsigned char byte = stopWatching;
  (void)!::write(pipe_[1], &byte, 1);
  thread_.join();
  signalPipeWriteEnd = -1;
  ::close(pipe_[0]);
  ::close(pipe_[1]);
}

void InterruptWatcher::watch() {
  int count = 0;
  for (;;) {
    unsigned char byte = 0;
    ssize_t read = ::read(pipe_[0], &byte, 1);
    if (read < 0 && errno == EINTR) continue;
    if (read != 1 || byte == stopWatching) return;
    int expected = 0;
    firstSignal_.compare_exchange_strong(expected, byte);
    onSignal_(byte, ++count);
  }
}

}  // namespace quorlin::cli
