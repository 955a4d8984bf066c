// JsonWriter: a small writer of indented JSON for the command line's --json
// outputs. Values are appended in order; the writer inserts commas, quotes
// and escapes strings, writes numbers locale-independently (doubles in their
// shortest exact form, non-finite ones as null) and indents by two spaces.
// Misuse (a value where a key is due) is the caller's bug and not checked.
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorlin::cli {

class JsonWriter {
 public:
  JsonWriter& beginObject() { return open('{'); }
  JsonWriter& endObject() { return close('}'); }
  JsonWriter& beginArray() { return open('['); }
  JsonWriter& endArray() { return close(']'); }

  JsonWriter& key(std::string_view name) {
    separate();
    appendString(name);
    text_ += ": ";
    afterKey_ = true;
    return *this;
  }

  JsonWriter& value(std::string_view text) {
    separate();
    appendString(text);
    return *this;
  }
  JsonWriter& value(const char* text) { return value(std::string_view(text)); }
  JsonWriter& value(bool flag) { return raw(flag ? "true" : "false"); }
  JsonWriter& value(std::int64_t number) { return raw(std::to_string(number)); }
  JsonWriter& value(int number) { return raw(std::to_string(number)); }
  JsonWriter& value(double number) {
    if (!std::isfinite(number)) return null();
    char buffer[64];
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, number);
    return raw(std::string(buffer, end));
  }
  JsonWriter& null() { return raw("null"); }

  // An optional value, or null when absent.
  template <typename T>
  JsonWriter& value(const std::optional<T>& optional) {
    return optional ? value(*optional) : null();
  }

  // The document so far, with a final newline once everything is closed.
  std::string str() const { return depth_.empty() ? text_ + "\n" : text_; }

 private:
  JsonWriter& raw(std::string_view token) {
    separate();
    text_ += token;
    return *this;
  }

  JsonWriter& open(char bracket) {
    separate();
    text_ += bracket;
    depth_.push_back(true);
    return *this;
  }

  JsonWriter& close(char bracket) {
    bool empty = depth_.back();
    depth_.pop_back();
    if (!empty) newline();
    text_ += bracket;
    return *this;
  }

  // Before any value or key: a comma after a sibling, a line break inside a container.
  void separate() {
    if (afterKey_) {
      afterKey_ = false;
      return;
    }
    if (depth_.empty()) return;
    if (!depth_.back()) text_ += ',';
    depth_.back() = false;
    newline();
  }

  void newline() {
    text_ += '\n';
    text_.append(depth_.size() * 2, ' ');
  }

  void appendString(std::string_view text) {
    text_ += '"';
    for (char c : text) {
      switch (c) {
        case '"': text_ += "\\\""; break;
        case '\\': text_ += "\\\\"; break;
        case '\n': text_ += "\\n"; break;
        case '\r': text_ += "\\r"; break;
        case '\t': text_ += "\\t"; break;
        default:
          if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            text_ += escape;
          } else {
            text_ += c;  // UTF-8 passes through unchanged
          }
      }
    }
    text_ += '"';
  }

  std::string text_;
  std::vector<bool> depth_;  // per open container: still empty?
  bool afterKey_ = false;
};

}  // namespace quorlin::cli
