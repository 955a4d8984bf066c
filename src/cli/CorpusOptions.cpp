#include "cli/CorpusOptions.h"

#include <charconv>
#include <variant>

#include "cli/CliArguments.h"
#include "cli/CompareOptions.h"
#include "cli/RateDistortionOptions.h"

namespace quorlin::cli {

namespace {

namespace fs = std::filesystem;

const CliOption sweepRows[] = {
    {"--panel", "PANEL", "a panel, as for 'quorlin-cli compare' (repeatable, up to four; default: the four default "
                         "panels)", "a value", true},
    {"--ladder", "N=V1,V2,...", "the qualities or distances panel N sweeps (repeatable; default: the codec's own "
                                "ladder)", "a value", true},
    {"--targets", "S1,S2,...", "search every panel for each of these SSIMULACRA2 scores instead (not with --ladder)"},
    {"--out", "RUN", "the run folder the results files go to (required)"},
    {"--max-failures", "P", "stop starting units once this run's failures pass P% of the shard's units (default "
                            "10)"},
    {"--threads", "N", "threads the tools of the running units share (default: every hardware thread)"},
    {"--tool-dir", "DIR", "also search DIR for the tools, before the built-in directories", "a value", true},
    {"--tool-timeout", "SECONDS", "stop a tool that runs longer than this (default: 1800)"},
    {"--pixel-limit", "PIXELS", "refuse images declaring more pixels than this (default: 268435456)"},
};

std::vector<CliOption> rows(std::initializer_list<CliOption> extra, bool withSweep = true) {
  std::vector<CliOption> all;
  if (withSweep) all.assign(std::begin(sweepRows), std::end(sweepRows));
  all.insert(all.end(), extra);
  return all;
}

const std::vector<CliOption> runRows = rows({
    {"--jobs", "N", "units run at once (default: one per processor core)"},
    {"--shard", "K/N", "run shard K of N: every image whose place in the ordered list is K modulo N (default: "
                       "from SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT, or JOB_COMPLETION_INDEX with "
                       "--shard-count, else 0/1)"},
    {"--shard-count", "N", "the number of shards when the shard comes from JOB_COMPLETION_INDEX"},
    {"--verbose", "", "print every command as it finishes, with its exit status and time"},
});
const std::vector<CliOption> reportRows = rows(
    {
        {"--anchor", "N", "the panel the others are measured against (default 1)"},
        {"--csv", "FILE", "write one row per image and panel to FILE as CSV"},
        {"--json", "", "print the report as one JSON object"},
        {"--html", "FILE", "write the report as one self-contained HTML page"},
    },
    false);
const std::vector<CliOption> slurmRows = rows({
    {"--tasks", "N", "array tasks, one shard each (required)"},
    {"--partition", "P", "the Slurm partition"},
    {"--time", "T", "each task's time limit, as sbatch takes it (\"2:00:00\")"},
    {"--cpus-per-task", "C", "cores per task; each task runs that many units at once"},
    {"--submit", "", "submit both scripts with sbatch and print the job ids"},
});
const std::vector<CliOption> kubernetesRows = rows({
    {"--tasks", "N", "completions of the Indexed Job, one shard each (required)"},
    {"--image", "IMAGE", "the container image holding quorlin-cli and the codec tools (required)"},
    {"--claim", "NAME", "the persistent volume claim holding the inputs and RUN (required)"},
    {"--mount", "DIR", "where the claim is mounted in the pods (default /data); inputs and RUN lie below it"},
    {"--cpus-per-task", "C", "cores each pod requests; each runs that many units at once"},
});

const CliSyntax runSyntax{"corpus run", "INPUT...", runRows,
                          "Runs every panel at every point over a corpus: folders (searched recursively),\n"
                          "image files or @LIST files (one path a line). Each unit's result is appended to\n"
                          "RUN/results-K-of-N.jsonl as it finishes; running again resumes.\n"};
const CliSyntax reportSyntax{"corpus report", "RUN...", reportRows,
                             "Merges the results files of the run folders and prints each panel's BD-rate\n"
                             "against the anchor over the images: mean, median, geometric mean, count, and\n"
                             "the images left out with the reason.\n"};
const CliSyntax slurmSyntax{"corpus slurm", "INPUT...", slurmRows,
                            "Writes RUN/corpus.sbatch (a job array running 'corpus run', one shard per task)\n"
                            "and RUN/report.sbatch (the report, after the array succeeded). RUN and the\n"
                            "inputs must be on a file system every node shares.\n"};
const CliSyntax kubernetesSyntax{"corpus kubernetes", "INPUT...", kubernetesRows,
                                 "Writes corpus-job.yaml in the current folder: an Indexed Job running 'corpus run',\n"
                                 "one shard per completion, with the inputs and RUN (paths as the pods see them)\n"
                                 "on a persistent volume claim.\n"};

template <class Number>
std::optional<Number> positive(std::string_view text) {
  Number value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
  return value;
}

// Reads the options `corpus run` and the cluster commands share; false when `option` is none of them.
bool readRunOption(std::string_view option, const std::string& value, CorpusRunOptions& options,
                   SweepPlanArguments& sweep, std::string& error) {
  if (sweep.read(option, value, error)) {
  } else if (option == "--out") {
    options.runFolder = value;
    return true;
  } else if (option == "--max-failures") {
    double percent = -1;
    auto [end, parseError] = std::from_chars(value.data(), value.data() + value.size(), percent);
    if (value.empty() || parseError != std::errc() || end != value.data() + value.size() || percent < 0 ||
        percent > 100) {
      error = "--max-failures must be a percentage from 0 to 100, not " + inQuotes(value);
    }
    options.maxFailurePercent = percent;
  } else if (option == "--threads") {
    auto threads = parseThreadCount(value);
    if (auto* message = std::get_if<std::string>(&threads)) {
      error = *message;
    } else {
      options.threads = std::get<int>(threads);
    }
  } else if (option == "--tool-dir") {
    options.toolDirectories.push_back(value);
    options.forwarded.emplace_back(option, fs::absolute(value).string());
    return true;
  } else if (option == "--tool-timeout") {
    options.toolTimeoutSeconds = parseToolTimeout(value);
    if (!options.toolTimeoutSeconds) error = "--tool-timeout must be a number of seconds above 0, not " + inQuotes(value);
  } else if (option == "--pixel-limit") {
    options.pixelLimit = parsePixelLimit(value);
    if (!options.pixelLimit) error = "--pixel-limit must be a whole number of pixels above 0, not " + inQuotes(value);
  } else if (option == "--verbose") {
    options.isVerbose = true;
  } else {
    return false;
  }
  options.forwarded.emplace_back(option, value);
  return true;
}

template <class Options>
bool finishRunOptions(const CliArguments& parsed, CorpusRunOptions& options, const SweepPlanArguments& sweep,
                      CorpusParse<Options>& parse) {
  if (parsed.operands.empty()) {
    parse.error = "no input given: name folders, image files or @LIST files";
    return false;
  }
  if (options.runFolder.empty()) {
    parse.error = "--out RUN is required: the folder the results go to";
    return false;
  }
  auto plans = sweep.plans(parse.error);
  if (!plans) return false;
  options.plans = std::move(*plans);
  options.inputs = parsed.operands;
  return true;
}

template <class Options>
CorpusParse<Options> start(const CliSyntax& syntax, const std::vector<std::string>& arguments, CliArguments& parsed) {
  CorpusParse<Options> parse;
  parsed = parseCliArguments(syntax, arguments);
  parse.isHelp = parsed.isHelp;
  parse.error = parsed.error;
  return parse;
}

CorpusParse<CorpusClusterOptions> parseCluster(const CliSyntax& syntax, const std::vector<std::string>& arguments,
                                               bool isKubernetes) {
  CliArguments parsed;
  auto parse = start<CorpusClusterOptions>(syntax, arguments, parsed);
  if (parse.isHelp || !parse.error.empty()) return parse;
  CorpusClusterOptions options;
  SweepPlanArguments sweep;
  std::optional<std::size_t> tasks;
  for (const auto& [option, value] : parsed.options) {
    std::string error;
    if (readRunOption(option, value, options.run, sweep, error)) {
    } else if (option == "--tasks") {
      tasks = positive<std::size_t>(value);
      if (!tasks) error = "--tasks must be a whole number above 0, not " + inQuotes(value);
    } else if (option == "--cpus-per-task") {
      auto cpus = positive<unsigned>(value);
      if (!cpus) error = "--cpus-per-task must be a whole number above 0, not " + inQuotes(value);
      options.cpusPerTask = cpus.value_or(0);
    } else if (option == "--partition") {
      options.partition = value;
    } else if (option == "--time") {
      options.timeLimit = value;
    } else if (option == "--submit") {
      options.isSubmit = true;
    } else if (option == "--image") {
      options.image = value;
    } else if (option == "--claim") {
      options.claim = value;
    } else if (option == "--mount") {
      options.mountPath = value;
    }
    if (!error.empty()) {
      parse.error = error;
      return parse;
    }
  }
  if (!finishRunOptions(parsed, options.run, sweep, parse)) return parse;
  if (!tasks) {
    parse.error = "--tasks N is required";
    return parse;
  }
  options.tasks = *tasks;
  if (isKubernetes && (options.image.empty() || options.claim.empty())) {
    parse.error = "--image and --claim are required";
    return parse;
  }
  if (isKubernetes && !fs::path(options.mountPath).is_absolute()) {
    parse.error = "--mount must be an absolute path, not " + inQuotes(options.mountPath);
    return parse;
  }
  parse.options = std::move(options);
  return parse;
}

std::string usageWithStatus(const CliSyntax& syntax, std::string_view status) {
  return usageText(syntax) + "\n" + std::string(status);
}

}  // namespace

CorpusParse<CorpusRunOptions> parseCorpusRunArguments(const std::vector<std::string>& arguments) {
  CliArguments parsed;
  auto parse = start<CorpusRunOptions>(runSyntax, arguments, parsed);
  if (parse.isHelp || !parse.error.empty()) return parse;
  CorpusRunOptions options;
  SweepPlanArguments sweep;
  for (const auto& [option, value] : parsed.options) {
    std::string error;
    if (readRunOption(option, value, options, sweep, error)) {
    } else if (option == "--jobs") {
      auto jobs = positive<unsigned>(value);
      if (!jobs) error = "--jobs must be a whole number above 0, not " + inQuotes(value);
      options.jobs = jobs.value_or(0);
    } else if (option == "--shard") {
      options.shard = parseShard(value);
      if (!options.shard) error = "--shard must be K/N with K below N, e.g. 0/4, not " + inQuotes(value);
    } else if (option == "--shard-count") {
      options.shardCount = positive<std::size_t>(value);
      if (!options.shardCount) error = "--shard-count must be a whole number above 0, not " + inQuotes(value);
    }
    if (!error.empty()) {
      parse.error = error;
      return parse;
    }
  }
  if (finishRunOptions(parsed, options, sweep, parse)) parse.options = std::move(options);
  return parse;
}

CorpusParse<CorpusReportOptions> parseCorpusReportArguments(const std::vector<std::string>& arguments) {
  CliArguments parsed;
  auto parse = start<CorpusReportOptions>(reportSyntax, arguments, parsed);
  if (parse.isHelp || !parse.error.empty()) return parse;
  CorpusReportOptions options;
  for (const auto& [option, value] : parsed.options) {
    if (option == "--anchor") {
      auto anchor = positive<int>(value);
      if (!anchor || *anchor > 4) {
        parse.error = "--anchor must be a panel number from 1 to 4, not " + inQuotes(value);
        return parse;
      }
      options.anchor = *anchor;
    } else if (option == "--csv") {
      options.csvFile = fs::path(value);
    } else if (option == "--html") {
      options.htmlFile = fs::path(value);
    } else if (option == "--json") {
      options.isJson = true;
    }
  }
  if (parsed.operands.empty()) {
    parse.error = "no run folder given";
    return parse;
  }
  for (const auto& operand : parsed.operands) options.runFolders.emplace_back(operand);
  parse.options = std::move(options);
  return parse;
}

CorpusParse<CorpusClusterOptions> parseCorpusSlurmArguments(const std::vector<std::string>& arguments) {
  return parseCluster(slurmSyntax, arguments, false);
}

CorpusParse<CorpusClusterOptions> parseCorpusKubernetesArguments(const std::vector<std::string>& arguments) {
  return parseCluster(kubernetesSyntax, arguments, true);
}

std::string corpusUsage() {
  return "usage: quorlin-cli corpus run|report|slurm|kubernetes ...\n\n"
         "  run         run the panels over a corpus of images, resumably, one shard or all\n"
         "  report      merge the results of run folders and compare the panels over the images\n"
         "  slurm       write (and submit) a Slurm job array running the shards, then the report\n"
         "  kubernetes  write a Kubernetes Indexed Job running the shards\n\n"
         "Run 'quorlin-cli corpus COMMAND --help' for a command's options.\n";
}

std::string corpusRunUsage() {
  return usageWithStatus(runSyntax,
                         "Exit status: 0 every unit succeeded, 1 some failed or the run stopped early,\n"
                         "2 usage error, no images or an unusable run folder, 130/143 interrupted.\n");
}
std::string corpusReportUsage() {
  return usageWithStatus(reportSyntax, "Exit status: 0 written, 1 a file could not be written, 2 no results.\n");
}
std::string corpusSlurmUsage() {
  return usageWithStatus(slurmSyntax, "Exit status: 0 written (and submitted), 1 sbatch failed, 2 usage error.\n");
}
std::string corpusKubernetesUsage() {
  return usageWithStatus(kubernetesSyntax, "Exit status: 0 written, 2 usage error.\n");
}

}  // namespace quorlin::cli
