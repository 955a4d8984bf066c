// The required external tools, grouped by codec family, and how to tell whether
// they are installed and which versions they are.
//
// The table and the version flags are immutable. Presence searches go straight
// to the file system (never through ExecutableURLCache), so a status is always
// current. Discovery and probing never fail: a tool that is missing, cannot be
// launched, hangs (killed after five seconds) or prints nothing usable simply
// has no path or no version. Everything here is thread-safe; the probing
// functions block and run their probes concurrently.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/Uuid.h"

namespace quorlin {

struct ToolRequirement {
  Uuid id;  // fresh when the table is built, once per process
  std::string title;
  std::vector<std::string> executables;       // display order
  std::optional<std::string> formula;         // the Homebrew formula
  std::optional<std::string> installScript;   // for groups without a formula
  std::optional<std::string> note;            // shown under the group
  // On Linux: the Debian/Ubuntu command, and a note about what it does not cover.
  std::optional<std::string> debianInstallCommand;
  std::optional<std::string> debianNote;
};

// One executable as found.
struct InstalledToolInfo {
  std::string name;                       // the required name ("heif-dec")
  std::optional<std::filesystem::path> url;  // where it (or its stand-in) was found
  std::optional<std::string> version;
  std::optional<std::string> standIn;     // the executable standing in ("heif-convert")

  // "heif-dec (heif-convert)" when a stand-in was found, else the name.
  std::string displayName() const;
  friend bool operator==(const InstalledToolInfo&, const InstalledToolInfo&) = default;
};

enum class ToolRequirementStatus { installed, partial, missing };

// The seven groups in display order, built once.
const std::vector<ToolRequirement>& allToolRequirements();

// The arguments that make `executable` print its version; nothing for tools that
// are never asked (jxlinfo, ssimulacra2, cjpegli, djpegli).
std::optional<std::vector<std::string>> versionArguments(std::string_view executable);

// "brew install " + every formula in table order:
// "brew install jpeg-xl libavif webp libheif jpeg-turbo exiftool".
std::string combinedInstallCommand();
// "sudo apt install " + every group's Debian package, in table order.
std::string combinedDebianInstallCommand();
// "brew install FORMULA", else the group's install script.
std::string installCommand(const ToolRequirement& requirement);

// The first search directory holding `name` as an executable file; the file
// system is asked directly. No stand-ins.
std::optional<std::filesystem::path> findExecutable(std::string_view name,
                                                    const std::vector<std::string>& directories);

// Counts the executables found (stand-ins count): all -> installed, none ->
// missing, else partial.
ToolRequirementStatus requirementStatus(const ToolRequirement& requirement,
                                        const std::vector<std::string>& directories);
// The same from already loaded tools.
ToolRequirementStatus requirementStatus(const std::vector<InstalledToolInfo>& tools);
// The executables not found, in table order.
std::vector<std::string> missingExecutables(const ToolRequirement& requirement,
                                            const std::vector<std::string>& directories);

// Runs `url` with the version flags of `name` (5-second limit) and reads the
// version. Nothing is run when `url` is empty or `name` has no flags.
InstalledToolInfo probeVersion(std::string_view name, const std::optional<std::filesystem::path>& url,
                               double timeoutSeconds = 5.0);

// One info per executable in the requirement's order; the searches and probes run
// concurrently.
std::vector<InstalledToolInfo> loadInstalledTools(const ToolRequirement& requirement,
                                                  const std::vector<std::string>& directories,
                                                  double timeoutSeconds = 5.0);

// "Installed" or "Installed VERSION" (when the found tools that report a version
// all report the same one), "Missing a, b", or "Not installed".
std::string statusText(const std::vector<InstalledToolInfo>& tools);

// What the installed older versions of this group cannot do (from the table of
// older-tool rules), without duplicates, in tool order and then rule order.
std::vector<std::string> olderVersionLimitations(const std::vector<InstalledToolInfo>& tools);
// What any older version of the group's tools cannot do, with the version bound
// in place of the installed version ("heif-enc before 1.16 cannot encode JPEG 2000.").
std::vector<std::string> knownOlderVersionLimitations(const ToolRequirement& requirement);

}  // namespace quorlin
