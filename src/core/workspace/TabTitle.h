// Tab labels: long titles are shortened around an ellipsis so every tab keeps
// a readable label. Lengths count user-perceived characters (extended
// grapheme clusters: a flag, an "e" with a combining accent or a family joined
// with zero-width joiners is one character), never bytes or code points.
// Pure; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorlin {

// Titles this long or longer are shortened.
inline constexpr std::size_t tabTitleShorteningThreshold = 29;
inline constexpr std::size_t tabTitleLeadingCharacters = 16;
inline constexpr std::size_t tabTitleTrailingCharacters = 9;

// The number of user-perceived characters of a UTF-8 text. Each ill-formed
// UTF-8 sequence (a stray byte, a truncated character) counts as one.
std::size_t userPerceivedCharacterCount(std::string_view utf8);

// The label of a tab titled `title` (UTF-8): a title of 29 or more characters
// becomes its first 16 characters, "..." and its last 9 characters (28 in
// all); a shorter title is returned whole.
std::string shortenedTabTitle(std::string_view title);

}  // namespace quorlin
