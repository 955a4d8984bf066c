// SIGINT and SIGTERM reach the application as calls on the main thread, after
// the handler has returned, and each signal is reported once.
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <vector>

#include "GuiTestSupport.h"
#include "gui/app/TerminationSignals.h"

namespace quorlin::test {
namespace {

TEST(TerminationSignalsTest, EachSignalIsHandedToTheMainThreadOnce) {
  std::vector<int> received;
  QThread* calledOn = nullptr;
  {
    gui::TerminationSignals watcher([&](int signalNumber) {
      received.push_back(signalNumber);
      calledOn = QThread::currentThread();
    });
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(received.empty()) << "nothing runs inside the signal handler";
    ASSERT_EQ(std::raise(SIGINT), 0);
    // Both bytes are in the pipe before the first read, so a duplicate would
    // arrive with them.
    EXPECT_TRUE(QTest::qWaitFor([&] { return received.size() >= 2; }, 60'000));
  }
  EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT}));
  EXPECT_EQ(calledOn, QThread::currentThread());
}

}  // namespace
}  // namespace quorlin::test
