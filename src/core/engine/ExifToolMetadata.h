// The encoded file's metadata as exiftool lists it, without the lines that
// only describe the temporary file itself (its name, directory, size, times
// and permissions).
#pragma once

#include <filesystem>
#include <stop_token>
#include <string>
#include <string_view>

#include "core/tools/ProcessRunner.h"

namespace quorlin {

// Runs "exiftool" with the file's path as its only argument (logged in the
// console like every pipeline command) and returns the filtered listing,
// possibly empty. Blocks; any worker thread. Errors pass up unchanged:
// CompressionError::missingTool, processFailed, CancellationError.
std::string readExifToolMetadata(const ToolRunner& runner, const std::filesystem::path& file,
                                 std::stop_token stopToken = {});

// The listing without the lines whose key (the text before the first ":",
// trimmed) is "File Name", "Directory", "File Size", "File Modification
// Date/Time", "File Access Date/Time", "File Inode Change Date/Time" or "File
// Permissions" (exactly, case-sensitive). Every other line, empty lines and
// lines without a colon included, stays as it is; the joined text is trimmed
// at both ends.
std::string filterExifToolOutput(std::string_view output);

}  // namespace quorlin
