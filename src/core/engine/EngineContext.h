// EngineContext: what one panel run needs from the world outside the engine:
// the logged tool runner, tool lookup with its search path, the installed
// versions of the tools (for the older-tool rules), the temporary root its
// work directories go under and the core budget its tools share.
//
// The context only refers to objects its owner keeps alive for as long as any
// run uses it (the application, the command line or a test). Every member is
// thread-safe, so panels running at once share one context.
#pragma once

#include <filesystem>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/codecs/CodecCatalog.h"
#include "core/engine/CoreBudget.h"

#include "core/tools/ProcessRunner.h"
#include "core/tools/ToolLookup.h"
#include "core/tools/ToolVersion.h"
#include "core/tools/ToolThreadFlags.h"
#include "core/tools/ToolVersionCache.h"

namespace quorlin {

struct EngineContext {
  const ToolRunner& runner;
  ExecutableURLCache& executables;
  const ToolSearchPath& searchPath;
  ToolVersionCache& versions;
  std::filesystem::path temporaryRoot;
  // Without a budget no tool gets a thread flag: each runs on its own default.
  CoreBudget* budget = nullptr;
  // Whether scoring also writes the error map kept with the result. Runs with
  // no use for it (the command line without --maps) skip its cost: about a
  // third of the scoring time and a float image per result.
  bool keepsErrorMaps = true;

  // The installed version of `tool` as its version probe reports it; nothing
  // when the tool is missing or prints no version (then every older-tool
  // rule treats it as a current release).
  std::optional<ToolVersion> installedVersion(std::string_view tool) const {
    return versions.versionOf(tool, executables, searchPath);
  }

  // `arguments` after the thread flag that gives `tool` (encoding `codec`,
  // where its flag depends on that) its share of the budget at this moment;
  // call it just before the tool starts. Unchanged without a budget.
  std::vector<std::string> withThreadFlag(std::string_view tool, std::vector<std::string> arguments,
                                          std::optional<CompressionCodec> codec = std::nullopt) const {
    if (!budget) return arguments;
    std::vector<std::string> flagged = threadArguments(tool, budget->threadsPerTool(), codec);
    flagged.insert(flagged.end(), std::make_move_iterator(arguments.begin()), std::make_move_iterator(arguments.end()));
    return flagged;
  }
};

}  // namespace quorlin
