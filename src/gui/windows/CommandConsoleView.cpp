#include "gui/windows/CommandConsoleView.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

#include "gui/app/SymbolIcons.h"
#include "gui/app/TextStyles.h"

namespace quorlin::gui {

namespace {

ToneLabel::Tone toneOf(ConsoleStatusColor colour) {
  switch (colour) {
    case ConsoleStatusColor::red:
      return ToneLabel::Tone::red;
    case ConsoleStatusColor::orange:
      return ToneLabel::Tone::orange;
    case ConsoleStatusColor::green:
      return ToneLabel::Tone::green;
  }
  return ToneLabel::Tone::primary;
}

bool fitsInline(const std::string& output) {
  if (output.size() > std::size_t(CommandConsoleEntryView::inlineOutputCharacterLimit)) return false;
  return std::count(output.begin(), output.end(), '\n') < CommandConsoleEntryView::inlineOutputLineLimit;
}

QLabel* selectableLabel(const QFont& font, QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setFont(font);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  label->setCursor(Qt::IBeamCursor);
  return label;
}

}  // namespace

// A chunk of consecutive cards, stacked without a layout. It remembers its
// height for the few widths it is asked about until its cards change, so a
// relayout of the column asks each chunk once instead of every label of every
// card (word-wrapped labels lay out their text anew for each width).
class CardStack : public QWidget {
 public:
  CardStack(int spacing, QWidget* parent) : QWidget(parent), spacing_(spacing) {
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
  }

  int count() const { return int(cards_.size()); }

  void insertCard(int index, QWidget* card) {
    cards_.insert(cards_.begin() + index, card);
    card->show();
    contentChanged();
  }

  void removeCard(QWidget* card) {
    std::erase(cards_, card);
    contentChanged();
  }

  bool hasHeightForWidth() const override { return true; }

  int heightForWidth(int width) const override {
    for (const auto& [knownWidth, height] : heights_) {
      if (knownWidth == width) return height;
    }
    int height = 0;
    for (QWidget* card : cards_) height += cardHeight(card, width);
    if (!cards_.empty()) height += spacing_ * (count() - 1);
    if (heights_.size() >= 4) heights_.erase(heights_.begin());
    heights_.emplace_back(width, height);
    return height;
  }

  QSize sizeHint() const override {
    int width = 0;
    for (QWidget* card : cards_) width = std::max(width, card->sizeHint().width());
    return {width, heightForWidth(this->width() > 0 ? this->width() : width)};
  }

  QSize minimumSizeHint() const override {
    int width = 0;
    for (QWidget* card : cards_) width = std::max(width, card->minimumSizeHint().width());
    return {width, heightForWidth(this->width() > 0 ? this->width() : width)};
  }

 protected:
  bool event(QEvent* event) override {
    // A card's size changed (its run finished, say).
    if (event->type() == QEvent::LayoutRequest) contentChanged();
    return QWidget::event(event);
  }

  void resizeEvent(QResizeEvent*) override { placeCards(); }

 private:
  static int cardHeight(QWidget* card, int width) {
    int height = card->heightForWidth(width);
    return height >= 0 ? height : card->sizeHint().height();
  }

  void contentChanged() {
    heights_.clear();
    updateGeometry();
    placeCards();
  }

  void placeCards() {
    int y = 0;
    for (QWidget* card : cards_) {
      int height = cardHeight(card, width());
      card->setGeometry(0, y, width(), height);
      y += height + spacing_;
    }
  }

  int spacing_;
  std::vector<QWidget*> cards_;
  mutable std::vector<std::pair<int, int>> heights_;   // (width, height), the last few asked
};

// ---- CommandConsoleEntryView ----

CommandConsoleEntryView::CommandConsoleEntryView(const CommandConsoleEntry& entry, QWidget* parent)
    : CardFrame(parent), id_(entry.id) {
  cardLayout_ = new QVBoxLayout(this);
  cardLayout_->setContentsMargins(10, 8, 10, 10);
  cardLayout_->setSpacing(4);

  auto* firstRow = new QHBoxLayout;
  status_ = new ToneLabel({}, this);
  status_->setObjectName("status");
  status_->setFont(captionFont(QFont::DemiBold));
  duration_ = new QLabel(this);
  duration_->setObjectName("duration");
  duration_->setFont(monospacedFont(-1));   // every digit the same width
  firstRow->addWidget(status_);
  firstRow->addStretch(1);
  firstRow->addWidget(duration_);
  cardLayout_->addLayout(firstRow);

  commandLine_ = selectableLabel(monospacedFont(), this);
  commandLine_->setObjectName("commandLine");
  cardLayout_->addWidget(commandLine_);

  setEntry(entry);
}

void CommandConsoleEntryView::setEntry(const CommandConsoleEntry& entry) {
  status_->setText(QString::fromUtf8(entry.statusText()));
  status_->setTone(toneOf(entry.statusColor()));
  duration_->setText(QString::fromUtf8(entry.durationText()));
  commandLine_->setText(QString::fromUtf8(entry.commandLine));
  showOutput(entry.output);
}

void CommandConsoleEntryView::showOutput(const std::string& output) {
  // The last line break would show as an empty line at the card's foot.
  std::string_view shown = output;
  while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r')) shown.remove_suffix(1);
  QString text = output.empty() ? QStringLiteral("(no output)") : QString::fromUtf8(shown.data(), qsizetype(shown.size()));
  bool isInline = fitsInline(output);
  auto* label = qobject_cast<QLabel*>(output_);
  auto* box = qobject_cast<QPlainTextEdit*>(output_);
  if (isInline && label) {
    label->setText(text);
    return;
  }
  delete output_;
  if (isInline) {
    auto* tone = new ToneLabel({}, this);
    tone->setTextFormat(Qt::PlainText);
    tone->setWordWrap(true);
    tone->setFont(monospacedFont(-1));
    tone->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    tone->setCursor(Qt::IBeamCursor);
    tone->setTone(ToneLabel::Tone::secondary);
    tone->setText(text);
    output_ = tone;
  } else {
    // A box of fixed height: QPlainTextEdit lays out only the visible lines.
    box = new QPlainTextEdit(this);
    box->setReadOnly(true);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    box->setFrameShape(QFrame::NoFrame);
    box->setFont(monospacedFont(-1));
    box->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    box->setPlainText(text);
    int frame = 2 * (box->frameWidth() + int(box->document()->documentMargin()));
    box->setFixedHeight(QFontMetrics(box->font()).lineSpacing() * scrollingOutputLines + frame);
    output_ = box;
  }
  output_->setObjectName("output");
  cardLayout_->addWidget(output_);
  applyOutputPalette();
}

void CommandConsoleEntryView::changeEvent(QEvent* event) {
  CardFrame::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) applyOutputPalette();
}

void CommandConsoleEntryView::applyOutputPalette() {
  auto* box = qobject_cast<QPlainTextEdit*>(output_);
  if (!box) return;
  QPalette palette = this->palette();
  palette.setColor(QPalette::Text, secondaryTextColor(palette));
  box->setPalette(palette);
}

// ---- CommandConsoleView ----

CommandConsoleView::CommandConsoleView(CommandConsoleStore& store, QWidget* parent)
    : QWidget(parent), store_(store) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  auto* header = new QHBoxLayout;
  header->setContentsMargins(12, 10, 12, 10);
  header->setSpacing(6);
  QWidget* headerIcon = makeSymbolView("terminal", 18, this);
  auto* title = new QLabel(QStringLiteral("Command Console"), this);
  title->setFont(headlineFont());
  auto* clearButton = new QPushButton(QStringLiteral("Clear"), this);
  clearButton->setObjectName("clear");
  connect(clearButton, &QPushButton::clicked, this, [this] { store_.clear(); });
  header->addWidget(headerIcon);
  header->addWidget(title);
  header->addStretch(1);
  header->addWidget(clearButton);
  layout->addLayout(header);

  stack_ = new QStackedWidget(this);
  layout->addWidget(stack_, 1);

  placeholder_ = new QWidget(stack_);
  placeholder_->setObjectName("placeholder");
  auto* placeholderLayout = new QVBoxLayout(placeholder_);
  placeholderLayout->addStretch(1);
  QWidget* placeholderIcon = makeSymbolView("terminal", 40, placeholder_);
  auto* placeholderTitle = new QLabel(QStringLiteral("No command output yet"), placeholder_);
  placeholderTitle->setFont(headlineFont());
  placeholderTitle->setAlignment(Qt::AlignCenter);
  auto* placeholderText = new ToneLabel(
      QStringLiteral("Run a compression job to capture encoder, decoder, metadata, and metric command output."),
      placeholder_);
  placeholderText->setTone(ToneLabel::Tone::secondary);
  placeholderText->setWordWrap(true);
  placeholderText->setAlignment(Qt::AlignCenter);
  placeholderText->setFixedWidth(420);   // the content is never narrower, so the text wraps at 420
  placeholderLayout->addWidget(placeholderIcon, 0, Qt::AlignHCenter);
  placeholderLayout->addWidget(placeholderTitle);
  auto* placeholderTextRow = new QHBoxLayout;   // centred, with the height its wrapped lines need
  placeholderTextRow->addStretch(1);
  placeholderTextRow->addWidget(placeholderText);
  placeholderTextRow->addStretch(1);
  placeholderLayout->addLayout(placeholderTextRow);
  placeholderLayout->addStretch(1);
  stack_->addWidget(placeholder_);

  scrollArea_ = new QScrollArea(stack_);
  scrollArea_->setWidgetResizable(true);
  scrollArea_->setFrameShape(QFrame::NoFrame);
  column_ = new QWidget;
  column_->setObjectName("entries");
  columnLayout_ = new QVBoxLayout(column_);
  columnLayout_->setContentsMargins(12, 12, 12, 12);
  columnLayout_->setSpacing(10);
  columnLayout_->addStretch(1);
  scrollArea_->setWidget(column_);
  stack_->addWidget(scrollArea_);

  // Scrolling, resizing and every change of the content's height may call for
  // more cards below, or fewer.
  QScrollBar* scrollBar = scrollArea_->verticalScrollBar();
  connect(scrollBar, &QScrollBar::valueChanged, this, [this] { scheduleFill(); });
  connect(scrollBar, &QScrollBar::rangeChanged, this, [this] { scheduleFill(); });

  observerId_ = store_.addChangeObserver([this](const CommandConsoleChange& change) { storeChanged(change); });
  fillVisibleArea();
  showListOrPlaceholder();
}

CommandConsoleView::~CommandConsoleView() { store_.removeChangeObserver(observerId_); }

void CommandConsoleView::storeChanged(const CommandConsoleChange& change) {
  switch (change.kind) {
    case CommandConsoleChange::Kind::begun:
      insertNewestEntry();
      break;
    case CommandConsoleChange::Kind::finished:
    case CommandConsoleChange::Kind::launchFailed:
      refreshEntry(change.id);
      break;
    case CommandConsoleChange::Kind::cleared:
      removeAllEntries();
      break;
  }
  showListOrPlaceholder();
}

void CommandConsoleView::insertNewestEntry() {
  const auto& entries = store_.entries();
  if (entries.empty()) return;
  CardStack* chunk = chunks_.empty() || chunks_.front()->count() >= cardsPerChunk ? addChunk(0) : chunks_.front();
  auto* view = new CommandConsoleEntryView(entries.front(), chunk);
  chunk->insertCard(0, view);
  entryViews_.insert(entryViews_.begin(), view);
  viewsById_[view->entryId()] = view;
  // A reader scrolled down keeps the cards in view where they are.
  if (scrollArea_->verticalScrollBar()->value() > 0) cardsAddedAbove_.push_back(view);
  scheduleFill();
}

void CommandConsoleView::refreshEntry(const Uuid& id) {
  auto found = viewsById_.find(id);
  if (found == viewsById_.end()) return;   // not built yet: built from the store when needed
  // Runs finish soon after they begin, so the entry is near the front.
  const auto& entries = store_.entries();
  auto entry = std::find_if(entries.begin(), entries.end(), [&](const CommandConsoleEntry& e) { return e.id == id; });
  if (entry != entries.end()) found->second->setEntry(*entry);
}

void CommandConsoleView::removeAllEntries() {
  cardsAddedAbove_.clear();
  for (CardStack* chunk : chunks_) delete chunk;
  chunks_.clear();
  entryViews_.clear();
  viewsById_.clear();
}

void CommandConsoleView::showListOrPlaceholder() {
  stack_->setCurrentWidget(store_.entries().empty() ? placeholder_ : static_cast<QWidget*>(scrollArea_));
}

CardStack* CommandConsoleView::addChunk(int position) {
  auto* chunk = new CardStack(columnLayout_->spacing(), column_);
  if (position == 0) {
    columnLayout_->insertWidget(0, chunk);
    chunks_.push_front(chunk);
  } else {
    columnLayout_->insertWidget(columnLayout_->count() - 1, chunk);   // before the closing stretch
    chunks_.push_back(chunk);
  }
  return chunk;
}

void CommandConsoleView::appendEntryView(const CommandConsoleEntry& entry) {
  CardStack* chunk = chunks_.empty() || chunks_.back()->count() >= cardsPerChunk ? addChunk(-1) : chunks_.back();
  auto* view = new CommandConsoleEntryView(entry, chunk);
  chunk->insertCard(chunk->count(), view);
  entryViews_.push_back(view);
  viewsById_[view->entryId()] = view;
}

void CommandConsoleView::removeLastEntryView() {
  CommandConsoleEntryView* last = entryViews_.back();
  entryViews_.pop_back();
  viewsById_.erase(last->entryId());
  CardStack* chunk = chunks_.back();
  chunk->removeCard(last);
  delete last;
  if (chunk->count() == 0) {
    chunks_.pop_back();
    delete chunk;
  }
}

int CommandConsoleView::topInColumn(const QWidget* card) { return card->parentWidget()->y() + card->y(); }

void CommandConsoleView::scheduleFill() {
  if (isFillScheduled_) return;
  isFillScheduled_ = true;
  // After the pending layout, when the cards' geometries are known.
  QTimer::singleShot(0, this, [this] { fillVisibleArea(); });
}

void CommandConsoleView::fillVisibleArea() {
  isFillScheduled_ = false;
  if (!cardsAddedAbove_.empty()) {
    int shift = 0;
    for (const QPointer<CommandConsoleEntryView>& card : cardsAddedAbove_) {
      if (card) shift += card->height() + columnLayout_->spacing();
    }
    cardsAddedAbove_.clear();
    QScrollBar* scrollBar = scrollArea_->verticalScrollBar();
    scrollBar->setValue(scrollBar->value() + shift);
  }
  const auto& entries = store_.entries();
  auto buildBatch = [&] {
    for (int k = 0; k < buildBatchSize && entryViews_.size() < entries.size(); ++k) {
      appendEntryView(entries[entryViews_.size()]);
    }
  };
  if (entryViews_.size() < std::min<std::size_t>(buildBatchSize, entries.size())) {
    buildBatch();
    scheduleFill();   // again once the new cards are laid out
    return;
  }
  int page = scrollArea_->viewport()->height();
  if (entryViews_.empty() || page <= 0 || !isVisible()) return;
  int visibleBottom = scrollArea_->verticalScrollBar()->value() + page;
  // One page below the visible area is built ahead; cards starting more than
  // three pages below it are dropped (the gap keeps the two from undoing each
  // other).
  const CommandConsoleEntryView* last = entryViews_.back();
  if (entryViews_.size() < entries.size() && topInColumn(last) + last->height() < visibleBottom + page) {
    buildBatch();
    scheduleFill();
    return;
  }
  while (int(entryViews_.size()) > buildBatchSize && topInColumn(entryViews_.back()) > visibleBottom + 3 * page) {
    removeLastEntryView();
  }
}

void CommandConsoleView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  scheduleFill();
}

void CommandConsoleView::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  scheduleFill();
}

}  // namespace quorlin::gui
