// The corpus command tests' fixture: a generated corpus and fake WebP tools.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vips/vips8>

#include <filesystem>
#include <string>
#include <vector>

#include "core/engine/VipsRuntime.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

extern char** environ;

namespace quorlin {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;
  std::string output;
  std::string errors;
};

// `quorlin-cli corpus` on fake WebP tools: the encoder pads a genuine sample
// by 100 bytes per quality point (60 with "-m 4") plus a share of its input's
// size, and its quality plus a little of that size is the score, so every
// image has curves of its own. Quality 70 waits for the file "release".
class CorpusCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cli = test::buildDirectory() / "src" / "cli" / "quorlin-cli";
    if (!fs::exists(cli)) GTEST_SKIP() << "quorlin-cli is not built at " << cli;
    ensureVipsInitialized();
    vips::VImage picture = test::makeTestPicture(32, 20);
    picture.webpsave((scratch / "sample.webp").c_str());
    picture.pngsave((scratch / "decoded.png").c_str());
    for (int i = 0; i < 6; ++i) {
      const fs::path folder = scratch / "corpus" / (i % 2 ? "b" : "a");
      fs::create_directories(folder);
      test::makeTestPicture(24 + 7 * i, 16 + 3 * i).pngsave((folder / std::string("p").append(std::to_string(i)).append(".png")).c_str());
    }
    test::writeTextFile(scratch / "corpus" / "notes.txt", "not an image");
    fake("cwebp", "case \"$1\" in --version|-version) echo 1.2.4; exit 0;; esac\n"
                  "case \" $* \" in *' -m 4 '*) per=60;; *) per=100;; esac\n"
                  "out=; q=; in=; prev=\nfor a in \"$@\"; do [ \"$a\" = -o ] && in=$prev; [ \"$prev\" = -o ] && out=$a; "
                  "[ \"$prev\" = -q ] && q=$a; prev=$a; done\n"
                  "n=$(wc -c < \"$in\")\n"
                  "[ \"$q\" = 70 ] && while [ ! -e '" + (scratch / "release").string() + "' ]; do sleep 0.01; done\n"
                  "cp '" + (scratch / "sample.webp").string() + "' \"$out\"\n"
                  "head -c $(($q * per + n / 3)) /dev/zero >> \"$out\"\n"
                  "echo $(($q + n % 7)) > \"$(dirname \"$out\")/quality\"\n");
    fake("dwebp", "for a in \"$@\"; do last=$a; done\ncp '" + (scratch / "decoded.png").string() + "' \"$last\"\n");
    fake("ssimulacra2", "for a in \"$@\"; do last=$a; done\ncat \"$(dirname \"$last\")/quality\"\n");
  }

  void fake(std::string_view name, const std::string& body) {
    test::writeFakeTool(scratch / "tools", name, "PATH=/usr/bin:/bin\n" + body);
  }

  std::vector<std::string> runArguments(const fs::path& run, std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments = {"run", (scratch / "corpus").string(), "--tool-dir",
                                          (scratch / "tools").string(), "--panel", "webp", "--panel", "webp:effort=4",
                                          "--ladder", "1=30,50,70,90", "--ladder", "2=40,60,70,80", "--out",
                                          run.string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }

  pid_t start(std::vector<std::string> arguments, std::vector<std::string> environment = {}) {
    arguments.insert(arguments.begin(), {cli.string(), "corpus"});
    return spawn(std::move(arguments), std::move(environment));
  }

  // Runs `arguments` (the program first) with our environment less any shard variables, plus `environment`.
  pid_t spawn(std::vector<std::string> arguments, std::vector<std::string> environment = {}) {
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    for (char** entry = environ; *entry; ++entry) {
      std::string_view text(*entry);
      if (!text.starts_with("SLURM_") && !text.starts_with("JOB_COMPLETION_INDEX")) environment.emplace_back(text);
    }
    std::vector<char*> envp;
    for (auto& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, (scratch / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (scratch / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  RunResult finish(pid_t pid) {
    RunResult result;
    int status = 0;
    if (waitpid(pid, &status, 0) == pid) result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.output = test::readTextFile(scratch / "stdout.txt");
    result.errors = test::readTextFile(scratch / "stderr.txt");
    return result;
  }

  RunResult run(std::vector<std::string> arguments, std::vector<std::string> environment = {}) {
    return finish(start(std::move(arguments), std::move(environment)));
  }

  // The report of run folders as JSON, which holds no timings and no host names.
  std::string report(std::vector<std::string> folders) {
    folders.insert(folders.begin(), "report");
    folders.push_back("--json");
    RunResult result = run(folders);
    EXPECT_EQ(result.status, 0) << result.errors;
    return result.output;
  }

  test::ScratchDirectory scratch;
  fs::path cli;
};

}  // namespace quorlin
