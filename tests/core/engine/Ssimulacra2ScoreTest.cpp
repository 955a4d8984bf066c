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
}

TEST(Ssimulacra2ScoreTest, NoNumberFailsWithTheWholeOutput) {
  for (const char* output : {"no score today", "", "   \n", "nan inf", "85x,3y"}) {
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
