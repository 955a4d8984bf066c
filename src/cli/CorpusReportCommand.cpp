#include <iostream>

#include "cli/CliCommand.h"
#include "cli/CorpusCommands.h"

namespace quorlin::cli {

int runCorpusReport(const std::vector<std::string>&) {
  std::cerr << "quorlin-cli corpus report: not available yet\n";
  return exitUsage;
}
int runCorpusSlurm(const std::vector<std::string>&) {
  std::cerr << "quorlin-cli corpus slurm: not available yet\n";
  return exitUsage;
}
int runCorpusKubernetes(const std::vector<std::string>&) {
  std::cerr << "quorlin-cli corpus kubernetes: not available yet\n";
  return exitUsage;
}

}  // namespace quorlin::cli
