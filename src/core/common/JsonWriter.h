// JsonWriter: builds one JSON text, pretty-printed with two-space indents.
//
// Strings are written as UTF-8: quotes, backslashes and control characters are
// escaped, valid UTF-8 passes through unchanged, and bytes that are not valid
// UTF-8 become U+FFFD so the result is always valid JSON. The writer trusts its
// caller to nest calls correctly (keys only inside objects, one key per value).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorlin {

// `text` as a JSON string literal, quotes included.
std::string jsonQuoted(std::string_view text);

class JsonWriter {
 public:
  JsonWriter& beginObject();
  JsonWriter& endObject();
  JsonWriter& beginArray();
  JsonWriter& endArray();
  JsonWriter& key(std::string_view name);
  JsonWriter& value(std::string_view text);
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonWriter& value(const std::string& text) { return value(std::string_view(text)); }
  JsonWriter& value(std::int64_t number);
  JsonWriter& value(int number) { return value(static_cast<std::int64_t>(number)); }
  // Shortest text that reads back as the same double, locale-independent;
  // non-finite values become null.
  JsonWriter& value(double number);
  JsonWriter& value(bool flag);
  JsonWriter& null();
  // A string, or null when empty.
  JsonWriter& value(const std::optional<std::string>& text);
  // Any other optional: its value, or null when absent.
  template <typename T>
  JsonWriter& value(const std::optional<T>& optional) {
    return optional ? value(*optional) : null();
  }

  // The text written so far, with a final newline once the outermost value is closed.
  std::string text() const;

 private:
  void beforeValue();
  JsonWriter& endContainer(char closing);
  void newline();

  std::string out_;
  std::vector<bool> hasMembers_;  // per open container
  bool isAfterKey_ = false;
};

}  // namespace quorlin
