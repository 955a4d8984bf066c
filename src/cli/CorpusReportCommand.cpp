// quorlin-cli corpus report RUN... [--anchor N] [--csv FILE] [--json] [--html FILE]
//
// The report of one or more run folders (the shards of a run) on standard
// output, as text or JSON; --csv and --html also write files. A file is written
// beside its final name and renamed into place, so a failed write leaves an
// earlier report whole.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>

#include "cli/CliCommand.h"
#include "cli/CorpusCommands.h"
#include "cli/CorpusOptions.h"
#include "core/corpus/CorpusReport.h"
#include "core/corpus/CorpusResultsFile.h"

namespace quorlin::cli {

namespace fs = std::filesystem;

bool writeFileWhole(const fs::path& file, const std::string& text) {
  const fs::path partial = file.string() + ".partial-" + std::to_string(::getpid());
  std::ofstream stream(partial, std::ios::binary | std::ios::trunc);
  stream.write(text.data(), static_cast<std::streamsize>(text.size()));
  stream.close();
  std::error_code error;
  if (stream) fs::rename(partial, file, error);
  if (stream && !error) return true;
  fs::remove(partial, error);
  std::cerr << "Could not write " << file.string() << ".\n";
  return false;
}

namespace {

struct CorpusReportPass {
  explicit CorpusReportPass(CorpusReportOptions options) : options_(std::move(options)) {}

  int run() {
    CorpusReport report;
    try {
      report = buildCorpusReport(readRunFolders(options_.runFolders), options_.anchor);
    } catch (const CorpusError& error) {
      std::cerr << "quorlin-cli corpus report: " << error.what() << "\n";
      return exitUsage;
    }
    bool isWritten = true;
    if (options_.csvFile) isWritten = writeFileWhole(*options_.csvFile, corpusReportCsv(report)) && isWritten;
    if (options_.htmlFile) isWritten = writeFileWhole(*options_.htmlFile, corpusReportHtml(report)) && isWritten;
    const std::string text = options_.isJson ? corpusReportJson(report) : corpusReportText(report);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return isWritten ? exitSuccess : exitSomeFailed;
  }

  CorpusReportOptions options_;
};

}  // namespace

int runCorpusReport(const std::vector<std::string>& arguments) {
  return runParsed<CorpusReportPass>("corpus report", parseCorpusReportArguments(arguments), corpusReportUsage());
}

}  // namespace quorlin::cli
