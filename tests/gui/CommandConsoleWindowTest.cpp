// The command console window: the placeholder, entry cards (status text and
// colour, duration, command line, output), newest first, "Clear", the
// toggling of the one window, and the lazy building that keeps long sessions
// cheap.
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "GuiTestSupport.h"
#include "core/tools/CommandConsole.h"
#include "gui/app/ApplicationAppearance.h"
#include "gui/windows/CommandConsoleView.h"
#include "gui/windows/CommandConsoleWindow.h"
#include "gui/widgets/PaletteColors.h"
#include "gui/widgets/ToneLabel.h"

namespace quorlin::gui {
namespace {

using namespace std::chrono_literals;

class CommandConsoleWindowTest : public ::testing::Test {
 protected:
  CommandConsoleWindowTest() { controller.show(); }

  QWidget* window() const { return controller.window(); }

  static void settle() {
    for (int round = 0; round < 5; ++round) QApplication::processEvents();
  }

  // The cards from top to bottom.
  std::vector<CommandConsoleEntryView*> cards() const {
    settle();
    auto found = window()->findChildren<CommandConsoleEntryView*>();
    std::vector<CommandConsoleEntryView*> cards(found.begin(), found.end());
    auto top = [](QWidget* card) { return card->mapTo(card->window(), QPoint(0, 0)).y(); };
    std::sort(cards.begin(), cards.end(), [&](auto* a, auto* b) { return top(a) < top(b); });
    return cards;
  }

  static QString textOf(QWidget* card, const char* name) {
    QWidget* child = card->findChild<QWidget*>(name);
    if (auto* label = qobject_cast<QLabel*>(child)) return label->text();
    if (auto* box = qobject_cast<QPlainTextEdit*>(child)) return box->toPlainText();
    return {};
  }

  static ToneLabel* statusOf(QWidget* card) { return card->findChild<ToneLabel*>("status"); }

  CommandConsoleView* view() const { return window()->findChild<CommandConsoleView*>(); }

  CommandConsoleStore store;
  CommandConsoleWindowController controller{store};
  ConsoleClock::time_point start = ConsoleClock::now();
};

TEST_F(CommandConsoleWindowTest, RunsAreListedNewestFirstOverThePlaceholderUntilClearEmptiesTheListForGood) {
  settle();
  QWidget* placeholder = window()->findChild<QWidget*>("placeholder");
  ASSERT_NE(placeholder, nullptr);
  EXPECT_TRUE(placeholder->isVisible());
  EXPECT_TRUE(cards().empty());

  Uuid id = store.begin("first");
  store.begin("second");
  store.begin("third");
  auto shown = cards();
  EXPECT_FALSE(placeholder->isVisible());
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(textOf(shown[0], "commandLine"), "third");
  EXPECT_EQ(textOf(shown[1], "commandLine"), "second");
  EXPECT_EQ(textOf(shown[2], "commandLine"), "first");

  window()->findChild<QPushButton*>("clear")->click();
  EXPECT_TRUE(store.entries().empty());
  EXPECT_TRUE(cards().empty());
  EXPECT_TRUE(placeholder->isVisible());
  store.finish(id, 0, "late");   // a run that ends after the clear stays gone
  EXPECT_TRUE(cards().empty());
}

TEST_F(CommandConsoleWindowTest, EachCardShowsItsStatusToneDurationAndOutput) {
  Uuid running = Uuid::random();
  store.begin(running, "dwebp out.webp -o out.png", start);
  auto shown = cards();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(statusOf(shown[0])->tone(), ToneLabel::Tone::orange);
  store.finish(running, 0, "", start + 1234ms);   // the same card follows the run
  EXPECT_EQ(statusOf(shown[0])->tone(), ToneLabel::Tone::green);
  EXPECT_EQ(textOf(shown[0], "duration"), "1.23 s");

  Uuid failed = store.begin("cjxl in.png out.jxl -d 1.0");
  store.finish(failed, 2, "Invalid input\nusage: cjxl INPUT OUTPUT\n", start + 1234ms);
  shown = cards();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(statusOf(shown[0])->text(), "Failed (2)");
  EXPECT_EQ(statusOf(shown[0])->tone(), ToneLabel::Tone::red);
  EXPECT_EQ(textOf(shown[0], "output"), "Invalid input\nusage: cjxl INPUT OUTPUT");   // without the closing break

  // The tone's colour is picked for the palette, and again when it changes.
  const QColor light = statusOf(shown[0])->palette().color(QPalette::WindowText);
  EXPECT_EQ(light, statusColor(StatusTone::red, window()->palette()));
  window()->setPalette(darkPalette());
  settle();
  const QColor dark = statusOf(shown[0])->palette().color(QPalette::WindowText);
  EXPECT_EQ(dark, statusColor(StatusTone::red, darkPalette()));
  EXPECT_GT(dark.lightnessF(), light.lightnessF());
}

TEST_F(CommandConsoleWindowTest, ToggleDropsTheVisibleWindowAndShowReusesIt) {
  QWidget* first = window();
  EXPECT_TRUE(first->isVisible());
  controller.show();
  EXPECT_EQ(window(), first);

  controller.toggle();
  EXPECT_EQ(window(), nullptr);
  controller.toggle();
  ASSERT_NE(window(), nullptr);
  EXPECT_TRUE(window()->isVisible());

  // A window closed by the user is hidden, not dropped: toggling shows it again.
  QWidget* reopened = window();
  reopened->close();
  controller.toggle();
  EXPECT_EQ(window(), reopened);
  EXPECT_TRUE(reopened->isVisible());
}

TEST_F(CommandConsoleWindowTest, LongSessionBuildsOnlyTheCardsInView) {
  constexpr int runs = 1000;
  Uuid oldest = store.begin("cjxl run0");   // still running while the others come and go
  for (int run = 1; run < runs; ++run) {
    Uuid id = store.begin("cjxl run" + std::to_string(run));
    store.finish(id, 0, "line\n");
  }
  settle();
  int built = view()->builtEntryCount();
  EXPECT_GE(built, 1);
  EXPECT_LT(built, 200);   // far fewer than the runs

  // The oldest run ends while its card is not built: it shows the end once
  // scrolling reaches it. Scrolling builds the cards in store order.
  store.finish(oldest, 0, "");
  QScrollBar* scrollBar = view()->findChild<QScrollArea*>()->verticalScrollBar();
  for (int step = 0; step < 200 && view()->builtEntryCount() < runs; ++step) {
    scrollBar->setValue(scrollBar->maximum());
    settle();
  }
  ASSERT_EQ(view()->builtEntryCount(), runs);
  auto shown = cards();
  ASSERT_EQ(shown.size(), std::size_t(runs));
  for (std::size_t index = 0; index < shown.size(); ++index) {
    ASSERT_EQ(textOf(shown[index], "commandLine"), QString::fromStdString(store.entries()[index].commandLine));
  }
  EXPECT_EQ(statusOf(shown.back())->text(), "Completed");

  // Back at the top, the cards far below are dropped again.
  scrollBar->setValue(0);
  settle();
  EXPECT_LT(view()->builtEntryCount(), 200);
  EXPECT_EQ(textOf(cards().front(), "commandLine"), QString::fromStdString(store.entries().front().commandLine));
}

TEST_F(CommandConsoleWindowTest, NewRunsDoNotMoveTheCardsAReaderScrolledTo) {
  for (int run = 0; run < 40; ++run) store.finish(store.begin("cjxl run" + std::to_string(run)), 0, "ok");
  settle();
  QScrollBar* scrollBar = view()->findChild<QScrollArea*>()->verticalScrollBar();
  scrollBar->setValue(scrollBar->maximum() / 2);
  settle();
  QWidget* viewport = view()->findChild<QScrollArea*>()->viewport();
  auto cardAtTop = [&] {
    for (auto* card : cards()) {
      if (card->mapTo(viewport, QPoint(0, card->height())).y() > 0) return card;
    }
    return static_cast<CommandConsoleEntryView*>(nullptr);
  };
  CommandConsoleEntryView* reading = cardAtTop();
  ASSERT_NE(reading, nullptr);
  int before = reading->mapTo(viewport, QPoint(0, 0)).y();

  store.begin("avifenc new.png new.avif");
  store.begin("cwebp new.png -o new.webp");
  settle();
  EXPECT_EQ(reading->mapTo(viewport, QPoint(0, 0)).y(), before);

  // At the very top, new runs simply appear there.
  scrollBar->setValue(0);
  settle();
  store.begin("djxl top.jxl top.png");
  settle();
  EXPECT_EQ(scrollBar->value(), 0);
  EXPECT_EQ(textOf(cards().front(), "commandLine"), "djxl top.jxl top.png");
}

TEST_F(CommandConsoleWindowTest, MegabytesOfOutputScrollInTheirOwnBox) {
  std::string output;
  for (int line = 0; output.size() < 4'000'000; ++line) output += "frame " + std::to_string(line) + " encoded\n";
  Uuid id = store.begin("cjxl big.png big.jxl");
  store.finish(id, 0, output);
  auto shown = cards();
  ASSERT_EQ(shown.size(), 1u);
  auto* box = shown[0]->findChild<QPlainTextEdit*>("output");
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isReadOnly());
  EXPECT_EQ(box->toPlainText().size(), qsizetype(output.size()) - 1);   // all but the closing line break
  EXPECT_LT(box->height(), 1000);   // a box of a few lines, not millions of pixels

  // Short output stays in the card itself.
  Uuid small = store.begin("djxl a b");
  store.finish(small, 0, "ok\n");
  EXPECT_NE(qobject_cast<QLabel*>(cards().front()->findChild<QWidget*>("output")), nullptr);
}

}  // namespace
}  // namespace quorlin::gui
