// quorlin-cli corpus on fake WebP tools (and once on a real one-node Slurm
// cluster): the encoder pads a genuine sample by 100 bytes per quality point
// (60 with "-m 4") plus a share of its input's size, and its quality plus a
// little of that size is the score, so every image has curves of its own.
// Quality 70 waits for the file "release".
#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <set>

#include "cli/CliHarness.h"
#include "core/corpus/CorpusRecord.h"
#include "core/corpus/CorpusResultsFile.h"

namespace quorlin {
namespace {

namespace fs = std::filesystem;
using test::ProgramRun;

class CorpusCommandTest : public test::CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    if (IsSkipped()) return;
    for (int i = 0; i < 6; ++i) {
      const fs::path folder = scratch / "corpus" / (i % 2 ? "b" : "a");
      fs::create_directories(folder);
      test::makeTestPicture(24 + 7 * i, 16 + 3 * i).pngsave((folder / std::string("p").append(std::to_string(i)).append(".png")).c_str());
    }
    test::writeTextFile(scratch / "corpus" / "notes.txt", "not an image");
    fakeLadderTools("[ \"$q\" = 70 ] && while [ ! -e '" + path("release") + "' ]; do sleep 0.01; done", " + n / 3",
                    " + n % 7");
  }

  // `corpus run` over the corpus with two panels of four qualities each.
  std::vector<std::string> runArguments(const fs::path& run, std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments = {"run", path("corpus"), "--tool-dir", tools.string(), "--panel", "webp",
                                          "--panel", "webp:effort=4", "--ladder", "1=30,50,70,90", "--ladder",
                                          "2=40,60,70,80", "--out", run.string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }
  pid_t startCorpus(std::vector<std::string> arguments, std::vector<std::string> environment = {}) {
    arguments.insert(arguments.begin(), "corpus");
    return start(std::move(arguments), {}, std::move(environment));
  }
  ProgramRun corpus(std::vector<std::string> arguments, std::vector<std::string> environment = {}) {
    return finish(startCorpus(std::move(arguments), std::move(environment)));
  }
  // The report of run folders as JSON, which holds no timings and no host names.
  std::string report(std::vector<std::string> folders) {
    folders.insert(folders.begin(), "report");
    folders.push_back("--json");
    ProgramRun result = corpus(folders);
    EXPECT_EQ(result.status, 0) << result.errors;
    return result.output;
  }
  // Every record of the results files in `folder`: the line count and the distinct units.
  static std::pair<std::size_t, std::set<std::string>> records(const fs::path& folder) {
    std::pair<std::size_t, std::set<std::string>> found;
    for (const auto& file : resultsFilesIn(folder)) {
      for (const auto& record : readResultsFile(file).records) found.second.insert(record.key()), ++found.first;
    }
    return found;
  }
};

TEST_F(CorpusCommandTest, ShardsPartitionTheCorpusAndReportAsOneRun) {
  test::writeTextFile(scratch / "release", "");
  ProgramRun whole = corpus(runArguments(scratch / "whole", {"--jobs", "2"}));
  ASSERT_EQ(whole.status, 0) << whole.errors;
  expectContains(whole.errors, {"Skipped (not an image): " + (scratch / "corpus" / "notes.txt").string(),
                                "Images 6 of 6, units 48 of 48, 0 failed"});
  const std::string expected = report({path("whole")});
  expectContains(expected, {"\"imageCount\": 6", "\"count\": 6,\n      \"meanBdRate\": -0.3"});
  for (std::size_t n = 2; n <= 5; ++n) {
    const fs::path folder = scratch / ("shards" + std::to_string(n));
    std::set<std::string> images;
    for (std::size_t k = 0; k < n; ++k) {
      // The shard comes from --shard, Slurm's array variables or a Kubernetes index, by turns.
      std::vector<std::string> extra, environment;
      if (k % 3 == 0) extra = {"--shard", std::to_string(k) + "/" + std::to_string(n)};
      if (k % 3 == 1) environment = {"SLURM_ARRAY_TASK_ID=" + std::to_string(k), "SLURM_ARRAY_TASK_COUNT=" + std::to_string(n)};
      if (k % 3 == 2) environment = {"JOB_COMPLETION_INDEX=" + std::to_string(k)}, extra = {"--shard-count", std::to_string(n)};
      ASSERT_EQ(corpus(runArguments(folder, extra), environment).status, 0);
      for (const auto& record : readResultsFile(folder / resultsFileName({k, n})).records) images.insert(record.image);
    }
    EXPECT_EQ(images.size(), 6u) << n;
    EXPECT_EQ(records(folder), records(scratch / "whole")) << n;
    EXPECT_EQ(report({folder.string()}), expected) << n;
  }
}

TEST_F(CorpusCommandTest, ResumesAfterSigkillWithExactlyTheCompleteSetOfLines) {
  const fs::path runFolder = scratch / "run";
  const fs::path results = runFolder / "results-0-of-1.jsonl";
  pid_t pid = startCorpus(runArguments(runFolder, {"--jobs", "2"}));
  // Both workers end up waiting on quality 70 while the other units get recorded.
  ASSERT_TRUE(waitFor([&] { return fs::exists(results) && readResultsFile(results).records.size() >= 4; }));
  ASSERT_EQ(::kill(pid, SIGKILL), 0);
  EXPECT_EQ(finish(pid).status, 128 + SIGKILL);
  const std::size_t before = readResultsFile(results).records.size();
  EXPECT_LT(before, 48u);
  test::writeTextFile(scratch / "release", "");
  ProgramRun resumed = corpus(runArguments(runFolder));
  EXPECT_EQ(resumed.status, 0) << resumed.errors;
  expectContains(resumed.errors, {std::to_string(48 - before) + " units run, " + std::to_string(before) + " already recorded"});
  { std::ofstream(results, std::ios::app) << R"({"image":"a/p0.png","path":)"; }
  ProgramRun again = corpus(runArguments(runFolder));
  EXPECT_EQ(again.status, 0) << again.errors;
  expectContains(again.errors, {"Cut off the torn last line", "0 units run, 48 already recorded"});
  EXPECT_FALSE(readResultsFile(results).hasTornLine);
  EXPECT_EQ(records(runFolder).first, 48u);
  EXPECT_EQ(records(runFolder).second.size(), 48u);
}

TEST_F(CorpusCommandTest, RefusesBadInputAndKeepsWhatWasThere) {
  test::writeTextFile(scratch / "release", "");
  fs::create_directories(scratch / "empty");
  test::writeTextFile(scratch / "texts" / "a.png", "not really a PNG");
  fs::create_symlink(scratch / "gone.png", scratch / "texts" / "link.png");
  ASSERT_EQ(corpus(runArguments(scratch / "run")).status, 0);
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
    ProgramRun result = corpus(arguments);
    EXPECT_EQ(result.status, 2) << message;
    expectContains(result.errors, {message});
  }
  expectContains(corpus(runArguments(scratch / "y"), {"SLURM_ARRAY_TASK_ID=2", "SLURM_ARRAY_TASK_COUNT=2"}).errors,
                 {"submit the array as 0-1"});
  EXPECT_EQ(test::readTextFile(scratch / "run" / "results-0-of-1.jsonl"), recorded);
  EXPECT_FALSE(fs::exists(scratch / "x"));

  // An image that cannot be decoded fails each of its units; the others still run.
  test::writeTextFile(scratch / "corpus" / "broken.png", "\x89PNG\r\n\x1a\nbroken");
  ProgramRun broken = corpus(runArguments(scratch / "run", {"--max-failures", "20"}));
  EXPECT_EQ(broken.status, 1) << broken.errors;
  expectContains(broken.errors, {"8 units run, 48 already recorded, 8 failed"});
  ProgramRun early = corpus(runArguments(scratch / "early", {"--max-failures", "0", "--jobs", "1"}));
  EXPECT_EQ(early.status, 1);
  expectContains(early.errors, {"Stopped early: more than 0% of the units failed."});
  expectContains(corpus({"report", path("run")}).output,
                 {"7 images; BD-rate against Panel 1 (WebP)",
                  "Left out of Panel 2 (WebP): broken.png: 8 failed units (panel and anchor)"});
}

TEST_F(CorpusCommandTest, HtmlReportShowsEveryImageInARealBrowser) {
  const fs::path chromium = "/usr/bin/chromium";
  if (!fs::exists(chromium)) GTEST_SKIP() << "chromium is not installed (scripts/run-tests.sh installs it)";
  test::writeTextFile(scratch / "release", "");
  ASSERT_EQ(corpus(runArguments(scratch / "run")).status, 0);
  ASSERT_EQ(corpus({"report", path("run"), "--html", path("report.html")}).status, 0);
  auto browse = [&](std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {"--headless", "--no-sandbox", "--disable-gpu", "--user-data-dir=" + path("profile")});
    arguments.push_back("file://" + path("report.html"));
    return finish(start(arguments, chromium)).output;
  };
  // The page as the browser built it: after its script ran, every image still has its row.
  const std::string dom = browse({"--dump-dom"});
  for (int i = 0; i < 6; ++i) {
    const std::string name = std::string(i % 2 ? "b" : "a") + "/p" + std::to_string(i) + ".png";
    expectContains(dom, {"<tr class=\"image-row\"><td class=\"name\" data-value=\"" + name + "\">"});
  }
  browse({"--screenshot=" + path("shot.png"), "--window-size=1000,800", "--hide-scrollbars"});
  vips::VImage shot = vips::VImage::new_from_file((scratch / "shot.png").c_str());
  EXPECT_EQ(shot.width(), 1000);
  EXPECT_GT(shot.deviate(), 10.0) << "the rendered page is blank";
  // The table and the charts are drawn in colour (the panels' lines and bars).
  EXPECT_GT(shot.colourspace(VIPS_INTERPRETATION_LCH)[1].max(), 30.0);
}

TEST_F(CorpusCommandTest, ClusterCommandsWriteJobsThatRunTheSameShards) {
  ASSERT_EQ(corpus({"slurm", path("corpus"), "--panel", "webp", "--out", path("s"), "--tasks", "3", "--partition", "debug"})
                .status, 0);
  // The job's text itself runs in the real-cluster test.
  expectContains(test::readTextFile(scratch / "s" / "corpus.sbatch"), {"#SBATCH --array=0-2\n", "#SBATCH --partition=debug\n"});
  if (::system("python3 -c 'import yaml' 2>/dev/null") != 0) GTEST_SKIP() << "python3-yaml is not installed";
  const fs::path previous = fs::current_path();
  fs::current_path(scratch.path());
  ProgramRun kube = corpus({"kubernetes", "/data/in", "--panel", "webp", "--out", "/data/run", "--tasks", "4", "--image",
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
  EXPECT_EQ(corpus({"kubernetes", "/elsewhere", "--out", "/data/run", "--tasks", "2", "--image", "i", "--claim", "c"}).status, 2);
}

// A real one-node Slurm cluster, with a munge daemon of its own, started in the
// scratch directory on ports of its own and stopped by the PIDs it wrote.
class CorpusSlurmTest : public CorpusCommandTest {
 protected:
  void SetUp() override {
    CorpusCommandTest::SetUp();
    if (IsSkipped()) return;
    for (const char* tool : {"/usr/sbin/slurmctld", "/usr/sbin/slurmd", "/usr/sbin/munged", "/usr/bin/sbatch",
                             "/usr/bin/squeue", "/usr/bin/scancel", "/usr/bin/sinfo", "/usr/sbin/runuser"}) {
      if (!fs::exists(tool)) GTEST_SKIP() << tool << " is missing (scripts/install-test-deps.sh installs Slurm)";
    }
    const passwd* munge = ::getpwnam("munge");
    if (::geteuid() != 0 || !munge) GTEST_SKIP() << "the cluster needs root and the munge user";
    fs::create_directories(cluster / "state");
    fs::create_directories(cluster / "spool");
    fs::create_directories(cluster / "munge");
    ASSERT_EQ(::chown((cluster / "munge").c_str(), munge->pw_uid, munge->pw_gid), 0);
    const std::string m = (cluster / "munge").string();
    ASSERT_EQ(runOnCluster({"/usr/sbin/runuser", "-u", "munge", "--", "/usr/sbin/munged", "--socket=" + m + "/socket",
                      "--pid-file=" + m + "/pid", "--log-file=" + m + "/log", "--seed-file=" + m + "/seed"}), 0);
    const int port = 20000 + 2 * (::getpid() % 10000);
    // "@" stands for the cluster folder, "#" for the controller's port (the node's is one above).
    std::string conf =
        "ClusterName=local\nSlurmctldHost=localhost\nSlurmUser=root\nSlurmdUser=root\nAuthType=auth/munge\n"
        "AuthInfo=socket=@/munge/socket\nSlurmctldPort=#\nSlurmdPort=#+\nStateSaveLocation=@/state\n"
        "SlurmdSpoolDir=@/spool\nSlurmctldPidFile=@/slurmctld.pid\nSlurmdPidFile=@/slurmd.pid\n"
        "SlurmctldLogFile=@/slurmctld.log\nSlurmdLogFile=@/slurmd.log\nProctrackType=proctrack/linuxproc\n"
        "TaskPlugin=task/none\nSchedulerType=sched/builtin\nSelectType=select/cons_tres\nSelectTypeParameters=CR_Core\n"
        "ReturnToService=2\nJobAcctGatherType=jobacct_gather/none\nMpiDefault=none\n"
        "NodeName=localhost CPUs=2 RealMemory=2000 State=UNKNOWN\n"
        "PartitionName=debug Nodes=localhost Default=YES MaxTime=INFINITE State=UP\n";
    for (std::size_t at; (at = conf.find_first_of("@#")) != std::string::npos;) {
      const bool node = conf[at] == '#' && conf[at + 1] == '+';
      conf.replace(at, node ? 2 : 1, conf[at] == '@' ? cluster.string() : std::to_string(port + node));
    }
    test::writeTextFile(cluster / "slurm.conf", conf);
    ASSERT_EQ(runOnCluster({"/usr/sbin/slurmctld", "-f", (cluster / "slurm.conf").string()}), 0);
    ASSERT_EQ(runOnCluster({"/usr/sbin/slurmd", "-f", (cluster / "slurm.conf").string(), "-N", "localhost"}), 0);
    ASSERT_TRUE(waitFor([&] { return capture({"/usr/bin/sinfo", "-h", "-o", "%T"}) == "idle\n"; }))
        << test::readTextFile(cluster / "slurmctld.log");
  }

  void TearDown() override {
    for (const char* file : {"slurmd.pid", "slurmctld.pid", "munge/pid"}) {
      if (!fs::exists(cluster / file)) continue;
      const pid_t pid = std::stoi(test::readTextFile(cluster / file));
      ::kill(pid, SIGTERM);
      test::eventually([pid] { return ::kill(pid, 0) != 0; }, std::chrono::seconds(20));
    }
  }

  // Runs a program (the first argument) against the cluster: its status, or its output.
  int runOnCluster(std::vector<std::string> arguments) {
    const fs::path program = arguments.front();
    arguments.erase(arguments.begin());
    return finish(start(std::move(arguments), program, slurm)).status;
  }
  std::string capture(std::vector<std::string> arguments) {
    runOnCluster(std::move(arguments));
    return test::readTextFile(scratch / "stdout.txt");
  }
  // On failure the queue, the node and the daemons' last lines say why (a drained node, a stuck step).
  testing::AssertionResult queueEmpties() {
    if (test::eventually([&] { return capture({"/usr/bin/squeue", "-h", "-o", "%i"}).empty(); }, std::chrono::seconds(180))) {
      return testing::AssertionSuccess();
    }
    auto tail = [](const fs::path& log) {
      const std::string text = fs::exists(log) ? test::readTextFile(log) : "";
      return text.substr(text.size() > 3000 ? text.size() - 3000 : 0);
    };
    return testing::AssertionFailure() << capture({"/usr/bin/squeue", "-h", "-o", "%i %T %r"})
                                       << capture({"/usr/bin/sinfo", "-h", "-o", "%T %E"}) << tail(cluster / "slurmctld.log")
                                       << tail(cluster / "slurmd.log");
  }

  // The array's and the report's job ids.
  std::pair<std::string, std::string> submit() {
    std::vector<std::string> arguments = sweep("slurm", "run");
    arguments.insert(arguments.end(), {"--tasks", "3", "--cpus-per-task", "1", "--submit"});
    ProgramRun result = finish(start(arguments, {}, slurm));
    std::smatch ids;
    EXPECT_TRUE(std::regex_search(result.output, ids, std::regex("array as job (\\d+) and the report as job (\\d+)")))
        << result.output << result.errors;
    return {ids[1], ids[2]};
  }
  std::vector<std::string> sweep(const char* command, const char* out) {
    return {"corpus", command, path("corpus"), "--tool-dir", path("tools"), "--panel", "webp", "--panel",
            "webp:effort=4", "--ladder", "1=30,50,70", "--ladder", "2=40,60,70", "--out", path(out)};
  }

  fs::path cluster = scratch / "cluster";
  std::vector<std::string> slurm = {"SLURM_CONF=" + (cluster / "slurm.conf").string()};
};

TEST_F(CorpusSlurmTest, JobArrayMatchesALocalRunAndResumesACancelledTask) {
  // Every unit at quality 70 waits for "release": task 1 is cancelled while it waits.
  auto [array, reportJob] = submit();
  const fs::path task1 = scratch / "run" / "results-1-of-3.jsonl";
  ASSERT_TRUE(test::eventually([&] { return fs::exists(task1) && readResultsFile(task1).records.size() == 2; },
                               std::chrono::seconds(120)));
  ASSERT_EQ(runOnCluster({"/usr/bin/scancel", array + "_1"}), 0);   // the report job then ends by itself
  test::writeTextFile(scratch / "release", "");
  ASSERT_TRUE(queueEmpties());
  EXPECT_FALSE(fs::exists(scratch / "run" / ("slurm-report-" + reportJob + ".out")));

  auto [secondArray, secondReport] = submit();
  ASSERT_TRUE(queueEmpties());
  EXPECT_EQ(records(scratch / "run").first, 36u);
  EXPECT_EQ(records(scratch / "run").second.size(), 36u);
  ASSERT_EQ(finish(start(sweep("run", "local"))).status, 0);
  EXPECT_EQ(test::readTextFile(scratch / "run" / ("slurm-report-" + secondReport + ".out")), report({path("local")}));
  EXPECT_TRUE(fs::exists(scratch / "run" / "report.html"));
}

}  // namespace
}  // namespace quorlin
