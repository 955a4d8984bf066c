// The progress a command prints on standard error: status texts as they come
// and, interleaved, lines that stay (the --verbose command lines). On a
// terminal the status is one line rewritten in place; otherwise every status
// text is a line of its own, so a log keeps them all. Main thread only.
#pragma once

#include <cstdio>
#include <string>

namespace quorlin::cli {

class ProgressLine {
 public:
  explicit ProgressLine(std::FILE* stream);
  ~ProgressLine() { finish(); }
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

  void show(const std::string& status);
  // A line that stays; the current status is shown again under it.
  void printLine(const std::string& line);
  // Ends the in-place status line so later output starts on a fresh line.
  void finish();
  // True on a terminal: the status is rewritten in place.
  bool isInPlace() const { return isInPlace_; }

 private:
  std::FILE* stream_;
  bool isInPlace_;
  std::string status_;
  bool isShowing_ = false;
};

}  // namespace quorlin::cli
