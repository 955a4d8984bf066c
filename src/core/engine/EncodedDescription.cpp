#include "core/engine/EncodedDescription.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "core/common/CompressionError.h"
#include "core/common/TextEncoding.h"
#include "core/engine/FixedNotation.h"

namespace quorlin {

namespace {

bool isAsciiSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isWordCharacter(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

std::vector<std::string_view> splitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return lines;
}

// The whole of `text` read as a number; nothing when anything is left over.
std::optional<double> wholeNumber(std::string_view text) {
  if (text.starts_with('+')) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "^[0-9]+x[0-9]+$"
bool isPixelSize(std::string_view piece) {
  std::size_t x = piece.find('x');
  if (x == std::string_view::npos || x == 0 || x + 1 == piece.size()) return false;
  auto allDigits = [](std::string_view part) { return std::all_of(part.begin(), part.end(), isDigit); };
  return allDigits(piece.substr(0, x)) && allDigits(piece.substr(x + 1));
}

std::optional<std::string> pixelFormatLine(std::string_view line) {
  std::vector<std::string> kept;
  std::size_t start = 0;
  while (start <= line.size()) {
    std::size_t end = line.find(',', start);
    if (end == std::string_view::npos) end = line.size();
    std::string piece = trimWhitespace(line.substr(start, end - start));
    std::string lower = asciiLowercased(piece);
    if (!isPixelSize(piece) && piece != "JPEG XL image" && lower != "lossy" && lower != "lossless") {
      kept.push_back(std::move(piece));
    }
    start = end + 1;
  }
  if (kept.empty()) return std::nullopt;
  std::string joined = "Pixel Format: ";
  for (std::size_t i = 0; i < kept.size(); ++i) {
    if (i > 0) joined += ", ";
    joined += kept[i];
  }
  return joined;
}

struct NumberLine {
  std::string_view prefix;
  std::string_view label;
  std::string_view unit;
};

constexpr NumberLine numberLines[] = {
    {"intensity_target:", "Intensity Target: ", " nits"},
    {"min_nits:", "Minimum Nits: ", ""},
    {"relative_to_max_display:", "Relative to Max Display: ", ""},
    {"linear_below:", "Linear Below: ", ""},
};

std::optional<std::string> jpegXLLine(std::string_view rawLine) {
  std::string line = trimWhitespace(rawLine);
  if (line.empty()) return std::nullopt;
  if (line.starts_with("JPEG XL image")) return pixelFormatLine(line);
  for (const auto& numberLine : numberLines) {
    if (line.starts_with(numberLine.prefix)) {
      std::string rest = trimWhitespace(std::string_view(line).substr(numberLine.prefix.size()));
      return std::string(numberLine.label) + describedNumber(rest) + std::string(numberLine.unit);
    }
  }
  static constexpr std::string_view colorSpace = "Color space:";
  if (line.starts_with(colorSpace)) return "Color Space: " + trimWhitespace(std::string_view(line).substr(colorSpace.size()));
  return std::nullopt;
}

// intensity_target:\s*[0-9]+(?:\.[0-9]+)? — the number of the first match.
std::optional<double> intensityTarget(std::string_view text) {
  static constexpr std::string_view marker = "intensity_target:";
  for (std::size_t at = text.find(marker); at != std::string_view::npos; at = text.find(marker, at + 1)) {
    std::size_t i = at + marker.size();
    while (i < text.size() && isAsciiSpace(text[i])) ++i;
    std::size_t begin = i;
    while (i < text.size() && isDigit(text[i])) ++i;
    if (i == begin) continue;
    if (i + 1 < text.size() && text[i] == '.' && isDigit(text[i + 1])) {
      ++i;
      while (i < text.size() && isDigit(text[i])) ++i;
    }
    return wholeNumber(text.substr(begin, i - begin));
  }
  return std::nullopt;
}

// (?i)\bdepth\b[^0-9]*(\d+) — the digits of the first match.
std::optional<std::string> depthDigits(std::string_view text) {
  const std::string lower = asciiLowercased(text);
  static constexpr std::string_view word = "depth";
  for (std::size_t at = lower.find(word); at != std::string::npos; at = lower.find(word, at + 1)) {
    std::size_t end = at + word.size();
    if (at > 0 && isWordCharacter(lower[at - 1])) continue;
    if (end < lower.size() && isWordCharacter(lower[end])) continue;
    std::size_t i = end;
    while (i < lower.size() && !isDigit(lower[i])) ++i;
    if (i == lower.size()) return std::nullopt;  // no digit follows any later match either
    std::size_t begin = i;
    while (i < lower.size() && isDigit(lower[i])) ++i;
    return std::string(text.substr(begin, i - begin));
  }
  return std::nullopt;
}

std::optional<std::string> avifFormatLine(std::string_view output) {
  for (std::string_view rawLine : splitLines(output)) {
    std::string line = asciiLowercased(trimWhitespace(rawLine));
    if (!line.starts_with("format:") && !line.starts_with("image format:")) continue;
    std::string original = trimWhitespace(rawLine);
    std::string rest = trimWhitespace(std::string_view(original).substr(original.find(':') + 1));
    std::string word = rest.substr(0, rest.find(' '));
    if (word.empty()) return std::nullopt;
    return "Format: " + word;
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::string> jpegXLDescriptionLines(std::string_view jxlinfoOutput) {
  std::vector<std::string> lines;
  for (std::string_view line : splitLines(jxlinfoOutput)) {
    if (auto described = jpegXLLine(line)) lines.push_back(std::move(*described));
  }
  return lines;
}

std::string describedNumber(std::string_view text) {
  std::string_view word = text.substr(0, text.find(' '));
  if (word.find('.') == std::string_view::npos) return std::string(word);
  auto value = wholeNumber(word);
  if (!value || !std::isfinite(*value)) return std::string(word);
  std::string formatted = fixedNotation(*value, 10);
  std::size_t point = formatted.find('.');
  while (formatted.size() > point + 2 && formatted.back() == '0') formatted.pop_back();
  return formatted;
}

DescribedDisplay jpegXLDescribedDisplay(std::string_view jxlinfoOutput) {
  DescribedDisplay described;
  std::string lower = asciiLowercased(jxlinfoOutput);
  if (lower.find("rec.2100") != std::string::npos && lower.find("pq transfer") != std::string::npos) {
    described.colorSpace = ColorSpace::wellKnown(ColorSpace::WellKnown::bt2100PQ);
  }
  if (auto nits = intensityTarget(jxlinfoOutput)) described.contentHeadroom = std::max(*nits / 100.0, 1.0);
  return described;
}

std::vector<std::string> avifDescriptionLines(std::string_view output) {
  std::vector<std::string> lines;
  if (auto format = avifFormatLine(output)) lines.push_back(std::move(*format));
  if (auto digits = depthDigits(output)) lines.push_back("Pixel Depth: " + *digits + "-bit");
  return lines;
}

}  // namespace quorlin
