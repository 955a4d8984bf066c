// The Qt dispatcher: posted and delayed tasks run on the main thread in order,
// from any thread; cancelled delayed tasks never run; a destroyed dispatcher
// runs nothing more.
#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "GuiTestSupport.h"
#include "gui/app/QtMainThreadDispatcher.h"

namespace quorlin::test {
namespace {

using namespace std::chrono_literals;
using gui::QtMainThreadDispatcher;

// Runs the event loop until `done` holds; false after a bound far beyond any expected wait.
bool runEventsUntil(const std::function<bool()>& done) {
  const auto giveUp = std::chrono::steady_clock::now() + 60s;
  while (!done()) {
    if (std::chrono::steady_clock::now() > giveUp) return false;
    QTest::qWait(2);
  }
  return true;
}

class QtMainThreadDispatcherTest : public ::testing::Test {
 protected:
  std::shared_ptr<QtMainThreadDispatcher> dispatcher = std::make_shared<QtMainThreadDispatcher>();
  QThread* mainThread = QThread::currentThread();
};

TEST_F(QtMainThreadDispatcherTest, PostedTasksRunLaterOnTheMainThreadInPostingOrder) {
  std::vector<int> order;
  dispatcher->post([&] { order.push_back(1); });
  dispatcher->post([&] {
    order.push_back(2);
    dispatcher->post([&] { order.push_back(4); });  // a task's own post goes to the back
  });
  dispatcher->post([&] { order.push_back(3); });
  EXPECT_TRUE(order.empty()) << "posting never runs the task at once";
  ASSERT_TRUE(runEventsUntil([&] { return order.size() == 4; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(QtMainThreadDispatcherTest, TasksPostedFromWorkersRunOnTheMainThreadInEachWorkersOrder) {
  constexpr int workers = 4;
  constexpr int tasksPerWorker = 200;
  std::vector<std::vector<int>> seen(workers);
  std::atomic<int> offMainThread{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < tasksPerWorker; ++i) {
        dispatcher->post([&, w, i] {
          if (QThread::currentThread() != mainThread) ++offMainThread;
          seen[static_cast<std::size_t>(w)].push_back(i);
        });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(runEventsUntil([&] {
    for (const auto& list : seen) {
      if (list.size() != tasksPerWorker) return false;
    }
    return true;
  }));
  EXPECT_EQ(offMainThread.load(), 0);
  for (const auto& list : seen) {
    for (int i = 0; i < tasksPerWorker; ++i) ASSERT_EQ(list[static_cast<std::size_t>(i)], i);
  }
}

TEST_F(QtMainThreadDispatcherTest, DelayedTasksRunOnTheMainThreadNoSoonerThanTheirDelay) {
  const auto posted = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration waited{};
  QThread* ranOn = nullptr;
  std::thread worker([&] {
    dispatcher->postDelayed(30ms, [&] {
      waited = std::chrono::steady_clock::now() - posted;
      ranOn = QThread::currentThread();
    });
  });
  worker.join();
  ASSERT_TRUE(runEventsUntil([&] { return ranOn != nullptr; }));
  EXPECT_EQ(ranOn, mainThread);
  EXPECT_GE(waited, 29ms);  // timers may round to the millisecond
}

TEST_F(QtMainThreadDispatcherTest, ACancelledDelayedTaskNeverRuns) {
  bool cancelledRan = false;
  bool startedThenCancelledRan = false;
  bool sentinelRan = false;

  DelayedCall cancelledAtOnce = dispatcher->postDelayed(5ms, [&] { cancelledRan = true; });
  cancelledAtOnce.cancel();
  DelayedCall cancelledLater = dispatcher->postDelayed(20ms, [&] { startedThenCancelledRan = true; });
  QCoreApplication::processEvents();  // its timer is running now
  std::thread([&] { cancelledLater.cancel(); }).join();  // cancelling works from any thread
  dispatcher->postDelayed(40ms, [&] { sentinelRan = true; });

  ASSERT_TRUE(runEventsUntil([&] { return sentinelRan; }));
  QTest::qWait(5);
  EXPECT_FALSE(cancelledRan);
  EXPECT_FALSE(startedThenCancelledRan);
  EXPECT_TRUE(cancelledAtOnce.isCancelled());
}

TEST_F(QtMainThreadDispatcherTest, ANegativeDelayIsNoDelay) {
  bool ran = false;
  dispatcher->postDelayed(-5ms, [&] { ran = true; });
  EXPECT_FALSE(ran);
  ASSERT_TRUE(runEventsUntil([&] { return ran; }));
}

TEST_F(QtMainThreadDispatcherTest, ADestroyedDispatcherRunsNothingMore) {
  bool ran = false;
  dispatcher->post([&] { ran = true; });
  dispatcher->postDelayed(1ms, [&] { ran = true; });
  dispatcher.reset();
  QTest::qWait(20);
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace quorlin::test
