// Byte-level text helpers shared by every layer: UTF-8 well-formedness and
// locale-independent ASCII case folding (file extensions, tool output).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorlin {

// Length of the well-formed UTF-8 sequence at `index` (1 for ASCII), or 0 when
// it is malformed: overlong, a surrogate, beyond U+10FFFF or cut short.
std::size_t utf8SequenceLength(std::string_view text, std::size_t index);

// True when every byte belongs to a well-formed UTF-8 sequence.
bool isValidUTF8(std::string_view bytes);

// A-Z lowered; every other byte, including non-ASCII, unchanged.
inline char asciiLowercase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
std::string asciiLowercased(std::string_view text);
bool equalsIgnoringASCIICase(std::string_view a, std::string_view b);

}  // namespace quorlin
