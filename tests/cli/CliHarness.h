// The command-line suites' test bed: the built quorlin-cli run as a user runs
// it, with a private TMPDIR (whose "Brimwell" root must end empty), a folder
// of fake tools, and a 32 x 20 picture saved as the source, a WebP sample and
// a decoded PNG for the fakes to hand back.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vips/vips8>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/engine/VipsRuntime.h"
#include "support/TestImages.h"
#include "support/TestSupport.h"

extern char** environ;

namespace quorlin::test {

namespace fs = std::filesystem;

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(cli) || !fs::exists(metric)) GTEST_SKIP() << "quorlin-cli or ssimulacra2 is not built";
    ensureVipsInitialized();
    fs::create_directories(tools);
    fs::create_directories(temporary);
    vips::VImage picture = makeTestPicture(32, 20);
    picture.pngsave(path("photo.png").c_str());
    picture.pngsave(path("decoded.png").c_str());
    picture.webpsave(path("sample.webp").c_str());
  }

  // Fake tools block reading the fifo "release" until the test (or, at the
  // latest, the end of the test) opens it.
  void makeReleaseFifo() const { ASSERT_EQ(::mkfifo(path("release").c_str(), 0600), 0); }
  void TearDown() override {
    if (int fd = ::open(path("release").c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) ::close(fd);
  }

  std::string path(std::string_view name) const { return (scratch / name).string(); }
  void fake(std::string_view name, const std::string& body) const {
    writeFakeTool(tools, name, "PATH=/usr/bin:/bin\n" + body);
  }
  void fakeDecoder(std::string_view name) const {
    fake(name, "for a in \"$@\"; do last=$a; done\ncp '" + path("decoded.png") + "' \"$last\"\n");
  }
  // An encoder copying the WebP sample to its output (after -o, else its last
  // argument), a decoder writing decoded.png, and a scorer printing `score`.
  void fakeWebPAndScorer(std::string_view score = "85.3") const {
    fake("cwebp", "case \"$1\" in --version|-version) exit 0;; esac\n"
                  "out=; prev=\nfor a in \"$@\"; do [ \"$prev\" = -o ] && out=$a; prev=$a; done\n"
                  "[ -n \"$out\" ] || out=$a\ncp '" + path("sample.webp") + "' \"$out\"\n");
    fakeDecoder("dwebp");
    fake("ssimulacra2", "echo '" + std::string(score) + "'\n");
  }

  // A WebP encoder padding the sample by 100 bytes per quality point (60 with
  // "-m 4") `pad` more, leaving the quality `score` more beside its output,
  // where the scorer reads it back as the score; `wait` runs first.
  void fakeLadderTools(const std::string& wait, const std::string& pad = "", const std::string& score = "") const {
    fake("cwebp", "case \"$1\" in --version|-version) echo 1.2.4; exit 0;; esac\n"
                  "case \" $* \" in *' -m 4 '*) per=60;; *) per=100;; esac\n"
                  "out=; q=; in=; prev=\nfor a in \"$@\"; do [ \"$a\" = -o ] && in=$prev; [ \"$prev\" = -o ] && out=$a; "
                  "[ \"$prev\" = -q ] && q=$a; prev=$a; done\nn=$(wc -c < \"$in\")\n" + wait + "\ncp '" +
                  path("sample.webp") + "' \"$out\"\nhead -c $(($q * per" + pad + ")) /dev/zero >> \"$out\"\n"
                  "echo $(($q" + score + ")) > \"$(dirname \"$out\")/quality\"\n");
    fakeDecoder("dwebp");
    fake("ssimulacra2", "for a in \"$@\"; do last=$a; done\ncat \"$(dirname \"$last\")/quality\"\n");
  }

  // Runs `program` (quorlin-cli by default) without the shard variables of a
  // cluster the tests may run on, plus `environment`.
  pid_t start(std::vector<std::string> arguments, const fs::path& program = {},
              std::vector<std::string> environment = {}) const {
    for (char** entry = environ; *entry; ++entry) {
      std::string_view text(*entry);
      if (text.starts_with("SLURM_") || text.starts_with("JOB_COMPLETION_INDEX")) {
        environment.insert(environment.begin(), std::string(text.substr(0, text.find('='))));
      }
    }
    environment.push_back("TMPDIR=" + temporary.string());
    return startProgram(program.empty() ? cli : program, std::move(arguments), scratch.path(), environment);
  }
  ProgramRun finish(pid_t pid) const { return finishProgram(pid, scratch.path()); }
  ProgramRun run(std::vector<std::string> arguments) const { return finish(start(std::move(arguments))); }
  // Polls for a state outside this process (a file a fake tool writes, a process ending).
  static bool waitFor(const std::function<bool()>& condition) {
    return eventually(condition, std::chrono::seconds(60));
  }

  // What is left under the temporary root of the runs.
  std::vector<fs::path> leftovers() const {
    std::vector<fs::path> found;
    std::error_code error;
    for (fs::directory_iterator it(temporary / "Brimwell", error), end; !error && it != end; it.increment(error)) {
      found.push_back(it->path());
    }
    return found;
  }

  // Each of `parts` appears in `text`.
  static void expectContains(const std::string& text, std::initializer_list<std::string> parts) {
    for (const auto& part : parts) EXPECT_NE(text.find(part), std::string::npos) << part << "\nnot in\n" << text;
  }

  ScratchDirectory scratch;
  fs::path tools = scratch / "tools";
  fs::path temporary = scratch / "tmp";
  fs::path cli = buildDirectory() / "src" / "cli" / "quorlin-cli";
  fs::path metric = buildDirectory() / "src" / "metric" / "ssimulacra2";
};

}  // namespace quorlin::test
