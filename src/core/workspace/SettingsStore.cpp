#include "core/workspace/SettingsStore.h"

namespace quorlin {

std::optional<SettingsValue> InMemorySettingsStore::value(std::string_view key) const {
  auto found = values_.find(key);
  if (found == values_.end()) return std::nullopt;
  return found->second;
}

void InMemorySettingsStore::setValue(std::string_view key, const SettingsValue& value) {
  values_.insert_or_assign(std::string(key), value);
}

void InMemorySettingsStore::removeValue(std::string_view key) {
  auto found = values_.find(key);
  if (found != values_.end()) values_.erase(found);
}

}  // namespace quorlin
