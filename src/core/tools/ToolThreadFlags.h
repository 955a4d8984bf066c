// The one table of thread flags: for each tool whose installed release can
// be told how many threads to use, the flag that does it, and the counts that
// keep its output the same. The core budget (CoreBudget.h) decides the count;
// the encoder, the decoders and the scorer ask threadArguments for the
// arguments that pass it on. A tool without a row gets no flag and runs as it
// always does.
//
// The flag is a matter of time only: every row's output is the same for every
// count it can be given (the bytes were compared, see docs/tool-threads.md),
// which is why a result's settings command line never shows it while the
// command console does. Where a tool's output at one thread differs from its
// output at several, the row's `fewestThreads` keeps it in the several-thread
// regime, whose bytes do not depend on the count.
//
// Immutable data and pure functions, thread-safe.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/codecs/CodecCatalog.h"

namespace quorlin {

// How a row's flag carries the count N.
enum class ThreadFlagForm {
  valueAfterFlag,    // FLAG N              ("--jobs", "4")
  valueInFlag,       // FLAGN               ("--num_threads=4")
  switchAboveOne,    // FLAG when N > 1, nothing otherwise ("-mt")
  encoderParameter,  // -p FLAGN            ("-p", "threads=4"; heif-enc's encoder plugins)
};

struct ToolThreadFlag {
  std::string_view tool;
  // For a tool whose flag depends on what it encodes (heif-enc: x265 or
  // libaom): the codec; nothing for every use of the tool.
  std::optional<CompressionCodec> codec;
  std::string_view flag;
  ThreadFlagForm form;
  int fewestThreads;        // counts below this give other bytes: never pass fewer
  int mostThreads;          // the tool's own limit; 0 for none
  std::string_view measured;  // what the installed release does, in brief
};

// Every row, in table order.
std::span<const ToolThreadFlag> allToolThreadFlags();

// The row for `tool` (encoding `codec`, for the tools whose flag depends on
// it), or nothing when the tool has no thread flag.
const ToolThreadFlag* toolThreadFlag(std::string_view tool, std::optional<CompressionCodec> codec = std::nullopt);

// The arguments that give `tool` `threads` threads (raised to the row's
// fewest, lowered to its most); empty when the tool has no thread flag.
std::vector<std::string> threadArguments(std::string_view tool, int threads,
                                         std::optional<CompressionCodec> codec = std::nullopt);

}  // namespace quorlin
