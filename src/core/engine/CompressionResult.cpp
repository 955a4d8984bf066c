#include "core/engine/CompressionResult.h"

#include <system_error>

#include "core/engine/CodecPanel.h"

namespace quorlin {

void CompressionResult::removeWorkDirectory() const {
  if (workDirectory.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(workDirectory, ignored);
}

std::optional<std::string> foundParameterLabel(const CompressionResult& result) {
  if (result.foundQuality) return "Quality " + std::to_string(*result.foundQuality);
  if (result.foundDistance) return "Distance " + formatDistance(*result.foundDistance);
  return std::nullopt;
}

}  // namespace quorlin
