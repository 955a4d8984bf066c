#include "core/engine/Ssimulacra2Score.h"

#include <gtest/gtest.h>

#include "core/common/CompressionError.h"

namespace quorlin {
namespace {

TEST(Ssimulacra2ScoreTest, TakesTheFirstPieceThatIsWhollyANumber) {
  EXPECT_DOUBLE_EQ(parseSsimulacra2Score("85.3"), 85.3);
  EXPECT_DOUBLE_EQ(parseSsimulacra2Score("85.30000000\n"), 85.3);
  EXPECT_DOUBLE_EQ(parseSsimulacra2Score("score: 87.25"), 87.25);
  EXPECT_DOUBLE_EQ(parseSsimulacra2Score("-12.5"), -12.5);
  EXPECT_DOUBLE_EQ(parseSsimulacra2Score("score:90,extra 3"), 90.0);
  // "3x" and "v2.1," are not wholly numbers; the first piece that is wins.
  EXPECT_DOUBLE_EQ(parseSsimulacra2Score("3x v2.1, then 71.75 and 5"), 71.75);
  EXPECT_DOUBLE_EQ(parseSsimulacra2Score("\t 1e2 "), 100.0);
  EXPECT_DOUBLE_EQ(parseSsimulacra2Score("100.0001"), 100.0001);
}

TEST(Ssimulacra2ScoreTest, ANumberNoScoreCanBeFailsThePanel) {
  for (std::string_view piece : {"100.00011", "1e308", "1e999", "inf", "nan", "-1e999"}) {
    try {
      parseSsimulacra2Score("score: " + std::string(piece) + "\n12");
      ADD_FAILURE() << "accepted " << piece;
    } catch (const CompressionError& error) {
      EXPECT_EQ(error.message(), "ssimulacra2 printed an impossible score: " + std::string(piece) + ".");
    }
  }
}

TEST(Ssimulacra2ScoreTest, NoNumberFailsWithTheWholeOutput) {
  for (const char* output : {"no score today", "", "   \n", "85x,3y"}) {
    try {
      parseSsimulacra2Score(output);
      ADD_FAILURE() << "parsed \"" << output << "\"";
    } catch (const CompressionError& error) {
      EXPECT_EQ(error.kind(), CompressionError::Kind::processFailed);
      EXPECT_EQ(error.tool(), "ssimulacra2");
      EXPECT_EQ(error.output(), output);
    }
  }
}

}  // namespace
}  // namespace quorlin
