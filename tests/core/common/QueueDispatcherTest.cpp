#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/common/MainThreadDispatcher.h"

namespace quorlin {
namespace {

using namespace std::chrono_literals;

TEST(QueueDispatcherTest, RunsTasksInPostingOrderOnTheRunningThreadWhoeverPostsThem) {
  QueueDispatcher dispatcher;
  std::vector<int> order;
  for (int i = 0; i < 5; ++i) dispatcher.post([&order, i] { order.push_back(i); });
  EXPECT_EQ(dispatcher.runPending(), 5u);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
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
  EXPECT_EQ(dispatcher.pendingDelayedCalls(), 2u);
  cancelled.cancel();
  EXPECT_EQ(dispatcher.pendingDelayedCalls(), 1u);
  dispatcher.runPending();
  dispatcher.advanceClock(999ms);
  EXPECT_TRUE(firedAt.empty());
  dispatcher.advanceClock(1ms);
  EXPECT_EQ(firedAt, (std::vector<long long>{1000}));
  dispatcher.advanceClock(10s);
  EXPECT_EQ(firedAt, (std::vector<long long>{1000, 2000}));
}

}  // namespace
}  // namespace quorlin
