#include "support/TestSupport.h"

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "core/common/Uuid.h"

namespace quorlin::test {

ScratchDirectory::ScratchDirectory()
    : path_(std::filesystem::temp_directory_path() / ("quorlin-test-" + Uuid::random().uuidString())) {
  std::filesystem::create_directories(path_);
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code error;
  // Restore permissions a test may have removed so that everything can go.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->is_directory(error) && !it->is_symlink(error)) ::chmod(it->path().c_str(), 0700);
  }
  ::chmod(path_.c_str(), 0700);
  std::filesystem::remove_all(path_, error);
}

void writeTextFile(const std::filesystem::path& file, std::string_view contents) {
  if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path());
  std::ofstream stream(file, std::ios::binary | std::ios::trunc);
  if (!stream) throw std::runtime_error("cannot write " + file.string());
  stream.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::string readTextFile(const std::filesystem::path& file) {
  std::ifstream stream(file, std::ios::binary);
  std::ostringstream buffer;
  buffer << stream.rdbuf();
  return buffer.str();
}

bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::filesystem::path writeFakeTool(const std::filesystem::path& directory, std::string_view name,
                                    std::string_view body) {
  auto file = directory / name;
  std::string script = "#!/bin/sh\n";
  script += body;
  if (!script.ends_with('\n')) script += '\n';
  writeTextFile(file, script);
  std::filesystem::permissions(file, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                         std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                         std::filesystem::perms::others_exec);
  return file;
}

std::filesystem::path sharedDataDirectory() {
  for (std::filesystem::path candidate : {std::filesystem::path(QUORLIN_SHARED_DIR),
                                          std::filesystem::path(QUORLIN_SOURCE_DIR) / ".." / "shared"}) {
    std::error_code error;
    if (std::filesystem::is_directory(candidate / "testdata", error)) return candidate;
  }
  return {};
}

std::filesystem::path buildDirectory() { return QUORLIN_BINARY_DIR; }

}  // namespace quorlin::test
