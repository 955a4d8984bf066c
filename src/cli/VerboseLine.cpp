#include "cli/VerboseLine.h"

namespace quorlin::cli {

std::string verboseLine(const CommandConsoleEntry& entry) {
  std::string outcome = entry.launchError ? "launch failed: " + *entry.launchError
                                          : "exit " + std::to_string(entry.exitStatus.value_or(-1));
  return entry.commandLine + "  [" + outcome + ", " + entry.durationText() + "]";
}

}  // namespace quorlin::cli
