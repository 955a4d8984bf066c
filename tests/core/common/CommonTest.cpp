#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <regex>
#include <thread>
#include <unordered_set>
#include <vector>

#include "core/common/ByteCount.h"
#include "core/common/Cancellation.h"
#include "core/common/CompressionError.h"
#include "core/common/JsonWriter.h"
#include "core/common/MainThreadDispatcher.h"
#include "core/common/TransferCurves.h"
#include "core/common/Uuid.h"

namespace quorlin {
namespace {

using namespace std::chrono_literals;

TEST(FormatByteCountTest, DecimalUnitsAtTheirEdges) {
  const std::pair<std::int64_t, const char*> cases[] = {
      {0, "0 bytes"}, {1, "1 bytes"}, {999, "999 bytes"}, {1000, "1.0 KB"}, {1049, "1.0 KB"},
      {1250, "1.2 KB"},  // printf rounds 1.25 to even
      {999'999, "1000.0 KB"},  // still kilobytes: no early roll-over
      {1'000'000, "1.00 MB"}, {2'350'000, "2.35 MB"}, {7'890'000'000, "7.89 GB"}, {1'000'000'000'000, "1.00 TB"},
      {5'000'000'000'000'000, "5000.00 TB"},  // the largest unit
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(formatByteCount(bytes), text) << bytes;
}

TEST(CompressionErrorTest, MessagesKindsAndPayloads) {
  EXPECT_EQ(CompressionError::missingOutput("/tmp/x/photo-decoded.png").message(),
            "Expected output was not created: photo-decoded.png.");
  // Output is trimmed at both ends, inner newlines stay, the space after the tool always.
  EXPECT_EQ(CompressionError::processFailed("cjxl", "\n  bad input \r\n\n").message(), "cjxl failed. bad input");
  EXPECT_EQ(CompressionError::processFailed("cjxl", " \n\t").message(), "cjxl failed. ");
  EXPECT_EQ(CompressionError::processFailed("avifenc", "a\nb\n").message(), "avifenc failed. a\nb");
  auto failed = CompressionError::processFailed("target search", "No successful probes for WebP.");
  EXPECT_EQ(std::tuple(failed.kind(), failed.tool(), failed.output(), std::string(failed.what())),
            std::tuple(CompressionError::Kind::processFailed, "target search", "No successful probes for WebP.",
                       "target search failed. No successful probes for WebP."));
  auto unsupported = CompressionError::unsupportedByTool("heif-enc", "heif-enc wrote no JPEG 2000 (libheif) data.");
  EXPECT_EQ(std::pair(unsupported.kind(), unsupported.tool()), std::pair(CompressionError::Kind::unsupportedByTool, std::string("heif-enc")));
  EXPECT_EQ(describeError(std::make_exception_ptr(unsupported)), "heif-enc wrote no JPEG 2000 (libheif) data.");
  // File errors give their reason; unknowns say so.
  auto fileError = std::filesystem::filesystem_error("copy", "/ro/out.jxl",
                                                     std::make_error_code(std::errc::permission_denied));
  EXPECT_EQ(describeError(fileError), "Permission denied: /ro/out.jxl.");
  EXPECT_EQ(describeError(std::make_exception_ptr(CancellationError())), "Cancelled.");
  EXPECT_EQ(describeError(std::exception_ptr()), "Unknown error");
}

TEST(JsonWriterTest, EscapesQuotesBackslashesAndControlsAndReplacesInvalidUTF8) {
  const std::pair<std::string, std::string> cases[] = {
      {"say \"hi\"", R"("say \"hi\"")"}, {"C:\\path", R"("C:\\path")"}, {"a\nb\tc\rd\be\ff", R"("a\nb\tc\rd\be\ff")"},
      {std::string("\x01\x1f\x7f", 3), R"("\u0001\u001f\u007f")"}, {std::string("nul\0end", 7), R"("nul\u0000end")"},
      {"/ and ' stay", R"("/ and ' stay")"}, {"", R"("")"}, {"caf\u00e9 \u2713 \U0001F600", "\"caf\u00e9 \u2713 \U0001F600\""},
      {"a\xff" "b", "\"a\uFFFDb\""}, {"\xc0\xaf", "\"\uFFFD\uFFFD\""},       // overlong slash: two bad bytes
      {"\xed\xa0\x80", "\"\uFFFD\uFFFD\uFFFD\""},                           // a surrogate is not UTF-8
      {"end\xe2\x9c", "\"end\uFFFD\uFFFD\""}};                                // cut-off sequence
  for (const auto& [text, quoted] : cases) EXPECT_EQ(jsonQuoted(text), quoted) << text;
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

TEST(QueueDispatcherTest, RunsTasksInPostingOrderOnTheRunningThreadWhoeverPostsThem) {
  QueueDispatcher dispatcher;
  std::vector<int> order;
  for (int i = 0; i < 5; ++i) dispatcher.post([&order, i] { order.push_back(i); });
  EXPECT_TRUE(dispatcher.runPending() == 5 && order == (std::vector<int>{0, 1, 2, 3, 4}));
  const auto mainId = std::this_thread::get_id();
  int ranOnMain = 0;
  std::vector<std::jthread> workers;
  for (int i = 0; i < 4; ++i) {
    workers.emplace_back([&] {
      for (int j = 0; j < 100; ++j) dispatcher.post([&] { ranOnMain += std::this_thread::get_id() == mainId; });
    });
  }
  ASSERT_TRUE(dispatcher.runUntil([&] { return ranOnMain == 400; }, 10s));
  // A steady-clock delayed call wakes runUntil by itself.
  bool fired = false;
  dispatcher.postDelayed(20ms, [&] { fired = true; });
  EXPECT_TRUE(dispatcher.runUntil([&] { return fired; }, 10s));
}

TEST(QueueDispatcherTest, ManualClockRunsDelayedCallsOnlyWhenDueAndNeverOnceCancelled) {
  QueueDispatcher dispatcher(QueueDispatcher::ClockMode::manual);
  std::vector<long long> firedAt;
  auto now = [&] { return std::chrono::duration_cast<std::chrono::milliseconds>(dispatcher.now()).count(); };
  dispatcher.postDelayed(1s, [&] {
    firedAt.push_back(now());
    dispatcher.postDelayed(1s, [&] { firedAt.push_back(now()); });   // sees the advanced clock
  });
  auto cancelled = dispatcher.postDelayed(1s, [&] { firedAt.push_back(-1); });
  const auto pendingBefore = dispatcher.pendingDelayedCalls();
  cancelled.cancel();
  EXPECT_EQ(std::pair(pendingBefore, dispatcher.pendingDelayedCalls()), std::pair(std::size_t{2}, std::size_t{1}));
  dispatcher.runPending();
  dispatcher.advanceClock(999ms);
  EXPECT_TRUE(firedAt.empty());
  dispatcher.advanceClock(1ms);
  EXPECT_EQ(firedAt, (std::vector<long long>{1000}));
  dispatcher.advanceClock(10s);
  EXPECT_EQ(firedAt, (std::vector<long long>{1000, 2000}));
}

// The one copy of the HDR curves (profile builder, renderer and metric use it)
// against the published encodings they invert.
TEST(TransferCurvesTest, InvertThePublishedEncodings) {
  const double m1 = 2610.0 / 16384, m2 = 2523.0 / 4096 * 128, c1 = 3424.0 / 4096, c2 = 2413.0 / 4096 * 32,
               c3 = 2392.0 / 4096 * 32;
  for (double nits : {0.0, 0.1, 100.0, 203.0, 1000.0, 10000.0}) {
    const double y = std::pow(nits / 10000, m1);
    const double signal = std::pow((c1 + c2 * y) / (1 + c3 * y), m2);
    EXPECT_NEAR(transfer::pqToLinear(signal), nits / 10000, 1e-12 + nits / 10000 * 1e-9) << nits;
  }
  const double a = 0.17883277, b = 0.28466892, c = 0.55991073;
  for (double light : {0.0, 0.05, 1.0 / 12, 0.2, 0.5, 1.0}) {
    const double signal = light <= 1.0 / 12 ? std::sqrt(3 * light) : a * std::log(12 * light - b) + c;
    EXPECT_NEAR(transfer::hlgToSceneLinear(signal), light, 1e-12) << light;
  }
}

TEST(UuidTest, RandomIdentifiersAreDistinctCanonicalVersion4TextsThatParseBackInEitherCase) {
  // 8-4-4-4-12 upper-case hex digits, version nibble 4, variant 8, 9, A or B.
  const std::regex canonical("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}");
  std::unordered_set<Uuid> seen;
  for (int i = 0; i < 10000; ++i) {
    const Uuid id = Uuid::random();
    ASSERT_TRUE(seen.insert(id).second);
    if (i % 100 != 0) continue;
    ASSERT_TRUE(std::regex_match(id.uuidString(), canonical)) << id.uuidString();
    std::string lower = id.uuidString();
    for (auto& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_TRUE(Uuid::fromString(id.uuidString()) == id && Uuid::fromString(lower) == id);
  }
  EXPECT_FALSE(Uuid::fromString("not-a-uuid") || Uuid::fromString("6F1C2E1A_3B4D-4C5E-8F90-0A1B2C3D4E5F"));
  EXPECT_TRUE(Uuid().isNil());
}

}  // namespace
}  // namespace quorlin
