#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "core/corpus/CorpusInputs.h"
#include "core/corpus/CorpusReport.h"
#include "core/corpus/CorpusResultsFile.h"
#include "core/corpus/Sha256.h"
#include "support/TestSupport.h"

// Records are built with designated initialisers; the fields left out keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace quorlin {
namespace {

namespace fs = std::filesystem;

TEST(CorpusSha256, MatchesTheStandardVectorsAcrossBlockEdges) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& [text, digest] : vectors) EXPECT_EQ(sha256Hex(text), digest) << text.size();
  test::ScratchDirectory scratch;
  test::writeTextFile(scratch / "abc", "abc");
  EXPECT_TRUE(fileSha256Hex(scratch / "abc") == vectors[1].second && !fileSha256Hex(scratch / "missing"));
}

TEST(CorpusInputs, RecognisesImagesByContentAndOrdersThemByRelativePath) {
  const std::pair<std::string_view, const char*> kinds[] = {
      {"\x89PNG\r\n\x1a\n....", "PNG"}, {"\xff\xd8\xff\xe0", "JPEG"}, {"RIFF\1\2\3\4WEBPVP8 ", "WebP"},
      {std::string_view("\0\0\0\x1c" "ftypavif", 12), "AVIF"}, {std::string_view("\0\0\0\x18" "ftypheic", 12), "HEIF"},
      {"\xff\x0a\xfa", "JPEG XL"}, {"GIF89a", "GIF"}, {std::string_view("II*\0", 4), "TIFF"}, {"P6\n3 2", "PNM"},
      {std::string_view("\0\0\0\x18" "ftypmp42", 12), nullptr}, {"PNG", nullptr}, {"<svg", nullptr}, {"", nullptr},
  };
  for (const auto& [bytes, kind] : kinds) EXPECT_EQ(std::string(imageKindOf(bytes).value_or("")), kind ? kind : "") << bytes;
  test::ScratchDirectory scratch;
  for (const char* name : {"z/b.png", "a.jpg", "z/a/c.png", "notes.png"}) {
    test::writeTextFile(scratch / "in" / name, std::string(name).starts_with("notes") ? "text" : "\xff\xd8\xff\xe0");
  }
  test::writeTextFile(scratch / "single.bin", "\x89PNG\r\n\x1a\n");
  test::writeTextFile(scratch / "in" / "empty.png", "");
  test::writeTextFile(scratch / "list.txt", "# the corpus\nin/z\nsingle.bin\n\n");
  CorpusInputs inputs = gatherCorpusInputs({(scratch / "in").string(), "@" + (scratch / "list.txt").string(),
                                            (scratch / "gone").string()});
  std::vector<std::string> names;
  for (const auto& image : inputs.images) names.push_back(image.name);
  // The list's folder repeats images already found: each counts once, where it was first met.
  EXPECT_EQ(names, (std::vector<std::string>{"a.jpg", "z/a/c.png", "z/b.png", "single.bin"}));
  ASSERT_EQ(inputs.skipped.size(), 2u);
  EXPECT_EQ(std::pair(inputs.skipped[0].reason, inputs.skipped[1].reason), (std::pair<std::string, std::string>("empty", "not an image")));
  EXPECT_EQ(inputs.errors, (std::vector<std::string>{"'" + (scratch / "gone").string() + "' does not exist"}));
}

TEST(CorpusInputs, ShardsPartitionTheImagesAndComeFromTheScheduler) {
  std::vector<CorpusImage> images(11);
  for (std::size_t i = 0; i < images.size(); ++i) images[i].name = std::to_string(i);
  for (std::size_t n = 1; n <= 5; ++n) {
    std::multiset<std::string> seen;
    for (std::size_t k = 0; k < n; ++k) {
      for (const auto& image : imagesOfShard(images, {k, n})) {
        EXPECT_EQ(std::stoul(image.name) % n, k);
        seen.insert(image.name);
      }
    }
    EXPECT_EQ(std::pair(seen.size(), std::set<std::string>(seen.begin(), seen.end()).size()), std::pair(images.size(), images.size()));
  }
  static std::map<std::string, std::string> environment;
  auto lookup = [](const char* name) -> const char* {
    auto found = environment.find(name);
    return found == environment.end() ? nullptr : found->second.c_str();
  };
  const struct {
    std::map<std::string, std::string> variables;
    std::optional<std::size_t> shardCount;
    std::size_t index, count;
    std::string error;
  } cases[] = {
      {{}, std::nullopt, 0, 1, ""},
      {{{"SLURM_ARRAY_TASK_ID", "2"}, {"SLURM_ARRAY_TASK_COUNT", "3"}, {"JOB_COMPLETION_INDEX", "0"}}, 5, 2, 3, ""},
      {{{"JOB_COMPLETION_INDEX", "4"}}, 5, 4, 5, ""},
      {{{"JOB_COMPLETION_INDEX", "4"}}, std::nullopt, 0, 0, "give the number of shards with --shard-count"},
      {{{"JOB_COMPLETION_INDEX", "5"}}, 5, 0, 0, "is not below --shard-count 5"},
      {{{"SLURM_ARRAY_TASK_ID", "3"}, {"SLURM_ARRAY_TASK_COUNT", "3"}}, std::nullopt, 0, 0, "submit the array as 0-2"},
      {{{"SLURM_ARRAY_TASK_ID", "x"}, {"SLURM_ARRAY_TASK_COUNT", "3"}}, std::nullopt, 0, 0, "is not a whole number"},
      {{{"SLURM_ARRAY_TASK_ID", "1"}}, std::nullopt, 0, 0, "without SLURM_ARRAY_TASK_COUNT"},
  };
  for (const auto& c : cases) {
    environment = c.variables;
    ShardFromEnvironment found = shardFromEnvironment(c.shardCount, lookup);
    EXPECT_NE(found.error.find(c.error), std::string::npos) << found.error;
    const auto shard = found.shard.value_or(CorpusShard{0, 0});
    EXPECT_EQ(std::pair(shard.index, shard.count), std::pair(c.index, c.count));
  }
  for (const char* bad : {"1/1", "0/0", "1", "a/2", "-1/2", "0/2x"}) EXPECT_FALSE(parseShard(bad)) << bad;
}

CorpusRecord record(const std::string& image, int panel, double setting, double bitsPerPixel, double score) {
  return {.image = image, .imageSha256 = sha256Hex(image), .width = 10, .height = 10, .panel = panel,
          .codec = panel == 1 ? "WebP" : "AVIF", .signature = "sig" + std::to_string(panel), .setting = setting,
          .encodedSize = static_cast<std::int64_t>(bitsPerPixel * 100 / 8), .bitsPerPixel = bitsPerPixel,
          .ssimulacra2 = score, .isOk = true};
}

TEST(CorpusReport, AggregatesDeltasOverImagesAndSaysWhichWereLeftOut) {
  // Panel 2 needs `factor` times panel 1's rate at every score, so its BD-rate is factor - 1.
  std::vector<CorpusRecord> records;
  const std::map<std::string, double> factors = {{"a", 0.5}, {"b", 0.8}, {"c", 0.9}, {"few", 0.5}, {"failed", 0.5}};
  for (const auto& [image, factor] : factors) {
    for (int step = 0; step < 5; ++step) {
      const double rate = 0.2 * (step + 1), score = 40 + 10 * step;
      records.push_back(record(image, 1, 90 - step, rate, score));
      if (image != "few" || step < 3) records.push_back(record(image, 2, 60 - step, rate * factor, score));
    }
  }
  std::find_if(records.begin(), records.end(), [](const auto& r) { return r.image == "failed"; })->isOk = false;
  records.push_back(records.front());  // a unit two shards both recorded
  CorpusReport report = buildCorpusReport(records, 1);
  ASSERT_EQ(std::pair(report.duplicateRecords, report.panels.size()), std::pair(std::size_t{1}, std::size_t{2}));
  const CorpusPanelSummary& avif = report.panels[1];
  EXPECT_EQ(avif.count, 3u);
  EXPECT_NEAR(*avif.meanBdRate, (-0.5 - 0.2 - 0.1) / 3, 1e-9);
  EXPECT_NEAR(*avif.medianBdRate, -0.2, 1e-9);
  EXPECT_NEAR(*avif.geometricMeanBdRate, std::cbrt(0.5 * 0.8 * 0.9) - 1, 1e-9);
  EXPECT_EQ(avif.leftOut, (std::vector<std::pair<std::string, std::string>>{
                              {"failed", "1 failed units (panel and anchor)"},
                              {"few", "too few points (3 and 5 on the anchor; 4 needed)"}}));
  EXPECT_EQ(report.panels[0].count, 4u);  // the failed unit was the anchor's

  // Another panel set, read back from a results file: refused.
  test::ScratchDirectory scratch;
  std::string lines;
  for (const auto& r : records) lines += recordLine(r);
  test::writeTextFile(scratch / "results-0-of-1.jsonl", lines + "{\"image\":\"a\",\"pa");
  auto contents = readResultsFile(scratch / "results-0-of-1.jsonl");
  EXPECT_TRUE(contents.hasTornLine && contents.records.size() == records.size());
  EXPECT_EQ(recordLine(contents.records.back()), recordLine(records.back()));
  records[3].codec = "JPEG XL";
  for (int anchor : {1, 3}) EXPECT_THROW(buildCorpusReport(records, anchor), CorpusError);
  test::writeTextFile(scratch / "results-0-of-1.jsonl", "{}\n" + lines);
  EXPECT_THROW(readResultsFile(scratch / "results-0-of-1.jsonl"), CorpusError);
}

}  // namespace
}  // namespace quorlin
