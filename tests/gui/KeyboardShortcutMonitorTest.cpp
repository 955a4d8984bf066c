// The keyboard and pointer layer with events delivered as the platform
// delivers them: through the window, past menu shortcuts, to the focus widget.
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QTest>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "gui/comparison/KeyboardShortcutMonitor.h"

namespace quorlin::test {
namespace {

using gui::KeyboardShortcutMonitor;

// The focus widget: what reaches it was passed on.
class RecordingWidget : public QWidget {
 public:
  using QWidget::QWidget;
  std::vector<int> pressedKeys;
  std::vector<int> releasedKeys;
  int wheelCount = 0;

 protected:
  void keyPressEvent(QKeyEvent* event) override { pressedKeys.push_back(event->key()); }
  void keyReleaseEvent(QKeyEvent* event) override { releasedKeys.push_back(event->key()); }
  void wheelEvent(QWheelEvent* event) override {
    ++wheelCount;
    event->accept();
  }
};

bool contains(const std::vector<int>& keys, int key) { return std::find(keys.begin(), keys.end(), key) != keys.end(); }

class KeyboardShortcutMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recordEveryCommand(registry, calls);
    window.resize(300, 200);
    receiver = new RecordingWidget(&window);
    receiver->setGeometry(0, 0, 300, 200);
    receiver->setFocusPolicy(Qt::StrongFocus);
    monitor = new KeyboardShortcutMonitor(registry, &window);
    monitor->setActive(true);
    monitor->setSpaceReleaseGrace(std::chrono::milliseconds(0));   // releases act at once, on any platform
    activate(window);
    receiver->setFocus();
  }

  static void activate(QWidget& widget) {
    widget.show();
    widget.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&widget));
  }

  QWindow* handle() { return window.windowHandle(); }

  // One key event as the platform sends it, modifiers as they are at that moment.
  void key(bool isPress, Qt::Key code, Qt::KeyboardModifiers modifiers = {}, bool isAutoRepeat = false) {
    QString text = code == Qt::Key_Space ? QStringLiteral(" ") : QString();
    QTest::simulateEvent(handle(), isPress, code, modifiers, text, isAutoRepeat);
  }

  void wheel(QPoint angleDelta, QPoint pixelDelta = {}, Qt::KeyboardModifiers modifiers = {}) {
    QPointF position(150, 100);
    QWheelEvent event(position, window.mapToGlobal(position), pixelDelta, angleDelta, Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(handle(), &event);
  }

  int count(const std::string& name) const { return static_cast<int>(std::count(calls.begin(), calls.end(), name)); }

  KeyboardCommandRegistry registry;   // outlives the monitor
  QWidget window;
  RecordingWidget* receiver = nullptr;
  KeyboardShortcutMonitor* monitor = nullptr;
  std::vector<std::string> calls;
};

// ---- Key down ----

TEST_F(KeyboardShortcutMonitorTest, ShortcutKeysRunTheirCommandsAndWinOverAMenuShortcutOthersPassOn) {
  QAction action(&window);
  action.setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Equal));
  window.addAction(&action);
  int triggered = 0;
  QObject::connect(&action, &QAction::triggered, [&] { ++triggered; });
  struct Case {
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    std::vector<std::string> expected;   // in this order among the calls
    bool passesOn;
  };
  const Case cases[] = {
      {Qt::Key_Equal, Qt::ControlModifier | Qt::ShiftModifier, {"zoomIn"}, false},
      {Qt::Key_6, Qt::ControlModifier, {"zoomToScale(6)"}, false},
      // Shifted digits arrive as their shifted characters and still name the digit key.
      {Qt::Key_3, Qt::ShiftModifier, {"setDifferenceGainStep(2)", "showDifference"}, false},
      {Qt::Key_7, Qt::ShiftModifier, {}, true},
  };
  for (const Case& shortcut : cases) {
    SCOPED_TRACE(QKeySequence(shortcut.key | shortcut.modifiers).toString().toStdString());
    calls.clear();
    receiver->pressedKeys.clear();
    QTest::keyClick(handle(), shortcut.key, shortcut.modifiers);
    EXPECT_NE(std::search(calls.begin(), calls.end(), shortcut.expected.begin(), shortcut.expected.end()),
              calls.end());
    int commands = 0;
    for (const std::string& call : calls) commands += call != "showDifference" && call != "hideDifference";
    EXPECT_EQ(commands, shortcut.expected.empty() ? 0 : 1);
    EXPECT_EQ(contains(receiver->pressedKeys, shortcut.key), shortcut.passesOn);
  }
  EXPECT_EQ(triggered, 0);
  // The same keys reach the menu shortcut when the monitor stands aside.
  monitor->setActive(false);
  QTest::keyClick(handle(), Qt::Key_Equal, Qt::ControlModifier);
  EXPECT_EQ(triggered, 1);
}

TEST_F(KeyboardShortcutMonitorTest, HeldSpaceShowsTheOriginalOnceAndSwallowsTheRepeats) {
  key(true, Qt::Key_Space);
  key(false, Qt::Key_Space, {}, true);   // X11 repeats a held key as pairs marked auto-repeat
  key(true, Qt::Key_Space, {}, true);
  key(false, Qt::Key_Space);
  EXPECT_EQ(calls, (std::vector<std::string>{"showOriginal", "hideComparisonOverlay"}));
  EXPECT_FALSE(contains(receiver->pressedKeys, Qt::Key_Space));
}

TEST_F(KeyboardShortcutMonitorTest, AnX11RepeatMissedByQtIsStillAnAutoRepeat) {
  // Qt may fail to mark X11's release and press pair as a repeat; the pair
  // shares one timestamp, and the release waits out a grace for its press.
  monitor->setSpaceReleaseGrace(std::chrono::milliseconds(20));
  auto space = [&](QEvent::Type type, quint64 timestamp) {
    QKeyEvent event(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    event.setTimestamp(timestamp);
    QApplication::sendEvent(handle(), &event);
  };
  space(QEvent::KeyPress, 100);
  space(QEvent::KeyRelease, 200);
  space(QEvent::KeyPress, 200);
  space(QEvent::KeyRelease, 240);
  space(QEvent::KeyPress, 240);
  EXPECT_EQ(calls, std::vector<std::string>{"showOriginal"});
  space(QEvent::KeyRelease, 300);   // the real release
  EXPECT_EQ(calls, std::vector<std::string>{"showOriginal"});
  EXPECT_TRUE(QTest::qWaitFor([&] { return count("hideComparisonOverlay") == 1; }, 10000));

  // Released and pressed again at once, at different times: both count.
  space(QEvent::KeyPress, 400);
  space(QEvent::KeyRelease, 450);
  space(QEvent::KeyPress, 460);
  EXPECT_EQ(calls, (std::vector<std::string>{"showOriginal", "hideComparisonOverlay", "showOriginal",
                                             "hideComparisonOverlay", "showOriginal"}));
  EXPECT_FALSE(contains(receiver->pressedKeys, Qt::Key_Space));
  EXPECT_FALSE(contains(receiver->releasedKeys, Qt::Key_Space));
}

// ---- Modifiers ----

TEST_F(KeyboardShortcutMonitorTest, HoldingShiftAloneShowsTheDifferenceAndReleasingHidesIt) {
  key(true, Qt::Key_Shift);
  EXPECT_EQ(calls, std::vector<std::string>{"showDifference"});
  key(false, Qt::Key_Shift, Qt::ShiftModifier);
  EXPECT_EQ(calls, (std::vector<std::string>{"showDifference", "hideDifference"}));
  // Modifier changes always pass on.
  EXPECT_TRUE(contains(receiver->pressedKeys, Qt::Key_Shift));
  EXPECT_TRUE(contains(receiver->releasedKeys, Qt::Key_Shift));

}

// ---- Scrolling ----

TEST_F(KeyboardShortcutMonitorTest, ScrollingOverTheComparisonPansAltScrollZoomsOthersPassOn) {
  registry.isPointerOverComparison = true;
  wheel({0, 120});   // one notch: one line, ten points
  wheel({0, 0}, {3, -7});   // precise deltas, in points
  wheel({120, 0}, {}, Qt::AltModifier);   // X11 reports Alt+wheel as horizontal
  wheel({0, 0}, {0, -30}, Qt::AltModifier);
  EXPECT_EQ(calls, (std::vector<std::string>{"scrollPan(0, 10)", "scrollPan(3, -7)", "optionScrollZoom(10)",
                                             "optionScrollZoom(-30)"}));
  EXPECT_EQ(receiver->wheelCount, 0);

  calls.clear();
  wheel({-120, 0}, {}, Qt::ShiftModifier);   // a notch turned sideways is ten points on its own
  EXPECT_EQ(calls, std::vector<std::string>{"stepDifferenceGain(-1)"});
  calls.clear();
  wheel({0, 120}, {}, Qt::ControlModifier);
  registry.isPointerOverComparison = false;
  wheel({0, 120});
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(receiver->wheelCount, 2);
}

// ---- Gate ----

TEST_F(KeyboardShortcutMonitorTest, AnInactiveMonitorOrAnInactiveWindowPassesEverythingOn) {
  registry.isPointerOverComparison = true;
  monitor->setActive(false);
  QTest::keyClick(handle(), Qt::Key_Equal, Qt::ControlModifier);
  key(true, Qt::Key_Space);
  wheel({0, 120});
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(contains(receiver->pressedKeys, Qt::Key_Equal));
  EXPECT_TRUE(contains(receiver->pressedKeys, Qt::Key_Space));
  EXPECT_EQ(receiver->wheelCount, 1);

  monitor->setActive(true);
  receiver->pressedKeys.clear();
  QWidget other;
  other.resize(100, 100);
  activate(other);
  QTest::keyClick(handle(), Qt::Key_Equal, Qt::ControlModifier);
  wheel({0, 120});
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(contains(receiver->pressedKeys, Qt::Key_Equal));
  EXPECT_EQ(receiver->wheelCount, 2);
}

TEST_F(KeyboardShortcutMonitorTest, ItsWindowBecomingActiveRunsTheWorkspaceActivation) {
  int activations = 0;
  monitor->setOnWindowBecameKey([&] { ++activations; });
  QWidget other;
  other.resize(100, 100);
  activate(other);
  EXPECT_EQ(activations, 0);
  activate(window);
  EXPECT_EQ(activations, 1);

  monitor->setActive(false);
  activate(other);
  activate(window);
  EXPECT_EQ(activations, 1);
}

}  // namespace
}  // namespace quorlin::test
