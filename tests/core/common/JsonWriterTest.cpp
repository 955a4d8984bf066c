#include "core/common/JsonWriter.h"

#include <gtest/gtest.h>

namespace quorlin {
namespace {

TEST(JsonWriterTest, EscapesQuotesBackslashesAndControlCharacters) {
  EXPECT_EQ(jsonQuoted("say \"hi\""), R"("say \"hi\"")");
  EXPECT_EQ(jsonQuoted("C:\\path"), R"("C:\\path")");
  EXPECT_EQ(jsonQuoted("a\nb\tc\rd\be\ff"), R"("a\nb\tc\rd\be\ff")");
  EXPECT_EQ(jsonQuoted(std::string("\x01\x1f\x7f", 3)), R"("\u0001\u001f\u007f")");
  EXPECT_EQ(jsonQuoted(std::string("nul\0end", 7)), R"("nul\u0000end")");
  EXPECT_EQ(jsonQuoted("/ and ' stay"), R"("/ and ' stay")");
  EXPECT_EQ(jsonQuoted(""), R"("")");
}

TEST(JsonWriterTest, ValidUTF8PassesThroughAndInvalidBytesBecomeReplacementCharacters) {
  EXPECT_EQ(jsonQuoted("caf\u00e9 \u2713 \U0001F600"), "\"caf\u00e9 \u2713 \U0001F600\"");
  EXPECT_EQ(jsonQuoted("a\xff" "b"), "\"a\uFFFDb\"");
  EXPECT_EQ(jsonQuoted("\xc0\xaf"), "\"\uFFFD\uFFFD\"");          // overlong slash: two bad bytes
  EXPECT_EQ(jsonQuoted("\xed\xa0\x80"), "\"\uFFFD\uFFFD\uFFFD\"");  // a surrogate is not UTF-8
  EXPECT_EQ(jsonQuoted("end\xe2\x9c"), "\"end\uFFFD\uFFFD\"");      // cut-off sequence
}

TEST(JsonWriterTest, NestsObjectsAndArraysWithTwoSpaceIndents) {
  JsonWriter json;
  json.beginObject();
  json.key("name").value("cjxl");
  json.key("count").value(std::int64_t{-3});
  json.key("ok").value(true);
  json.key("none").null();
  json.key("maybe").value(std::optional<std::string>());
  json.key("empty").beginArray().endArray();
  json.key("emptyObject").beginObject().endObject();
  json.key("list").beginArray().value("a").beginObject().key("k\"ey").value(false).endObject().endArray();
  json.endObject();
  EXPECT_EQ(json.text(), R"({
  "name": "cjxl",
  "count": -3,
  "ok": true,
  "none": null,
  "maybe": null,
  "empty": [],
  "emptyObject": {},
  "list": [
    "a",
    {
      "k\"ey": false
    }
  ]
}
)");
}

}  // namespace
}  // namespace quorlin
