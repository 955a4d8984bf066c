// The reference tool's scores and errors, row by row, for each vector folder:
// the subset committed beside the tests always runs; the full sets in the
// shared data directory (plain images, and colour encodings) run when present.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "metric/Ssimulacra2.h"
#include "support/TestSupport.h"

namespace quorlin::metric {
namespace {

struct VectorFolder {
  const char* name;    // test name suffix
  const char* shared;  // folder under testdata in the shared directory; null for the committed subset
};

void PrintTo(const VectorFolder& folder, std::ostream* out) { *out << folder.name; }

std::filesystem::path folderPath(const VectorFolder& folder) {
  if (!folder.shared) return std::filesystem::path(QUORLIN_SOURCE_DIR) / "tests" / "metric" / "data";
  const auto shared = quorlin::test::sharedDataDirectory();
  return shared.empty() ? shared : shared / "testdata" / folder.shared;
}

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

std::string printed(double score) {
  char text[64];
  std::snprintf(text, sizeof text, "%.8f", score);
  return text;
}

class ReferenceVectorsTest : public ::testing::TestWithParam<VectorFolder> {
 protected:
  void SetUp() override {
    directory_ = folderPath(GetParam());
    if (!std::filesystem::exists(directory_ / "manifest.csv")) {
      if (!GetParam().shared) FAIL() << "committed test vectors missing at " << directory_;
      GTEST_SKIP() << "shared test vectors (testdata/" << GetParam().shared << ") not found";
    }
    for (auto& fields : readCsv(directory_ / "manifest.csv")) {
      ASSERT_EQ(fields.size(), 3u);
      rows_.push_back({directory_ / fields[0], directory_ / fields[1], fields[2]});
    }
    ASSERT_FALSE(rows_.empty()) << "manifest.csv has no rows";
  }

  struct Row {
    std::filesystem::path reference, distorted;
    std::string score;
  };
  std::filesystem::path directory_;
  std::vector<Row> rows_;
};

// The reference scores were printed on x86-64 with FMA; with the same float
// operations in the same order every digit must agree, on one thread and on
// five (the work split differently) while the error map is written. Elsewhere (arm64, say) compilers may fuse operations
// differently, and only 0.05 points hold.
TEST_P(ReferenceVectorsTest, EveryRowPrintsTheReferenceScoreWithAndWithoutTheMap) {
  quorlin::test::ScratchDirectory scratch;
  MetricOptions mapped{5};
  mapped.errorMap = scratch / "map.pfm";
  for (const MetricOptions& options : {MetricOptions{1}, mapped}) {
    SCOPED_TRACE(options.errorMap.empty() ? "score only" : "with the map");
    int exact = 0;
    double worst = 0.0;
    for (const Row& row : rows_) {
      std::string warnings;
      const MetricResult result = scoreImageFiles(row.reference, row.distorted, options, &warnings);
      ASSERT_TRUE(result.ok()) << row.distorted << ": " << result.message();
      const double expected = std::stod(row.score);
      EXPECT_NEAR(result.score(), expected, 0.05) << row.reference << " vs " << row.distorted;
#if defined(__x86_64__)
      EXPECT_EQ(printed(result.score()), row.score) << row.reference << " vs " << row.distorted;
#endif
      worst = std::max(worst, std::fabs(result.score() - expected));
      if (printed(result.score()) == row.score) ++exact;
    }
    std::printf("[ summary  ] %s: %d of %zu rows identical to 8 decimals; largest deviation %.8f\n",
                options.errorMap.empty() ? "score only" : "with the map", exact, rows_.size(), worst);
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

INSTANTIATE_TEST_SUITE_P(Folders, ReferenceVectorsTest,
                         ::testing::Values(VectorFolder{"Committed", nullptr}, VectorFolder{"Shared", "ssimulacra2"},
                                           VectorFolder{"SharedColour", "ssimulacra2-icc"}),
                         [](const ::testing::TestParamInfo<VectorFolder>& folder) { return folder.param.name; });

}  // namespace
}  // namespace quorlin::metric
