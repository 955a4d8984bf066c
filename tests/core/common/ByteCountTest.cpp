#include "core/common/ByteCount.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

TEST(FormatByteCountTest, BytesBelowOneThousand) {
  EXPECT_EQ(formatByteCount(0), "0 bytes");
  EXPECT_EQ(formatByteCount(1), "1 bytes");
  EXPECT_EQ(formatByteCount(999), "999 bytes");
}

TEST(FormatByteCountTest, KilobytesUseOneDecimalAndNeverRollOverEarly) {
  EXPECT_EQ(formatByteCount(1000), "1.0 KB");
  EXPECT_EQ(formatByteCount(1049), "1.0 KB");
  EXPECT_EQ(formatByteCount(1250), "1.2 KB");  // printf rounds 1.25 to even
  // 999,999 bytes is 999.999 KB: still kilobytes, shown as 1000.0 KB.
  EXPECT_EQ(formatByteCount(999'999), "1000.0 KB");
}

TEST(FormatByteCountTest, LargerUnitsUseTwoDecimals) {
  EXPECT_EQ(formatByteCount(1'000'000), "1.00 MB");
  EXPECT_EQ(formatByteCount(2'350'000), "2.35 MB");
  EXPECT_EQ(formatByteCount(7'890'000'000), "7.89 GB");
  EXPECT_EQ(formatByteCount(1'000'000'000'000), "1.00 TB");
}

TEST(FormatByteCountTest, TerabytesAreTheLargestUnit) {
  EXPECT_EQ(formatByteCount(5'000'000'000'000'000), "5000.00 TB");
}

}  // namespace
}  // namespace quorlin
