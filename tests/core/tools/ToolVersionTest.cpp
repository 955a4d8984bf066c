#include "core/tools/ToolVersion.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

TEST(ParseVersionTest, TakesTheFirstDottedNumberOfTheFirstNonBlankLineOnly) {
  EXPECT_EQ(parseVersion("encoder version 0.11.1 [AVX2]"), "0.11.1");
  EXPECT_EQ(parseVersion("12.76\n"), "12.76");
  EXPECT_EQ(parseVersion("cjxl v0.7.0 [AVX3,AVX2,SSE4,SSSE3,Unknown]\n"), "0.7.0");
  EXPECT_EQ(parseVersion("Version: 0.11.1 (dav1d [dec]:1.0.0, libgav1 [dec]:0.18.0)"), "0.11.1");
  EXPECT_EQ(parseVersion("libjpeg-turbo version 2.1.5 (build 20230203)\n"), "2.1.5");
  EXPECT_EQ(parseVersion("1.2.3.4.5"), "1.2.3.4.5");
  EXPECT_EQ(parseVersion("a1.b2.3 4.5"), "2.3");  // leftmost match
  // Blank lines before the first text are skipped; later lines are never examined.
  EXPECT_EQ(parseVersion("   \n\t \n  1.2.4  \n"), "1.2.4");
  EXPECT_EQ(parseVersion("\r\n \r\n1.19.7\r\n"), "1.19.7");
  EXPECT_EQ(parseVersion("heif-enc: unrecognized option '--version'\n heif-enc  libheif version: 1.15.1\n"),
            std::nullopt);
  EXPECT_EQ(parseVersion("Failed to read file: --version\n1.2\n"), std::nullopt);
  EXPECT_EQ(parseVersion(""), std::nullopt);
  EXPECT_EQ(parseVersion(" \t\n\n"), std::nullopt);
  EXPECT_EQ(parseVersion("version 7"), std::nullopt);
  EXPECT_EQ(parseVersion("1..2"), std::nullopt);
  EXPECT_EQ(parseVersion(".5"), std::nullopt);
  // Only spaces and tabs are trimmed: a form feed makes a non-blank line.
  EXPECT_EQ(parseVersion("\f\n1.0\n"), std::nullopt);
}

TEST(ToolVersionTest, ParsesDottedDecimalNumbersOnly) {
  ASSERT_TRUE(ToolVersion::fromText("1.15.1"));
  EXPECT_EQ(ToolVersion::fromText("1.15.1")->components(), (std::vector<unsigned long long>{1, 15, 1}));
  EXPECT_EQ(ToolVersion::fromText("1.15.1")->text(), "1.15.1");
  EXPECT_TRUE(ToolVersion::fromText("7"));
  for (const char* bad : {"", ".", "1.", ".1", "1..2", "v1.2", "1.2a", "1 .2", "99999999999999999999.1"}) {
    EXPECT_FALSE(ToolVersion::fromText(bad)) << bad;
  }
}

TEST(ToolVersionTest, ComparesComponentsAsNumbersWithMissingOnesAsZero) {
  auto v = [](const char* text) { return *ToolVersion::fromText(text); };
  EXPECT_LT(v("1.9"), v("1.16"));
  EXPECT_EQ(v("1.0"), v("1.0.0"));
  EXPECT_EQ(v("1"), v("1.0"));
  EXPECT_GT(v("1.0.1"), v("1.0"));
  EXPECT_GT(v("1.19.7"), v("1.16"));
  EXPECT_EQ(v("01.2"), v("1.2"));
}

}  // namespace
}  // namespace quorlin
