#include "core/engine/Ssimulacra2Score.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string>

#include "core/common/CompressionError.h"
#include "core/tools/ToolContract.h"

namespace quorlin {

namespace {

bool isSeparator(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == ',' || c == ':';
}

std::optional<double> finiteNumber(std::string_view piece) {
  if (piece.starts_with('+')) piece.remove_prefix(1);
  if (piece.empty()) return std::nullopt;
  double value = 0;
  auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value, std::chars_format::general);
  if (error != std::errc() || end != piece.data() + piece.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

double parseSsimulacra2Score(std::string_view output) {
  std::size_t i = 0;
  while (i < output.size()) {
    while (i < output.size() && isSeparator(output[i])) ++i;
    std::size_t begin = i;
    while (i < output.size() && !isSeparator(output[i])) ++i;
    if (auto score = finiteNumber(output.substr(begin, i - begin))) return *score;
  }
  throw CompressionError::processFailed(std::string(ToolContract::ssimulacra2), std::string(output));
}

}  // namespace quorlin
