#include "core/corpus/CorpusRecord.h"

#include <charconv>
#include <cmath>
#include <map>
#include <variant>

#include "core/common/JsonWriter.h"

namespace quorlin {

namespace {

using JsonValue = std::variant<std::nullptr_t, bool, double, std::string>;

// A flat JSON object of strings, numbers, booleans and nulls: all a record holds.
class FlatObjectReader {
 public:
  explicit FlatObjectReader(std::string_view text) : text_(text) {}

  std::optional<std::map<std::string, JsonValue>> read() {
    std::map<std::string, JsonValue> members;
    if (!consume('{')) return std::nullopt;
    if (consume('}')) return atEnd() ? std::optional(members) : std::nullopt;
    do {
      auto name = string();
      if (!name || !consume(':')) return std::nullopt;
      auto member = value();
      if (!member) return std::nullopt;
      members[*name] = *member;
    } while (consume(','));
    if (!consume('}') || !atEnd()) return std::nullopt;
    return members;
  }

 private:
  void skipSpace() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r')) ++at_;
  }
  bool consume(char c) {
    skipSpace();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool atEnd() {
    skipSpace();
    return at_ == text_.size();
  }
  bool word(std::string_view w) {
    if (text_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }

  std::optional<std::string> string() {
    if (!consume('"')) return std::nullopt;
    std::string out;
    while (at_ < text_.size()) {
      char c = text_[at_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (at_ >= text_.size()) return std::nullopt;
      char e = text_[at_++];
      switch (e) {
        case '"': case '\\': case '/': out.push_back(e); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'n': out.push_back('\n'); break;
        case 'r': out.push_back('\r'); break;
        case 't': out.push_back('\t'); break;
        case 'u': {
          auto code = hex4();
          if (!code) return std::nullopt;
          unsigned long point = *code;
          if (point >= 0xd800 && point < 0xdc00 && word("\\u")) {
            auto low = hex4();
            if (!low) return std::nullopt;
            point = 0x10000 + ((point - 0xd800) << 10) + (*low - 0xdc00);
          }
          appendUtf8(out, point);
          break;
        }
        default: return std::nullopt;
      }
    }
    return std::nullopt;
  }

  std::optional<unsigned> hex4() {
    if (at_ + 4 > text_.size()) return std::nullopt;
    unsigned value = 0;
    auto [end, error] = std::from_chars(text_.data() + at_, text_.data() + at_ + 4, value, 16);
    if (error != std::errc() || end != text_.data() + at_ + 4) return std::nullopt;
    at_ += 4;
    return value;
  }

  static void appendUtf8(std::string& out, unsigned long point) {
    if (point < 0x80) {
      out.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
      out.push_back(static_cast<char>(0xc0 | (point >> 6)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3f)));
    } else if (point < 0x10000) {
      out.push_back(static_cast<char>(0xe0 | (point >> 12)));
      out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3f)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3f)));
    } else {
      out.push_back(static_cast<char>(0xf0 | (point >> 18)));
      out.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3f)));
      out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3f)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3f)));
    }
  }

  std::optional<JsonValue> value() {
    skipSpace();
    if (at_ < text_.size() && text_[at_] == '"') {
      auto text = string();
      if (!text) return std::nullopt;
      return JsonValue(*text);
    }
    if (word("null")) return JsonValue(nullptr);
    if (word("true")) return JsonValue(true);
    if (word("false")) return JsonValue(false);
    double number = 0;
    auto [end, error] = std::from_chars(text_.data() + at_, text_.data() + text_.size(), number);
    if (error != std::errc()) return std::nullopt;
    at_ = static_cast<std::size_t>(end - text_.data());
    return JsonValue(number);
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

class LineWriter {
 public:
  LineWriter& field(std::string_view name, std::string_view text) { return raw(name, jsonQuoted(text)); }
  LineWriter& field(std::string_view name, const char* text) { return field(name, std::string_view(text)); }
  LineWriter& field(std::string_view name, const std::string& text) { return field(name, std::string_view(text)); }
  LineWriter& field(std::string_view name, std::int64_t number) { return raw(name, std::to_string(number)); }
  LineWriter& field(std::string_view name, int number) { return raw(name, std::to_string(number)); }
  LineWriter& field(std::string_view name, bool flag) { return raw(name, flag ? "true" : "false"); }
  LineWriter& field(std::string_view name, double number) {
    return raw(name, std::isfinite(number) ? numberText(number) : "null");
  }
  LineWriter& field(std::string_view name, std::optional<double> number) {
    return number ? field(name, *number) : raw(name, "null");
  }
  std::string line() const { return out_ + "}\n"; }

 private:
  LineWriter& raw(std::string_view name, std::string_view text) {
    out_ += out_.empty() ? "{" : ",";
    out_ += jsonQuoted(name);
    out_ += ':';
    out_ += text;
    return *this;
  }
  std::string out_;
};

}  // namespace

std::string numberText(double value) {
  char buffer[32];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return error == std::errc() ? std::string(buffer, end) : "0";
}

std::string unitKey(std::string_view imageSha256, std::string_view signature, double setting) {
  std::string key(imageSha256);
  key.append("\n").append(signature).append("\n").append(numberText(setting));
  return key;
}

std::string CorpusRecord::key() const { return unitKey(imageSha256, signature, setting); }

std::string recordLine(const CorpusRecord& r) {
  return LineWriter()
      .field("image", r.image)
      .field("path", r.path)
      .field("imageSha256", r.imageSha256)
      .field("width", r.width)
      .field("height", r.height)
      .field("panel", r.panel)
      .field("codec", r.codec)
      .field("signature", r.signature)
      .field("setting", r.setting)
      .field("isTarget", r.isTarget)
      .field("foundSetting", r.foundSetting)
      .field("tool", r.tool)
      .field("toolVersion", r.toolVersion)
      .field("encodedSize", r.encodedSize)
      .field("bitsPerPixel", r.bitsPerPixel)
      .field("ssimulacra2", r.ssimulacra2)
      .field("encodeSeconds", r.encodeSeconds)
      .field("decodeSeconds", r.decodeSeconds)
      .field("status", r.isOk ? "ok" : "failed")
      .field("error", r.error)
      .field("host", r.host)
      .line();
}

std::optional<CorpusRecord> parseRecordLine(std::string_view line) {
  auto members = FlatObjectReader(line).read();
  if (!members) return std::nullopt;
  bool isComplete = true;
  auto text = [&](const char* name) -> std::string {
    auto found = members->find(name);
    if (found == members->end() || !std::holds_alternative<std::string>(found->second)) {
      isComplete = false;
      return {};
    }
    return std::get<std::string>(found->second);
  };
  auto optionalNumber = [&](const char* name) -> std::optional<double> {
    auto found = members->find(name);
    if (found == members->end()) {
      isComplete = false;
      return std::nullopt;
    }
    if (auto* number = std::get_if<double>(&found->second)) return *number;
    if (!std::holds_alternative<std::nullptr_t>(found->second)) isComplete = false;
    return std::nullopt;
  };
  auto number = [&](const char* name) {
    auto value = optionalNumber(name);
    if (!value) isComplete = false;
    return value.value_or(0);
  };
  CorpusRecord r;
  r.image = text("image");
  r.path = text("path");
  r.imageSha256 = text("imageSha256");
  r.width = static_cast<std::int64_t>(number("width"));
  r.height = static_cast<std::int64_t>(number("height"));
  r.panel = static_cast<int>(number("panel"));
  r.codec = text("codec");
  r.signature = text("signature");
  r.setting = number("setting");
  auto target = members->find("isTarget");
  if (target == members->end() || !std::holds_alternative<bool>(target->second)) return std::nullopt;
  r.isTarget = std::get<bool>(target->second);
  r.foundSetting = optionalNumber("foundSetting");
  r.tool = text("tool");
  r.toolVersion = text("toolVersion");
  r.encodedSize = static_cast<std::int64_t>(number("encodedSize"));
  r.bitsPerPixel = optionalNumber("bitsPerPixel");
  r.ssimulacra2 = optionalNumber("ssimulacra2");
  r.encodeSeconds = number("encodeSeconds");
  r.decodeSeconds = number("decodeSeconds");
  const std::string status = text("status");
  r.isOk = status == "ok";
  r.error = text("error");
  r.host = text("host");
  if (!isComplete || (status != "ok" && status != "failed") || r.imageSha256.size() != 64 || r.panel < 1) {
    return std::nullopt;
  }
  return r;
}

}  // namespace quorlin
