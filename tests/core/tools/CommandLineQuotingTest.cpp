#include "core/tools/CommandLineQuoting.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

TEST(CommandLineQuotingTest, PlainElementsStayBare) {
  EXPECT_EQ(quoteForDisplay("-d"), "-d");
  EXPECT_EQ(quoteForDisplay("1"), "1");
  EXPECT_EQ(quoteForDisplay("--lossless_jpeg=0"), "--lossless_jpeg=0");
  EXPECT_EQ(quoteForDisplay("/tmp/Brimwell/photo.png"), "/tmp/Brimwell/photo.png");
  EXPECT_EQ(quoteForDisplay("caf\u00e9-\u2713.png"), "caf\u00e9-\u2713.png");
  EXPECT_EQ(quoteForDisplay("*"), "*");  // only the listed characters trigger quoting
}

TEST(CommandLineQuotingTest, WhitespaceAndTheFourSpecialCharactersAreSingleQuoted) {
  EXPECT_EQ(quoteForDisplay("My Photo.png"), "'My Photo.png'");
  EXPECT_EQ(quoteForDisplay("tab\there"), "'tab\there'");
  EXPECT_EQ(quoteForDisplay("line1\nline2"), "'line1\nline2'");
  EXPECT_EQ(quoteForDisplay("a\"b"), "'a\"b'");
  EXPECT_EQ(quoteForDisplay("back\\slash"), "'back\\slash'");
  EXPECT_EQ(quoteForDisplay("$HOME"), "'$HOME'");
  // Unicode whitespace counts too: a no-break space and an ideographic space.
  EXPECT_EQ(quoteForDisplay("a\u00a0b"), "'a\u00a0b'");
  EXPECT_EQ(quoteForDisplay("a\u3000b"), "'a\u3000b'");
}

TEST(CommandLineQuotingTest, SingleQuoteBecomesCloseEscapeReopen) {
  // a, then the four characters '\'' , then b, inside single quotes.
  EXPECT_EQ(quoteForDisplay("a'b"), "'a'\\''b'");
  EXPECT_EQ(quoteForDisplay("'"), "''\\'''");
}

TEST(CommandLineQuotingTest, ElementsAreJoinedWithOneSpaceAndAnEmptyOneShowsAsNothing) {
  EXPECT_EQ(quoteForDisplay(""), "");
  EXPECT_EQ(displayCommandLine("cwebp", {"-q", "", "85"}), "cwebp -q  85");
  EXPECT_EQ(displayCommandLine("exiftool", {}), "exiftool");
}

TEST(CommandLineQuotingTest, MalformedUTF8IsShownAsIsWithoutQuoting) {
  EXPECT_EQ(quoteForDisplay("\xff\xfe"), "\xff\xfe");
  EXPECT_EQ(quoteForDisplay("\xe3\x80"), "\xe3\x80");  // a cut-off ideographic space is not whitespace
}

}  // namespace
}  // namespace quorlin
