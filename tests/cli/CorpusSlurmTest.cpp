#include <pwd.h>
#include <signal.h>
#include <unistd.h>

#include <regex>
#include <set>

#include "cli/CorpusCommandFixture.h"
#include "core/corpus/CorpusResultsFile.h"

namespace quorlin {
namespace {

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
    fs::create_directories(cluster / "munge");
    fs::create_directories(cluster / "state");
    fs::create_directories(cluster / "spool");
    ASSERT_EQ(::chown((cluster / "munge").c_str(), munge->pw_uid, munge->pw_gid), 0);
    const fs::path socket = cluster / "munge" / "socket";
    ASSERT_EQ(wait(spawn({"/usr/sbin/runuser", "-u", "munge", "--", "/usr/sbin/munged", "--socket=" + socket.string(),
                          "--pid-file=" + (cluster / "munge" / "pid").string(),
                          "--log-file=" + (cluster / "munge" / "log").string(),
                          "--seed-file=" + (cluster / "munge" / "seed").string()})), 0);
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
    ASSERT_EQ(wait(spawn({"/usr/sbin/slurmctld", "-f", (cluster / "slurm.conf").string()}, slurm)), 0);
    ASSERT_EQ(wait(spawn({"/usr/sbin/slurmd", "-f", (cluster / "slurm.conf").string(), "-N", "localhost"}, slurm)), 0);
    ASSERT_TRUE(test::eventually([&] { return capture({"/usr/bin/sinfo", "-h", "-o", "%T"}) == "idle\n"; },
                                 std::chrono::seconds(60)))
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

  int wait(pid_t pid) { return finish(pid).status; }

  std::string capture(std::vector<std::string> arguments) {
    finish(spawn(std::move(arguments), slurm));
    return test::readTextFile(scratch / "stdout.txt");
  }

  bool queueEmpties() {
    return test::eventually([&] { return capture({"/usr/bin/squeue", "-h", "-o", "%i"}).empty(); },
                            std::chrono::seconds(180));
  }

  // The array's and the report's job ids.
  std::pair<std::string, std::string> submit() {
    std::vector<std::string> arguments = sweep("slurm", "run");
    arguments.insert(arguments.end(), {"--tasks", "3", "--cpus-per-task", "1", "--submit"});
    RunResult result = run(arguments, slurm);
    std::smatch ids;
    EXPECT_TRUE(std::regex_search(result.output, ids, std::regex("array as job (\\d+) and the report as job (\\d+)")))
        << result.output << result.errors;
    return {ids[1], ids[2]};
  }

  std::vector<std::string> sweep(const char* command, const char* out) {
    return {command, path("corpus"), "--tool-dir", path("tools"), "--panel", "webp", "--panel", "webp:effort=4",
            "--ladder", "1=30,50,70", "--ladder", "2=40,60,70", "--out", path(out)};
  }

  fs::path cluster = scratch / "cluster";
  std::vector<std::string> slurm = {std::string("SLURM_CONF=").append((scratch / "cluster" / "slurm.conf").string())};
};

TEST_F(CorpusSlurmTest, JobArrayMatchesALocalRunAndResumesACancelledTask) {
  // Every unit at quality 70 waits for "release": task 1 is cancelled while it waits.
  auto [array, reportJob] = submit();
  const fs::path task1 = scratch / "run" / "results-1-of-3.jsonl";
  ASSERT_TRUE(test::eventually([&] { return fs::exists(task1) && readResultsFile(task1).records.size() == 2; },
                               std::chrono::seconds(120)));
  capture({"/usr/bin/scancel", array + "_1", reportJob});
  test::writeTextFile(scratch / "release", "");
  ASSERT_TRUE(queueEmpties());
  EXPECT_FALSE(fs::exists(scratch / "run" / ("slurm-report-" + reportJob + ".out")));

  auto [secondArray, secondReport] = submit();
  ASSERT_TRUE(queueEmpties());
  std::size_t lines = 0;
  std::set<std::string> keys;
  for (const auto& file : resultsFilesIn(scratch / "run")) {
    for (const auto& record : readResultsFile(file).records) keys.insert(record.key()), ++lines;
  }
  EXPECT_EQ(lines, 36u);
  EXPECT_EQ(keys.size(), 36u);
  ASSERT_EQ(run(sweep("run", "local")).status, 0);
  EXPECT_EQ(test::readTextFile(scratch / "run" / ("slurm-report-" + secondReport + ".out")),
            report({path("local")}));
  EXPECT_TRUE(fs::exists(scratch / "run" / "report.html"));
}

}  // namespace
}  // namespace quorlin
