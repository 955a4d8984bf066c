// The keyboard and pointer layer with events delivered as the platform
// delivers them: through the window, past menu shortcuts, to the focus widget.
#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QTest>
#include <QWheelEvent>
#include <QWindow>

#include <gtest/gtest.h>

#include <chrono>

#include "GuiTestSupport.h"
#include "gui/comparison/KeyboardShortcutMonitor.h"

namespace quorlin::test {
namespace {

using gui::KeyboardShortcutMonitor;
using Calls = std::vector<std::string>;

// The focus widget: what reaches it was passed on.
class RecordingWidget : public QWidget {
 public:
  using QWidget::QWidget;
  bool pressed(int key) const { return std::find(pressedKeys.begin(), pressedKeys.end(), key) != pressedKeys.end(); }
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

class KeyboardShortcutMonitorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    recordEveryCommand(registry, calls);
    window.resize(300, 200);
    receiver->setGeometry(0, 0, 300, 200);
    receiver->setFocusPolicy(Qt::StrongFocus);
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
    QTest::simulateEvent(handle(), isPress, code, modifiers, code == Qt::Key_Space ? " " : "", isAutoRepeat);
  }
  // A space event with the platform's timestamp.
  void space(QEvent::Type type, quint64 timestamp) {
    QKeyEvent event(type, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    event.setTimestamp(timestamp);
    QApplication::sendEvent(handle(), &event);
  }

  void wheel(QPoint angleDelta, QPoint pixelDelta = {}, Qt::KeyboardModifiers modifiers = {}) {
    QPointF position(150, 100);
    QWheelEvent event(position, window.mapToGlobal(position), pixelDelta, angleDelta, Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(handle(), &event);
  }

  KeyboardCommandRegistry registry;   // outlives the monitor
  QWidget window;
  RecordingWidget* receiver = new RecordingWidget(&window);
  KeyboardShortcutMonitor* monitor = new KeyboardShortcutMonitor(registry, &window);
  Calls calls;
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
    Calls expected;   // in this order among the calls
  };
  const Case cases[] = {
      {Qt::Key_Equal, Qt::ControlModifier | Qt::ShiftModifier, {"zoomIn"}},
      {Qt::Key_6, Qt::ControlModifier, {"zoomToScale(6)"}},
      // Shifted digits arrive as their shifted characters and still name the digit key.
      {Qt::Key_3, Qt::ShiftModifier, {"setDifferenceGainStep(2)", "showDifference"}},
      {Qt::Key_7, Qt::ShiftModifier, {}},   // no command: passed on
  };
  for (const Case& shortcut : cases) {
    SCOPED_TRACE(QKeySequence(shortcut.key | shortcut.modifiers).toString().toStdString());
    calls.clear();
    receiver->pressedKeys.clear();
    QTest::keyClick(handle(), shortcut.key, shortcut.modifiers);
    EXPECT_NE(std::search(calls.begin(), calls.end(), shortcut.expected.begin(), shortcut.expected.end()), calls.end());
    const auto commands = std::count_if(calls.begin(), calls.end(),
                                        [](const std::string& call) { return !call.ends_with("Difference"); });
    EXPECT_EQ(commands, shortcut.expected.empty() ? 0 : 1);
    EXPECT_EQ(receiver->pressed(shortcut.key), shortcut.expected.empty());
  }
  EXPECT_EQ(triggered, 0);
  // The same keys reach the menu shortcut when the monitor stands aside.
  monitor->setActive(false);
  QTest::keyClick(handle(), Qt::Key_Equal, Qt::ControlModifier);
  EXPECT_EQ(triggered, 1);
}

TEST_F(KeyboardShortcutMonitorTest, HeldSpaceShowsTheOriginalOnceAndHeldShiftTheDifferenceWhichPassesOn) {
  key(true, Qt::Key_Space);
  key(false, Qt::Key_Space, {}, true);   // X11 repeats a held key as pairs marked auto-repeat
  key(true, Qt::Key_Space, {}, true);
  key(false, Qt::Key_Space);
  EXPECT_EQ(calls, (Calls{"showOriginal", "hideComparisonOverlay"}));
  EXPECT_FALSE(receiver->pressed(Qt::Key_Space));

  calls.clear();
  key(true, Qt::Key_Shift);
  EXPECT_EQ(calls, Calls{"showDifference"});
  key(false, Qt::Key_Shift, Qt::ShiftModifier);
  EXPECT_EQ(calls, (Calls{"showDifference", "hideDifference"}));
  // Modifier changes always pass on.
  EXPECT_TRUE(receiver->pressed(Qt::Key_Shift));
  EXPECT_EQ(receiver->releasedKeys, std::vector<int>{Qt::Key_Shift});
}

TEST_F(KeyboardShortcutMonitorTest, AnX11RepeatMissedByQtIsStillAnAutoRepeat) {
  // Qt may fail to mark X11's release and press pair as a repeat; the pair
  // shares one timestamp, and the release waits out a grace for its press.
  monitor->setSpaceReleaseGrace(std::chrono::milliseconds(20));
  for (auto [type, timestamp] : {std::pair{QEvent::KeyPress, 100}, {QEvent::KeyRelease, 200}, {QEvent::KeyPress, 200},
                                 {QEvent::KeyRelease, 240}, {QEvent::KeyPress, 240}}) {
    space(type, timestamp);
  }
  EXPECT_EQ(calls, Calls{"showOriginal"});
  space(QEvent::KeyRelease, 300);   // the real release
  EXPECT_EQ(calls, Calls{"showOriginal"});
  EXPECT_TRUE(QTest::qWaitFor([&] { return calls.size() == 2; }, 10000));
  // Released and pressed again at once, at different times: both count.
  space(QEvent::KeyPress, 400);
  space(QEvent::KeyRelease, 450);
  space(QEvent::KeyPress, 460);
  EXPECT_EQ(calls, (Calls{"showOriginal", "hideComparisonOverlay", "showOriginal", "hideComparisonOverlay",
                          "showOriginal"}));
  EXPECT_FALSE(receiver->pressed(Qt::Key_Space));
  EXPECT_TRUE(receiver->releasedKeys.empty());
}

// ---- Scrolling ----

TEST_F(KeyboardShortcutMonitorTest, ScrollingOverTheComparisonPansAltScrollZoomsOthersPassOn) {
  registry.isPointerOverComparison = true;
  wheel({0, 120});   // one notch: one line, ten points
  wheel({0, 0}, {3, -7});   // precise deltas, in points
  wheel({120, 0}, {}, Qt::AltModifier);   // X11 reports Alt+wheel as horizontal
  wheel({0, 0}, {0, -30}, Qt::AltModifier);
  wheel({-120, 0}, {}, Qt::ShiftModifier);   // a notch turned sideways is ten points on its own
  EXPECT_EQ(calls, (Calls{"scrollPan(0, 10)", "scrollPan(3, -7)", "optionScrollZoom(10)", "optionScrollZoom(-30)",
                          "stepDifferenceGain(-1)"}));
  EXPECT_EQ(receiver->wheelCount, 0);
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
  EXPECT_TRUE(receiver->pressed(Qt::Key_Equal) && receiver->pressed(Qt::Key_Space));
  EXPECT_EQ(receiver->wheelCount, 1);

  monitor->setActive(true);
  receiver->pressedKeys.clear();
  QWidget other;
  other.resize(100, 100);
  activate(other);
  QTest::keyClick(handle(), Qt::Key_Equal, Qt::ControlModifier);
  wheel({0, 120});
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(receiver->pressed(Qt::Key_Equal));
  EXPECT_EQ(receiver->wheelCount, 2);
}

TEST_F(KeyboardShortcutMonitorTest, ItsWindowBecomingActiveRunsTheWorkspaceActivation) {
  int activations = 0;
  monitor->setOnWindowBecameKey([&] { ++activations; });
  QWidget other;
  other.resize(100, 100);
  for (bool isActive : {true, false}) {
    monitor->setActive(isActive);
    activate(other);
    activate(window);
  }
  EXPECT_EQ(activations, 1);
}

}  // namespace
}  // namespace quorlin::test
