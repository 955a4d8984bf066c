#include "core/common/ByteCount.h"

#include <cstdio>

namespace quorlin {

std::string formatByteCount(std::int64_t bytes) {
  if (bytes < 1000) return std::to_string(bytes) + " bytes";
  static constexpr const char* units[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1000.0;
  int unit = 0;
  while (value >= 1000.0 && unit < 3) {
    value /= 1000.0;
    ++unit;
  }
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, unit == 0 ? "%.1f %s" : "%.2f %s", value, units[unit]);
  return buffer;
}

}  // namespace quorlin
