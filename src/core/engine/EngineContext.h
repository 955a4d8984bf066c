// EngineContext: what one panel run needs from the world outside the engine:
// the logged tool runner, tool lookup with its search path, the installed
// versions of the tools (for the older-tool rules) and the temporary root its
// work directories go under.
//
// The context only refers to objects its owner keeps alive for as long as any
// run uses it (the application, the command line or a test). Every member is
// thread-safe, so panels running at once share one context.
#pragma once

#include <filesystem>
#include <optional>
#include <string_view>

#include "core/tools/ProcessRunner.h"
#include "core/tools/ToolLookup.h"
#include "core/tools/ToolVersion.h"
#include "core/tools/ToolVersionCache.h"

namespace quorlin {

struct EngineContext {
  const ToolRunner& runner;
  ExecutableURLCache& executables;
  const ToolSearchPath& searchPath;
  ToolVersionCache& versions;
  std::filesystem::path temporaryRoot;

  // The installed version of `tool` as its version probe reports it; nothing
  // when the tool is missing or prints no version (then every older-tool
  // rule treats it as a current release).
  std::optional<ToolVersion> installedVersion(std::string_view tool) const {
    return versions.versionOf(tool, executables, searchPath);
  }
};

}  // namespace quorlin
