#include "gui/windows/ResultsTableWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <string>

#include "core/workspace/CompressionWorkspace.h"
#include "core/workspace/ResultsTable.h"
#include "gui/windows/WindowParts.h"

namespace quorlin::gui {

namespace {

// Sorts by the cell's number where it has one, else by its text; empty
// figures sort after every number.
class ResultItem : public QTableWidgetItem {
 public:
  explicit ResultItem(const ResultsTableCell& cell) : QTableWidgetItem(QString::fromStdString(cell.text)) {
    if (cell.number) setData(Qt::UserRole, *cell.number);
    if (cell.number) setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }

  bool operator<(const QTableWidgetItem& other) const override {
    const QVariant mine = data(Qt::UserRole);
    const QVariant theirs = other.data(Qt::UserRole);
    if (mine.isValid() && theirs.isValid()) return mine.toDouble() < theirs.toDouble();
    if (mine.isValid() != theirs.isValid()) return mine.isValid();
    return text().localeAwareCompare(other.text()) < 0;
  }
};

}  // namespace

struct ResultsTableWindowController::State {
  std::unique_ptr<QWidget> window;
  QTableWidget* table = nullptr;
  CompressionWorkspace* workspace = nullptr;
  Subscription subscription;
  std::vector<ResultsTableRow> rows;

  void build() {
    window = makeFloatingPanel(QStringLiteral("Results"), QSize(560, 200));
    auto* layout = static_cast<QVBoxLayout*>(window->layout());
    layout->setContentsMargins(10, 10, 10, 10);
    layout->setSpacing(8);
    table = new QTableWidget(0, resultsTableColumnCount, window.get());
    QStringList headers;
    for (const std::string& header : resultsTableHeaders()) headers << QString::fromStdString(header);
    table->setHorizontalHeaderLabels(headers);
    table->verticalHeader()->setVisible(false);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);   // panel order until a header is clicked
    table->setSortingEnabled(true);
    table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* copy = new QPushButton(QStringLiteral("Copy as CSV"), window.get());
    QObject::connect(copy, &QPushButton::clicked, window.get(),
                     [this] { QApplication::clipboard()->setText(QString::fromStdString(resultsTableCSV(rows))); });
    buttons->addWidget(copy);
    layout->addLayout(buttons);
    window->resize(980, 240);
  }

  void attach(CompressionWorkspace* followed) {
    workspace = followed;
    subscription = followed ? followed->observe([this](const WorkspaceChange& change) {
      if (change.contains(WorkspaceAspect::panels) || change.contains(WorkspaceAspect::source)) refresh();
    })
                            : Subscription();
    refresh();
  }

  void refresh() {
    rows = workspace ? resultsTableRows(workspace->panels(), workspace->sourceFileSize(),
                                        workspace->sourcePixelCount())
                     : std::vector<ResultsTableRow>();
    // Filled unsorted, so each row's items stay on one row; the header's order holds after.
    table->setSortingEnabled(false);
    table->setRowCount(int(rows.size()));
    for (std::size_t row = 0; row < rows.size(); ++row) {
      for (std::size_t column = 0; column < rows[row].cells.size(); ++column) {
        table->setItem(int(row), int(column), new ResultItem(rows[row].cells[column]));
      }
    }
    table->setSortingEnabled(true);
    table->resizeColumnsToContents();
  }
};

ResultsTableWindowController::ResultsTableWindowController() : state_(std::make_unique<State>()) {}

ResultsTableWindowController::~ResultsTableWindowController() = default;

void ResultsTableWindowController::show(CompressionWorkspace& workspace) {
  const bool isNew = !state_->window;
  if (isNew) state_->build();
  state_->attach(&workspace);
  if (isNew) {
    // Every column in view where the screen allows (centerOnScreen shrinks it to fit).
    QTableWidget* table = state_->table;
    const int width = table->horizontalHeader()->length() + table->verticalScrollBar()->sizeHint().width() + 64;
    state_->window->resize(std::max(state_->window->width(), width), state_->window->height());
    centerOnScreen(state_->window.get());
  }
  bringToFront(state_->window.get());
}

void ResultsTableWindowController::follow(CompressionWorkspace& workspace) {
  if (!state_->window || !state_->window->isVisible() || state_->workspace == &workspace) return;
  state_->attach(&workspace);
}

void ResultsTableWindowController::detach(const CompressionWorkspace& workspace) {
  if (state_->workspace == &workspace) state_->attach(nullptr);
}

QWidget* ResultsTableWindowController::window() const { return state_->window.get(); }

QTableWidget* ResultsTableWindowController::table() const { return state_->table; }

std::string ResultsTableWindowController::csv() const { return resultsTableCSV(state_->rows); }

}  // namespace quorlin::gui
