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

#include "cli/CliCommand.h"
#include "core/tools/ToolLookup.h"
#include "core/tools/ToolsReport.h"

namespace quorlin::cli {

namespace {

constexpr const char* usage =
    "usage: quorlin-cli tools [--tool-dir DIR]... [--json]\n"
    "\n"
    "  --tool-dir DIR  also search DIR, before the built-in directories (repeatable)\n"
    "  --json          print the report as one JSON object\n";

int runTools(const std::vector<std::string>& arguments) {
  std::vector<std::string> toolDirectories;
  bool isJson = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      std::fputs(usage, stdout);
      return exitSuccess;
    } else if (argument == "--json") {
      isJson = true;
    } else if (argument == "--tool-dir") {
      if (i + 1 == arguments.size()) {
        std::fprintf(stderr, "quorlin-cli tools: --tool-dir needs a directory\n\n%s", usage);
        return exitUsage;
      }
      toolDirectories.push_back(arguments[++i]);
    } else if (argument.starts_with("--tool-dir=")) {
      toolDirectories.push_back(argument.substr(std::string_view("--tool-dir=").size()));
    } else {
      std::fprintf(stderr, "quorlin-cli tools: unknown option '%s'\n\n%s", argument.c_str(), usage);
      return exitUsage;
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
