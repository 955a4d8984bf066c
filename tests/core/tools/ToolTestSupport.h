// Shared pieces of the tool-layer tests: a runner wired to a queue dispatcher,
// a scratch directory of fake tools searched first, and small helpers.
#pragma once

#include <gtest/gtest.h>


#include "core/common/MainThreadDispatcher.h"
#include "core/tools/CommandConsole.h"
#include "core/tools/ProcessRunner.h"
#include "core/tools/ToolLookup.h"
#include "support/TestSupport.h"

namespace quorlin::test {

// Fake tools live in `toolDirectory`, the only custom search directory. The
// built-in directories are reduced to /usr/bin and /bin so that the scripts
// find the usual utilities while no real codec tool can shadow a fake one
// that the test did not write (the custom directory comes first).
class ToolRunnerFixture : public ::testing::Test {
 protected:
  ToolRunnerFixture() {
    std::filesystem::create_directories(toolDirectory);
    searchPath.setCustomToolDirectories({toolDirectory.string()});
  }

  std::filesystem::path fakeTool(std::string_view name, std::string_view body) {
    return writeFakeTool(toolDirectory, name, body);
  }

  // Runs every console update that has been posted so far.
  void drainConsole() { dispatcher.runPending(); }

  ScratchDirectory scratch;
  std::filesystem::path toolDirectory = scratch / "tools";
  ExecutableURLCache cache;
  ToolSearchPath searchPath{cache, {"/usr/bin", "/bin"}};
  QueueDispatcher dispatcher;
  CommandConsoleStore console;
  ToolRunner runner{cache, searchPath, dispatcher, console};
};

}  // namespace quorlin::test
