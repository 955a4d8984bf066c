// SIGINT and SIGTERM reach the application as calls on the main thread, after
// the handler has returned, and each signal is reported once.
#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
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

    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (received.size() < 2 && std::chrono::steady_clock::now() < giveUp) QTest::qWait(2);
    QTest::qWait(10);  // a duplicate would arrive with the same wake-up
  }
  EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT}));
  EXPECT_EQ(calledOn, QThread::currentThread());
}

}  // namespace
}  // namespace quorlin::test
