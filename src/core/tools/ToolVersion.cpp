#include "core/tools/ToolVersion.h"

#include <algorithm>
#include <regex>

namespace quorlin {

std::optional<std::string> firstDottedNumber(std::string_view text) {
  static const std::regex pattern(R"(\d+\.\d+(?:\.\d+)*)");
  std::match_results<std::string_view::const_iterator> match;
  if (!std::regex_search(text.begin(), text.end(), match, pattern)) return std::nullopt;
  return match.str();
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
