#include "gui/windows/InspectorWindows.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QShortcut>
#include <QTextDocument>
#include <QVBoxLayout>

#include <functional>

#include "core/engine/SourceMetadata.h"
#include "gui/app/TextStyles.h"
#include "gui/windows/WindowParts.h"

namespace quorlin::gui {

namespace {

const QString specsTitle = QStringLiteral("Original File Specs");

// A floating utility window that stays above the window the user works in
// and is kept (hidden) when the user closes it.
QWidget* makeFloatingWindow(const QString& title, QSize contentSize) {
  auto* window = new QWidget(floatingParentWindow(), Qt::Tool);
  window->setAttribute(Qt::WA_MacAlwaysShowToolWindow);
  window->setWindowTitle(title);
  window->resize(contentSize);
  auto* layout = new QVBoxLayout(window);
  layout->setContentsMargins(0, 0, 0, 0);
  return window;
}

void closeAndRelease(QWidget* window) {
  if (!window) return;
  window->close();
  window->deleteLater();
}

// A selectable file name that never widens its window: a long one is cut
// off at the edge and shown whole in the tooltip.
QLabel* makeFileNameLabel(const QString& name) {
  auto* label = new QLabel(name);
  label->setTextFormat(Qt::PlainText);
  label->setFont(captionFont(QFont::Medium));
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  label->setToolTip(name);
  return label;
}

// The content of the specs panel: a header row and the source's lines from
// specLines(), on a rounded box. Escape runs `close`.
class OriginalFileSpecsPanel final : public QWidget {
 public:
  OriginalFileSpecsPanel(const std::filesystem::path& sourceURL, std::int64_t fileSize,
                         const SourceImageMetadata& metadata, std::function<void()> close) {
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(10, 10, 10, 10);

    auto* box = new RoundedBackground(QPalette::Base, 8);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(makeSymbolLabel("doc.richtext", QStringLiteral("Original"), calloutFont(QFont::DemiBold)));
    QLabel* fileName = makeFileNameLabel(QString::fromUtf8(sourceURL.filename().string()));
    fileName->setObjectName(QStringLiteral("specsFileName"));
    header->addWidget(fileName, 1);
    column->addLayout(header);

    auto* lines = new QVBoxLayout;
    lines->setSpacing(6);
    for (const std::string& line : specLines(metadata, fileSize)) {
      QLabel* label = makeTextLabel(QString::fromUtf8(line), calloutFont(QFont::Medium));
      label->setObjectName(QStringLiteral("specLine"));
      lines->addWidget(label);
    }
    column->addLayout(lines);

    outer->addWidget(box);
    outer->addStretch(1);

    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    QObject::connect(escape, &QShortcut::activated, this, std::move(close));
  }
};

// The content of one ExifTool window: a header with the file name, and the
// listing (or a placeholder) in a scrolling, selectable text box.
class ExifToolInfoPanel final : public QWidget {
 public:
  ExifToolInfoPanel(const std::string& fileName, const std::string& metadata) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(12);

    auto* header = new QHBoxLayout;
    header->setSpacing(8);
    header->addWidget(makeSymbolLabel("info.circle", QStringLiteral("ExifTool"), headlineFont()));
    header->addWidget(makeFileNameLabel(QString::fromUtf8(fileName)), 1);
    column->addLayout(header);

    // The editor itself stays transparent so that the box's corners show.
    auto* box = new RoundedBackground(QPalette::Base, 6);
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(0, 0, 0, 0);
    auto* text = new QPlainTextEdit;
    text->setObjectName(QStringLiteral("exifToolText"));
    text->setReadOnly(true);
    text->setFrameShape(QFrame::NoFrame);
    text->setFont(monospacedCaptionFont());
    text->document()->setDocumentMargin(10);
    QPalette transparentBase = text->palette();   // only Base is set here; the rest follows the application
    transparentBase.setColor(QPalette::Base, Qt::transparent);
    text->setPalette(transparentBase);
    text->setPlainText(metadata.empty() ? QStringLiteral("No ExifTool metadata returned.") : QString::fromUtf8(metadata));
    boxLayout->addWidget(text);
    column->addWidget(box, 1);
  }
};

}  // namespace

struct OriginalFileSpecsWindowController::State {
  QPointer<QWidget> panel;
  QPointer<QWidget> content;
};

OriginalFileSpecsWindowController::OriginalFileSpecsWindowController() : state_(std::make_unique<State>()) {}

OriginalFileSpecsWindowController::~OriginalFileSpecsWindowController() { closeAndRelease(state_->panel); }

void OriginalFileSpecsWindowController::toggle(const std::filesystem::path& sourceURL, std::int64_t fileSize,
                                               const SourceImageMetadata& metadata) {
  if (isVisible()) {
    closeAndRelease(state_->panel);
    state_->panel = nullptr;
    return;
  }
  show(sourceURL, fileSize, metadata);
}

void OriginalFileSpecsWindowController::show(const std::filesystem::path& sourceURL, std::int64_t fileSize,
                                             const SourceImageMetadata& metadata) {
  QWidget* panel = state_->panel;
  const bool isNew = !panel;
  if (isNew) {
    panel = makeFloatingWindow(specsTitle, QSize(360, 310));
    state_->panel = panel;
  } else {
    // Replaced in place: the window keeps its position and size.
    delete state_->content;
    panel->setWindowTitle(specsTitle);
  }
  auto* content = new OriginalFileSpecsPanel(sourceURL, fileSize, metadata, [panel = QPointer<QWidget>(panel)] {
    if (panel) panel->close();
  });
  panel->layout()->addWidget(content);
  if (isNew) centerOnScreen(panel);
  state_->content = content;
  bringToFront(panel);
}

void OriginalFileSpecsWindowController::close() {
  if (state_->panel) state_->panel->close();
}

bool OriginalFileSpecsWindowController::isVisible() const { return state_->panel && state_->panel->isVisible(); }

QWidget* OriginalFileSpecsWindowController::window() const { return state_->panel; }

struct ExifToolInfoWindowController::State {
  std::vector<QPointer<QWidget>> panels;
};

ExifToolInfoWindowController::ExifToolInfoWindowController() : state_(std::make_unique<State>()) {}

ExifToolInfoWindowController::~ExifToolInfoWindowController() {
  for (QPointer<QWidget>& panel : state_->panels) closeAndRelease(panel);
}

void ExifToolInfoWindowController::show(const std::string& title, const std::string& fileName,
                                        const std::string& metadata) {
  QWidget* panel = makeFloatingWindow(QString::fromUtf8(title), QSize(620, 520));
  panel->setMinimumSize(560, 420);
  panel->layout()->addWidget(new ExifToolInfoPanel(fileName, metadata));
  closeOnEscape(panel);
  centerOnScreen(panel);
  // Windows still open are not covered exactly: each new one steps down and right.
  int openCount = 0;
  for (const QPointer<QWidget>& other : state_->panels) openCount += other && other->isVisible() ? 1 : 0;
  panel->move(panel->pos() + QPoint(24, 24) * (openCount % 8));
  state_->panels.emplace_back(panel);
  bringToFront(panel);
}

std::vector<QWidget*> ExifToolInfoWindowController::windows() const {
  std::vector<QWidget*> windows;
  for (const QPointer<QWidget>& panel : state_->panels) {
    if (panel) windows.push_back(panel);
  }
  return windows;
}

}  // namespace quorlin::gui
