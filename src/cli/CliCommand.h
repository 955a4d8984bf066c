// The subcommands of quorlin-cli. Each command lives in its own file and
// registers itself here; main() only parses the command name and dispatches.
//
// Exit statuses shared by every command: 0 success, 1 some work failed,
// 2 usage error or unreadable input.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorlin::cli {

struct CliCommand {
  std::string_view name;
  std::string_view summary;  // one line for the usage text
  int (*run)(const std::vector<std::string>& arguments);
};

std::vector<CliCommand>& commandRegistry();

struct RegisterCommand {
  explicit RegisterCommand(CliCommand command) { commandRegistry().push_back(command); }
};

constexpr int exitSuccess = 0;
constexpr int exitSomeFailed = 1;
constexpr int exitUsage = 2;

}  // namespace quorlin::cli
