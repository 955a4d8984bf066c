#include "core/tools/ToolVersion.h"

#include <algorithm>

namespace quorlin {

std::optional<std::string> firstDottedNumber(std::string_view text) {
  // The pattern \d+\.\d+(?:\.\d+)*, matched by hand: the leftmost start whose digit run is followed by
  // a dot and a digit, extended greedily by further dot-digits groups.
  auto isDigit = [&](std::size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
  auto skipDigits = [&](std::size_t i) {
    while (isDigit(i)) ++i;
    return i;
  };
  auto dotDigitAt = [&](std::size_t i) { return i < text.size() && text[i] == '.' && isDigit(i + 1); };
  for (std::size_t start = 0; start < text.size(); ++start) {
    if (!isDigit(start)) continue;
    std::size_t end = skipDigits(start);
    if (!dotDigitAt(end)) continue;
    while (dotDigitAt(end)) end = skipDigits(end + 1);
    return std::string(text.substr(start, end - start));
  }
  return std::nullopt;
}

std::optional<std::string> parseVersion(std::string_view output) {
  std::size_t start = 0;
  while (start <= output.size()) {
    std::size_t end = output.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = output.size();
    std::string_view line = output.substr(start, end - start);
    if (line.find_first_not_of(" \t") != std::string_view::npos) return firstDottedNumber(line);
    start = end + 1;
  }
  return std::nullopt;
}

std::optional<ToolVersion> ToolVersion::fromText(std::string_view text) {
  ToolVersion version;
  unsigned long long component = 0;
  bool hasDigit = false;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      if (component > 100'000'000'000'000ULL) return std::nullopt;  // no real version is that long
      component = component * 10 + static_cast<unsigned long long>(c - '0');
      hasDigit = true;
    } else if (c == '.' && hasDigit) {
      version.components_.push_back(component);
      component = 0;
      hasDigit = false;
    } else {
      return std::nullopt;
    }
  }
  if (!hasDigit) return std::nullopt;
  version.components_.push_back(component);
  version.text_ = std::string(text);
  return version;
}

std::strong_ordering operator<=>(const ToolVersion& a, const ToolVersion& b) {
  const std::size_t count = std::max(a.components_.size(), b.components_.size());
  for (std::size_t i = 0; i < count; ++i) {
    unsigned long long left = i < a.components_.size() ? a.components_[i] : 0;
    unsigned long long right = i < b.components_.size() ? b.components_[i] : 0;
    if (auto order = left <=> right; order != 0) return order;
  }
  return std::strong_ordering::equal;
}

}  // namespace quorlin
