#include "core/tools/CommandConsole.h"

#include <gtest/gtest.h>

#include "core/tools/CommandLineQuoting.h"

namespace quorlin {
namespace {

using namespace std::chrono_literals;

const ConsoleClock::time_point start = ConsoleClock::time_point(1'700'000'000s);

TEST(CommandConsoleEntryTest, StatusFollowsTheFirstConditionThatHoldsAndDurationHasTwoDecimals) {
  CommandConsoleEntry entry;
  entry.startedAt = start;
  EXPECT_EQ(entry.statusText(), "Running");
  EXPECT_EQ(entry.durationText(), "running");
  EXPECT_EQ(entry.statusColor(), ConsoleStatusColor::orange);
  entry.exitStatus = 0;
  EXPECT_EQ(entry.statusColor(), ConsoleStatusColor::green);
  entry.exitStatus = -1;
  EXPECT_EQ(entry.statusText(), "Failed (-1)");
  entry.launchError = "Exec format error";  // wins over any status
  EXPECT_EQ(entry.statusText(), "Launch failed: Exec format error");
  EXPECT_EQ(entry.statusColor(), ConsoleStatusColor::red);
  for (auto [ms, text] : {std::pair{1234, "1.23 s"}, {1236, "1.24 s"}, {0, "0.00 s"}, {125000, "125.00 s"}}) {
    entry.finishedAt = start + std::chrono::milliseconds(ms);
    EXPECT_EQ(entry.durationText(), text);
  }
}

TEST(CommandConsoleStoreTest, LaterRunsAreListedOnTopAndFinishOrFailLaunchFillTheEntry) {
  CommandConsoleStore store;
  Uuid first = store.begin("cjxl a b");
  Uuid id = Uuid::random();
  store.begin(id, "cwebp -q 85", start);
  ASSERT_EQ(store.entries().size(), 2u);
  EXPECT_EQ(store.entries()[0].id, id);
  EXPECT_EQ(store.entries()[1].id, first);
  EXPECT_EQ(store.entries()[1].statusText(), "Running");
  EXPECT_EQ(store.entries()[1].output, "");
  store.finish(id, 0, "", start + 1234ms);
  EXPECT_EQ(store.entries().front().commandLine, "cwebp -q 85");
  EXPECT_EQ(store.entries().front().statusText(), "Completed");
  EXPECT_EQ(store.entries().front().durationText(), "1.23 s");
  Uuid failed = Uuid::random();
  store.begin(failed, "cjpegli x", start);
  store.failLaunch(failed, "Permission denied", start + 10ms);
  EXPECT_EQ(store.entries().front().statusText(), "Launch failed: Permission denied");
  EXPECT_EQ(store.entries().front().exitStatus, std::nullopt);
  EXPECT_EQ(store.entries().front().durationText(), "0.01 s");
}

TEST(CommandConsoleStoreTest, FinishAfterClearIsDropped) {
  CommandConsoleStore store;
  Uuid running = store.begin("avifenc slow");
  Uuid launching = store.begin("heif-enc");
  store.clear();
  store.finish(running, 0, "done");
  store.failLaunch(launching, "No such file or directory");
  EXPECT_TRUE(store.entries().empty());

  Uuid later = store.begin("cjxl");
  store.finish(running, 1, "late");  // an unknown id leaves other entries alone
  EXPECT_EQ(store.entries().front().id, later);
  EXPECT_EQ(store.entries().front().statusText(), "Running");
}

TEST(CommandConsoleStoreTest, ObserversHearEveryChangeAfterItHappened) {
  CommandConsoleStore store;
  std::vector<std::string> heard;
  auto observer = store.addChangeObserver([&](const CommandConsoleChange& change) {
    static const char* names[] = {"begun", "finished", "launchFailed", "cleared"};
    // The change is already visible when the observer runs.
    heard.push_back(std::string(names[static_cast<int>(change.kind)]) + ":" +
                    std::to_string(store.entries().size()) + ":" +
                    (store.entries().empty() ? "-" : store.entries().front().statusText()));
  });
  Uuid a = store.begin("one");
  store.finish(a, 0, "");
  Uuid b = store.begin("two");
  store.failLaunch(b, "Exec format error");
  store.clear();
  store.finish(a, 0, "dropped");  // nothing changes, nobody is told
  store.removeChangeObserver(observer);
  store.begin("unheard");
  EXPECT_EQ(heard, (std::vector<std::string>{"begun:1:Running", "finished:1:Completed", "begun:2:Running",
                                             "launchFailed:2:Launch failed: Exec format error", "cleared:0:-"}));
}

TEST(CommandConsoleStoreTest, ObserverMayRemoveItselfWhileBeingCalled) {
  CommandConsoleStore store;
  int calls = 0;
  CommandConsoleStore::ObserverId self = 0;
  self = store.addChangeObserver([&](const CommandConsoleChange&) {
    ++calls;
    store.removeChangeObserver(self);
  });
  int otherCalls = 0;
  store.addChangeObserver([&](const CommandConsoleChange&) { ++otherCalls; });
  store.begin("a");
  store.begin("b");
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(otherCalls, 2);
}

// Plain elements stay bare; whitespace (Unicode's too) and " \ $ ' quote the
// whole element; a single quote becomes close, escape, reopen; malformed UTF-8
// is shown as it is (a cut-off ideographic space is no whitespace).
TEST(CommandLineQuotingTest, EachElementIsQuotedOnlyWhenAShellWouldNeedIt) {
  const std::pair<std::string, std::string> cases[] = {
      {"-d", "-d"}, {"--lossless_jpeg=0", "--lossless_jpeg=0"}, {"/tmp/Brimwell/photo.png", "/tmp/Brimwell/photo.png"},
      {"caf\u00e9-\u2713.png", "caf\u00e9-\u2713.png"}, {"*", "*"}, {"", ""},
      {"My Photo.png", "'My Photo.png'"}, {"tab\there", "'tab\there'"}, {"line1\nline2", "'line1\nline2'"},
      {"a\"b", "'a\"b'"}, {"back\\slash", "'back\\slash'"}, {"$HOME", "'$HOME'"},
      {"a\u00a0b", "'a\u00a0b'"}, {"a\u3000b", "'a\u3000b'"}, {"a'b", "'a'\\''b'"}, {"'", "''\\'''"},
      {"\xff\xfe", "\xff\xfe"}, {"\xe3\x80", "\xe3\x80"}};
  for (const auto& [element, shown] : cases) EXPECT_EQ(quoteForDisplay(element), shown) << element;
  EXPECT_EQ(displayCommandLine("cwebp", {"-q", "", "85"}), "cwebp -q  85");
  EXPECT_EQ(displayCommandLine("exiftool", {}), "exiftool");
}

}  // namespace
}  // namespace quorlin
