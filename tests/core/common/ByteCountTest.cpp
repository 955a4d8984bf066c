#include "core/common/ByteCount.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

TEST(FormatByteCountTest, DecimalUnitsAtTheirEdges) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "0 bytes"}, {1, "1 bytes"}, {999, "999 bytes"}, {1000, "1.0 KB"}, {1049, "1.0 KB"},
      {1250, "1.2 KB"},  // printf rounds 1.25 to even
      {999'999, "1000.0 KB"},  // still kilobytes: no early roll-over
      {1'000'000, "1.00 MB"}, {2'350'000, "2.35 MB"}, {7'890'000'000, "7.89 GB"}, {1'000'000'000'000, "1.00 TB"},
      {5'000'000'000'000'000, "5000.00 TB"},  // the largest unit
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(formatByteCount(bytes), text) << bytes;
}

}  // namespace
}  // namespace quorlin
