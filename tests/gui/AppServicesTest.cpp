// The application's own services and resources: the menu bar, the
// appearance, the icons, the settings store, the main-thread dispatcher and
// the termination signals.
#include <atomic>
#include <numeric>
#include <thread>
#include <csignal>

#include "GuiTestSupport.h"
#include "core/comparison/KeyboardCommandRegistry.h"
#include "gui/app/AppIcon.h"
#include "gui/app/AppMenus.h"
#include "gui/app/ApplicationAppearance.h"
#include "gui/app/QSettingsStore.h"
#include "gui/app/QtMainThreadDispatcher.h"
#include "gui/app/SymbolIcons.h"
#include "gui/app/TerminationSignals.h"
#include "gui/widgets/PaletteColors.h"
#include "support/TestSupport.h"

namespace quorlin::test {
namespace {

using namespace gui;

// ---- AppMenus ----

// The menu bar: every item calls only the registry slot of the moment (and
// nothing when it is empty), and its shortcuts typed in a window arrive.
class AppMenusTest : public ::testing::Test {
 protected:
  AppMenusTest() {
    auto record = [this](const char* name) { return [this, name] { calls.push_back(name); }; };
    menus = gui::installAppMenus(*window.menuBar(), registry, gui::AppMenuHandlers{record("about"), record("settings"), record("quit"),
                                                                         record("open"), record("closeTab"),
                                                                         record("resultsTable")});
  }

  // What choosing each item calls, in menu order.
  std::vector<std::pair<QAction*, std::string>> expectedCalls() {
    return {{menus.open, "open"}, {menus.newTab, "newTab"}, {menus.newTargetTab, "newTargetTab"},
            {menus.closeTab, "closeTab"}, {menus.quit, "quit"}, {menus.settings, "settings"},
            {menus.applicationRequiredTools, "showRequiredTools"}, {menus.generate, "generate"},
            {menus.zoomIn, "zoomIn"}, {menus.zoomOut, "zoomOut"}, {menus.resetImage, "resetImage"},
            {menus.actualSize, "zoomActualSize"}, {menus.zoom200, "zoomToScale(2)"}, {menus.zoom400, "zoomToScale(4)"},
            {menus.zoom600, "zoomToScale(6)"}, {menus.zoom800, "zoomToScale(8)"}, {menus.errorMap, "toggleErrorMap"},
            {menus.resultsTable, "resultsTable"}, {menus.commandConsole, "toggleCommandConsole"},
            {menus.help, "showHelp"}, {menus.helpRequiredTools, "showRequiredTools"}, {menus.about, "about"}};
  }

  QMainWindow window;
  KeyboardCommandRegistry registry;
  AppMenus menus;
  std::vector<std::string> calls;
};

TEST_F(AppMenusTest, EachItemCallsOnlyTheSlotRegisteredAtTheMomentOfChoosing) {
  // Only the application's own items act while every registry slot is empty.
  for (const auto& [action, expected] : expectedCalls()) action->trigger();
  EXPECT_EQ(calls, (std::vector<std::string>{"open", "closeTab", "quit", "settings", "resultsTable", "about"}));

  recordEveryCommand(registry, calls);
  for (const auto& [action, expected] : expectedCalls()) {
    calls.clear();
    action->trigger();
    EXPECT_EQ(calls, std::vector<std::string>{expected}) << action->text().toStdString();
  }
  calls.clear();
  registry.generate = [this] { calls.push_back("replaced"); };
  menus.generate->trigger();
  EXPECT_EQ(calls, std::vector<std::string>{"replaced"});
  EXPECT_EQ(menus.settings->menuRole(), QAction::PreferencesRole);
  EXPECT_EQ(menus.applicationRequiredTools->menuRole(), QAction::ApplicationSpecificRole);
}

TEST_F(AppMenusTest, ShortcutsTypedInTheWindowReachTheRegistry) {
  recordEveryCommand(registry, calls);
  window.show();
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  // Synthetic events carry no scan code, so Shift (which the platform's key
  // mapping strips when it only makes the "?") is left out of Ctrl+?. Ctrl+O,
  // Ctrl+W and F1 are the keys a Linux user reaches for first.
  QTest::keyClick(&window, Qt::Key_T, Qt::ControlModifier | Qt::AltModifier);
  QTest::keyClick(&window, Qt::Key_Question, Qt::ControlModifier);
  QTest::keyClick(&window, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
  QTest::keyClick(&window, Qt::Key_6, Qt::ControlModifier);
  QTest::keyClick(&window, Qt::Key_R, Qt::ControlModifier | Qt::AltModifier);
  QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
  QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
  QTest::keyClick(&window, Qt::Key_F1);
  EXPECT_EQ(calls, (std::vector<std::string>{"newTargetTab", "showHelp", "toggleCommandConsole", "zoomToScale(6)",
                                             "showRequiredTools", "open", "closeTab", "showHelp"}));
}

// ---- ApplicationAppearance ----

// The appearance setting applied to the whole application: light and dark
// switch to Fusion with their palettes, auto gives the desktop's look back.
int lightness(QPalette::ColorRole role) { return QApplication::palette().color(role).lightness(); }

// The style's own name, or its base style's when it adjusts one.
QString styleName() {
  const QStyle* style = QApplication::style();
  if (const auto* proxy = qobject_cast<const QProxyStyle*>(style)) style = proxy->baseStyle();
  return style->name().toLower();
}

// The strongest contrast any opaque pixel of `image` has against `background`.
double strongestContrast(const QImage& image, const QColor& background) {
  double strongest = 1.0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor pixel = image.pixelColor(x, y);
      if (pixel.alpha() == 255) strongest = std::max(strongest, gui::contrastRatio(pixel, background));
    }
  }
  return strongest;
}

class ApplicationAppearanceTest : public ::testing::Test {
 protected:
  void TearDown() override { appearance.apply(AppAppearance::automatic); }

  QString desktopStyle = styleName();
  QPalette desktopPalette = QApplication::palette();
  ApplicationAppearance appearance;
};

TEST_F(ApplicationAppearanceTest, DarkAndLightUseFusionWithTheirPalettesDarkMeetsTheContrastMinimumsAndAutoGivesTheDesktopLookBack) {
  appearance.apply(AppAppearance::dark);
  EXPECT_EQ(styleName(), "fusion");
  EXPECT_LT(lightness(QPalette::Window), 100);
  EXPECT_GT(lightness(QPalette::WindowText), 180);
  EXPECT_LT(lightness(QPalette::Base), lightness(QPalette::Window) + 1);
  appearance.apply(AppAppearance::light);
  EXPECT_EQ(styleName(), "fusion");
  EXPECT_GT(lightness(QPalette::Window), 180);
  EXPECT_LT(lightness(QPalette::WindowText), 80);
  appearance.apply(AppAppearance::automatic);
  EXPECT_EQ(styleName(), desktopStyle);
  for (auto role : {QPalette::Window, QPalette::WindowText}) EXPECT_EQ(QApplication::palette().color(role), desktopPalette.color(role));

  appearance.apply(AppAppearance::dark);
  const QPalette palette = QApplication::palette();
  const QColor window = palette.color(QPalette::Window);
  // Disabled text stays apart from both the enabled text and the button.
  const int disabled = palette.color(QPalette::Disabled, QPalette::ButtonText).lightness();
  EXPECT_LT(disabled, palette.color(QPalette::Active, QPalette::ButtonText).lightness() - 50);
  EXPECT_GT(disabled, palette.color(QPalette::Active, QPalette::Button).lightness() + 30);
  // Texts 4.5:1: the primary, secondary and placeholder shades and every status tone.
  for (const QColor& text : {palette.color(QPalette::WindowText), gui::secondaryTextColor(palette),
                             palette.color(QPalette::PlaceholderText), gui::statusColor(gui::StatusTone::red, palette),
                             gui::statusColor(gui::StatusTone::orange, palette),
                             gui::statusColor(gui::StatusTone::green, palette)}) {
    EXPECT_GE(gui::contrastRatio(text, window), 4.5) << text.name().toStdString();
  }
  // Controls 3:1: an unchecked check box's outline, and the monochrome icons.
  QCheckBox box(QStringLiteral(" "));
  box.resize(box.sizeHint());
  QImage rendered(box.size(), QImage::Format_ARGB32);
  rendered.fill(window);
  box.render(&rendered);
  EXPECT_GE(strongestContrast(rendered, window), 3.0);
  for (const char* symbol : {"scope", "plus", "terminal", "wrench.and.screwdriver"}) {
    QImage icon(20, 20, QImage::Format_ARGB32);
    icon.fill(window);
    QPainter painter(&icon);
    gui::symbolIcon(symbol).paint(&painter, icon.rect());
    painter.end();
    EXPECT_GE(strongestContrast(icon, window), 4.5) << symbol;
  }
}

// ---- AppIcon ----

// The application icon: the bundled drawing is registered, Qt's SVG renderer
// draws it, and it shows four different quadrants around a light cross.
TEST(AppIconTest, TheBundledDrawingShowsFourQuadrantsAroundASplitCross) {
  gui::initializeAppResources();
  const QIcon icon = gui::applicationIcon();
  ASSERT_FALSE(icon.isNull());
  const QImage image = icon.pixmap(128, 128).toImage().convertToFormat(QImage::Format_ARGB32);

  // The split point sits at (144, 112) of 256: a point well inside each quadrant.
  std::set<QRgb> quadrantColours;
  for (auto [x, y] : {std::pair{40, 35}, std::pair{100, 35}, std::pair{40, 90}, std::pair{100, 90}}) {
    const QColor colour = image.pixelColor(x, y);
    EXPECT_EQ(colour.alpha(), 255) << x << "," << y;
    quadrantColours.insert(colour.rgb());
  }
  EXPECT_EQ(quadrantColours.size(), 4u) << "every quadrant has its own colour";
  // The cross is white where it crosses the tile, away from the centre handle.
  EXPECT_TRUE(isNear(image.pixelColor(72, 15), Qt::white, 30));
  EXPECT_TRUE(isNear(image.pixelColor(15, 56), Qt::white, 30));
  // Outside the rounded tile the icon is transparent.
  EXPECT_EQ(image.pixelColor(2, 2).alpha(), 0);
}

// ---- SymbolIcons ----

// Symbol icons: every symbol the table names draws something, in the
// palette's text colour, and unknown names give no icon.
// The opaque-enough pixels of `side` × `side` `icon`: how many, and how many
// differ from `colour`.
std::pair<int, int> inkOf(const QIcon& icon, int side, QColor colour) {
  const QImage image = icon.pixmap(side, side).toImage().convertToFormat(QImage::Format_ARGB32);
  std::pair<int, int> count;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      QColor pixel = image.pixelColor(x, y);
      if (pixel.alpha() < 128) continue;
      ++count.first;
      if (!isNear(pixel, colour, 40)) ++count.second;
    }
  }
  return count;
}

TEST(SymbolIconsTest, EverySymbolDrawsInThePaletteTextColourOrItsTintAtAnyPixelRatioAndUnknownOnesNone) {
  const QPalette original = QApplication::palette();
  QPalette palette = original;
  palette.setColor(QPalette::Active, QPalette::WindowText, QColor(200, 30, 30));
  QApplication::setPalette(palette);
  for (std::string_view name : knownSymbolNames()) {
    for (const QIcon& icon : {bundledSymbolIcon(name), symbolIcon(name)}) {
      ASSERT_FALSE(icon.isNull()) << name;
      for (int side : {16, 32}) {
        const auto [pixels, inOtherColours] = inkOf(icon, side, QColor(200, 30, 30));
        EXPECT_GT(pixels, side) << name << " at " << side;   // at least a line's worth
        EXPECT_EQ(inOtherColours, 0) << name << " at " << side;
      }
    }
  }
  QApplication::setPalette(original);
  EXPECT_TRUE(symbolIcon("no.such.symbol").isNull());
  EXPECT_TRUE(bundledSymbolIcon("no.such.symbol").isNull());

  QIcon icon = tintedSymbolIcon("checkmark.circle.fill", QColor(30, 160, 60));
  ASSERT_FALSE(icon.isNull());
  const auto [pixels, inOtherColours] = inkOf(icon, 32, QColor(30, 160, 60));
  EXPECT_GT(pixels, 32 * 32 / 3);   // a filled disc
  EXPECT_EQ(inOtherColours, 0);
  const QImage image = icon.pixmap(32, 32).toImage();
  // The check mark is cut out of the disc, so the centre line has a gap.
  int gaps = 0;
  for (int x = 8; x < 24; ++x) gaps += image.pixelColor(x, 19).alpha() < 128 ? 1 : 0;
  EXPECT_GT(gaps, 0);
  EXPECT_TRUE(tintedSymbolIcon("no.such.symbol", Qt::red).isNull());

  QPixmap doubled = bundledSymbolIcon("arrow.up.left.and.arrow.down.right").pixmap(QSize(16, 16), 2.0);
  EXPECT_EQ(doubled.size(), QSize(32, 32));
  EXPECT_DOUBLE_EQ(doubled.devicePixelRatio(), 2.0);
}

// ---- QSettingsStore ----

// The QSettings-backed store: values keep their types across a restart (a new
// store over the same file), values of other types read as absent, and
// AppSettings over it persists its settings.
TEST(QSettingsStoreTest, EveryTypeReadsBackAsWrittenAfterARestartForeignEntriesByTheirJsonTypesADamagedFileAsEmpty) {
  ScratchDirectory scratch;
  const QString fileName = QString::fromStdString((scratch / "Quorlin.json").string());
  const std::vector<std::string> list{"/opt/tools", "/home/me/bin", "ümlaut dir"};
  {
    QSettingsStore store(fileName);
    store.setValue("flag", true);
    store.setValue("delay", 2.5);
    store.setValue("text", std::string("true"));
    store.setValue("numeric text", std::string("2"));
    store.setValue("list", list);
    store.setValue("empty list", std::vector<std::string>{});
    store.setValue("replaced", std::string("text"));
    store.setValue("replaced", true);
  }
  auto store = std::make_unique<QSettingsStore>(fileName);
  EXPECT_EQ(store->boolValue("flag"), true);
  EXPECT_EQ(store->doubleValue("delay"), 2.5);
  EXPECT_EQ(store->stringValue("text"), "true");
  EXPECT_EQ(store->stringValue("numeric text"), "2");
  EXPECT_EQ(store->stringListValue("list"), list);
  EXPECT_EQ(store->stringListValue("empty list"), std::vector<std::string>{});
  EXPECT_EQ(store->boolValue("replaced"), true);
  EXPECT_FALSE(store->value("never written").has_value());
  EXPECT_FALSE(store->doubleValue("flag").has_value());
  EXPECT_FALSE(store->boolValue("text").has_value()) << "the text \"true\" is no boolean";
  EXPECT_FALSE(store->doubleValue("numeric text").has_value());
  EXPECT_FALSE(store->stringListValue("text").has_value());

  store.reset();
  std::ofstream(scratch / "Quorlin.json") << R"({"count": 7, "nothing": null, "object": {"a": 1}, "mixed": ["a", 2],
                                               "texts": ["a", "b"], "flag": false})";
  QSettingsStore foreign(fileName);
  EXPECT_EQ(foreign.doubleValue("count"), 7.0);
  for (const char* key : {"nothing", "object", "mixed"}) EXPECT_FALSE(foreign.value(key).has_value()) << key;
  EXPECT_EQ(foreign.stringListValue("texts"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(foreign.boolValue("flag"), false);
  std::ofstream(scratch / "Quorlin.json") << "appAppearance = dark\n";
  EXPECT_FALSE(QSettingsStore(fileName).value("appAppearance").has_value());
}

// ---- QtMainThreadDispatcher ----

// The Qt dispatcher: posted and delayed tasks run on the main thread in order,
// from any thread; cancelled delayed tasks never run; a destroyed dispatcher
// runs nothing more.
using namespace std::chrono_literals;

constexpr int generousMilliseconds = 60'000;

class QtMainThreadDispatcherTest : public ::testing::Test {
 protected:
  std::shared_ptr<QtMainThreadDispatcher> dispatcher = std::make_shared<QtMainThreadDispatcher>();
  QThread* mainThread = QThread::currentThread();
};

TEST_F(QtMainThreadDispatcherTest, PostedAndDelayedTasksRunOnTheMainThreadInOrderAndNoSoonerThanTheirDelay) {
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

  // From four threads at once: each poster's tasks in its order, all on the main thread.
  constexpr int workers = 4, tasksPerWorker = 200;
  std::vector<std::vector<int>> seen(workers);
  std::atomic<int> offMainThread{0}, done{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < tasksPerWorker; ++i) {
        dispatcher->post([&, w, i] {
          offMainThread += QThread::currentThread() != mainThread;
          seen[static_cast<std::size_t>(w)].push_back(i);
          ++done;
        });
      }
    });
  }
  for (auto& thread : threads) thread.join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return done == workers * tasksPerWorker; }, generousMilliseconds));
  EXPECT_EQ(offMainThread.load(), 0);
  std::vector<int> inOrder(tasksPerWorker);
  std::iota(inOrder.begin(), inOrder.end(), 0);
  EXPECT_EQ(seen, std::vector<std::vector<int>>(workers, inOrder));

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

TEST_F(QtMainThreadDispatcherTest, CancelledTasksAndTasksOfADestroyedDispatcherNeverRun) {
  std::vector<std::string> ran;
  DelayedCall cancelledAtOnce = dispatcher->postDelayed(5ms, [&] { ran.push_back("cancelled at once"); });
  cancelledAtOnce.cancel();
  DelayedCall cancelledLater = dispatcher->postDelayed(20ms, [&] { ran.push_back("cancelled later"); });
  QCoreApplication::processEvents();  // its timer is running now
  std::thread([&] { cancelledLater.cancel(); }).join();  // cancelling works from any thread
  EXPECT_TRUE(cancelledAtOnce.isCancelled());
  std::shared_ptr<QtMainThreadDispatcher> dropped = std::make_shared<QtMainThreadDispatcher>();
  dropped->post([&] { ran.push_back("posted to a dropped dispatcher"); });
  dropped->postDelayed(1ms, [&] { ran.push_back("delayed on a dropped dispatcher"); });
  dropped.reset();
  // Timers fire in the order they fall due, so by the sentinel's turn the others had theirs.
  dispatcher->postDelayed(40ms, [&] { ran.push_back("sentinel"); });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !ran.empty(); }, generousMilliseconds));
  EXPECT_EQ(ran, std::vector<std::string>{"sentinel"});
}

// ---- TerminationSignals ----

// SIGINT and SIGTERM reach the application as calls on the main thread, after
// the handler has returned, and each signal is reported once.
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
