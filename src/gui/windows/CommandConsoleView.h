// CommandConsoleView: the content of the "Command Console" window: a header
// with "Clear", then either the empty placeholder or the store's entries as
// cards, newest on top.
//
// The view follows the store's change notifications one change at a time: a
// begun run inserts one card at the top, a finished run refreshes its own card
// (found by id), "Clear" drops them all. Cards are built lazily from the top:
// only enough to fill the visible area and a margin below it, more as the user
// scrolls down, and cards far below the visible area are dropped again, so a
// long session with thousands of runs costs what has been scrolled through,
// not the whole log. Cards sit in chunks that remember their heights, so a
// change relays out one chunk, not every card. An output longer than a few
// dozen lines is shown in its own scrolling box, whose text is laid out only
// where it is visible. A reader scrolled down keeps their place when new runs
// arrive on top. Main thread only; the store must outlive the view.
#pragma once

#include <QPointer>
#include <QWidget>

#include <deque>
#include <unordered_map>
#include <vector>

#include "core/tools/CommandConsole.h"
#include "gui/app/TextStyles.h"
#include "gui/widgets/ElidedLabel.h"
#include "gui/widgets/PaletteColors.h"
#include "gui/widgets/ToneLabel.h"
#include "gui/windows/WindowParts.h"
#include "gui/widgets/CardFrame.h"

class QLabel;
class QScrollArea;
class QStackedWidget;
class QVBoxLayout;

namespace quorlin::gui {

class CardStack;

// One run: status and duration, the command line, the output.
class CommandConsoleEntryView : public CardFrame {
  Q_OBJECT

 public:
  explicit CommandConsoleEntryView(const CommandConsoleEntry& entry, QWidget* parent = nullptr);

  void setEntry(const CommandConsoleEntry& entry);
  const Uuid& entryId() const { return id_; }

  // Outputs up to this many lines (and characters) are shown in full in the
  // card; longer ones scroll in a box of `scrollingOutputLines` lines.
  static constexpr int inlineOutputLineLimit = 40;
  static constexpr int inlineOutputCharacterLimit = 6000;
  static constexpr int scrollingOutputLines = 20;

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void showOutput(const std::string& output);
  void applyOutputPalette();

  Uuid id_;
  ToneLabel* status_;
  QLabel* duration_;
  QLabel* commandLine_;
  QWidget* output_ = nullptr;
  QVBoxLayout* cardLayout_;
};

class CommandConsoleView : public QWidget {
  Q_OBJECT

 public:
  explicit CommandConsoleView(CommandConsoleStore& store, QWidget* parent = nullptr);
  ~CommandConsoleView() override;

  // The cards built so far: the first `builtEntryCount()` entries of the store.
  int builtEntryCount() const { return int(entryViews_.size()); }

  // Cards built per step while the user scrolls down.
  static constexpr int buildBatchSize = 20;
  static constexpr int cardsPerChunk = 20;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void storeChanged(const CommandConsoleChange& change);
  void insertNewestEntry();
  void refreshEntry(const Uuid& id);
  void removeAllEntries();
  void showListOrPlaceholder();
  void scheduleFill();
  void fillVisibleArea();
  void appendEntryView(const CommandConsoleEntry& entry);
  void removeLastEntryView();
  CardStack* addChunk(int position);   // 0: at the top; otherwise at the bottom
  static int topInColumn(const QWidget* card);

  CommandConsoleStore& store_;
  CommandConsoleStore::ObserverId observerId_;
  QStackedWidget* stack_;
  QWidget* placeholder_;
  QScrollArea* scrollArea_;
  QWidget* column_;
  QVBoxLayout* columnLayout_;
  // The cards sit in chunks of at most `cardsPerChunk` in the column, so a
  // change relays out one chunk and moves the others as wholes.
  std::deque<CardStack*> chunks_;
  std::vector<CommandConsoleEntryView*> entryViews_;  // store order
  std::unordered_map<Uuid, CommandConsoleEntryView*> viewsById_;
  // Cards inserted at the top while the reader was scrolled down: the next
  // fill scrolls by their height, once they are laid out.
  std::vector<QPointer<CommandConsoleEntryView>> cardsAddedAbove_;
  bool isFillScheduled_ = false;
};

}  // namespace quorlin::gui
