#include "core/workspace/TabTitle.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

// Builds a title of `count` user-perceived characters from one repeated piece.
std::string repeated(std::string_view piece, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += piece;
  return text;
}

TEST(TabTitleTest, UpTo28CharactersStayWholeAndLongerKeepTheFirst16AndTheLast9) {
  EXPECT_EQ(shortenedTabTitle(""), "");
  const std::string title28 = "abcdefghijklmnopqrstuvwxyz12";
  EXPECT_EQ(shortenedTabTitle(title28), title28);
  EXPECT_EQ(shortenedTabTitle(title28 + "3"), "abcdefghijklmnop...uvwxyz123");
  // User-perceived characters count, not bytes.
  const std::string flag = "\U0001F1EB\U0001F1F7";                       // regional indicators F + R
  const std::string accented = "e\u0301";                                // e + combining acute accent
  const std::string family = "\U0001F468\u200D\U0001F469\u200D\U0001F467";  // man ZWJ woman ZWJ girl
  const std::string hangul = "\u1100\u1161\u11A8";                       // conjoining jamo: one syllable
  for (const std::string& piece : {flag, accented, family, hangul, std::string("\u00E9"), std::string("\r\n")}) {
    EXPECT_EQ(userPerceivedCharacterCount(piece), 1u) << piece;
    EXPECT_EQ(shortenedTabTitle(repeated(piece, 28)), repeated(piece, 28));
    EXPECT_EQ(shortenedTabTitle(repeated(piece, 29)), repeated(piece, 16) + "..." + repeated(piece, 9));
  }
  // Never cut inside a cluster: a family emoji straddles the cut point.
  const std::string title = "abcdefghijklmno" + family + "pqrstuvwxyz12";
  ASSERT_EQ(userPerceivedCharacterCount(title), 29u);
  EXPECT_EQ(shortenedTabTitle(title), "abcdefghijklmno" + family + "...tuvwxyz12");
}

TEST(TabTitleTest, InvalidUTF8IsCountedWithoutFailing) {
  const std::string broken = std::string(30, 'a') + "\xFF\xFE";
  EXPECT_EQ(userPerceivedCharacterCount(broken), 32u);
  EXPECT_EQ(userPerceivedCharacterCount("\xE2\x80"), 1u) << "a truncated three-byte character";
  EXPECT_EQ(shortenedTabTitle(broken).substr(0, 19), std::string(16, 'a') + "...");
}

}  // namespace
}  // namespace quorlin
