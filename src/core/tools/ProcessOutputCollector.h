// ProcessOutputCollector: the bytes one child stream (or, for version probes,
// both streams) printed, gathered while the child runs.
//
// Thread-safe: appends and reads take the collector's own mutex, so a reader
// may look while output is still arriving.
#pragma once

#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "core/common/TextEncoding.h"

namespace quorlin {

class ProcessOutputCollector {
 public:
  // An empty chunk is ignored.
  void append(std::span<const char> chunk);
  // Everything appended so far as text; bytes that are not valid UTF-8 make the
  // whole result the empty string.
  std::string text() const;
  // Everything appended so far, undecoded.
  std::string bytes() const;

 private:
  mutable std::mutex lock;
  std::string data;
};

}  // namespace quorlin
