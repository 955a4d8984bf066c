#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/common/MainThreadDispatcher.h"

namespace quorlin {
namespace {

using namespace std::chrono_literals;

TEST(QueueDispatcherTest, RunsPostedTasksInPostingOrder) {
  QueueDispatcher dispatcher;
  std::vector<int> order;
  for (int i = 0; i < 5; ++i) dispatcher.post([&order, i] { order.push_back(i); });
  EXPECT_EQ(dispatcher.runPending(), 5u);
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(QueueDispatcherTest, TasksFromWorkerThreadsArriveOnTheRunningThread) {
  QueueDispatcher dispatcher;
  const auto mainId = std::this_thread::get_id();
  int ranOnMain = 0;
  std::vector<std::jthread> workers;
  for (int i = 0; i < 4; ++i) {
    workers.emplace_back([&] {
      for (int j = 0; j < 100; ++j) dispatcher.post([&] { ranOnMain += std::this_thread::get_id() == mainId; });
    });
  }
  ASSERT_TRUE(dispatcher.runUntil([&] { return ranOnMain == 400; }, 10s));
}

TEST(QueueDispatcherTest, ManualClockRunsDelayedCallsOnlyWhenDue) {
  QueueDispatcher dispatcher(QueueDispatcher::ClockMode::manual);
  int fired = 0;
  dispatcher.postDelayed(1s, [&] { ++fired; });
  dispatcher.runPending();
  EXPECT_EQ(fired, 0);
  dispatcher.advanceClock(999ms);
  EXPECT_EQ(fired, 0);
  dispatcher.advanceClock(1ms);
  EXPECT_EQ(fired, 1);
  dispatcher.advanceClock(10s);
  EXPECT_EQ(fired, 1);
}

TEST(QueueDispatcherTest, CancelledDelayedCallNeverRuns) {
  QueueDispatcher dispatcher(QueueDispatcher::ClockMode::manual);
  int fired = 0;
  auto call = dispatcher.postDelayed(1s, [&] { ++fired; });
  EXPECT_EQ(dispatcher.pendingDelayedCalls(), 1u);
  call.cancel();
  EXPECT_EQ(dispatcher.pendingDelayedCalls(), 0u);
  dispatcher.advanceClock(5s);
  EXPECT_EQ(fired, 0);
}

TEST(QueueDispatcherTest, CallsPostedByDelayedCallsSeeTheAdvancedClock) {
  QueueDispatcher dispatcher(QueueDispatcher::ClockMode::manual);
  std::vector<long long> firedAt;
  dispatcher.postDelayed(1s, [&] {
    firedAt.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(dispatcher.now()).count());
    dispatcher.postDelayed(1s, [&] {
      firedAt.push_back(std::chrono::duration_cast<std::chrono::milliseconds>(dispatcher.now()).count());
    });
  });
  dispatcher.advanceClock(3s);
  EXPECT_EQ(firedAt, (std::vector<long long>{1000, 2000}));
}

TEST(QueueDispatcherTest, SteadyClockDelayedCallWakesRunUntil) {
  QueueDispatcher dispatcher;
  bool fired = false;
  dispatcher.postDelayed(20ms, [&] { fired = true; });
  EXPECT_TRUE(dispatcher.runUntil([&] { return fired; }, 10s));
}

}  // namespace
}  // namespace quorlin
