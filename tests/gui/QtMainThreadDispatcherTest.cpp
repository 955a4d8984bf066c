// The Qt dispatcher: posted and delayed tasks run on the main thread in order,
// from any thread; cancelled delayed tasks never run; a destroyed dispatcher
// runs nothing more.
#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "GuiTestSupport.h"
#include "gui/app/QtMainThreadDispatcher.h"

namespace quorlin::test {
namespace {

using namespace std::chrono_literals;
using gui::QtMainThreadDispatcher;

constexpr int generousMilliseconds = 60'000;

class QtMainThreadDispatcherTest : public ::testing::Test {
 protected:
  std::shared_ptr<QtMainThreadDispatcher> dispatcher = std::make_shared<QtMainThreadDispatcher>();
  QThread* mainThread = QThread::currentThread();
};

TEST_F(QtMainThreadDispatcherTest, PostedTasksRunLaterOnTheMainThreadInEachPostersOrder) {
  std::vector<int> order;
  dispatcher->post([&] { order.push_back(1); });
  dispatcher->post([&] {
    order.push_back(2);
    dispatcher->post([&] { order.push_back(4); });  // a task's own post goes to the back
  });
  dispatcher->post([&] { order.push_back(3); });
  EXPECT_TRUE(order.empty()) << "posting never runs the task at once";
  ASSERT_TRUE(QTest::qWaitFor([&] { return order.size() == 4; }, generousMilliseconds));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));

  constexpr int workers = 4;
  constexpr int tasksPerWorker = 200;
  std::vector<std::vector<int>> seen(workers);
  std::atomic<int> offMainThread{0};
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < tasksPerWorker; ++i) {
        dispatcher->post([&, w, i] {
          if (QThread::currentThread() != mainThread) ++offMainThread;
          seen[static_cast<std::size_t>(w)].push_back(i);
          ++done;
        });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return done == workers * tasksPerWorker; }, generousMilliseconds));
  EXPECT_EQ(offMainThread.load(), 0);
  for (const auto& list : seen) {
    for (int i = 0; i < tasksPerWorker; ++i) ASSERT_EQ(list[static_cast<std::size_t>(i)], i);
  }
}

TEST_F(QtMainThreadDispatcherTest, DelayedTasksRunOnTheMainThreadNoSoonerThanTheirDelay) {
  const auto posted = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration waited{};
  QThread* ranOn = nullptr;
  std::thread([&] {
    dispatcher->postDelayed(30ms, [&] {
      waited = std::chrono::steady_clock::now() - posted;
      ranOn = QThread::currentThread();
    });
  }).join();
  bool negativeRan = false;
  dispatcher->postDelayed(-5ms, [&] { negativeRan = true; });  // a negative delay is no delay
  EXPECT_FALSE(negativeRan);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ranOn != nullptr; }, generousMilliseconds));
  EXPECT_TRUE(negativeRan);
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

  // Timers fire in the order they fall due, so the cancelled ones had their turn.
  ASSERT_TRUE(QTest::qWaitFor([&] { return sentinelRan; }, generousMilliseconds));
  EXPECT_FALSE(cancelledRan);
  EXPECT_FALSE(startedThenCancelledRan);
  EXPECT_TRUE(cancelledAtOnce.isCancelled());
}

TEST_F(QtMainThreadDispatcherTest, ADestroyedDispatcherRunsNothingMore) {
  bool ran = false;
  dispatcher->post([&] { ran = true; });
  dispatcher->postDelayed(1ms, [&] { ran = true; });
  dispatcher.reset();
  // A later task of another dispatcher: by its turn the dropped ones had theirs.
  bool sentinelRan = false;
  QtMainThreadDispatcher other;
  other.postDelayed(20ms, [&] { sentinelRan = true; });
  ASSERT_TRUE(QTest::qWaitFor([&] { return sentinelRan; }, generousMilliseconds));
  EXPECT_FALSE(ran);
}

}  // namespace
}  // namespace quorlin::test
