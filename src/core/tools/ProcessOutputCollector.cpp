#include "core/tools/ProcessOutputCollector.h"

namespace quorlin {

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
