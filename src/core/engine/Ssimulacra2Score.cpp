#include "core/engine/Ssimulacra2Score.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

#include "core/common/CompressionError.h"
#include "core/tools/ToolContract.h"

namespace quorlin {

namespace {

bool isSeparator(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f' || c == ',' || c == ':';
}

// Out of range ("1e999") reads as infinite: it is a number, just not a score.
std::optional<double> number(std::string_view piece) {
  if (piece.starts_with('+')) piece.remove_prefix(1);
  if (piece.empty()) return std::nullopt;
  double value = 0;
  auto [end, error] = std::from_chars(piece.data(), piece.data() + piece.size(), value, std::chars_format::general);
  if (end != piece.data() + piece.size()) return std::nullopt;
  if (error == std::errc::result_out_of_range) {
    return piece.starts_with('-') ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
  }
  if (error != std::errc()) return std::nullopt;
  return value;
}

// Identical pixels score 100; the tools print it rounded, hence the margin.
constexpr double highestPossibleScore = 100.0001;

}  // namespace

double parseSsimulacra2Score(std::string_view output) {
  std::size_t i = 0;
  while (i < output.size()) {
    while (i < output.size() && isSeparator(output[i])) ++i;
    std::size_t begin = i;
    while (i < output.size() && !isSeparator(output[i])) ++i;
    std::string_view piece = output.substr(begin, i - begin);
    if (auto score = number(piece)) {
      if (std::isfinite(*score) && *score <= highestPossibleScore) return *score;
      std::string text(piece.substr(0, 64));
      if (piece.size() > text.size()) text += "\u2026";
      throw CompressionError::impossibleOutput(std::string(ToolContract::ssimulacra2), "score", std::move(text));
    }
  }
  throw CompressionError::processFailed(std::string(ToolContract::ssimulacra2), std::string(output));
}

}  // namespace quorlin
