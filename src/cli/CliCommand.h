// The subcommands of quorlin-cli. Each command lives in its own file and
// registers itself here; main() only parses the command name and dispatches.
//
// Exit statuses shared by every command: 0 success, 1 some work failed,
// 2 usage error or unreadable input.
#pragma once

#include <iostream>
#include <string>
#include <string_view>
#include <utility>
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

// Runs `Pass` on the options `parse` holds; for --help prints `usage` and
// succeeds, for unusable arguments prints the reason and `usage` on standard
// error and exits with a usage error.
template <class Pass, class Parse>
int runParsed(std::string_view command, Parse parse, const std::string& usage) {
  if (parse.isHelp) {
    std::cout << usage;
    return exitSuccess;
  }
  if (!parse.options) {
    std::cerr << "quorlin-cli " << command << ": " << parse.error << "\n\n" << usage;
    return exitUsage;
  }
  Pass pass(std::move(*parse.options));
  return pass.run();
}

}  // namespace quorlin::cli
