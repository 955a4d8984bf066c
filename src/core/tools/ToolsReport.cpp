#include "core/tools/ToolsReport.h"

#include <future>

#include "core/common/JsonWriter.h"

namespace quorlin {

namespace {

bool needsInstallCommands(ToolRequirementStatus status) { return status != ToolRequirementStatus::installed; }

void appendIndented(std::string& out, std::string_view label, std::string_view text) {
  // Multi-line texts (the JPEGli build script) continue under the label.
  out += "  ";
  out += label;
  out += ":";
  std::size_t start = 0;
  bool isFirst = true;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    out += isFirst ? " " : "    ";
    out.append(text.substr(start, end - start));
    out += '\n';
    isFirst = false;
    start = end + 1;
  }
}

}  // namespace

std::string_view rawValue(ToolRequirementStatus status) {
  switch (status) {
    case ToolRequirementStatus::installed: return "installed";
    case ToolRequirementStatus::partial: return "partial";
    case ToolRequirementStatus::missing: return "missing";
  }
  return {};
}

ToolsReport buildToolsReport(const std::vector<std::string>& searchDirectories, double timeoutSeconds) {
  std::vector<std::future<ToolsReportGroup>> loading;
  for (const auto& requirement : allToolRequirements()) {
    loading.push_back(std::async(std::launch::async, [&requirement, &searchDirectories, timeoutSeconds] {
      ToolsReportGroup group{requirement, loadInstalledTools(requirement, searchDirectories, timeoutSeconds),
                             ToolRequirementStatus::missing, {}, {}};
      group.status = requirementStatus(group.tools);
      group.statusText = statusText(group.tools);
      group.limitations = olderVersionLimitations(group.tools);
      return group;
    }));
  }
  ToolsReport report{searchDirectories, {}};
  for (auto& group : loading) report.groups.push_back(group.get());
  return report;
}

std::string formatToolsReport(const ToolsReport& report) {
  std::string out;
  for (const auto& group : report.groups) {
    if (!out.empty()) out += '\n';
    out += group.requirement.title + ": " + group.statusText + "\n";
    for (const auto& tool : group.tools) {
      out += "  " + tool.displayName() + ": ";
      if (!tool.url) {
        out += "not found\n";
        continue;
      }
      out += tool.url->string();
      if (tool.version) out += " (" + *tool.version + ")";
      out += '\n';
    }
    for (const auto& limitation : group.limitations) appendIndented(out, "Older version", limitation);
    if (needsInstallCommands(group.status)) {
      const ToolRequirement& requirement = group.requirement;
      if (requirement.debianInstallCommand) appendIndented(out, "Debian/Ubuntu", *requirement.debianInstallCommand);
      if (requirement.debianNote) appendIndented(out, "Debian/Ubuntu note", *requirement.debianNote);
      appendIndented(out, requirement.formula ? "Homebrew" : "Build script", installCommand(requirement));
      if (requirement.note) appendIndented(out, "Note", *requirement.note);
    }
  }
  out += "\nSearch directories:\n";
  for (const auto& directory : report.searchDirectories) out += "  " + directory + "\n";
  return out;
}

std::string toolsReportJson(const ToolsReport& report) {
  JsonWriter json;
  json.beginObject();
  json.key("groups").beginArray();
  for (const auto& group : report.groups) {
    const ToolRequirement& requirement = group.requirement;
    json.beginObject();
    json.key("title").value(requirement.title);
    json.key("status").value(rawValue(group.status));
    json.key("statusText").value(group.statusText);
    json.key("tools").beginArray();
    for (const auto& tool : group.tools) {
      json.beginObject();
      json.key("name").value(tool.name);
      json.key("displayName").value(tool.displayName());
      json.key("standIn").value(tool.standIn);
      json.key("path").value(tool.url ? std::optional(tool.url->string()) : std::nullopt);
      json.key("version").value(tool.version);
      json.endObject();
    }
    json.endArray();
    json.key("limitations").beginArray();
    for (const auto& limitation : group.limitations) json.value(limitation);
    json.endArray();
    json.key("install");
    if (needsInstallCommands(group.status)) {
      json.beginObject();
      json.key("debian").value(requirement.debianInstallCommand);
      json.key("debianNote").value(requirement.debianNote);
      json.key("homebrew").value(requirement.formula ? std::optional(installCommand(requirement)) : std::nullopt);
      json.key("buildScript").value(requirement.installScript);
      json.key("note").value(requirement.note);
      json.endObject();
    } else {
      json.null();
    }
    json.endObject();
  }
  json.endArray();
  json.key("searchDirectories").beginArray();
  for (const auto& directory : report.searchDirectories) json.value(directory);
  json.endArray();
  json.endObject();
  return json.text();
}

}  // namespace quorlin
