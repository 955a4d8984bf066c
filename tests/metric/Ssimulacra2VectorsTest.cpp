// The reference tool's scores and errors, row by row, for each vector folder
// (the subset committed beside the tests always runs; the full sets in the
// shared data directory, plain images and colour encodings, run when
// present); and the ssimulacra2 program as the app runs it: arguments, output
// format, exit codes and one-line error messages.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "MetricTestImages.h"
#include "metric/Ssimulacra2.h"
#include "support/TestSupport.h"

namespace quorlin::metric {
namespace {

// Rows of a CSV file without quoted fields, header skipped.
std::vector<std::vector<std::string>> readCsv(const std::filesystem::path& file) {
  std::ifstream stream(file);
  std::vector<std::vector<std::string>> rows;
  std::string line, field;
  for (std::getline(stream, line); std::getline(stream, line);) {
    std::stringstream fields(line);
    if (!line.empty()) rows.emplace_back();
    while (std::getline(fields, field, ',')) rows.back().push_back(field);
  }
  return rows;
}

// The folder under testdata in the shared directory; empty for the committed subset.
class ReferenceVectorsTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    const auto shared = quorlin::test::sharedDataDirectory();
    directory_ = GetParam().empty() ? std::filesystem::path(QUORLIN_SOURCE_DIR) / "tests" / "metric" / "data"
                                    : shared / "testdata" / GetParam();
    if (!std::filesystem::exists(directory_ / "manifest.csv")) {
      if (GetParam().empty()) FAIL() << "committed test vectors missing at " << directory_;
      GTEST_SKIP() << "shared test vectors (testdata/" << GetParam() << ") not found";
    }
  }
  std::filesystem::path directory_;
};

// The reference scores were printed on x86-64 with FMA; with the same float
// operations in the same order every digit must agree, on one thread and on
// five (the work split differently) while the error map is written. Elsewhere
// (arm64, say) compilers may fuse operations differently, and only 0.05 points hold.
TEST_P(ReferenceVectorsTest, EveryRowPrintsTheReferenceScoreWithAndWithoutTheMap) {
  quorlin::test::ScratchDirectory scratch;
  MetricOptions mapped{5};
  mapped.errorMap = scratch / "map.pfm";
  const auto rows = readCsv(directory_ / "manifest.csv");
  ASSERT_FALSE(rows.empty()) << "manifest.csv has no rows";
  for (const MetricOptions& options : {MetricOptions{1}, mapped}) {
    SCOPED_TRACE(options.errorMap.empty() ? "score only" : "with the map");
    for (const auto& fields : rows) {
      ASSERT_EQ(fields.size(), 3u);
      std::string warnings;
      const MetricResult result = scoreImageFiles(directory_ / fields[0], directory_ / fields[1], options, &warnings);
      ASSERT_TRUE(result.ok()) << fields[1] << ": " << result.message();
      EXPECT_NEAR(result.score(), std::stod(fields[2]), 0.05) << fields[0] << " vs " << fields[1];
#if defined(__x86_64__)
      char printed[64];
      std::snprintf(printed, sizeof printed, "%.8f", result.score());
      EXPECT_EQ(printed, fields[2]) << fields[0] << " vs " << fields[1];
#endif
    }
  }
}

// errors.csv: invocations that must fail, with the message of the libjxl
// tool, whose wording ours follows.
TEST_P(ReferenceVectorsTest, ErrorRowsFailWithTheReferenceMessage) {
  if (!std::filesystem::exists(directory_ / "errors.csv")) GTEST_SKIP() << "no error rows in " << directory_;
  const auto rows = readCsv(directory_ / "errors.csv");
  ASSERT_FALSE(rows.empty());
  for (const auto& fields : rows) {
    ASSERT_EQ(fields.size(), 5u);
    const std::string original = (directory_ / fields[0]).string();
    const std::string distorted = (directory_ / fields[1]).string();
    // The reference printed the paths as given (relative); ours are absolute.
    std::string expected = fields[4];
    for (const auto& [relative, absolute] : {std::pair{fields[0], original}, std::pair{fields[1], distorted}}) {
      const auto at = expected.find(": " + relative);
      if (at != std::string::npos) expected = expected.substr(0, at + 2) + absolute;
    }
    const MetricResult result = scoreImageFiles(original, distorted);
    EXPECT_FALSE(result.ok()) << fields[0] << " vs " << fields[1];
    EXPECT_EQ(result.message(), expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Folders, ReferenceVectorsTest, ::testing::Values("", "ssimulacra2", "ssimulacra2-icc"),
                         [](const auto& folder) {
                           return folder.param.empty() ? std::string("Committed")
                                                       : folder.param == "ssimulacra2" ? "Shared" : "SharedColour";
                         });

namespace fs = std::filesystem;
using quorlin::test::ProgramRun;

class Ssimulacra2ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(tool_)) GTEST_SKIP() << "ssimulacra2 is not built at " << tool_;
    test::writePng(scratch_ / "original.png", 64, 48, 3, picture_);
    test::writePng(scratch_ / "noisy.png", 64, 48, 3, test::addNoise(picture_, 3, 6));
  }
  // The thread count comes from the arguments or the test, never from the environment.
  ProgramRun run(const std::vector<std::string>& arguments, const std::string& threads = "QUORLIN_METRIC_THREADS") {
    fs::create_directories(scratch_ / "out");
    return quorlin::test::finishProgram(quorlin::test::startProgram(tool_, arguments, scratch_ / "out", {threads}),
                                        scratch_ / "out");
  }
  std::string path(const char* name) const { return (scratch_ / name).string(); }

  const fs::path tool_ = quorlin::test::buildDirectory() / "src" / "metric" / "ssimulacra2";
  quorlin::test::ScratchDirectory scratch_;
  std::vector<std::uint8_t> picture_ = test::makePicture(64, 48, 3);
};

// Eight decimals whatever the threads or the map; odd names and (through
// libvips) other formats read.
TEST_F(Ssimulacra2ToolTest, PrintsTheScoreWithEightDecimalsWhateverTheThreadsOrTheMap) {
  const std::string original = path("original.png"), noisy = path("noisy.png");
  const ProgramRun plain = run({original, noisy});
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.errors, "");
  ASSERT_EQ(plain.output.size(), std::string("12.12345678\n").size()) << plain.output;
  EXPECT_EQ(plain.output[2], '.');
  EXPECT_LT(std::stod(plain.output), 100.0);
  EXPECT_EQ(run({"--threads", "1", original, noisy}).output, plain.output);
  EXPECT_EQ(run({"--threads=3", original, noisy}).output, plain.output);
  EXPECT_EQ(run({original, noisy}, "QUORLIN_METRIC_THREADS=2").output, plain.output);
  const ProgramRun mapped = run({"--map", path("map.pfm"), original, noisy});
  EXPECT_EQ(mapped.status, 0) << mapped.errors;
  EXPECT_EQ(mapped.output, plain.output);
  EXPECT_EQ(fs::file_size(path("map.pfm")), std::string("PF\n64 48\n-1.0\n").size() + 64 * 48 * 3 * 4);
  EXPECT_EQ(std::distance(fs::directory_iterator(scratch_.path()), fs::directory_iterator()), 4)
      << "only the two images, the map and the output folder remain";
  // A map already there is replaced, one behind a link written through the link.
  const std::string map = quorlin::test::readTextFile(path("map.pfm"));
  fs::create_symlink("map.pfm", scratch_ / "link.pfm");
  for (const char* name : {"map.pfm", "link.pfm"}) EXPECT_EQ(run({"--map", path(name), original, noisy}).status, 0);
  EXPECT_TRUE(fs::is_symlink(scratch_ / "link.pfm"));
  EXPECT_EQ(quorlin::test::readTextFile(path("map.pfm")), map);

  const fs::path odd = scratch_ / "my \"best\" pic — ünïcødé 'q'.png";
  fs::copy_file(original, odd);
  std::ostringstream ppm;  // a binary PPM holding exactly the PNG's pixels
  ppm << "P6\n64 48\n255\n";
  ppm.write(reinterpret_cast<const char*>(picture_.data()), static_cast<std::streamsize>(picture_.size()));
  quorlin::test::writeTextFile(path("original.ppm"), ppm.str());
  for (const auto& arguments : {std::vector{original, original}, {odd.string(), original}, {original, path("original.ppm")}}) {
    const ProgramRun identical = run(arguments);
    EXPECT_EQ(identical.status, 0) << identical.errors;
    EXPECT_EQ(identical.output, "100.00000000\n");
    EXPECT_EQ(identical.errors, "");
  }
}

// Every error is one line on stderr (wrong arguments: the usage), nothing on
// stdout, exit code 1.
TEST_F(Ssimulacra2ToolTest, BadArgumentsUnreadableFilesAndUnwritableMapsAreErrors) {
  const std::string original = path("original.png"), missing = path("nöt thére.png"), directory = path("");
  quorlin::test::writeTextFile(path("notes.png"), "this is not an image\n");
  quorlin::test::writeTextFile(path("empty.png"), "");
  // Cut inside the image data (the header intact, the pixels not), and just after the header.
  const std::string whole = quorlin::test::readTextFile(path("noisy.png"));
  quorlin::test::writeTextFile(path("truncated.png"), whole.substr(0, whole.size() * 2 / 3));
  quorlin::test::writeTextFile(path("header-only.png"), whole.substr(0, 40));
  const std::string map = path("missing/map.pfm"), usage = "Usage: ssimulacra2";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{missing, original}, "Could not load original image: " + missing + "\n"},
      {{original, missing}, "Could not load distorted image: " + missing + "\n"},
      {{original, directory}, "Could not load distorted image: " + directory + "\n"},
      {{path("notes.png"), original}, "Could not decode original image: " + path("notes.png") + "\n"},
      {{original, path("empty.png")}, "Could not decode distorted image: " + path("empty.png") + "\n"},
      {{original, path("truncated.png")}, "Could not decode distorted image: " + path("truncated.png") + "\n"},
      {{path("header-only.png"), original}, "Could not decode original image: " + path("header-only.png") + "\n"},
      {{"--map", map, original, original}, "Could not write error map: " + map + "\n"},
      {{}, usage}, {{original}, usage}, {{original, original, original}, usage},
      {{"--threads", "0", original, original}, usage}, {{"--threads", "many", original, original}, usage},
      {{original, original, "--threads"}, usage}, {{"QUORLIN_METRIC_THREADS=lots", original, original}, ""},
  };
  for (auto [arguments, message] : cases) {
    SCOPED_TRACE(::testing::PrintToString(arguments));
    std::string threads = "QUORLIN_METRIC_THREADS";
    if (!arguments.empty() && arguments[0].starts_with(threads)) threads = arguments[0], arguments.erase(arguments.begin());
    const ProgramRun result = run(arguments, threads);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "");
    EXPECT_TRUE(message.ends_with('\n') ? result.errors == message : result.errors.find(message) != std::string::npos)
        << result.errors;
  }
}

}  // namespace
}  // namespace quorlin::metric
