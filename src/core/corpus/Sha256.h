// SHA-256 of a file, as the corpus results key their images by content, so a
// renamed or moved image is still recognised as done and an edited one is not.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace quorlin {

// Lower-case hexadecimal digest of `bytes`.
std::string sha256Hex(std::string_view bytes);
// Of the file's contents; nothing when it cannot be read.
std::optional<std::string> fileSha256Hex(const std::filesystem::path& file);

}  // namespace quorlin
