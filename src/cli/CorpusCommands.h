// The corpus subcommands other than `run`, each in its own file.
#pragma once

#include <string>
#include <vector>

namespace quorlin::cli {

int runCorpusReport(const std::vector<std::string>& arguments);
int runCorpusSlurm(const std::vector<std::string>& arguments);
int runCorpusKubernetes(const std::vector<std::string>& arguments);

}  // namespace quorlin::cli
