#include "core/tools/ProcessOutputCollector.h"

namespace quorlin {

std::string decodeUTF8Replacing(std::string_view bytes) {
  if (isValidUTF8(bytes)) return std::string(bytes);
  std::string text;
  text.reserve(bytes.size() + 16);
  for (std::size_t index = 0; index < bytes.size();) {
    if (std::size_t length = utf8SequenceLength(bytes, index)) {
      text.append(bytes.substr(index, length));
      index += length;
    } else {
      text.append("\xEF\xBF\xBD");
      ++index;
    }
  }
  return text;
}

void ProcessOutputCollector::append(std::span<const char> chunk) {
  if (chunk.empty()) return;
  std::lock_guard guard(lock_);
  if (chunk.size() >= keptBytes_) {
    dropped_ += data_.size() + (chunk.size() - keptBytes_);
    data_.assign(chunk.data() + (chunk.size() - keptBytes_), keptBytes_);
    return;
  }
  data_.append(chunk.data(), chunk.size());
  // Trimmed in batches, so a long stream of small chunks costs amortised O(1).
  if (data_.size() > 2 * keptBytes_) {
    const std::size_t excess = data_.size() - keptBytes_;
    data_.erase(0, excess);
    dropped_ += excess;
  }
}

std::string ProcessOutputCollector::text() const {
  std::lock_guard guard(lock_);
  std::string_view kept(data_);
  std::uint64_t omitted = dropped_;
  if (kept.size() > keptBytes_) {
    omitted += kept.size() - keptBytes_;
    kept.remove_prefix(kept.size() - keptBytes_);
  }
  if (omitted == 0) return decodeUTF8Replacing(kept);
  // The cut may have split a character: its remaining pieces go too.
  while (!kept.empty() && (static_cast<unsigned char>(kept.front()) & 0xC0) == 0x80) {
    kept.remove_prefix(1);
    ++omitted;
  }
  return "\u2026 " + std::to_string(omitted) + " bytes omitted\n" + decodeUTF8Replacing(kept);
}

std::string ProcessOutputCollector::bytes() const {
  std::lock_guard guard(lock_);
  return data_.size() > keptBytes_ ? data_.substr(data_.size() - keptBytes_) : data_;
}

std::uint64_t ProcessOutputCollector::omittedByteCount() const {
  std::lock_guard guard(lock_);
  return dropped_ + (data_.size() > keptBytes_ ? data_.size() - keptBytes_ : 0);
}

}  // namespace quorlin
