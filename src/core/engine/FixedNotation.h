// Fixed-point number text that ignores the process locale: a desktop session
// may set one with a decimal comma, but signatures, tool arguments and the
// texts of this system always use a full stop. Same rounding as printf's "%.Nf".
#pragma once

#include <charconv>
#include <string>
#include <system_error>

namespace quorlin {

inline std::string fixedNotation(double value, int decimals) {
  char buffer[128];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (error != std::errc()) return std::to_string(value);
  return std::string(buffer, end);
}

}  // namespace quorlin
