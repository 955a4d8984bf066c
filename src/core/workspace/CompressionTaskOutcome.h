// CompressionTaskOutcome: how one panel's run within a pass ended.
#pragma once

#include <optional>
#include <string>

#include "core/engine/CompressionResult.h"

namespace quorlin {

struct CompressionTaskOutcome {
  int index = 0;                              // position in the workspace's panels
  std::string codecName;                      // the codec's raw value ("JPEG XL")
  std::optional<CompressionResult> result;    // set on success
  std::optional<std::string> errorMessage;    // set on failure: the error's description
};

}  // namespace quorlin
