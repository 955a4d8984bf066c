#include "core/tools/ProcessOutputCollector.h"

#include <cstdint>

namespace quorlin {

bool isValidUTF8(std::string_view bytes) {
  std::size_t index = 0;
  const std::size_t size = bytes.size();
  auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  while (index < size) {
    unsigned char lead = byteAt(index);
    if (lead < 0x80) {
      ++index;
      continue;
    }
    std::size_t length;
    std::uint32_t minimum;
    std::uint32_t codePoint;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2, minimum = 0x80, codePoint = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, minimum = 0x800, codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4, minimum = 0x10000, codePoint = lead & 0x07;
    } else {
      return false;
    }
    if (index + length > size) return false;
    for (std::size_t i = 1; i < length; ++i) {
      unsigned char continuation = byteAt(index + i);
      if ((continuation & 0xC0) != 0x80) return false;
      codePoint = (codePoint << 6) | (continuation & 0x3F);
    }
    if (codePoint < minimum || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return false;
    index += length;
  }
  return true;
}

void ProcessOutputCollector::append(std::span<const char> chunk) {
  if (chunk.empty()) return;
  std::lock_guard guard(lock);
  data.append(chunk.data(), chunk.size());
}

std::string ProcessOutputCollector::text() const {
  std::lock_guard guard(lock);
  if (!isValidUTF8(data)) return {};
  return data;
}

std::string ProcessOutputCollector::bytes() const {
  std::lock_guard guard(lock);
  return data;
}

}  // namespace quorlin
