// The corpus command tests' fixture: a generated corpus and fake WebP tools.
#pragma once

#include "cli/CliHarness.h"

extern char** environ;

namespace quorlin {

namespace fs = std::filesystem;
using RunResult = test::ProgramRun;

// `quorlin-cli corpus` on fake WebP tools: the encoder pads a genuine sample
// by 100 bytes per quality point (60 with "-m 4") plus a share of its input's
// size, and its quality plus a little of that size is the score, so every
// image has curves of its own. Quality 70 waits for the file "release".
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
    fake("cwebp", "case \"$1\" in --version|-version) echo 1.2.4; exit 0;; esac\n"
                  "case \" $* \" in *' -m 4 '*) per=60;; *) per=100;; esac\n"
                  "out=; q=; in=; prev=\nfor a in \"$@\"; do [ \"$a\" = -o ] && in=$prev; [ \"$prev\" = -o ] && out=$a; "
                  "[ \"$prev\" = -q ] && q=$a; prev=$a; done\n"
                  "n=$(wc -c < \"$in\")\n"
                  "[ \"$q\" = 70 ] && while [ ! -e '" + path("release") + "' ]; do sleep 0.01; done\n"
                  "cp '" + path("sample.webp") + "' \"$out\"\n"
                  "head -c $(($q * per + n / 3)) /dev/zero >> \"$out\"\n"
                  "echo $(($q + n % 7)) > \"$(dirname \"$out\")/quality\"\n");
    fakeDecoder("dwebp");
    fake("ssimulacra2", "for a in \"$@\"; do last=$a; done\ncat \"$(dirname \"$last\")/quality\"\n");
  }

  std::vector<std::string> runArguments(const fs::path& run, std::vector<std::string> extra = {}) {
    std::vector<std::string> arguments = {"run", path("corpus"), "--tool-dir", tools.string(), "--panel", "webp",
                                          "--panel", "webp:effort=4", "--ladder", "1=30,50,70,90", "--ladder",
                                          "2=40,60,70,80", "--out", run.string()};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }

  pid_t start(std::vector<std::string> arguments, std::vector<std::string> environment = {}) {
    arguments.insert(arguments.begin(), {cli.string(), "corpus"});
    return spawn(std::move(arguments), std::move(environment));
  }

  // Runs `arguments` (the program first) without our shard variables, plus `environment`.
  pid_t spawn(std::vector<std::string> arguments, std::vector<std::string> environment = {}) {
    for (char** entry = environ; *entry; ++entry) {
      std::string_view text(*entry);
      if (text.starts_with("SLURM_") || text.starts_with("JOB_COMPLETION_INDEX")) {
        environment.insert(environment.begin(), std::string(text.substr(0, text.find('='))));
      }
    }
    const fs::path program = arguments.front();
    arguments.erase(arguments.begin());
    return test::startProgram(program, std::move(arguments), scratch.path(), environment);
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
};

}  // namespace quorlin
