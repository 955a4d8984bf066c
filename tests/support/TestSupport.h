// Helpers shared by the test suites: scratch directories, fake tools, paths.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

namespace quorlin::test {

// A fresh directory under the system temporary directory, removed (with
// everything in it) when the object goes away.
class ScratchDirectory {
 public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Writes `contents` to `file` (creating parent directories).
void writeTextFile(const std::filesystem::path& file, std::string_view contents);
std::string readTextFile(const std::filesystem::path& file);

// Writes an executable shell script named `name` into `directory` whose body is
// `body` (a "#!/bin/sh" line is prepended). Returns its path. Fake tools are
// scripts; the code under test never runs a shell itself.
std::filesystem::path writeFakeTool(const std::filesystem::path& directory, std::string_view name,
                                    std::string_view body);

// Whether `condition` holds within `timeout`, checked every few milliseconds:
// for states outside the program that no event announces (a process ending).
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// The shared reference data directory (../shared next to the checkout), or an
// empty path when it is not there.
std::filesystem::path sharedDataDirectory();

// The build tree, for the project's own executables (quorlin-cli, ssimulacra2).
std::filesystem::path buildDirectory();

// A program run as a user runs it: standard input empty, both output streams
// captured through files in `captureDirectory` (so a flood cannot block it).
// `environment` adjusts the inherited one: "NAME=VALUE" replaces NAME, a bare
// "NAME" removes it.
struct ProgramRun {
  int status = -1;  // exit code, or 128 + signal
  std::string output, errors;
};
pid_t startProgram(const std::filesystem::path& program, std::vector<std::string> arguments,
                   const std::filesystem::path& captureDirectory, const std::vector<std::string>& environment = {});
ProgramRun finishProgram(pid_t pid, const std::filesystem::path& captureDirectory);

}  // namespace quorlin::test
