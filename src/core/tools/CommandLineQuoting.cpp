#include "core/tools/CommandLineQuoting.h"

#include <cstdint>

namespace quorlin {

namespace {

bool isUnicodeWhitespace(std::uint32_t codePoint) {
  switch (codePoint) {
    case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return codePoint >= 0x2000 && codePoint <= 0x200A;
  }
}

// Decodes the UTF-8 sequence starting at `text[index]`; returns its code point
// and advances `index`. A malformed byte decodes as itself (never whitespace).
std::uint32_t nextCodePoint(std::string_view text, std::size_t& index) {
  auto byte = static_cast<unsigned char>(text[index]);
  int length = byte < 0x80 ? 1 : (byte >> 5) == 0x6 ? 2 : (byte >> 4) == 0xE ? 3 : (byte >> 3) == 0x1E ? 4 : 0;
  if (length <= 1 || index + static_cast<std::size_t>(length) > text.size()) {
    ++index;
    return byte;
  }
  std::uint32_t codePoint = byte & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    auto continuation = static_cast<unsigned char>(text[index + static_cast<std::size_t>(i)]);
    if ((continuation & 0xC0) != 0x80) {
      ++index;
      return byte;
    }
    codePoint = (codePoint << 6) | (continuation & 0x3F);
  }
  index += static_cast<std::size_t>(length);
  return codePoint;
}

bool needsQuoting(std::string_view element) {
  for (std::size_t index = 0; index < element.size();) {
    std::uint32_t codePoint = nextCodePoint(element, index);
    switch (codePoint) {
      case ' ': case '\t': case '\n': case '\v': case '\f': case '\r':
      case '\'': case '"': case '\\': case '$':
        return true;
      default:
        if (isUnicodeWhitespace(codePoint)) return true;
    }
  }
  return false;
}

}  // namespace

std::string quoteForDisplay(std::string_view element) {
  if (!needsQuoting(element)) return std::string(element);
  std::string quoted = "'";
  for (char c : element) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  quoted += '\'';
  return quoted;
}

std::string displayCommandLine(std::string_view tool, const std::vector<std::string>& arguments) {
  std::string line = quoteForDisplay(tool);
  for (const auto& argument : arguments) {
    line += ' ';
    line += quoteForDisplay(argument);
  }
  return line;
}

}  // namespace quorlin
