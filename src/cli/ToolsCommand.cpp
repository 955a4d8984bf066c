// quorlin-cli tools [--tool-dir DIR]... [--json]
//
// Reports the required tools: each group's status, where every executable was
// found and its version, what installed older versions cannot do, and how to
// install what is missing. --tool-dir adds a directory in front of the built-in
// search directories, as the custom tool directories of the settings do (in the
// order given). Exit 0 with the report, 2 for a usage error.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/CliArguments.h"
#include "cli/CliCommand.h"
#include "core/tools/ToolLookup.h"
#include "core/tools/ToolsReport.h"

namespace quorlin::cli {

namespace {

const CliOption toolsOptions[] = {
    {"--tool-dir", "DIR", "also search DIR, before the built-in directories (repeatable)", "a directory", true},
    {"--json", "", "print the report as one JSON object"},
};
const CliSyntax toolsSyntax{"tools", "", toolsOptions, ""};

int runTools(const std::vector<std::string>& arguments) {
  const CliArguments parsed = parseCliArguments(toolsSyntax, arguments);
  if (parsed.isHelp) {
    std::fputs(usageText(toolsSyntax).c_str(), stdout);
    return exitSuccess;
  }
  std::string error = parsed.error;
  if (error.empty() && !parsed.operands.empty()) error = "unexpected argument '" + parsed.operands.front() + "'";
  if (!error.empty()) {
    std::fprintf(stderr, "quorlin-cli tools: %s\n\n%s", error.c_str(), usageText(toolsSyntax).c_str());
    return exitUsage;
  }
  std::vector<std::string> toolDirectories;
  bool isJson = false;
  for (const auto& [option, value] : parsed.options) {
    if (option == "--json") {
      isJson = true;
    } else {
      toolDirectories.push_back(value);
    }
  }

  ExecutableURLCache cache;
  ToolSearchPath searchPath(cache);
  searchPath.setCustomToolDirectories(std::move(toolDirectories));
  ToolsReport report = buildToolsReport(searchPath.toolSearchDirectories());
  std::string text = isJson ? toolsReportJson(report) : formatToolsReport(report);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return exitSuccess;
}

const RegisterCommand registration(CliCommand{"tools", "report the required tools, their versions and how to install them",
                                              runTools});

}  // namespace
}  // namespace quorlin::cli
