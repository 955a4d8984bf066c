// quorlin-cli: the headless command line on the same engine as the desktop app.
#include <algorithm>
#include <cstdio>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "cli/CliCommand.h"
#include "core/common/CompressionError.h"

namespace quorlin::cli {

std::vector<CliCommand>& commandRegistry() {
  static std::vector<CliCommand> commands;
  return commands;
}

namespace {

void printUsage(std::FILE* stream) {
  std::fprintf(stream, "usage: quorlin-cli COMMAND [OPTIONS]\n\ncommands:\n");
  auto commands = commandRegistry();
  std::sort(commands.begin(), commands.end(),
            [](const CliCommand& a, const CliCommand& b) { return a.name < b.name; });
  for (const auto& command : commands) {
    std::fprintf(stream, "  %-10.*s %.*s\n", static_cast<int>(command.name.size()), command.name.data(),
                 static_cast<int>(command.summary.size()), command.summary.data());
  }
  std::fprintf(stream, "\nRun 'quorlin-cli COMMAND --help' for a command's options, 'quorlin-cli --version'\n"
                       "for the version.\n");
}

}  // namespace
}  // namespace quorlin::cli

int main(int argc, char* argv[]) {
  using namespace quorlin::cli;
  if (argc < 2) {
    printUsage(stderr);
    return exitUsage;
  }
  std::string name = argv[1];
  if (name == "--help" || name == "-h" || name == "help") {
    printUsage(stdout);
    return exitSuccess;
  }
  if (name == "--version" || name == "-V") {
    std::printf("quorlin-cli %s\n", QUORLIN_VERSION);
    return exitSuccess;
  }
  std::vector<std::string> arguments(argv + 2, argv + argc);
  for (const auto& command : commandRegistry()) {
    if (command.name != name) continue;
    // Whatever escapes a command ends it with one line, never with an abort.
    try {
      return command.run(arguments);
    } catch (const std::bad_alloc&) {
      std::fprintf(stderr, "quorlin-cli %s: not enough memory\n", name.c_str());
    } catch (const std::exception& error) {
      std::fprintf(stderr, "quorlin-cli %s: %s\n", name.c_str(), quorlin::describeError(error).c_str());
    } catch (...) {
      std::fprintf(stderr, "quorlin-cli %s: unknown error\n", name.c_str());
    }
    return exitSomeFailed;
  }
  std::fprintf(stderr, "quorlin-cli: unknown command '%s'\n\n", name.c_str());
  printUsage(stderr);
  return exitUsage;
}
