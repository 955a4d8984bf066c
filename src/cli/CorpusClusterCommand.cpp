// quorlin-cli corpus slurm|kubernetes: the corpus run as a scheduler's job.
//
// `slurm` writes RUN/corpus.sbatch, a job array of `corpus run` (each task
// takes its shard from SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT and runs
// as many units at once as it has cores), and RUN/report.sbatch, the report,
// to be submitted after the array with afterok. With --submit both go to
// sbatch (an argument list, never a shell). Every path in them is absolute;
// RUN and the inputs must be on a file system every node shares. Submitting
// again resumes, as `corpus run` does.
//
// `kubernetes` writes RUN/corpus-job.yaml, an Indexed Job whose pods take
// their shard from JOB_COMPLETION_INDEX, with the inputs and RUN on a
// persistent volume claim.
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "cli/CliCommand.h"
#include "cli/CorpusCommands.h"
#include "cli/CorpusOptions.h"
#include "core/tools/ChildProcess.h"
#include "core/tools/ProcessOutputCollector.h"

namespace quorlin::cli {

bool writeFileWhole(const std::filesystem::path& file, const std::string& text);

namespace {

namespace fs = std::filesystem;

// One word for a POSIX shell, in single quotes unless it needs none.
std::string shellWord(std::string_view text) {
  if (!text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./=:,@+%") ==
                           std::string_view::npos) {
    return std::string(text);
  }
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// A double-quoted YAML (and JSON) string.
std::string yamlString(std::string_view text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted.push_back('\\');
    quoted.push_back(c);
  }
  return quoted + "\"";
}

fs::path thisProgram() {
  std::error_code error;
  fs::path program = fs::read_symlink("/proc/self/exe", error);
  return error ? fs::path("quorlin-cli") : program;
}

// The arguments of `corpus run` a task repeats: the inputs, then the options as given.
std::vector<std::string> taskArguments(const CorpusRunOptions& run, const std::vector<std::string>& inputs,
                                       const std::string& runFolder) {
  std::vector<std::string> arguments = {"corpus", "run"};
  arguments.insert(arguments.end(), inputs.begin(), inputs.end());
  for (const auto& [option, value] : run.forwarded) {
    arguments.push_back(option == "--verbose" ? option : option + "=" + value);
  }
  arguments.push_back("--out=" + runFolder);
  return arguments;
}

std::vector<std::string> absoluteInputs(const std::vector<std::string>& inputs) {
  std::vector<std::string> absolute;
  for (const auto& input : inputs) {
    // Appended piece by piece: GCC 12 warns falsely about `"literal" + std::string(...)`.
    std::string path = input.starts_with('@') ? "@" : "";
    path.append(fs::absolute(input.substr(path.size())).string());
    absolute.push_back(path);
  }
  return absolute;
}

std::string schedulerLines(const CorpusClusterOptions& options) {
  std::string lines;
  if (options.partition) lines += "#SBATCH --partition=" + *options.partition + "\n";
  if (options.timeLimit) lines += "#SBATCH --time=" + *options.timeLimit + "\n";
  return lines;
}

std::optional<fs::path> onPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string_view rest = path ? path : "/usr/bin:/bin";
  while (true) {
    const std::size_t colon = rest.find(':');
    const fs::path candidate = fs::path(std::string(rest.substr(0, colon))) / name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) return std::nullopt;
    rest = rest.substr(colon + 1);
  }
}

// sbatch --parsable ARGUMENTS...: the job id, or nothing after printing why.
std::optional<std::string> submit(const fs::path& sbatch, std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "--parsable");
  ChildProcessRequest request;
  request.executable = sbatch;
  request.arguments = arguments;
  ProcessOutputCollector output, errors;
  ChildProcessOutcome outcome = runChildProcess(request, output, errors);
  std::string id = output.text();
  id = id.substr(0, id.find_first_of(";\n"));
  if (outcome.hasLaunched() && outcome.exitStatus == 0 && !id.empty()) return id;
  std::cerr << "sbatch " << arguments.back() << " failed"
            << (outcome.hasLaunched() ? " (exit status " + std::to_string(outcome.exitStatus) + ")" : "") << ": "
            << errors.text() << "\n";
  return std::nullopt;
}

struct CorpusSlurmPass {
  explicit CorpusSlurmPass(CorpusClusterOptions options) : options_(std::move(options)) {}

  int run() {
    const fs::path runFolder = fs::absolute(options_.run.runFolder);
    std::error_code error;
    fs::create_directories(runFolder, error);
    const std::string program = thisProgram().string();
    const std::string sharedNote =
        "# RUN (" + runFolder.string() + ") and every input must be on a file system all nodes share.\n";
    std::string task;
    for (const auto& argument : taskArguments(options_.run, absoluteInputs(options_.run.inputs), runFolder.string())) {
      task.append(" ").append(shellWord(argument));
    }
    // Each task runs as many units at once as it was given cores; its tools share those cores.
    task += " --jobs=\"${SLURM_CPUS_PER_TASK:-1}\"";
    if (!options_.run.threads) task += " --threads=\"${SLURM_CPUS_PER_TASK:-1}\"";
    std::string corpus = "#!/bin/bash\n"
                         "#SBATCH --job-name=quorlin-corpus\n"
                         "#SBATCH --array=0-" + std::to_string(options_.tasks - 1) + "\n"
                         "#SBATCH --output=" + (runFolder / "slurm-%A_%a.out").string() + "\n";
    if (options_.cpusPerTask) corpus += "#SBATCH --cpus-per-task=" + std::to_string(options_.cpusPerTask) + "\n";
    corpus += schedulerLines(options_) +
              "# Written by quorlin-cli corpus slurm: a job array, one shard of the corpus per task (from\n"
              "# SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT). Submitting it again resumes.\n" +
              sharedNote + "exec " + shellWord(program) + task + "\n";
    const fs::path report = runFolder / "report.sbatch";
    std::string reportScript =
        "#!/bin/bash\n"
        "#SBATCH --job-name=quorlin-corpus-report\n"
        "#SBATCH --output=" + (runFolder / "slurm-report-%j.out").string() + "\n" +
        // A failed or cancelled task makes afterok unsatisfiable: end the report job then instead of leaving
        // it pending for ever; submitting again resumes the run and reports.
        "#SBATCH --kill-on-invalid-dep=yes\n" + schedulerLines(options_) +
        "# Written by quorlin-cli corpus slurm: the report of the job array in corpus.sbatch. Submit it\n"
        "# after the array: sbatch --dependency=afterok:ARRAY_JOB_ID " + report.string() + "\n" + sharedNote +
        "exec " + shellWord(program) + " corpus report " + shellWord(runFolder.string()) + " --html=" +
        shellWord((runFolder / "report.html").string()) + " --csv=" + shellWord((runFolder / "report.csv").string()) +
        " --json\n";
    const fs::path corpusFile = runFolder / "corpus.sbatch";
    if (!writeFileWhole(corpusFile, corpus) || !writeFileWhole(report, reportScript)) return exitSomeFailed;
    fs::permissions(corpusFile, fs::perms::owner_exec | fs::perms::group_exec, fs::perm_options::add, error);
    fs::permissions(report, fs::perms::owner_exec | fs::perms::group_exec, fs::perm_options::add, error);
    std::cout << "Wrote " << corpusFile.string() << " and " << report.string() << ".\n";
    if (!options_.isSubmit) {
      std::cout << "Submit with:\n  job=$(sbatch --parsable " << shellWord(corpusFile.string())
                << ") && sbatch --dependency=afterok:$job " << shellWord(report.string()) << "\n";
      return exitSuccess;
    }
    auto sbatch = onPath("sbatch");
    if (!sbatch) {
      std::cerr << "quorlin-cli corpus slurm: sbatch is not on the PATH; submit the scripts on a cluster node.\n";
      return exitSomeFailed;
    }
    auto arrayJob = submit(*sbatch, {corpusFile.string()});
    if (!arrayJob) return exitSomeFailed;
    auto reportJob = submit(*sbatch, {"--dependency=afterok:" + *arrayJob, report.string()});
    if (!reportJob) return exitSomeFailed;
    std::cout << "Submitted the array as job " << *arrayJob << " and the report as job " << *reportJob << ".\n"
              << "Follow them with: squeue -j " << *arrayJob << "," << *reportJob << "\n"
              << "When done: sacct -j " << *arrayJob << "," << *reportJob << "; the report goes to "
              << (runFolder / "report.html").string() << "\n";
    return exitSuccess;
  }

  CorpusClusterOptions options_;
};

struct CorpusKubernetesPass {
  explicit CorpusKubernetesPass(CorpusClusterOptions options) : options_(std::move(options)) {}

  // Inside a pod only what lies below the mount exists.
  bool isBelowMount(const std::string& path) const {
    const fs::path inside = fs::path(path).lexically_normal();
    const fs::path relative = inside.lexically_relative(fs::path(options_.mountPath).lexically_normal());
    return inside.is_absolute() && !relative.empty() && *relative.begin() != "..";
  }

  int run() {
    std::vector<std::string> paths = options_.run.inputs;
    for (auto& path : paths) {
      if (path.starts_with('@')) path.erase(0, 1);
    }
    paths.push_back(options_.run.runFolder.string());
    for (const auto& path : paths) {
      if (!isBelowMount(path)) {
        std::cerr << "quorlin-cli corpus kubernetes: '" << path << "' is not below the claim's mount "
                  << options_.mountPath << "; give the inputs and --out as the pods see them\n";
        return exitUsage;
      }
    }
    std::vector<std::string> arguments =
        taskArguments(options_.run, options_.run.inputs, options_.run.runFolder.string());
    arguments.push_back("--shard-count=" + std::to_string(options_.tasks));
    if (options_.cpusPerTask) arguments.push_back("--jobs=" + std::to_string(options_.cpusPerTask));
    std::string list;
    for (const auto& argument : arguments) list += (list.empty() ? "" : ", ") + yamlString(argument);
    const std::string tasks = std::to_string(options_.tasks);
    std::string manifest =
        "# Written by quorlin-cli corpus kubernetes: an Indexed Job, one shard of the corpus per completion\n"
        "# (JOB_COMPLETION_INDEX of --shard-count). The inputs and RUN are on the persistent volume claim\n"
        "# " + options_.claim + ", mounted at " + options_.mountPath + " in every pod. A retried pod resumes.\n"
        "apiVersion: batch/v1\n"
        "kind: Job\n"
        "metadata:\n"
        "  name: quorlin-corpus\n"
        "spec:\n"
        "  completionMode: Indexed\n"
        "  completions: " + tasks + "\n"
        "  parallelism: " + tasks + "\n"
        "  backoffLimit: " + std::to_string(options_.tasks * 2) + "\n"
        "  template:\n"
        "    spec:\n"
        "      restartPolicy: Never\n"
        "      containers:\n"
        "        - name: corpus\n"
        "          image: " + yamlString(options_.image) + "\n"
        "          command: [\"quorlin-cli\"]\n"
        "          args: [" + list + "]\n";
    if (options_.cpusPerTask) {
      manifest += "          resources:\n"
                  "            requests:\n"
                  "              cpu: \"" + std::to_string(options_.cpusPerTask) + "\"\n";
    }
    manifest += "          volumeMounts:\n"
                "            - name: corpus\n"
                "              mountPath: " + yamlString(options_.mountPath) + "\n"
                "      volumes:\n"
                "        - name: corpus\n"
                "          persistentVolumeClaim:\n"
                "            claimName: " + yamlString(options_.claim) + "\n";
    // The manifest is written here, not in RUN: RUN is a path inside the pods.
    const fs::path file = "corpus-job.yaml";
    if (!writeFileWhole(file, manifest)) return exitSomeFailed;
    std::cout << "Wrote " << fs::absolute(file).string() << "; start it with: kubectl apply -f " << file.string()
              << "\n";
    return exitSuccess;
  }

  CorpusClusterOptions options_;
};

}  // namespace

int runCorpusSlurm(const std::vector<std::string>& arguments) {
  return runParsed<CorpusSlurmPass>("corpus slurm", parseCorpusSlurmArguments(arguments), corpusSlurmUsage());
}

int runCorpusKubernetes(const std::vector<std::string>& arguments) {
  return runParsed<CorpusKubernetesPass>("corpus kubernetes", parseCorpusKubernetesArguments(arguments),
                                         corpusKubernetesUsage());
}

}  // namespace quorlin::cli
