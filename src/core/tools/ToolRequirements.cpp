#include "core/tools/ToolRequirements.h"

#include <algorithm>
#include <future>
#include <set>
#include <utility>

#include "core/tools/ProcessRunner.h"
#include "core/tools/ToolLookup.h"
#include "core/tools/ToolVersionRules.h"

namespace quorlin {

namespace {

constexpr std::string_view jpegliInstallScript =
    "brew install git cmake ninja pkg-config clang-format googletest doxygen graphviz\n"
    "git clone https://github.com/google/jpegli.git\n"
    "cd jpegli\n"
    "./deps.sh\n"
    "SKIP_TEST=1 ./ci.sh release\n"
    "mkdir -p ~/bin\n"
    "cp build/tools/cjpegli build/tools/djpegli ~/bin/";

constexpr std::string_view jpegliNote =
    "Built from the jpegli source repository (https://github.com/google/jpegli). The app already searches "
    "~/bin, so no PATH changes are needed.";

std::vector<ToolRequirement> buildTable() {
  auto row = [](std::string title, std::vector<std::string> executables, std::optional<std::string> formula,
                std::optional<std::string> script, std::optional<std::string> note,
                std::optional<std::string> debianCommand, std::optional<std::string> debianNote) {
    return ToolRequirement{Uuid::random(), std::move(title), std::move(executables), std::move(formula),
                           std::move(script), std::move(note), std::move(debianCommand), std::move(debianNote)};
  };
  return {
      row("JPEG XL & SSIMULACRA2 metric", {"cjxl", "djxl", "jxlinfo", "ssimulacra2"}, "jpeg-xl", {}, {},
          "sudo apt install libjxl-tools",
          "Debian packages no ssimulacra2: Quorlin's own setup (scripts/setup.sh) builds and installs it."),
      row("JPEGli", {"cjpegli", "djpegli"}, {}, std::string(jpegliInstallScript), std::string(jpegliNote), {},
          "Debian 12 packages no cjpegli or djpegli: build them with the build script, installing its build "
          "tools with apt instead of brew."),
      row("AVIF", {"avifenc", "avifdec"}, "libavif", {}, {}, "sudo apt install libavif-bin", {}),
      row("WebP", {"cwebp", "dwebp"}, "webp", {}, {}, "sudo apt install webp", {}),
      row("HEIF / AVIF / JPEG 2000 (libheif)", {"heif-enc", "heif-dec"}, "libheif", {}, {},
          "sudo apt install libheif-examples", {}),
      row("JPEG (libjpeg-turbo)", {"cjpeg"}, "jpeg-turbo", {}, {}, "sudo apt install libjpeg-turbo-progs", {}),
      row("ExifTool (metadata)", {"exiftool"}, "exiftool", {}, {}, "sudo apt install libimage-exiftool-perl", {}),
  };
}

struct VersionFlags {
  std::string_view executable;
  std::string_view argument;
};

constexpr VersionFlags versionFlags[] = {
    {"cjxl", "--version"},    {"djxl", "--version"},     {"avifenc", "--version"}, {"avifdec", "--version"},
    {"cwebp", "-version"},    {"dwebp", "-version"},     {"heif-enc", "--version"}, {"heif-dec", "--version"},
    {"cjpeg", "-version"},    {"exiftool", "-ver"},
};

}  // namespace

std::string InstalledToolInfo::displayName() const { return standIn ? name + " (" + *standIn + ")" : name; }

const std::vector<ToolRequirement>& allToolRequirements() {
  static const std::vector<ToolRequirement> table = buildTable();
  return table;
}

std::optional<std::vector<std::string>> versionArguments(std::string_view executable) {
  for (const auto& flags : versionFlags) {
    if (flags.executable == executable) return std::vector<std::string>{std::string(flags.argument)};
  }
  return std::nullopt;
}

std::string combinedInstallCommand() {
  std::string command = "brew install";
  for (const auto& requirement : allToolRequirements()) {
    if (requirement.formula) {
      command += ' ';
      command += *requirement.formula;
    }
  }
  return command;
}

std::string combinedDebianInstallCommand() {
  static constexpr std::string_view prefix = "sudo apt install ";
  std::string command = "sudo apt install";
  for (const auto& requirement : allToolRequirements()) {
    if (requirement.debianInstallCommand && requirement.debianInstallCommand->starts_with(prefix)) {
      command += ' ';
      command.append(*requirement.debianInstallCommand, prefix.size());
    }
  }
  return command;
}

std::string installCommand(const ToolRequirement& requirement) {
  if (requirement.formula) return "brew install " + *requirement.formula;
  return requirement.installScript.value_or("");
}

std::optional<std::filesystem::path> findExecutable(std::string_view name,
                                                    const std::vector<std::string>& directories) {
  return searchExecutable(name, directories);
}

ToolRequirementStatus requirementStatus(const ToolRequirement& requirement,
                                        const std::vector<std::string>& directories) {
  std::size_t found = 0;
  for (const auto& executable : requirement.executables) {
    if (findTool(executable, directories)) ++found;
  }
  if (found == requirement.executables.size()) return ToolRequirementStatus::installed;
  return found == 0 ? ToolRequirementStatus::missing : ToolRequirementStatus::partial;
}

ToolRequirementStatus requirementStatus(const std::vector<InstalledToolInfo>& tools) {
  auto found = static_cast<std::size_t>(
      std::count_if(tools.begin(), tools.end(), [](const InstalledToolInfo& tool) { return tool.url.has_value(); }));
  if (found == tools.size()) return ToolRequirementStatus::installed;
  return found == 0 ? ToolRequirementStatus::missing : ToolRequirementStatus::partial;
}

std::vector<std::string> missingExecutables(const ToolRequirement& requirement,
                                            const std::vector<std::string>& directories) {
  std::vector<std::string> missing;
  for (const auto& executable : requirement.executables) {
    if (!findTool(executable, directories)) missing.push_back(executable);
  }
  return missing;
}

InstalledToolInfo probeVersion(std::string_view name, const std::optional<std::filesystem::path>& url,
                               double timeoutSeconds) {
  InstalledToolInfo info{std::string(name), url, std::nullopt, std::nullopt};
  auto arguments = versionArguments(name);
  if (!url || !arguments) return info;
  info.version = readToolVersion(name, probeOutput(*url, *arguments, timeoutSeconds));
  return info;
}

std::vector<InstalledToolInfo> loadInstalledTools(const ToolRequirement& requirement,
                                                  const std::vector<std::string>& directories,
                                                  double timeoutSeconds) {
  std::vector<std::future<InstalledToolInfo>> probes;
  probes.reserve(requirement.executables.size());
  for (const auto& executable : requirement.executables) {
    probes.push_back(std::async(std::launch::async, [&executable, &directories, timeoutSeconds] {
      std::optional<LocatedTool> located = findTool(executable, directories);
      InstalledToolInfo info =
          probeVersion(executable, located ? std::optional(located->path) : std::nullopt, timeoutSeconds);
      if (located && located->isStandIn()) info.standIn = located->name;
      return info;
    }));
  }
  // Each result has its own slot, so the order is the requirement's whatever
  // order the probes finish in.
  std::vector<InstalledToolInfo> tools;
  tools.reserve(probes.size());
  for (auto& probe : probes) tools.push_back(probe.get());
  return tools;
}

std::string statusText(const std::vector<InstalledToolInfo>& tools) {
  switch (requirementStatus(tools)) {
    case ToolRequirementStatus::installed: {
      std::set<std::string> versions;
      for (const auto& tool : tools) {
        if (tool.version && !tool.version->empty()) versions.insert(*tool.version);
      }
      return versions.size() == 1 ? "Installed " + *versions.begin() : "Installed";
    }
    case ToolRequirementStatus::partial: {
      std::string text = "Missing ";
      bool isFirst = true;
      for (const auto& tool : tools) {
        if (tool.url) continue;
        if (!isFirst) text += ", ";
        text += tool.name;
        isFirst = false;
      }
      return text;
    }
    case ToolRequirementStatus::missing:
      return "Not installed";
  }
  return {};
}

std::vector<std::string> olderVersionLimitations(const std::vector<InstalledToolInfo>& tools) {
  std::vector<std::string> texts;
  for (const auto& tool : tools) {
    if (!tool.version) continue;
    auto version = ToolVersion::fromText(*tool.version);
    for (const auto& name : {tool.name, tool.standIn.value_or(tool.name)}) {
      for (auto& text : limitationsOf(name, version)) {
        if (std::find(texts.begin(), texts.end(), text) == texts.end()) texts.push_back(std::move(text));
      }
    }
  }
  return texts;
}

std::vector<std::string> knownOlderVersionLimitations(const ToolRequirement& requirement) {
  std::vector<std::string> texts;
  for (const ToolVersionRule* rule : rulesForExecutables(requirement.executables)) {
    if (rule->limitation.empty() || rule->applicability != RuleApplicability::versionsBelow) continue;
    texts.push_back(fillVersion(rule->limitation, "before " + std::string(rule->versionBound)));
  }
  return texts;
}

}  // namespace quorlin
