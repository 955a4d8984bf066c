// Cancellation of engine work. Engine functions take a std::stop_token and
// check it at their documented cancellation points; a tool running when the
// stop comes is ended with its process group (SIGTERM, then SIGKILL). The
// desktop's Stop and the command line's Ctrl-C both end a pass this way.
#pragma once

#include <exception>
#include <stop_token>

namespace quorlin {

// Thrown when a task notices at a cancellation point that it was cancelled.
class CancellationError : public std::exception {
 public:
  const char* what() const noexcept override { return "Cancelled."; }
};

inline void throwIfCancelled(const std::stop_token& token) {
  if (token.stop_requested()) throw CancellationError();
}

}  // namespace quorlin
