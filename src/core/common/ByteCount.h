// Byte counts in decimal units, as every size in the user interface is shown.
#pragma once

#include <cstdint>
#include <string>

namespace quorlin {

// Below 1000: "N bytes". Otherwise divided by 1000 while it is 1000 or more, up
// to terabytes: "%.1f KB", then "%.2f MB", "%.2f GB", "%.2f TB".
// 999 -> "999 bytes", 1000 -> "1.0 KB", 999999 -> "1000.0 KB", 2350000 -> "2.35 MB".
std::string formatByteCount(std::int64_t bytes);

}  // namespace quorlin
