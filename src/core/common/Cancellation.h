// Cancellation of engine work. Engine functions take a std::stop_token and
// check it only at their documented cancellation points; a child process that
// has started always runs to its end.
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
