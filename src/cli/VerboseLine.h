// The line --verbose prints for a finished command:
// "cwebp -q 85 ...  [exit 0, 120 ms]" or "...  [launch failed: MESSAGE, 0 ms]".
#pragma once

#include <string>

#include "core/tools/CommandConsole.h"

namespace quorlin::cli {

std::string verboseLine(const CommandConsoleEntry& entry);

}  // namespace quorlin::cli
