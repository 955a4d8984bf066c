// Tool version numbers: reading them from a tool's version output and
// comparing them. Pure functions, thread-safe.
#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorlin {

// The version text of a tool's output: the first line that is not empty after
// trimming spaces and tabs is searched (untrimmed) for the first match of
// \d+\.\d+(?:\.\d+)*; later lines are never examined. Lines are split at "\n"
// and "\r". Nothing when there is no such line or no match.
//   "encoder version 0.11.1 [AVX2]" -> "0.11.1";  "12.76\n" -> "12.76".
std::optional<std::string> parseVersion(std::string_view output);

// The first match of \d+\.\d+(?:\.\d+)* anywhere in `text`.
std::optional<std::string> firstDottedNumber(std::string_view text);

// A dotted version number. Comparison pads the shorter one with zeros, so
// 1.0 == 1.0.0 < 1.0.1 < 1.16 (components compare as numbers, not text).
class ToolVersion {
 public:
  // Accepts one or more decimal components joined by single dots ("1", "0.7.0").
  static std::optional<ToolVersion> fromText(std::string_view text);

  const std::string& text() const { return text_; }
  const std::vector<unsigned long long>& components() const { return components_; }

  friend std::strong_ordering operator<=>(const ToolVersion& a, const ToolVersion& b);
  friend bool operator==(const ToolVersion& a, const ToolVersion& b) { return (a <=> b) == 0; }

 private:
  std::string text_;
  std::vector<unsigned long long> components_;
};

}  // namespace quorlin
