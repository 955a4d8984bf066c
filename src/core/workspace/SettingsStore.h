// SettingsStore: the per-user key-value store the application settings live in.
//
// Values are typed: a boolean, a double, a text or a list of texts. Reading a
// key through a typed reader gives nothing when the key is absent or holds a
// value of another type, so a damaged or foreign entry falls back to the
// setting's default instead of being misread.
//
// The desktop build supplies a QSettings-backed store; the command line and
// the tests use InMemorySettingsStore. Stores are used from the main thread.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quorlin {

using SettingsValue = std::variant<bool, double, std::string, std::vector<std::string>>;

class SettingsStore {
 public:
  virtual ~SettingsStore() = default;

  // The stored value, whatever its type; nothing when the key is absent.
  virtual std::optional<SettingsValue> value(std::string_view key) const = 0;
  // Stores `value` under `key` at once, replacing any value of any type.
  virtual void setValue(std::string_view key, const SettingsValue& value) = 0;

  // Typed readers: nothing when the key is absent or holds another type.
  std::optional<bool> boolValue(std::string_view key) const { return typed<bool>(key); }
  std::optional<double> doubleValue(std::string_view key) const { return typed<double>(key); }
  std::optional<std::string> stringValue(std::string_view key) const { return typed<std::string>(key); }
  std::optional<std::vector<std::string>> stringListValue(std::string_view key) const {
    return typed<std::vector<std::string>>(key);
  }

 private:
  template <typename T>
  std::optional<T> typed(std::string_view key) const {
    auto stored = value(key);
    if (!stored) return std::nullopt;
    if (auto* held = std::get_if<T>(&*stored)) return std::move(*held);
    return std::nullopt;
  }
};

class InMemorySettingsStore final : public SettingsStore {
 public:
  std::optional<SettingsValue> value(std::string_view key) const override;
  void setValue(std::string_view key, const SettingsValue& value) override;
  // Forgets `key` (tests use it to model a first start).
  void removeValue(std::string_view key);

 private:
  std::map<std::string, SettingsValue, std::less<>> values_;
};

}  // namespace quorlin
