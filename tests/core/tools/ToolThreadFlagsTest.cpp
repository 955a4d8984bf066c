#include "core/tools/ToolThreadFlags.h"

#include <gtest/gtest.h>


namespace quorlin {
namespace {

using Arguments = std::vector<std::string>;
using C = CompressionCodec;

// One case per table row: the arguments for 1, 2, 8 and 32 threads, written
// out by hand from the tools' help texts and the byte comparisons.
struct RowCase {
  const char* tool;
  std::optional<CompressionCodec> codec;
  Arguments one, two, eight, thirtyTwo;
};

void PrintTo(const RowCase& row, std::ostream* out) { *out << row.tool; }

class ToolThreadFlagsTest : public ::testing::TestWithParam<RowCase> {};

TEST_P(ToolThreadFlagsTest, GivesTheCountInTheToolsOwnSpellingWithinItsLimits) {
  const RowCase& row = GetParam();
  ASSERT_NE(toolThreadFlag(row.tool, row.codec), nullptr);
  EXPECT_FALSE(toolThreadFlag(row.tool, row.codec)->measured.empty());
  EXPECT_EQ(threadArguments(row.tool, 1, row.codec), row.one);
  EXPECT_EQ(threadArguments(row.tool, 2, row.codec), row.two);
  EXPECT_EQ(threadArguments(row.tool, 8, row.codec), row.eight);
  EXPECT_EQ(threadArguments(row.tool, 32, row.codec), row.thirtyTwo);
}

const RowCase rowCases[] = {
    {"cjxl", std::nullopt, {"--num_threads=1"}, {"--num_threads=2"}, {"--num_threads=8"}, {"--num_threads=32"}},
    {"djxl", std::nullopt, {"--num_threads=1"}, {"--num_threads=2"}, {"--num_threads=8"}, {"--num_threads=32"}},
    // One job gives other bytes than several: never fewer than two.
    {"avifenc", std::nullopt, {"--jobs", "2"}, {"--jobs", "2"}, {"--jobs", "8"}, {"--jobs", "32"}},
    {"avifdec", std::nullopt, {"--jobs", "1"}, {"--jobs", "2"}, {"--jobs", "8"}, {"--jobs", "32"}},
    {"cwebp", std::nullopt, {}, {"-mt"}, {"-mt"}, {"-mt"}},
    {"dwebp", std::nullopt, {}, {"-mt"}, {"-mt"}, {"-mt"}},
    {"heif-enc", C::heifLibheif, {"-p", "x265:pools=1"}, {"-p", "x265:pools=2"}, {"-p", "x265:pools=8"},
     {"-p", "x265:pools=32"}},
    // libaom in libheif: 2 at the least (as avifenc), 16 at the most.
    {"heif-enc", C::avifLibheif, {"-p", "threads=2"}, {"-p", "threads=2"}, {"-p", "threads=8"},
     {"-p", "threads=16"}},
    {"ssimulacra2", std::nullopt, {"--threads", "1"}, {"--threads", "2"}, {"--threads", "8"}, {"--threads", "32"}},
};

INSTANTIATE_TEST_SUITE_P(EveryRow, ToolThreadFlagsTest, ::testing::ValuesIn(rowCases));

TEST(ToolThreadFlagsTableTest, EveryRowHasItsCaseAndToolsWithoutAFlagGetNothing) {
  EXPECT_EQ(allToolThreadFlags().size(), std::size(rowCases));
  for (const char* tool : {"cjpeg", "heif-convert", "heif-dec", "jxlinfo", "exiftool"}) {
    EXPECT_TRUE(threadArguments(tool, 4).empty()) << tool;
  }
  // heif-enc's flag belongs to its encoder: none for JPEG 2000, none when the codec is not said.
  EXPECT_TRUE(threadArguments("heif-enc", 4, C::jpeg2000Libheif).empty());
  EXPECT_TRUE(threadArguments("heif-enc", 4).empty());
}

}  // namespace
}  // namespace quorlin
