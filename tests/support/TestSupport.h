// Helpers shared by the test suites: scratch directories, fake tools, paths.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

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

}  // namespace quorlin::test
