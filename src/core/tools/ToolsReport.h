// The tools report: every requirement group with its status, where each
// executable was found and which version it reports, what the installed older
// versions cannot do, and how to install what is missing. `quorlin-cli tools`
// prints it as text or JSON; the report is built straight from the file system
// (no cache), probing versions concurrently. Thread-safe; blocks while probing.
#pragma once

#include <string>
#include <vector>

#include "core/tools/ToolRequirements.h"

namespace quorlin {

struct ToolsReportGroup {
  ToolRequirement requirement;
  std::vector<InstalledToolInfo> tools;
  ToolRequirementStatus status;
  std::string statusText;
  std::vector<std::string> limitations;  // of the installed older versions
};

struct ToolsReport {
  std::vector<std::string> searchDirectories;
  std::vector<ToolsReportGroup> groups;  // table order
};

// Builds the report for the given search directories; all groups load at once.
ToolsReport buildToolsReport(const std::vector<std::string>& searchDirectories, double timeoutSeconds = 5.0);

// The report as text: per group its title and status, one line per executable
// ("  cjxl: /usr/bin/cjxl (0.7.0)", "  ssimulacra2: not found"), the
// limitations, and for partial or missing groups the Debian/Ubuntu and Homebrew
// install commands.
std::string formatToolsReport(const ToolsReport& report);

// The same content as one JSON object.
std::string toolsReportJson(const ToolsReport& report);

std::string_view rawValue(ToolRequirementStatus status);  // "installed", "partial", "missing"

}  // namespace quorlin
