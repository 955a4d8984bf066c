// quorlin-cli rd on fake WebP tools whose file size and score follow the
// quality: the encoder pads a genuine sample by SIZE bytes per quality point
// (SIZE is 100, or 60 with "-m 4") and leaves the quality beside its output,
// where the scorer reads it back as the score.
#include <signal.h>

#include <sstream>

#include "CliHarness.h"

namespace quorlin::test {
namespace {

class RateDistortionCommandTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (IsSkipped()) return;
    makeReleaseFifo();
    // Quality 77 blocks until the test releases it (only the interruption test asks for it).
    fakeLadderTools("[ \"$q\" = 77 ] && read line < '" + path("release") + "'");
  }
};

TEST_F(RateDistortionCommandTest, ReportsPointsAndTheDeltaAgainstTheAnchorAsTextJsonAndCsv) {
  const std::vector<std::string> sweep = {"rd", path("photo.png"), "--tool-dir", tools, "--panel", "webp", "--panel",
                                          "webp:effort=4", "--ladder", "1=30,50,60,70,90", "--ladder", "2=40,50,60,80"};
  ProgramRun text = run(sweep);
  EXPECT_EQ(text.status, 0) << text.errors;
  expectContains(text.errors, {"Panel 2: point 4 of 4"});
  // Panel 2 pays 60 bytes per quality point against panel 1's 100 over the
  // same scores: the padding dominates the size, so about 40% less, and more
  // score at equal size.
  expectContains(text.output, {"Panel 1: WebP\n  Setting     Size", "  quality 90  ",
                               "Against panel 1 (WebP):\n  #  Codec  BD-rate", "  2  WebP   \u22123", "% size  +",
                               "SSIMULACRA2 40.0\u201380.0 (67% of the range)"});
  std::vector<std::string> machine = sweep;
  machine.insert(machine.end(),
                 {"--json", "--csv", path("points.csv"), "--anchor", "2", "--serial", "--threads=2", "--verbose"});
  ProgramRun json = run(machine);
  EXPECT_EQ(json.status, 0) << json.errors;
  // One point at a time: each point's tools get both threads, as a lone compare panel's do.
  expectContains(json.errors, {"\ncwebp -mt -q ", "\ndwebp -mt ", "\nssimulacra2 --threads 2 "});
  expectContains(json.output, {"\"panel\": 2,\n      \"codec\": \"WebP\",\n      \"signature\": \"WebP|effort=4|",
                               "\"setting\": 30,\n          \"settingsSignature\": \"WebP|effort=5|",
                               "\"ssimulacra2Score\": 90,",
                               "\"bd\": [\n    {\n      \"panel\": 1,\n      \"anchor\": 2,\n      \"bdRate\": 0.5",
                               "\"overlapLow\": 40,\n      \"overlapHigh\": 80,", "\"status\": \"ok\""});
  EXPECT_EQ(json.output.find("\"kept\": false"), std::string::npos);
  std::istringstream csv(readTextFile(scratch / "points.csv"));
  std::vector<std::string> rows;
  for (std::string row; std::getline(csv, row);) rows.push_back(row);
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_TRUE(rows[0].starts_with("panel,codec,setting,encodedSize,bitsPerPixel,ssimulacra2Score,")) << rows[0];
  EXPECT_TRUE(rows[9].starts_with("2,WebP,80,")) << rows[9];
  EXPECT_TRUE(rows[9].ends_with(",true,,cwebp -q 80 -m 4 -metadata all")) << rows[9];
  EXPECT_TRUE(leftovers().empty());
}

TEST_F(RateDistortionCommandTest, InterruptEndsTheSweepAndRemovesEveryDirectory) {
  pid_t pid = start({"rd", path("photo.png"), "--tool-dir", tools.string(), "--panel", "webp", "--ladder",
                     "1=30,77,90", "--serial"});
  ASSERT_TRUE(waitFor([&] { return readTextFile(path("stderr.txt")).find("point 2 of 3") != std::string::npos; }));
  ASSERT_EQ(::kill(pid, SIGINT), 0);
  ProgramRun result = finish(pid);
  EXPECT_EQ(result.status, 130) << result.errors;
  EXPECT_TRUE(result.errors.ends_with("Interrupted.\n")) << result.errors;
  EXPECT_EQ(result.output, "");
  EXPECT_TRUE(leftovers().empty());
}

}  // namespace
}  // namespace quorlin::test
