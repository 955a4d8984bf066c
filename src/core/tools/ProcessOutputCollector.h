// ProcessOutputCollector: the bytes one child stream (or, for version probes,
// both streams) printed, gathered while the child runs.
//
// Only the end of a stream is kept (by default its last 64 KB): that is where
// tools say why they failed, and a tool printing without end must not fill
// our memory, a panel or a report. Thread-safe: appends and reads take the
// collector's own mutex, so a reader may look while output is still arriving.
#pragma once

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "core/common/TextEncoding.h"

namespace quorlin {

// `bytes` as UTF-8 text: every byte that does not belong to a well-formed
// sequence becomes U+FFFD.
std::string decodeUTF8Replacing(std::string_view bytes);

class ProcessOutputCollector {
 public:
  static constexpr std::size_t defaultKeptBytes = 64 * 1024;

  explicit ProcessOutputCollector(std::size_t keptBytes = defaultKeptBytes) : keptBytes_(keptBytes) {}

  // An empty chunk is ignored.
  void append(std::span<const char> chunk);
  // The kept bytes as text, invalid UTF-8 replaced (see decodeUTF8Replacing).
  // When earlier bytes were dropped, the text starts with the line
  // "… N bytes omitted" (N counts every dropped byte, including the pieces of
  // a character cut at the start).
  std::string text() const;
  // The kept bytes, undecoded.
  std::string bytes() const;
  // How many bytes were dropped from the start so far.
  std::uint64_t omittedByteCount() const;

 private:
  std::size_t keptBytes_;
  mutable std::mutex lock_;
  std::string data_;             // at most twice keptBytes_; the last keptBytes_ count
  std::uint64_t dropped_ = 0;    // bytes erased from the front of data_
};

}  // namespace quorlin
