#include "core/workspace/TabTitle.h"

#include <unicode/brkiter.h>
#include <unicode/utext.h>

#include <memory>
#include <vector>

namespace quorlin {

namespace {

struct UTextCloser {
  void operator()(UText* text) const { utext_close(text); }
};

// Byte offsets of every character boundary of `utf8`, from 0 to its size.
std::vector<std::size_t> characterBoundaries(std::string_view utf8) {
  std::vector<std::size_t> boundaries{0};
  if (utf8.empty()) return boundaries;
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UText, UTextCloser> text(
      utext_openUTF8(nullptr, utf8.data(), static_cast<int64_t>(utf8.size()), &status));
  std::unique_ptr<icu::BreakIterator> iterator(icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
  if (U_FAILURE(status) || !text || !iterator) {
    // ICU without its data cannot tell clusters apart: fall back to bytes
    // rather than fail (the label is then merely shortened a little early).
    for (std::size_t offset = 1; offset <= utf8.size(); ++offset) boundaries.push_back(offset);
    return boundaries;
  }
  iterator->setText(text.get(), status);
  // The iterator reports native (byte) indices for UTF-8 text.
  iterator->first();
  for (int32_t boundary = iterator->next(); boundary != icu::BreakIterator::DONE; boundary = iterator->next()) {
    boundaries.push_back(static_cast<std::size_t>(boundary));
  }
  if (boundaries.back() != utf8.size()) boundaries.push_back(utf8.size());
  return boundaries;
}

}  // namespace

std::size_t userPerceivedCharacterCount(std::string_view utf8) { return characterBoundaries(utf8).size() - 1; }

std::string shortenedTabTitle(std::string_view title) {
  const auto boundaries = characterBoundaries(title);
  const std::size_t count = boundaries.size() - 1;
  if (count < tabTitleShorteningThreshold) return std::string(title);
  std::string label(title.substr(0, boundaries[tabTitleLeadingCharacters]));
  label += "...";
  label += title.substr(boundaries[count - tabTitleTrailingCharacters]);
  return label;
}

}  // namespace quorlin
