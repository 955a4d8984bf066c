// A panel-run test bed: a private temporary root, a tool directory for fake
// tools, and the runner, lookup and version cache an EngineContext needs.
//
// With ToolSet::fakesOnly the search path holds only the fake tool directory,
// so no installed tool can answer in a fake's place. With ToolSet::installed
// the project's own build of ssimulacra2 comes first, then the fake
// directory, then the usual system directories.
#pragma once


#include "core/common/MainThreadDispatcher.h"
#include "core/engine/EngineContext.h"
#include "core/engine/PreparedSource.h"
#include "core/tools/CommandConsole.h"
#include "core/tools/ProcessRunner.h"
#include "core/tools/ToolLookup.h"
#include "core/tools/ToolVersionCache.h"
#include "support/TestSupport.h"

namespace quorlin::test {

enum class ToolSet { fakesOnly, installed };

class EngineHarness {
 public:
  explicit EngineHarness(ToolSet tools = ToolSet::fakesOnly);

  EngineContext context() { return EngineContext{runner, executables, searchPath, versions, temporaryRoot}; }

  // A small RGB picture saved as `name` in the scratch directory (format by
  // extension: png, jpg, tif); `sixteenBit` for a 16-bit PNG or TIFF.
  std::filesystem::path makeSource(std::string_view name, bool sixteenBit = false, int width = 24, int height = 16);
  PreparedCompressionSource prepare(const std::filesystem::path& source);

  // A fake tool: a shell script whose PATH is the system's, running `body`.
  std::filesystem::path tool(std::string_view name, std::string_view body);
  // A fake encoder that answers its version flag with `versionLine` (when not
  // empty), records its arguments, and writes `sampleName` or else a genuine
  // sample file of the output's extension (sample.jxl, .avif, .webp, .jpg,
  // .heic, .hej2) to its output (the argument after "-o" or "-outfile", else
  // the last one).
  void recordingEncoder(std::string_view name, std::string_view versionLine = {}, std::string_view sampleName = {});
  // A fake decoder that records its arguments, prints `output`, and copies
  // the 8-bit sample PNG (or `png`) to its last argument.
  void recordingDecoder(std::string_view name, std::string_view output = {}, const std::filesystem::path& png = {});
  // The same without writing any file (also a fake describer such as jxlinfo).
  void recordingToolPrinting(std::string_view name, std::string_view output);
  // A fake ssimulacra2 that records its arguments and prints `output`.
  void fakeScorer(std::string_view output);

  // The arguments a recording tool got on its latest run; empty if it never ran.
  std::vector<std::string> recordedArguments(std::string_view name) const;
  bool hasRun(std::string_view name) const;

  // Directories under the temporary root other than the prepared source's.
  std::vector<std::filesystem::path> workDirectories(const PreparedCompressionSource& source) const;

  // The sample files the fakes hand out.
  std::filesystem::path sample(std::string_view name) const { return samples / name; }

  // Console entries after the posted updates have run, oldest first.
  std::vector<CommandConsoleEntry> consoleEntries();

  ScratchDirectory scratch;
  std::filesystem::path toolDirectory;
  std::filesystem::path temporaryRoot;
  std::filesystem::path samples;
  std::filesystem::path logs;
  QueueDispatcher dispatcher;
  CommandConsoleStore console;
  ExecutableURLCache executables;
  ToolSearchPath searchPath;
  ToolVersionCache versions;
  ToolRunner runner;

 private:
  void writeSamples();
  std::string recordingPrologue(std::string_view name, std::string_view output) const;
};

}  // namespace quorlin::test
