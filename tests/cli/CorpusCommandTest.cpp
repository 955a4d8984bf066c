#include <signal.h>
#include <fstream>
#include <set>

#include "cli/CorpusCommandFixture.h"
#include "core/corpus/CorpusRecord.h"
#include "core/corpus/CorpusResultsFile.h"

namespace quorlin {
namespace {

TEST_F(CorpusCommandTest, ShardsPartitionTheCorpusAndReportAsOneRun) {
  test::writeTextFile(scratch / "release", "");
  RunResult whole = run(runArguments(scratch / "whole", {"--jobs", "2"}));
  ASSERT_EQ(whole.status, 0) << whole.errors;
  EXPECT_NE(whole.errors.find("Skipped (not an image): " + (scratch / "corpus" / "notes.txt").string()), std::string::npos);
  EXPECT_NE(whole.errors.find("Images 6 of 6, units 48 of 48, 0 failed"), std::string::npos) << whole.errors;
  const std::string expected = report({path("whole")});
  EXPECT_NE(expected.find("\"imageCount\": 6"), std::string::npos) << expected;
  EXPECT_NE(expected.find("\"count\": 6,\n      \"meanBdRate\": -0.3"), std::string::npos) << expected;
  for (std::size_t n = 2; n <= 5; ++n) {
    const fs::path folder = scratch / ("shards" + std::to_string(n));
    std::set<std::string> images;
    std::size_t lines = 0;
    for (std::size_t k = 0; k < n; ++k) {
      // The shard comes from --shard, Slurm's array variables or a Kubernetes index, by turns.
      std::vector<std::string> extra, environment;
      if (k % 3 == 0) extra = {"--shard", std::to_string(k) + "/" + std::to_string(n)};
      if (k % 3 == 1) environment = {"SLURM_ARRAY_TASK_ID=" + std::to_string(k), "SLURM_ARRAY_TASK_COUNT=" + std::to_string(n)};
      if (k % 3 == 2) environment = {"JOB_COMPLETION_INDEX=" + std::to_string(k)}, extra = {"--shard-count", std::to_string(n)};
      ASSERT_EQ(run(runArguments(folder, extra), environment).status, 0);
      auto contents = readResultsFile(folder / resultsFileName({k, n}));
      for (const auto& record : contents.records) images.insert(record.image);
      lines += contents.records.size();
    }
    EXPECT_EQ(images.size(), 6u) << n;
    EXPECT_EQ(lines, 48u) << n;
    EXPECT_EQ(report({folder.string()}), expected) << n;
  }
}

TEST_F(CorpusCommandTest, ResumesAfterSigkillWithExactlyTheCompleteSetOfLines) {
  const fs::path runFolder = scratch / "run";
  const fs::path results = runFolder / "results-0-of-1.jsonl";
  pid_t pid = start(runArguments(runFolder, {"--jobs", "2"}));
  // Both workers end up waiting on quality 70 while the other units get recorded.
  ASSERT_TRUE(test::eventually([&] { return fs::exists(results) && fs::file_size(results) > 0 &&
                                            readResultsFile(results).records.size() >= 4; },
                               std::chrono::seconds(60)));
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  EXPECT_EQ(finish(pid).status, 128 + SIGKILL);
  const std::size_t before = readResultsFile(results).records.size();
  EXPECT_LT(before, 48u);
  test::writeTextFile(scratch / "release", "");
  RunResult resumed = run(runArguments(runFolder));
  EXPECT_EQ(resumed.status, 0) << resumed.errors;
  EXPECT_NE(resumed.errors.find(std::to_string(48 - before) + " units run, " + std::to_string(before) +
                                " already recorded"), std::string::npos) << resumed.errors;
  { std::ofstream(results, std::ios::app) << R"({"image":"a/p0.png","path":)"; }
  RunResult again = run(runArguments(runFolder));
  EXPECT_EQ(again.status, 0) << again.errors;
  EXPECT_NE(again.errors.find("Cut off the torn last line"), std::string::npos) << again.errors;
  EXPECT_NE(again.errors.find("0 units run, 48 already recorded"), std::string::npos) << again.errors;
  auto contents = readResultsFile(results);
  EXPECT_FALSE(contents.hasTornLine);
  std::set<std::string> keys;
  for (const auto& record : contents.records) keys.insert(record.key());
  EXPECT_EQ(contents.records.size(), 48u);
  EXPECT_EQ(keys.size(), 48u);
}

TEST_F(CorpusCommandTest, RefusesBadInputAndKeepsWhatWasThere) {
  test::writeTextFile(scratch / "release", "");
  fs::create_directories(scratch / "empty");
  fs::create_directories(scratch / "texts");
  test::writeTextFile(scratch / "texts" / "a.png", "not really a PNG");
  fs::create_symlink(scratch / "gone.png", scratch / "texts" / "link.png");
  ASSERT_EQ(run(runArguments(scratch / "run")).status, 0);
  const std::string recorded = test::readTextFile(scratch / "run" / "results-0-of-1.jsonl");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"run", path("empty"), "--out", path("x")}, "no images in the inputs"},
      {{"run", path("texts"), "--out", path("x")}, "Skipped (cannot be read): "},
      {{"run", path("texts"), "--out", path("x")}, "Skipped (not an image): "},
      {{"run", path("missing"), "--out", path("x")}, "does not exist"},
      {{"run", "@" + path("missing.txt"), "--out", path("x")}, "cannot be read"},
      {{"run", path("corpus"), "--panel", "webp", "--out", path("run")},
       "holds results of other panels or settings (panel 2: WebP|effort=4|"},
      {{"run", path("corpus"), "--out", path("x"), "--shard", "3/3"}, "--shard must be K/N"},
      {{"run", path("corpus")}, "--out RUN is required"},
      {{"report", path("empty")}, "holds no results files"},
      {{"report", path("run"), "--anchor", "3"}, "the results have no panel 3"},
  };
  for (const auto& [arguments, message] : cases) {
    RunResult result = run(arguments);
    EXPECT_EQ(result.status, 2) << message;
    EXPECT_NE(result.errors.find(message), std::string::npos) << result.errors;
  }
  RunResult slurmIndex = run(runArguments(scratch / "y"), {"SLURM_ARRAY_TASK_ID=2", "SLURM_ARRAY_TASK_COUNT=2"});
  EXPECT_NE(slurmIndex.errors.find("submit the array as 0-1"), std::string::npos) << slurmIndex.errors;
  EXPECT_EQ(test::readTextFile(scratch / "run" / "results-0-of-1.jsonl"), recorded);
  EXPECT_FALSE(fs::exists(scratch / "x"));

  // An image that cannot be decoded fails each of its units; the others still run.
  test::writeTextFile(scratch / "corpus" / "broken.png", "\x89PNG\r\n\x1a\nbroken");
  RunResult broken = run(runArguments(scratch / "run", {"--max-failures", "20"}));
  EXPECT_EQ(broken.status, 1) << broken.errors;
  EXPECT_NE(broken.errors.find("8 units run, 48 already recorded, 8 failed"), std::string::npos) << broken.errors;
  RunResult early = run(runArguments(scratch / "early", {"--max-failures", "0", "--jobs", "1"}));
  EXPECT_EQ(early.status, 1);
  EXPECT_NE(early.errors.find("Stopped early: more than 0% of the units failed."), std::string::npos) << early.errors;
  const std::string text = run({"report", path("run")}).output;
  EXPECT_NE(text.find("7 images; BD-rate against Panel 1 (WebP)"), std::string::npos) << text;
  EXPECT_NE(text.find("Left out of Panel 2 (WebP): broken.png: 8 failed units (panel and anchor)"), std::string::npos)
      << text;
}

TEST_F(CorpusCommandTest, HtmlReportShowsEveryImageInARealBrowser) {
  const fs::path chromium = "/usr/bin/chromium";
  if (!fs::exists(chromium)) GTEST_SKIP() << "chromium is not installed (scripts/run-tests.sh installs it)";
  test::writeTextFile(scratch / "release", "");
  ASSERT_EQ(run(runArguments(scratch / "run")).status, 0);
  ASSERT_EQ(run({"report", path("run"), "--html", path("report.html")}).status, 0);
  const std::string url = "file://" + path("report.html");
  auto browse = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + path("profile")});
    arguments.push_back(url);
    return test::finishProgram(test::startProgram(chromium, arguments, scratch.path()), scratch.path()).output;
  };
  // The page as the browser built it: after its script ran, every image still has its row.
  const std::string dom = browse({"--dump-dom"});
  for (int i = 0; i < 6; ++i) {
    const std::string name = std::string(i % 2 ? "b" : "a") + "/p" + std::to_string(i) + ".png";
    EXPECT_NE(dom.find("<tr class=\"image-row\"><td class=\"name\" data-value=\"" + name + "\">"), std::string::npos)
        << name;
  }
  browse({"--screenshot=" + path("shot.png"), "--window-size=1000,800", "--hide-scrollbars"});
  vips::VImage shot = vips::VImage::new_from_file((scratch / "shot.png").c_str());
  EXPECT_EQ(shot.width(), 1000);
  EXPECT_GT(shot.deviate(), 10.0) << "the rendered page is blank";
  // The table and the charts are drawn in colour (the panels' lines and bars).
  EXPECT_GT(shot.colourspace(VIPS_INTERPRETATION_LCH)[1].max(), 30.0);
}

TEST_F(CorpusCommandTest, ClusterCommandsWriteJobsThatRunTheSameShards) {
  ASSERT_EQ(run({"slurm", path("corpus"), "--panel", "webp", "--out", path("s"),
                 "--tasks", "3", "--partition", "debug"}).status, 0);
  const std::string array = test::readTextFile(scratch / "s" / "corpus.sbatch");
  EXPECT_NE(array.find("#SBATCH --array=0-2\n#SBATCH --output=" + path("s") + "/slurm-%A_%a.out\n#SBATCH "
                       "--partition=debug\n"), std::string::npos) << array;
  EXPECT_NE(array.find("\nexec " + cli.string() + " corpus run " + path("corpus") + " --panel=webp --out=" +
                       path("s") + " --jobs=\"${SLURM_CPUS_PER_TASK:-1}\""), std::string::npos) << array;
  EXPECT_NE(test::readTextFile(scratch / "s" / "report.sbatch").find(" corpus report " + path("s")),
            std::string::npos);

  if (::system("python3 -c 'import yaml' 2>/dev/null") != 0) GTEST_SKIP() << "python3-yaml is not installed";
  const fs::path previous = fs::current_path();
  fs::current_path(scratch.path());
  RunResult kube = run({"kubernetes", "/data/in", "--panel", "webp", "--out", "/data/run", "--tasks", "4", "--image",
                        "registry/quorlin:1", "--claim", "corpus-claim"});
  fs::current_path(previous);
  ASSERT_EQ(kube.status, 0) << kube.errors;
  const std::string check =
      "python3 -c \"import yaml; import sys; j = yaml.safe_load(open(sys.argv[1])); s = j['spec']; p = s['template']['spec'];"
      " c = p['containers'][0];"
      " assert (j['kind'], s['completionMode'], s['completions'], s['parallelism']) == ('Job', 'Indexed', 4, 4);"
      " assert c['command'] + c['args'] == ['quorlin-cli', 'corpus', 'run', '/data/in', '--panel=webp',"
      " '--out=/data/run', '--shard-count=4'], c['args'];"
      " assert c['volumeMounts'][0]['mountPath'] == '/data';"
      " assert p['volumes'][0]['persistentVolumeClaim']['claimName'] == 'corpus-claim'\" " + path("corpus-job.yaml");
  EXPECT_EQ(::system(check.c_str()), 0);
  EXPECT_EQ(run({"kubernetes", "/elsewhere", "--out", "/data/run", "--tasks", "2", "--image", "i", "--claim", "c"}).status, 2);
}

}  // namespace
}  // namespace quorlin
