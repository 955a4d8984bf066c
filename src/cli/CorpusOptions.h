// The arguments of `quorlin-cli corpus run|report|slurm|kubernetes`, parsed and checked.
//
//   corpus run INPUT... [--panel P]... [--ladder N=V,...]... [--targets S,...] --out RUN [--jobs N]
//                       [--shard K/N] [--shard-count N] [--max-failures P] [engine options]
//   corpus report RUN... [--anchor N] [--csv FILE] [--json] [--html FILE]
//   corpus slurm INPUT... [run options] --out RUN --tasks N [--partition P] [--time T]
//                         [--cpus-per-task C] [--submit]
//   corpus kubernetes INPUT... [run options] --out RUN --tasks N --image IMAGE --claim NAME
//                              [--mount DIR] [--cpus-per-task C]
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/CommandEngineSettings.h"
#include "core/corpus/CorpusInputs.h"
#include "core/ratedistortion/PanelSweep.h"

namespace quorlin::cli {

struct CorpusRunOptions : CommandEngineSettings {
  std::vector<std::string> inputs;
  std::vector<SweepPlan> plans;
  std::filesystem::path runFolder;
  unsigned jobs = 0;
  std::optional<CorpusShard> shard;
  std::optional<std::size_t> shardCount;
  double maxFailurePercent = 10;
  // The options as given that a cluster task passes on to `corpus run`.
  std::vector<std::pair<std::string, std::string>> forwarded;
};

struct CorpusReportOptions {
  std::vector<std::filesystem::path> runFolders;
  int anchor = 1;
  std::optional<std::filesystem::path> csvFile;
  std::optional<std::filesystem::path> htmlFile;
  bool isJson = false;
};

struct CorpusClusterOptions {
  CorpusRunOptions run;
  std::size_t tasks = 1;
  std::optional<std::string> partition;
  std::optional<std::string> timeLimit;
  unsigned cpusPerTask = 0;  // 0: the scheduler's default
  bool isSubmit = false;
  std::string image;         // kubernetes
  std::string claim;
  std::string mountPath = "/data";
};

template <class Options>
struct CorpusParse {
  std::optional<Options> options;
  std::string error;
  bool isHelp = false;
};

CorpusParse<CorpusRunOptions> parseCorpusRunArguments(const std::vector<std::string>& arguments);
CorpusParse<CorpusReportOptions> parseCorpusReportArguments(const std::vector<std::string>& arguments);
CorpusParse<CorpusClusterOptions> parseCorpusSlurmArguments(const std::vector<std::string>& arguments);
CorpusParse<CorpusClusterOptions> parseCorpusKubernetesArguments(const std::vector<std::string>& arguments);

std::string corpusUsage();
std::string corpusRunUsage();
std::string corpusReportUsage();
std::string corpusSlurmUsage();
std::string corpusKubernetesUsage();

}  // namespace quorlin::cli
