#include "core/common/JsonWriter.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/common/TextEncoding.h"

namespace quorlin {

std::string jsonQuoted(std::string_view text) {
  std::string quoted = "\"";
  for (std::size_t index = 0; index < text.size();) {
    char c = text[index];
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x80) {
      std::size_t length = utf8SequenceLength(text, index);
      if (length == 0) {
        quoted += "\xEF\xBF\xBD";  // U+FFFD REPLACEMENT CHARACTER
        ++index;
      } else {
        quoted.append(text.substr(index, length));
        index += length;
      }
      continue;
    }
    switch (c) {
      case '"': quoted += "\\\""; break;
      case '\\': quoted += "\\\\"; break;
      case '\n': quoted += "\\n"; break;
      case '\r': quoted += "\\r"; break;
      case '\t': quoted += "\\t"; break;
      case '\b': quoted += "\\b"; break;
      case '\f': quoted += "\\f"; break;
      default:
        if (byte < 0x20 || byte == 0x7F) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", byte);
          quoted += escape;
        } else {
          quoted += c;
        }
    }
    ++index;
  }
  quoted += '"';
  return quoted;
}

void JsonWriter::newline() {
  out_ += '\n';
  out_.append(hasMembers_.size() * 2, ' ');
}

void JsonWriter::beforeValue() {
  if (isAfterKey_) {
    isAfterKey_ = false;
    return;
  }
  if (hasMembers_.empty()) return;
  if (hasMembers_.back()) out_ += ',';
  hasMembers_.back() = true;
  newline();
}

JsonWriter& JsonWriter::beginObject() {
  beforeValue();
  out_ += '{';
  hasMembers_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::endContainer(char closing) {
  bool hadMembers = hasMembers_.back();
  hasMembers_.pop_back();
  if (hadMembers) newline();
  out_ += closing;
  return *this;
}

JsonWriter& JsonWriter::endObject() { return endContainer('}'); }

JsonWriter& JsonWriter::beginArray() {
  beforeValue();
  out_ += '[';
  hasMembers_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::endArray() { return endContainer(']'); }

JsonWriter& JsonWriter::key(std::string_view name) {
  beforeValue();
  out_ += jsonQuoted(name);
  out_ += ": ";
  isAfterKey_ = true;
  return *this;
}

JsonWriter& JsonWriter::value(std::string_view text) {
  beforeValue();
  out_ += jsonQuoted(text);
  return *this;
}

JsonWriter& JsonWriter::value(std::int64_t number) {
  beforeValue();
  out_ += std::to_string(number);
  return *this;
}

JsonWriter& JsonWriter::value(double number) {
  if (!std::isfinite(number)) return null();
  beforeValue();
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, number);
  out_.append(buffer, error == std::errc() ? end : buffer);
  return *this;
}

JsonWriter& JsonWriter::value(bool flag) {
  beforeValue();
  out_ += flag ? "true" : "false";
  return *this;
}

JsonWriter& JsonWriter::null() {
  beforeValue();
  out_ += "null";
  return *this;
}

JsonWriter& JsonWriter::value(const std::optional<std::string>& text) {
  return text ? value(std::string_view(*text)) : null();
}

std::string JsonWriter::text() const {
  if (hasMembers_.empty() && !out_.empty()) return out_ + "\n";
  return out_;
}

}  // namespace quorlin
