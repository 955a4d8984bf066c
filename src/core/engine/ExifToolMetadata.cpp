#include "core/engine/ExifToolMetadata.h"

#include <algorithm>
#include <array>

#include "core/common/CompressionError.h"
#include "core/tools/ToolContract.h"

namespace quorlin {

namespace {

// The lines about the temporary copy on disk rather than the encoded image.
constexpr std::array<std::string_view, 7> droppedKeys = {
    "File Name",
    "Directory",
    "File Size",
    "File Modification Date/Time",
    "File Access Date/Time",
    "File Inode Change Date/Time",
    "File Permissions",
};

bool isDropped(std::string_view line) {
  if (line.empty()) return false;
  std::string key = trimWhitespace(line.substr(0, line.find(':')));
  return std::find(droppedKeys.begin(), droppedKeys.end(), key) != droppedKeys.end();
}

}  // namespace

std::string filterExifToolOutput(std::string_view output) {
  std::string kept;
  bool isFirst = true;
  std::size_t start = 0;
  while (start <= output.size()) {
    std::size_t end = output.find('\n', start);
    if (end == std::string_view::npos) end = output.size();
    std::string_view line = output.substr(start, end - start);
    if (!isDropped(line)) {
      if (!isFirst) kept += '\n';
      kept += line;
      isFirst = false;
    }
    start = end + 1;
  }
  return trimWhitespace(kept);
}

std::string readExifToolMetadata(const ToolRunner& runner, const std::filesystem::path& file,
                                 std::stop_token stopToken) {
  return filterExifToolOutput(runner.runTool(ToolContract::exiftool, {file.string()}, stopToken));
}

}  // namespace quorlin
