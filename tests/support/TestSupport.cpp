#include "support/TestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "core/common/Uuid.h"

extern char** environ;

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

pid_t startProgram(const std::filesystem::path& program, std::vector<std::string> arguments,
                   const std::filesystem::path& captureDirectory, const std::vector<std::string>& environment) {
  arguments.insert(arguments.begin(), program.string());
  std::vector<std::string> entries;
  for (char** entry = environ; *entry; ++entry) entries.emplace_back(*entry);
  for (const std::string& change : environment) {
    const std::string name = change.substr(0, change.find('='));
    std::erase_if(entries, [&](const std::string& entry) { return entry.starts_with(name + "="); });
    if (change.size() > name.size()) entries.push_back(change);
  }
  std::vector<char*> argv, envp;
  for (auto& argument : arguments) argv.push_back(argument.data());
  for (auto& entry : entries) envp.push_back(entry.data());
  argv.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  for (auto [fd, name] : {std::pair{1, "stdout.txt"}, {2, "stderr.txt"}}) {
    posix_spawn_file_actions_addopen(&actions, fd, (captureDirectory / name).c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  pid_t pid = -1;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

ProgramRun finishProgram(pid_t pid, const std::filesystem::path& captureDirectory) {
  ProgramRun run;
  int status = 0;
  if (pid > 0 && ::waitpid(pid, &status, 0) == pid) {
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  run.output = readTextFile(captureDirectory / "stdout.txt");
  run.errors = readTextFile(captureDirectory / "stderr.txt");
  return run;
}

}  // namespace quorlin::test
