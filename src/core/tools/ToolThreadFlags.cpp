#include "core/tools/ToolThreadFlags.h"

#include <algorithm>
#include <array>

namespace quorlin {

namespace {

using C = CompressionCodec;
using F = ThreadFlagForm;

// A row for every use of the tool, with no limit of its own on the count.
constexpr ToolThreadFlag anyUse(std::string_view tool, std::string_view flag, F form, int fewestThreads,
                                std::string_view measured) {
  return {tool, std::nullopt, flag, form, fewestThreads, 0, measured};
}

constexpr std::array<ToolThreadFlag, 9> rows = {{
    anyUse("cjxl", "--num_threads=", F::valueInFlag, 1,
           "0.7: --num_threads=N (default -1, every core; 0 runs on the calling thread alone); same bytes for every N"),
    anyUse("djxl", "--num_threads=", F::valueInFlag, 1,
           "0.7: --num_threads=N (default 0, every core); same decoded file for every N"),
    anyUse("avifenc", "--jobs", F::valueAfterFlag, 2,
           "0.11: --jobs N (default 1); from 2 jobs libaom encodes rows in parallel, which gives other bytes than 1 "
           "job but the same bytes for every N from 2 up"),
    anyUse("avifdec", "--jobs", F::valueAfterFlag, 1,
           "0.11: --jobs N for dav1d (default 1); same decoded file for every N"),
    anyUse("cwebp", "-mt", F::switchAboveOne, 1,
           "1.2.4: -mt switches on a second thread (lossy and lossless); same bytes with and without it"),
    anyUse("dwebp", "-mt", F::switchAboveOne, 1,
           "1.2.4: -mt switches on a second thread; same decoded file with and without it"),
    {"heif-enc", C::heifLibheif, "x265:pools=", F::encoderParameter, 1, 0,
     "1.15: no flag of its own; x265 (HEVC) takes -p x265:pools=N (default every core); same bytes for every N"},
    {"heif-enc", C::avifLibheif, "threads=", F::encoderParameter, 2, 16,
     "1.15: no flag of its own; libaom (AVIF) takes -p threads=N from 1 to 16 (default 4); 1 gives other "
     "bytes, every N from 2 up the same"},
    anyUse("ssimulacra2", "--threads", F::valueAfterFlag, 1,
           "Quorlin's own: --threads N (default every core); the same score for every N"),
}};

}  // namespace

std::span<const ToolThreadFlag> allToolThreadFlags() { return rows; }

const ToolThreadFlag* toolThreadFlag(std::string_view tool, std::optional<CompressionCodec> codec) {
  for (const auto& row : rows) {
    if (row.tool == tool && (!row.codec || row.codec == codec)) return &row;
  }
  return nullptr;
}

std::vector<std::string> threadArguments(std::string_view tool, int threads, std::optional<CompressionCodec> codec) {
  const ToolThreadFlag* row = toolThreadFlag(tool, codec);
  if (!row) return {};
  int count = std::max(threads, row->fewestThreads);
  if (row->mostThreads > 0) count = std::min(count, row->mostThreads);
  const std::string flag(row->flag);
  const std::string number = std::to_string(count);
  switch (row->form) {
    case ThreadFlagForm::valueAfterFlag:
      return {flag, number};
    case ThreadFlagForm::valueInFlag:
      return {flag + number};
    case ThreadFlagForm::switchAboveOne:
      if (count > 1) return {flag};
      return {};
    case ThreadFlagForm::encoderParameter:
      return {"-p", flag + number};
  }
  return {};
}

}  // namespace quorlin
