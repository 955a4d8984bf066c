#include "core/tools/ProcessOutputCollector.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace quorlin {
namespace {

std::span<const char> chunk(std::string_view text) { return {text.data(), text.size()}; }

TEST(ProcessOutputCollectorTest, ValidUTF8IsReturnedWholeEvenWhenSplitAcrossChunks) {
  ProcessOutputCollector collector;
  std::string text = "caf\u00e9 \u2713 \U0001F600";
  // Cut inside every multi-byte sequence.
  for (char c : text) collector.append(std::span<const char>(&c, 1));
  EXPECT_EQ(collector.text(), text);
  collector.append({});  // empty chunks change nothing
  EXPECT_EQ(collector.bytes(), text);
  EXPECT_EQ(ProcessOutputCollector().text(), "");
}

TEST(ProcessOutputCollectorTest, InvalidBytesBecomeReplacementCharactersAndTheRestSurvives) {
  const std::string_view replacement = "\xEF\xBF\xBD";
  for (std::string_view bad : {std::string_view("\xff"), std::string_view("\xc0\xaf"), std::string_view("\xed\xa0\x80"),
                               std::string_view("\x80"), std::string_view("\xe2\x82")}) {
    ProcessOutputCollector collector;
    collector.append(chunk("valid "));
    collector.append(chunk(bad));
    collector.append(chunk(" end \u2713"));
    std::string expected = "valid ";
    for (std::size_t i = 0; i < bad.size(); ++i) expected += replacement;
    EXPECT_EQ(collector.text(), expected + " end \u2713") << testing::PrintToString(std::string(bad));
    EXPECT_EQ(collector.bytes(), "valid " + std::string(bad) + " end \u2713");
  }
}

TEST(ProcessOutputCollectorTest, KeepsOnlyTheEndAndSaysHowMuchWasOmitted) {
  ProcessOutputCollector collector(8);
  EXPECT_EQ((collector.append(chunk("1234567")), collector.text()), "1234567");
  for (char c : std::string("89abcdefghijklmnopqrstuvwxyz")) collector.append(std::span<const char>(&c, 1));
  EXPECT_EQ(collector.text(), "\u2026 27 bytes omitted\nstuvwxyz");
  EXPECT_EQ(collector.omittedByteCount(), 27u);
  collector.append(chunk(std::string(100, '-') + "tail"));
  EXPECT_EQ(collector.text(), "\u2026 131 bytes omitted\n----tail");
  // A character cut by the limit is dropped whole and counted.
  ProcessOutputCollector cut(4);
  cut.append(chunk("ab\u2713xyz"));  // the check mark is three bytes
  EXPECT_EQ(cut.text(), "\u2026 5 bytes omitted\nxyz");
}

TEST(ProcessOutputCollectorTest, UTF8EdgesOfTheValidRange) {
  EXPECT_TRUE(isValidUTF8(std::string_view("\0", 1)));
  EXPECT_TRUE(isValidUTF8("\x7f"));
  EXPECT_TRUE(isValidUTF8("\xc2\x80"));            // U+0080
  EXPECT_TRUE(isValidUTF8("\xef\xbf\xbf"));        // U+FFFF
  EXPECT_TRUE(isValidUTF8("\xf4\x8f\xbf\xbf"));    // U+10FFFF
  EXPECT_FALSE(isValidUTF8("\xe0\x80\x80"));       // overlong U+0000
  EXPECT_FALSE(isValidUTF8("\xf0\x80\x80\x80"));   // overlong
  EXPECT_FALSE(isValidUTF8("\xf5\x80\x80\x80"));   // beyond U+10FFFF
}

TEST(ProcessOutputCollectorTest, ConcurrentAppendsLoseNothing) {
  ProcessOutputCollector collector;
  {
    std::vector<std::jthread> writers;
    for (int t = 0; t < 4; ++t) {
      writers.emplace_back([&] {
        for (int i = 0; i < 1000; ++i) collector.append(chunk("ab"));
      });
    }
    std::jthread reader([&] {
      for (int i = 0; i < 100; ++i) (void)collector.text();
    });
  }
  EXPECT_EQ(collector.bytes().size(), 8000u);
}

}  // namespace
}  // namespace quorlin
