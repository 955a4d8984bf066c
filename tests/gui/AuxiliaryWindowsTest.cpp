// The auxiliary windows: Help and About, the inspectors, the command
// console, Settings and the required tools window.
#include "GuiTestSupport.h"
#include "core/engine/CoreBudget.h"
#include "core/engine/SourceMetadata.h"
#include "core/tools/CommandConsole.h"
#include "core/tools/ToolLookup.h"
#include "core/tools/ToolRequirements.h"
#include "core/workspace/AppSettings.h"
#include "gui/app/ApplicationAppearance.h"
#include "gui/widgets/PaletteColors.h"
#include "gui/widgets/ToneLabel.h"
#include "gui/windows/CommandConsoleView.h"
#include "gui/windows/CommandConsoleWindow.h"
#include "gui/windows/HelpAndAboutContent.h"
#include "gui/windows/HelpAndAboutWindows.h"
#include "gui/windows/InspectorWindows.h"
#include "gui/windows/RequiredToolsView.h"
#include "gui/windows/RequiredToolsWindow.h"
#include "gui/windows/SettingsWindow.h"
#include "support/TestSupport.h"

namespace quorlin::test {
namespace {

using namespace gui;
using namespace std::chrono_literals;

// Help and About: one window each, kept when closed; the help keys in this
// platform's shortcut notation; the version line; the attributions in order
// with their links.
// Shows the window of `controller`, closes it and shows it again: the same
// window comes back, at the size it was given.
template <typename Controller>
QWidget* reopened(Controller& controller) {
  EXPECT_EQ(controller.window(), nullptr);
  controller.show();
  QWidget* window = controller.window();
  if (!window) return nullptr;
  controller.show();
  EXPECT_EQ(controller.window(), window);
  window->resize(700, 500);
  window->close();
  controller.show();
  EXPECT_EQ(controller.window(), window);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->size(), QSize(700, 500));
  return window;
}

TEST(AppHelpWindowTest, OneWindowKeptWhenClosedWithTheShortcutsInThisPlatformsNotation) {
  gui::AppHelpWindowController controller;
  QWidget* window = reopened(controller);
  ASSERT_NE(window, nullptr);
  // Every key row of the help texts is shown, as the platform writes it.
  QStringList expectedKeys;
  for (const auto& section : gui::helpSections()) {
    for (const auto& item : section.items) {
      if (item.isRow()) expectedKeys << QString::fromStdString(item.key);
    }
  }
  const QStringList keys = labelTexts(window, QStringLiteral("helpKey"));
  EXPECT_EQ(keys, expectedKeys);
#ifndef __APPLE__
  // Linux keyboards: Ctrl and Alt in place of the Mac signs, the minus sign kept.
  EXPECT_TRUE(keys.contains(QStringLiteral("Ctrl++ / Ctrl+\u2212")));
  const QString all = labelTexts(window).join('\n');
  EXPECT_TRUE(all.contains(QStringLiteral("Shift-Alt-scroll zooms")));
  EXPECT_FALSE(all.contains(QRegularExpression(QStringLiteral("[\u2318\u2325\u21e7\u2303]|Option|Command"))));
#endif
}

TEST(HelpTextsTest, MacShortcutsReadAsLinuxKeyNamesAndTheVersionLineShowsAnEnDashForWhatIsMissing) {
  // Modifiers come out in one order whatever order the signs are written in.
  const std::pair<std::string, std::string> notations[] = {
      {"⌥⌘T", "Ctrl+Alt+T"}, {"⌘⇧⌥R", "Ctrl+Alt+Shift+R"}, {"⌃⌘F", "Ctrl+F"},
      {"press ⌘G. Then ⌘0", "press Ctrl+G. Then Ctrl+0"},
      {"Shift-Option-scroll, Command-hover", "Shift-Alt-scroll, Ctrl-hover"}, {"Options", "Options"}, {"", ""}};
  for (const auto& [mac, pc] : notations) EXPECT_EQ(gui::pcKeyNotation(mac), pc);
  EXPECT_EQ(gui::versionLine("1.0", std::nullopt), "Version 1.0 (–)");
  EXPECT_EQ(gui::versionLine("2.3.1", ""), "Version 2.3.1 (–)");
  EXPECT_EQ(gui::versionLine(std::nullopt, "7"), "Version – (7)");
  EXPECT_TRUE(gui::buildVersionLine().starts_with(std::string("Version ") + QUORLIN_VERSION + " (")) << gui::buildVersionLine();
}

TEST(AboutWindowTest, OneWindowWithTheVersionFooterYearAndEachAttributionLinked) {
  gui::AboutWindowController controller;
  QWidget* window = reopened(controller);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(labelTexts(window, QStringLiteral("aboutVersion")), QStringList{QString::fromStdString(gui::buildVersionLine())});
  EXPECT_TRUE(labelTexts(window, "aboutFooter").join('|').contains(QString::number(QDate::currentDate().year())));

  const auto& attributions = gui::openSourceAttributions();
  QStringList names = labelTexts(window, QStringLiteral("attributionName"));
  QList<QLabel*> links = window->findChildren<QLabel*>(QStringLiteral("attributionLink"));
  ASSERT_EQ(std::size_t(links.size()), attributions.size());
  ASSERT_EQ(std::size_t(names.size()), attributions.size());
  for (std::size_t i = 0; i < attributions.size(); ++i) {
    SCOPED_TRACE(attributions[i].name);
    EXPECT_EQ(names[qsizetype(i)].toStdString(), attributions[i].name);
    EXPECT_TRUE(links[qsizetype(i)]->text().contains(QStringLiteral("href=\"%1\"").arg(attributions[i].url.c_str())));
    EXPECT_TRUE(links[qsizetype(i)]->openExternalLinks());
  }
}

// Inspector windows: the single specs panel (toggle, in-place replacement,
// reuse after the user closes it) and the ExifTool windows (one per
// inspection, placeholder text, scrolling), and that discarding a controller
// closes what it opened.
SourceImageMetadata metadataOf(int width, int height, const char* format, bool isJPEG) {
  SourceImageMetadata metadata;
  metadata.pixelWidth = width;
  metadata.pixelHeight = height;
  metadata.formatDescription = format;
  metadata.isJPEG = isJPEG;
  if (isJPEG) metadata.orientation = 6;
  else metadata.colorProfileName = "sRGB IEC61966-2.1";
  return metadata;
}
const SourceImageMetadata png = metadataOf(640, 480, "PNG image", false);
const SourceImageMetadata jpeg = metadataOf(4032, 3024, "JPEG image", true);

void deletePendingWindows() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

QStringList expectedSpecLines(const SourceImageMetadata& metadata, std::int64_t fileSize) {
  QStringList texts;
  for (const std::string& line : specLines(metadata, fileSize)) texts << QString::fromStdString(line);
  return texts;
}
QString fileNameShown(const QWidget* panel) { return labelTexts(panel, "specsFileName").join('|'); }
QString exifToolText(const QWidget* window) {
  return window->findChild<QPlainTextEdit*>(QStringLiteral("exifToolText"))->toPlainText();
}
// Centred within the margins of a window frame (unknown before the first show).
bool isCentredOnScreen(const QWidget* window) {
  QPoint offset = window->frameGeometry().center() - QGuiApplication::primaryScreen()->availableGeometry().center();
  return offset.manhattanLength() <= 16;
}

TEST(OriginalFileSpecsWindowTest, ToggleClosesAndOpensAgainCentredWithItsSpecLines) {
  OriginalFileSpecsWindowController controller;
  controller.toggle("/photos/cups.png", 2'350'000, png);
  QPointer<QWidget> first = controller.window();
  ASSERT_TRUE(first);
  EXPECT_TRUE(controller.isVisible());
  EXPECT_TRUE(first->windowFlags().testFlag(Qt::Tool));
  EXPECT_TRUE(isCentredOnScreen(first));
  controller.toggle("/photos/cups.png", 2'350'000, png);
  EXPECT_EQ(controller.window(), nullptr);
  deletePendingWindows();
  EXPECT_TRUE(first.isNull());
  controller.toggle("/photos/cups.png", 2'350'000, png);
  ASSERT_NE(controller.window(), nullptr);
  EXPECT_TRUE(isCentredOnScreen(controller.window()));
  EXPECT_EQ(labelTexts(controller.window(), "specLine"), expectedSpecLines(png, 2'350'000));
}

TEST(OriginalFileSpecsWindowTest, ShowWhileOpenReplacesTheContentInPlaceAndAClosedPanelIsShownAgain) {
  OriginalFileSpecsWindowController controller;
  controller.show("/photos/cups.png", 2'350'000, png);
  QWidget* panel = controller.window();
  ASSERT_NE(panel, nullptr);
  const int usualWidth = panel->width();
  panel->move(37, 41);
  panel->resize(400, 330);
  const QPoint position = panel->pos();
  EXPECT_EQ(fileNameShown(panel), "cups.png");
  controller.show("/photos/garden.jpg", 4'100'000, jpeg);
  EXPECT_EQ(controller.window(), panel);
  EXPECT_EQ(std::pair(panel->pos(), panel->size()), std::pair(position, QSize(400, 330)));
  // Only the new lines: the old content is gone, not stacked below.
  EXPECT_EQ(fileNameShown(panel), "garden.jpg");
  EXPECT_EQ(labelTexts(panel, "specLine"), expectedSpecLines(jpeg, 4'100'000));

  // Closed by the user, it is kept: the toggle shows it again where it was.
  panel->move(50, 60);
  panel->close();
  const std::string longName = std::string(150, 'x') + ".png";
  controller.toggle("/photos/" + longName, 2'350'000, png);
  EXPECT_EQ(controller.window(), panel);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(panel->pos(), QPoint(50, 60));
  EXPECT_EQ(fileNameShown(panel), QString::fromStdString(longName));   // all of it, to select and copy

  // A long file name does not widen a new panel; Escape closes it, but the controller keeps it.
  OriginalFileSpecsWindowController other;
  other.show("/photos/" + longName, 2'350'000, png);
  QWidget* fresh = other.window();
  QApplication::processEvents();
  EXPECT_EQ(fresh->width(), usualWidth);
  EXPECT_LE(fresh->minimumSizeHint().width(), usualWidth);
  QApplication::setActiveWindow(fresh);
  if (QApplication::activeWindow() != fresh) GTEST_SKIP() << "this platform cannot activate windows";
  QTest::keyClick(fresh->findChild<QLabel*>(QStringLiteral("specsFileName")), Qt::Key_Escape);
  EXPECT_FALSE(fresh->isVisible());
  EXPECT_EQ(other.window(), fresh);
}

TEST(ExifToolInfoWindowTest, EachInspectionOpensItsOwnWindowWithTheListingOrThePlaceholder) {
  ExifToolInfoWindowController controller;
  for (int i = 0; i < 2; ++i) controller.show("JPEG XL Metadata", "panel-1.jxl", "File Type                       : JXL");
  std::vector<QWidget*> windows = controller.windows();
  ASSERT_EQ(windows.size(), 2u);
  EXPECT_NE(windows[0]->pos(), windows[1]->pos());   // the second does not hide the first
  EXPECT_TRUE(windows[1]->isVisible());
  EXPECT_EQ(windows[1]->windowTitle(), "JPEG XL Metadata");
  EXPECT_EQ(exifToolText(windows[1]), "File Type                       : JXL");

  // A window the user closes stays in the list, in opening order.
  windows[0]->close();
  controller.show("WebP Metadata", "panel-3.webp", "");
  ASSERT_EQ(controller.windows().size(), 3u);
  EXPECT_EQ(controller.windows()[0], windows[0]);
  EXPECT_EQ(controller.windows()[2]->windowTitle(), "WebP Metadata");
  EXPECT_EQ(exifToolText(controller.windows()[2]), "No ExifTool metadata returned.");

  std::string listing;
  for (int line = 0; line < 200; ++line) listing += "Tag " + std::to_string(line) + "                  : value\n";
  controller.show("WebP Metadata", "panel-3.webp", listing);
  const auto* text = controller.windows()[3]->findChild<QPlainTextEdit*>(QStringLiteral("exifToolText"));
  EXPECT_EQ(text->toPlainText(), QString::fromStdString(listing));
  QApplication::processEvents();
  EXPECT_GT(text->verticalScrollBar()->maximum(), 0);
  EXPECT_TRUE(text->isReadOnly());
}

TEST(InspectorWindowsTest, DiscardingTheControllersClosesEveryWindowTheyOpened) {
  auto specs = std::make_unique<OriginalFileSpecsWindowController>();
  auto exifTool = std::make_unique<ExifToolInfoWindowController>();
  specs->show("/photos/cups.png", 2'350'000, png);
  exifTool->show("AVIF Metadata", "a.avif", "x");
  exifTool->show("AVIF Metadata", "a.avif", "y");
  exifTool->windows()[1]->close();
  std::vector<QPointer<QWidget>> opened{specs->window(), exifTool->windows()[0], exifTool->windows()[1]};
  specs.reset();
  exifTool.reset();
  for (const QPointer<QWidget>& window : opened) EXPECT_TRUE(window.isNull() || !window->isVisible());
  deletePendingWindows();
  for (const QPointer<QWidget>& window : opened) EXPECT_TRUE(window.isNull());
}

TEST(InspectorWindowsTest, PanelsFloatAboveTheActiveMainWindowAndGoWithIt) {
  auto mainWindow = std::make_unique<QWidget>();
  mainWindow->show();
  QApplication::setActiveWindow(mainWindow.get());
  if (QApplication::activeWindow() != mainWindow.get()) GTEST_SKIP() << "this platform cannot activate windows";
  OriginalFileSpecsWindowController specs;
  ExifToolInfoWindowController exifTool;
  specs.show("/photos/cups.png", 2'350'000, png);
  exifTool.show("HEIF Metadata", "b.heic", "x");
  EXPECT_EQ(specs.window()->parentWidget(), mainWindow.get());
  EXPECT_EQ(exifTool.windows()[0]->parentWidget(), mainWindow.get());
  // An inspection started from a panel or a dialog of the main window still
  // floats above the main window.
  QApplication::setActiveWindow(exifTool.windows()[0]);
  exifTool.show("HEIF Metadata", "b.heic", "y");
  EXPECT_EQ(exifTool.windows()[1]->parentWidget(), mainWindow.get());
  auto* dialog = new QWidget(mainWindow.get(), Qt::Dialog);
  dialog->show();
  QApplication::setActiveWindow(dialog);
  for (int i = 0; i < 2; ++i) specs.toggle("/photos/cups.png", 2'350'000, png);
  EXPECT_EQ(specs.window()->parentWidget(), mainWindow.get());
  // The main window going away takes its panels along; the controllers notice.
  mainWindow.reset();
  EXPECT_EQ(specs.window(), nullptr);
  EXPECT_TRUE(exifTool.windows().empty());
}

// The command console window: the placeholder, entry cards (status text and
// colour, duration, command line, output), newest first, "Clear", the
// toggling of the one window, and the lazy building that keeps long sessions
// cheap.
class CommandConsoleWindowTest : public ::testing::Test {
 protected:
  CommandConsoleWindowTest() { controller.show(); }

  QWidget* window() const { return controller.window(); }
  CommandConsoleView* view() const { return window()->findChild<CommandConsoleView*>(); }
  QScrollBar* scrollBar() const { return view()->findChild<QScrollArea*>()->verticalScrollBar(); }

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
  // The command lines of the cards from top to bottom.
  QStringList commandLines() const {
    QStringList lines;
    for (auto* card : cards()) lines << textOf(card, "commandLine");
    return lines;
  }

  static QString textOf(QWidget* card, const char* name) {
    QWidget* child = card->findChild<QWidget*>(name);
    if (auto* label = qobject_cast<QLabel*>(child)) return label->text();
    if (auto* box = qobject_cast<QPlainTextEdit*>(child)) return box->toPlainText();
    return {};
  }
  static ToneLabel* statusOf(QWidget* card) { return card->findChild<ToneLabel*>("status"); }

  CommandConsoleStore store;
  CommandConsoleWindowController controller{store};
  ConsoleClock::time_point start = ConsoleClock::now();
};

TEST_F(CommandConsoleWindowTest, RunsAreListedNewestFirstUntilClearEmptiesTheListForGoodAndToggleDropsTheWindow) {
  settle();
  QWidget* placeholder = window()->findChild<QWidget*>("placeholder");
  EXPECT_TRUE(placeholder->isVisible());
  EXPECT_TRUE(cards().empty());
  Uuid id = store.begin("first");
  store.begin("second");
  store.begin("third");
  EXPECT_EQ(commandLines(), (QStringList{"third", "second", "first"}));
  EXPECT_FALSE(placeholder->isVisible());
  window()->findChild<QPushButton*>("clear")->click();
  EXPECT_TRUE(store.entries().empty());
  EXPECT_TRUE(cards().empty());
  EXPECT_TRUE(placeholder->isVisible());
  store.finish(id, 0, "late");   // a run that ends after the clear stays gone
  EXPECT_TRUE(cards().empty());
}

TEST_F(CommandConsoleWindowTest, EachCardShowsItsStatusToneDurationAndOutputInABoxOnlyWhenLong) {
  Uuid running = Uuid::random();
  store.begin(running, "dwebp out.webp -o out.png", start);
  auto shown = cards();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(statusOf(shown[0])->tone(), ToneLabel::Tone::orange);
  store.finish(running, 0, "ok\n", start + 1234ms);   // the same card follows the run
  EXPECT_EQ(statusOf(shown[0])->tone(), ToneLabel::Tone::green);
  EXPECT_EQ(textOf(shown[0], "duration"), "1.23 s");
  EXPECT_NE(qobject_cast<QLabel*>(shown[0]->findChild<QWidget*>("output")), nullptr);   // short output stays in the card

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

  // Megabytes of output scroll in their own box.
  std::string output;
  for (int line = 0; output.size() < 4'000'000; ++line) output += "frame " + std::to_string(line) + " encoded\n";
  store.finish(store.begin("cjxl big.png big.jxl"), 0, output);
  auto* box = cards()[0]->findChild<QPlainTextEdit*>("output");
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(box->isReadOnly());
  EXPECT_EQ(box->toPlainText().size(), qsizetype(output.size()) - 1);   // all but the closing line break
  EXPECT_LT(box->height(), 1000);   // a box of a few lines, not millions of pixels

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
  for (int run = 1; run < runs; ++run) store.finish(store.begin("cjxl run" + std::to_string(run)), 0, "line\n");
  settle();
  EXPECT_LT(view()->builtEntryCount(), 200);   // far fewer than the runs

  // The oldest run ends while its card is not built: it shows the end once
  // scrolling reaches it. Scrolling builds the cards in store order.
  store.finish(oldest, 0, "");
  for (int step = 0; step < 200 && view()->builtEntryCount() < runs; ++step) {
    scrollBar()->setValue(scrollBar()->maximum());
    settle();
  }
  ASSERT_EQ(view()->builtEntryCount(), runs);
  QStringList expected;
  for (const auto& entry : store.entries()) expected << QString::fromStdString(entry.commandLine);
  EXPECT_EQ(commandLines(), expected);
  EXPECT_EQ(statusOf(cards().back())->text(), "Completed");

  // Back at the top, the cards far below are dropped again.
  scrollBar()->setValue(0);
  settle();
  EXPECT_LT(view()->builtEntryCount(), 200);
  EXPECT_EQ(commandLines().value(0), expected.front());
}

TEST_F(CommandConsoleWindowTest, NewRunsDoNotMoveTheCardsAReaderScrolledTo) {
  for (int run = 0; run < 40; ++run) store.finish(store.begin("cjxl run" + std::to_string(run)), 0, "ok");
  settle();
  scrollBar()->setValue(scrollBar()->maximum() / 2);
  settle();
  QWidget* viewport = view()->findChild<QScrollArea*>()->viewport();
  CommandConsoleEntryView* reading = nullptr;   // the card at the top of the view
  for (auto* card : cards()) {
    if (!reading && card->mapTo(viewport, QPoint(0, card->height())).y() > 0) reading = card;
  }
  ASSERT_NE(reading, nullptr);
  const int before = reading->mapTo(viewport, QPoint(0, 0)).y();
  store.begin("avifenc new.png new.avif");
  store.begin("cwebp new.png -o new.webp");
  settle();
  EXPECT_EQ(reading->mapTo(viewport, QPoint(0, 0)).y(), before);

  // At the very top, new runs simply appear there.
  scrollBar()->setValue(0);
  settle();
  store.begin("djxl top.jxl top.png");
  settle();
  EXPECT_EQ(scrollBar()->value(), 0);
  EXPECT_EQ(commandLines().value(0), "djxl top.jxl top.png");
}

// The Settings window edits AppSettings and follows it: appearance, the
// auto-regeneration switch with its "Wait" row, parallel or serial encoding,
// the threads per pass, and the custom tool directories (added through the directory chooser,
// removed by their rows' buttons).
class SettingsWindowTest : public ::testing::Test {
 protected:
  SettingsWindowTest() { controller.show(); }

  QWidget* window() const { return controller.window(); }

  QAbstractButton* buttonTitled(const QString& text) const {
    for (auto* button : window()->findChildren<QAbstractButton*>()) {
      if (button->text() == text) return button;
    }
    ADD_FAILURE() << "no button " << text.toStdString();
    return nullptr;
  }

  QWidget* waitRow() const { return window()->findChild<QWidget*>("waitRow"); }
  QSlider* delaySlider() const { return window()->findChild<QSlider*>(); }
  QString delayText() const { return window()->findChild<QLabel*>("delayText")->text(); }
  QStringList directoryRows() const { return test::labelTexts(window(), "directoryPath"); }

  // Answers the next directory chooser with `directory`; returns the prompt
  // its accept button showed.
  QString chooseDirectoryWith(const std::filesystem::path& directory) {
    QString prompt;
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, &prompt, directory] {
      auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      poll->stop();
      poll->deleteLater();
      prompt = dialog->labelText(QFileDialog::Accept);
      EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
      // With nothing typed, a directory chooser answers the directory it shows.
      dialog->setDirectory(QString::fromStdString(directory.string()));
      static_cast<QDialog*>(dialog)->accept();   // its own override is protected
    });
    poll->start(10);
    buttonTitled(QStringLiteral("Add Directory…"))->click();
    return prompt;
  }

  ExecutableURLCache cache;
  ToolSearchPath searchPath{cache, {}};
  std::shared_ptr<InMemorySettingsStore> store = std::make_shared<InMemorySettingsStore>();
  AppSettings settings{store, searchPath};
  SettingsWindowController controller{settings};
};

TEST_F(SettingsWindowTest, OneWindowWhoseSegmentsAndThreadsPickerWriteTheSettingsAndFollowThem) {
  QWidget* first = window();
  ASSERT_NE(first, nullptr);
  controller.show();
  EXPECT_EQ(window(), first);
  EXPECT_TRUE(buttonTitled("Auto")->isChecked());
  buttonTitled("Dark")->click();
  EXPECT_EQ(settings.appearance(), AppAppearance::dark);
  settings.setAppearance(AppAppearance::light);
  EXPECT_FALSE(buttonTitled("Dark")->isChecked());
  buttonTitled("Serial")->click();
  EXPECT_FALSE(settings.encodeInParallel());
  settings.setEncodeInParallel(true);
  EXPECT_TRUE(buttonTitled("Parallel")->isChecked());

  // Threads per pass: "Auto" and every hardware thread; a count beyond this
  // computer's, chosen elsewhere, is still shown.
  auto* picker = window()->findChild<QComboBox*>("threadsPerPass");
  EXPECT_EQ(picker->currentText(), "Auto");
  EXPECT_EQ(picker->count(), 1 + CoreBudget::availableHardwareThreads());
  picker->activated(1);  // what choosing the row "1" emits
  EXPECT_EQ(settings.threadsPerPass(), 1);
  settings.setThreadsPerPass(CoreBudget::availableHardwareThreads() + 2);
  EXPECT_EQ(picker->currentText(), QString::number(CoreBudget::availableHardwareThreads() + 2));
  picker->activated(0);
  EXPECT_EQ(settings.threadsPerPass(), std::nullopt);
}

TEST_F(SettingsWindowTest, WaitRowShowsOnlyWhileAutoRegeneratingAndDirectoriesAreAddedOnceAndRemovedWithToolLookupFollowing) {
  auto* toggle = window()->findChild<QCheckBox*>();
  ASSERT_NE(toggle, nullptr);
  EXPECT_FALSE(toggle->isChecked());
  EXPECT_FALSE(waitRow()->isVisibleTo(window()));

  toggle->click();
  EXPECT_TRUE(settings.autoRegenerate());
  EXPECT_TRUE(waitRow()->isVisibleTo(window()));
  delaySlider()->setValue(delaySlider()->maximum());
  EXPECT_DOUBLE_EQ(settings.autoRegenerateDelay(), 10.0);
  delaySlider()->setValue(260);   // 2.6 s: the field rounds to the nearest second
  EXPECT_DOUBLE_EQ(settings.autoRegenerateDelay(), 2.6);
  EXPECT_EQ(delayText(), "3 s");

  toggle->click();
  EXPECT_FALSE(settings.autoRegenerate());
  EXPECT_FALSE(waitRow()->isVisibleTo(window()));

  // Switched on elsewhere: the row comes back with the kept delay.
  settings.setAutoRegenerate(true);
  EXPECT_TRUE(toggle->isChecked());
  EXPECT_TRUE(waitRow()->isVisibleTo(window()));
  EXPECT_EQ(delaySlider()->value(), 260);
  settings.setAutoRegenerateDelay(4.45);
  EXPECT_EQ(delayText(), "4 s");
  EXPECT_NEAR(delaySlider()->value() / 100.0, 4.45, 0.006);
  EXPECT_DOUBLE_EQ(settings.autoRegenerateDelay(), 4.45);   // showing it did not round it

  test::ScratchDirectory scratch;
  test::writeFakeTool(scratch / "first", "cjxl", "exit 0");
  std::filesystem::create_directories(scratch / "second");
  EXPECT_TRUE(directoryRows().isEmpty());
  ASSERT_FALSE(cache.locate("cjxl", searchPath.toolSearchDirectories()));

  EXPECT_EQ(chooseDirectoryWith(scratch / "first"), "Add");
  chooseDirectoryWith(scratch / "first");
  EXPECT_EQ(directoryRows(), QStringList{QString::fromStdString((scratch / "first").string())});
  ASSERT_TRUE(cache.locate("cjxl", searchPath.toolSearchDirectories()));
  chooseDirectoryWith(scratch / "second");
  EXPECT_EQ(directoryRows().size(), 2);

  auto removeButtons = window()->findChildren<QToolButton*>("removeDirectory");
  ASSERT_EQ(removeButtons.size(), 2);
  removeButtons[0]->click();
  EXPECT_EQ(directoryRows(), QStringList{QString::fromStdString((scratch / "second").string())});
  EXPECT_FALSE(cache.locate("cjxl", searchPath.toolSearchDirectories()));
  QApplication::processEvents();   // the removed row is deleted later, safely
}

// The required tools window over a fake tool directory: each group's status
// icon, text and colour, each executable's path or "not found" and version,
// notes and the older-version limitations, the install commands with their
// copy buttons, "Re-check", and results that arrive after their row is gone.
class RequiredToolsWindowTest : public ::testing::Test {
 protected:
  RequiredToolsWindowTest() {
    // The JPEG XL group is half there; AVIF, libheif (through its older
    // decoder name) and ExifTool are complete; the rest is missing.
    for (auto [name, version] : {std::pair{"cjxl", "JPEG XL encoder v0.11.1 [AVX2]"}, {"djxl", "JPEG XL decoder v0.11.1"},
                                 {"avifenc", "Version: 1.1.1 (dav1d [dec]:1.4.3)"}, {"avifdec", "Version: 1.1.1"},
                                 {"heif-enc", "unrecognized option\nlibheif version: 1.15.1"},
                                 {"heif-convert", "unrecognized option\nlibheif version: 1.15.1"}, {"exiftool", "12.76"}}) {
      test::writeFakeTool(tools.path(), name, std::string("printf '%s\\n' '") + version + "'");
    }
  }

  // Shows the window and lets every row's load arrive.
  QWidget* showLoaded() {
    controller.show();
    waitForLoads();
    return controller.window();
  }

  void waitForLoads() {
    // The loads are bounded by the probes' own five-second limit; this only
    // keeps a broken build from hanging.
    EXPECT_TRUE(QTest::qWaitFor([&] {
      auto rows = rowsShown();
      return !rows.empty() && std::all_of(rows.begin(), rows.end(), [](auto* row) { return row->hasLoadedTools(); });
    }, 60'000)) << "the tool rows never finished loading";
  }

  std::vector<RequiredToolRow*> rowsShown() const {
    auto found = controller.window() ? controller.window()->findChildren<RequiredToolRow*>() : QList<RequiredToolRow*>{};
    return {found.begin(), found.end()};
  }

  RequiredToolRow* row(std::string_view title) const {
    for (auto* row : rowsShown()) {
      if (row->requirement().title == title) return row;
    }
    ADD_FAILURE() << "no row " << title;
    return nullptr;
  }

  static ToneLabel* statusOf(RequiredToolRow* row) { return row->findChild<ToneLabel*>("status"); }

  test::ScratchDirectory tools;
  test::ScratchDirectory release;   // outside the search path
  ExecutableURLCache cache;
  ToolSearchPath searchPath{cache, {tools.path().string()}};
  RequiredToolsWindowController controller{cache, searchPath};
};

TEST_F(RequiredToolsWindowTest, EachGroupShowsItsStatusToneToolsAndLimitations) {
  showLoaded();
  EXPECT_EQ(rowsShown().size(), allToolRequirements().size());
  // Complete (heif through its older decoder name), partial and missing groups.
  using T = ToneLabel::Tone;
  for (auto [title, tone, versions, notFound] :
       {std::tuple{"AVIF", T::green, 2, 0}, {"HEIF / AVIF / JPEG 2000 (libheif)", T::green, 2, 0},
        {"JPEG XL & SSIMULACRA2 metric", T::orange, 2, 2}, {"WebP", T::red, 0, 2}}) {
    SCOPED_TRACE(title);
    RequiredToolRow* shown = row(title);
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(statusOf(shown)->tone(), tone);
    EXPECT_EQ(test::labelTexts(shown, "version").size(), versions);
    EXPECT_EQ(test::labelTexts(shown, "notFound").size(), notFound);
  }
  RequiredToolRow* avif = row("AVIF");
  EXPECT_EQ(test::labelTexts(avif, "path").value(0), QString::fromStdString((tools / "avifenc").string()));
  // The older decoder name stands in, and the older encoder's limits are told.
  RequiredToolRow* heif = row("HEIF / AVIF / JPEG 2000 (libheif)");
  EXPECT_EQ(test::labelTexts(heif, "toolName"), (QStringList{"heif-enc", "heif-dec (heif-convert)"}));
  EXPECT_TRUE(test::labelTexts(heif, "limitation").join('\n').contains("1.15.1"));
  EXPECT_TRUE(test::labelTexts(avif, "limitation").isEmpty());
}

TEST_F(RequiredToolsWindowTest, StatusIsShownBeforeTheVersionsArriveAndLateResultsOfGoneRowsAreDropped) {
  // A probe that answers only when released: until then the row has its
  // status from the presence search alone and no tool lines.
  test::writeFakeTool(tools.path(), "cwebp",
                      "while [ ! -e \"" + (release.path() / "go").string() + "\" ]; do sleep 0.02; done; echo 1.4.0");
  controller.show();
  RequiredToolRow* webp = row("WebP");
  EXPECT_FALSE(webp->hasLoadedTools());
  EXPECT_EQ(statusOf(webp)->text(), "Missing dwebp");
  EXPECT_TRUE(test::labelTexts(webp, "toolName").isEmpty());

  controller.window()->close();   // closing mid-load
  controller.show();              // a fresh view while the first loads still run
  test::writeTextFile(release.path() / "go", "");
  waitForLoads();
  QApplication::processEvents();
  // Each row shows its tools once: nothing of the replaced rows arrived.
  EXPECT_EQ(rowsShown().size(), allToolRequirements().size());
  EXPECT_EQ(test::labelTexts(row("WebP"), "toolName"), (QStringList{"cwebp", "dwebp"}));
  EXPECT_EQ(test::labelTexts(row("WebP"), "version"), QStringList{"Version 1.4.0"});
}

TEST_F(RequiredToolsWindowTest, CopyButtonsPutExactlyTheCommandOnTheClipboard) {
  showLoaded();
  auto copied = [](QPushButton* button) {
    button->click();
    return QGuiApplication::clipboard()->text().toStdString();
  };
  // The first copy button of the window copies the combined command.
  EXPECT_EQ(copied(controller.window()->findChildren<QPushButton*>("copyCommand").front()), combinedInstallCommand());
  for (const ToolRequirement& requirement : allToolRequirements()) {
    SCOPED_TRACE(requirement.title);
    auto buttons = row(requirement.title)->findChildren<QPushButton*>("copyCommand");
    ASSERT_EQ(buttons.size(), requirement.debianInstallCommand ? 2 : 1);
    EXPECT_EQ(copied(buttons[0]), installCommand(requirement));
    if (requirement.debianInstallCommand) {
      EXPECT_EQ(copied(buttons[1]), *requirement.debianInstallCommand);
    }
  }
}

TEST_F(RequiredToolsWindowTest, RecheckAndShowingAgainFindToolsInstalledMeanwhile) {
  // A miss remembered by the cache before the window opens is forgotten.
  ASSERT_FALSE(cache.locate("jxlinfo", searchPath.toolSearchDirectories()));
  QWidget* window = showLoaded();
  test::writeFakeTool(tools.path(), "jxlinfo", "echo 'jxlinfo v0.11.1'");
  test::writeFakeTool(tools.path(), "ssimulacra2", "echo 'usage'");
  EXPECT_EQ(statusOf(row("JPEG XL & SSIMULACRA2 metric"))->text(), "Missing jxlinfo, ssimulacra2");

  window->findChild<QPushButton*>("recheck")->click();
  waitForLoads();
  RequiredToolRow* jpegXL = row("JPEG XL & SSIMULACRA2 metric");
  EXPECT_EQ(statusOf(jpegXL)->text(), "Installed 0.11.1");
  EXPECT_EQ(statusOf(jpegXL)->tone(), ToneLabel::Tone::green);
  EXPECT_TRUE(cache.locate("jxlinfo", searchPath.toolSearchDirectories()));

  test::writeFakeTool(tools.path(), "cjpeg", "echo 'libjpeg-turbo version 2.1.5 (build 20230203)'");
  QSize size = window->size();
  controller.show();
  EXPECT_EQ(controller.window(), window);
  EXPECT_EQ(window->size(), size);
  waitForLoads();
  EXPECT_EQ(statusOf(row("JPEG (libjpeg-turbo)"))->text(), "Installed 2.1.5");
}

}  // namespace
}  // namespace quorlin::test
