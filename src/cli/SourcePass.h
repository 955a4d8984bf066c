// SourcePass: what a command-line pass over one source image holds: its
// options with the source path made absolute, the progress line on standard
// error, and the engine its tools run on with that engine's dispatcher.
// `Options` derives from CommandEngineSettings and has a `source` path.
#pragma once

#include <cstdio>
#include <filesystem>
#include <utility>

#include "cli/CommandEngine.h"
#include "cli/ProgressLine.h"

namespace quorlin::cli {

template <typename Options>
class SourcePass {
 protected:
  explicit SourcePass(Options options)
      : options_(std::move(options)),
        progress_(stderr),
        tools_(options_, progress_),
        dispatcher_(tools_.dispatcher()),
        engine_(tools_.engine()) {
    options_.source = std::filesystem::absolute(options_.source);
  }

  Options options_;
  ProgressLine progress_;
  CommandEngine tools_;
  QueueDispatcher& dispatcher_;
  CompressionRunner& engine_;
};

}  // namespace quorlin::cli
