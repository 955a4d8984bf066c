#include "cli/ProgressLine.h"

#include <unistd.h>

namespace quorlin::cli {

namespace {
constexpr const char* clearLine = "\r\x1b[K";
}

ProgressLine::ProgressLine(std::FILE* stream) : stream_(stream), isInPlace_(::isatty(::fileno(stream)) == 1) {}

void ProgressLine::show(const std::string& status) {
  status_ = status;
  if (isInPlace_) {
    std::fprintf(stream_, "%s%s", clearLine, status.c_str());
    isShowing_ = true;
  } else {
    std::fprintf(stream_, "%s\n", status.c_str());
  }
  std::fflush(stream_);
}

void ProgressLine::printLine(const std::string& line) {
  if (isInPlace_ && isShowing_) std::fputs(clearLine, stream_);
  std::fprintf(stream_, "%s\n", line.c_str());
  if (isInPlace_ && isShowing_) std::fputs(status_.c_str(), stream_);
  std::fflush(stream_);
}

void ProgressLine::finish() {
  if (isInPlace_ && isShowing_) {
    std::fputc('\n', stream_);
    std::fflush(stream_);
  }
  isShowing_ = false;
}

}  // namespace quorlin::cli
