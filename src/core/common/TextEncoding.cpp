#include "core/common/TextEncoding.h"

#include <algorithm>
#include <cstdint>

namespace quorlin {

std::size_t utf8SequenceLength(std::string_view text, std::size_t index) {
  auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byteAt(index);
  std::size_t length;
  std::uint32_t minimum;
  std::uint32_t codePoint;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, minimum = 0x80, codePoint = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, codePoint = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, minimum = 0x10000, codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (index + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byteAt(index + i) & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (byteAt(index + i) & 0x3F);
  }
  if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
  return length;
}

bool isValidUTF8(std::string_view bytes) {
  for (std::size_t index = 0; index < bytes.size();) {
    const std::size_t length = utf8SequenceLength(bytes, index);
    if (length == 0) return false;
    index += length;
  }
  return true;
}

std::string asciiLowercased(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(), asciiLowercase);
  return lower;
}

bool equalsIgnoringASCIICase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return asciiLowercase(x) == asciiLowercase(y); });
}

}  // namespace quorlin
