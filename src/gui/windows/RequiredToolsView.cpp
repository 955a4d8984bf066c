#include "gui/windows/RequiredToolsView.h"

#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <mutex>

#include "core/common/PlatformTexts.h"
#include "core/tools/ToolLookup.h"
#include "core/tools/ToolVersionRules.h"
#include "gui/app/SymbolIcons.h"
#include "gui/app/TextStyles.h"

namespace quorlin::gui {

namespace {

// The Debian/Ubuntu commands are shown only where they apply.
#if defined(Q_OS_LINUX)
constexpr bool showsDebianCommands = true;
#else
constexpr bool showsDebianCommands = false;
#endif

ToneLabel::Tone toneOf(ToolRequirementStatus status) {
  switch (status) {
    case ToolRequirementStatus::installed:
      return ToneLabel::Tone::green;
    case ToolRequirementStatus::partial:
      return ToneLabel::Tone::orange;
    case ToolRequirementStatus::missing:
      return ToneLabel::Tone::red;
  }
  return ToneLabel::Tone::primary;
}

std::string_view symbolOf(ToolRequirementStatus status) {
  switch (status) {
    case ToolRequirementStatus::installed:
      return "checkmark.circle.fill";
    case ToolRequirementStatus::partial:
      return "exclamationmark.triangle.fill";
    case ToolRequirementStatus::missing:
      return "xmark.circle.fill";
  }
  return "";
}

// Where each executable is, without versions: what a row shows until its
// versions arrive (stand-ins count, as they do for the status).
std::vector<InstalledToolInfo> presenceOnly(const ToolRequirement& requirement,
                                            const std::vector<std::string>& directories) {
  std::vector<InstalledToolInfo> tools;
  for (const auto& executable : requirement.executables) {
    InstalledToolInfo info{executable, std::nullopt, std::nullopt, std::nullopt};
    if (auto located = findTool(executable, directories)) info.url = located->path;
    tools.push_back(std::move(info));
  }
  return tools;
}

ToneLabel* wrappedLabel(const QString& text, ToneLabel::Tone tone, QWidget* parent) {
  auto* label = new ToneLabel(text, parent);
  label->setTone(tone);
  label->setWordWrap(true);
  label->setTextFormat(Qt::PlainText);
  return label;
}

// A command in a monospaced, selectable block on a padded background, with its
// "Copy command" button.
QWidget* commandBlock(const std::string& command, const CopyAction& copy, QWidget* parent) {
  auto* block = new QWidget(parent);
  auto* layout = new QHBoxLayout(block);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(8);
  auto* background = new CardFrame(block);
  auto* backgroundLayout = new QVBoxLayout(background);
  backgroundLayout->setContentsMargins(8, 6, 8, 6);
  auto* text = new QLabel(QString::fromUtf8(command), background);
  text->setObjectName("command");
  text->setTextFormat(Qt::PlainText);
  text->setFont(monospacedFont(-1));
  text->setWordWrap(true);
  text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  text->setCursor(Qt::IBeamCursor);
  backgroundLayout->addWidget(text);
  layout->addWidget(background, 1);
  auto* button = new QPushButton(symbolIcon("doc.on.doc"), QStringLiteral("Copy command"), block);
  button->setObjectName("copyCommand");
  QObject::connect(button, &QPushButton::clicked, block, [copy, command] { copy(command); });
  layout->addWidget(button, 0, Qt::AlignTop);
  return block;
}

QLabel* commandTitle(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setFont(captionFont(QFont::DemiBold));
  return label;
}

}  // namespace

// ---- ToolLoadQueue ----

struct ToolLoadQueue::Mailbox {
  std::mutex lock;
  QObject* receiver;
};

ToolLoadQueue::ToolLoadQueue() {
  // Every group loads at once; the probes block on child processes, not the CPU.
  pool_.setMaxThreadCount(int(allToolRequirements().size()) + 1);
}

ToolLoadQueue::~ToolLoadQueue() { pool_.waitForDone(); }

void ToolLoadQueue::load(ToolRequirement requirement, std::vector<std::string> directories,
                         std::shared_ptr<Mailbox> mailbox, Delivery deliver) {
  pool_.start([requirement = std::move(requirement), directories = std::move(directories),
               mailbox = std::move(mailbox), deliver = std::move(deliver)] {
    std::vector<InstalledToolInfo> tools = loadInstalledTools(requirement, directories);
    // Posting under the lock: the receiver's destructor takes the same lock, and
    // a destroyed receiver drops the events already posted to it.
    std::lock_guard guard(mailbox->lock);
    if (!mailbox->receiver) return;
    QMetaObject::invokeMethod(
        mailbox->receiver, [deliver, tools = std::move(tools)]() mutable { deliver(std::move(tools)); },
        Qt::QueuedConnection);
  });
}

void ToolLoadQueue::waitForDone() { pool_.waitForDone(); }

CopyAction clipboardCopyAction() {
  return [](const std::string& text) { QGuiApplication::clipboard()->setText(QString::fromUtf8(text)); };
}

// ---- RequiredToolRow ----

RequiredToolRow::RequiredToolRow(ToolRequirement requirement, const std::vector<std::string>& directories,
                                 CopyAction copy, ToolLoadQueue& loads, QWidget* parent)
    : CardFrame(parent), requirement_(std::move(requirement)), copy_(std::move(copy)),
      mailbox_(std::make_shared<ToolLoadQueue::Mailbox>()) {
  setObjectName("toolRow");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(12, 10, 12, 12);
  layout->setSpacing(6);

  auto* header = new QHBoxLayout;
  header->setSpacing(6);
  badge_ = new SymbolBadge("", ToneLabel::Tone::primary, 16, this);
  auto* title = new QLabel(QString::fromUtf8(requirement_.title), this);
  title->setFont(calloutFont(QFont::DemiBold));
  status_ = new ToneLabel({}, this);
  status_->setObjectName("status");
  status_->setFont(captionFont(QFont::DemiBold));
  header->addWidget(badge_);
  header->addWidget(title);
  header->addWidget(status_);
  header->addStretch(1);
  layout->addLayout(header);

  toolsLayout_ = new QGridLayout;
  toolsLayout_->setHorizontalSpacing(12);
  toolsLayout_->setVerticalSpacing(4);
  toolsLayout_->setColumnStretch(1, 1);
  layout->addLayout(toolsLayout_);

  limitationsLayout_ = new QVBoxLayout;
  limitationsLayout_->setSpacing(2);
  layout->addLayout(limitationsLayout_);

  if (requirement_.note) {
    auto* note = wrappedLabel(QString::fromUtf8(*requirement_.note), ToneLabel::Tone::secondary, this);
    note->setObjectName("note");
    layout->addWidget(note);
  }

  addCommand(QStringLiteral("Homebrew"), installCommand(requirement_), layout);
  if (showsDebianCommands) {
    if (requirement_.debianInstallCommand) {
      addCommand(QStringLiteral("Debian/Ubuntu"), *requirement_.debianInstallCommand, layout);
    }
    if (requirement_.debianNote) {
      auto* note = wrappedLabel(QStringLiteral("Debian/Ubuntu: ") + QString::fromUtf8(*requirement_.debianNote),
                                ToneLabel::Tone::secondary, this);
      note->setObjectName("debianNote");
      layout->addWidget(note);
    }
  }

  showStatus(presenceOnly(requirement_, directories));

  mailbox_->receiver = this;
  loads.load(requirement_, directories, mailbox_,
             [this](std::vector<InstalledToolInfo> tools) { showTools(std::move(tools)); });
}

RequiredToolRow::~RequiredToolRow() {
  std::lock_guard guard(mailbox_->lock);
  mailbox_->receiver = nullptr;
}

void RequiredToolRow::addCommand(const QString& label, const std::string& command, QVBoxLayout* layout) {
  layout->addWidget(commandTitle(label, this));
  layout->addWidget(commandBlock(command, copy_, this));
}

void RequiredToolRow::showStatus(const std::vector<InstalledToolInfo>& tools) {
  ToolRequirementStatus status = requirementStatus(tools);
  badge_->setSymbol(symbolOf(status), toneOf(status));
  status_->setText(QString::fromUtf8(statusText(tools)));
  status_->setTone(toneOf(status));
}

void RequiredToolRow::showTools(std::vector<InstalledToolInfo> tools) {
  hasLoadedTools_ = true;
  showStatus(tools);
  int row = 0;
  for (const InstalledToolInfo& tool : tools) {
    bool isFound = tool.url.has_value();
    auto* name = new ToneLabel(QString::fromUtf8(tool.displayName()), this);
    name->setObjectName("toolName");
    name->setFont(monospacedFont());
    name->setTone(isFound ? ToneLabel::Tone::primary : ToneLabel::Tone::secondary);
    toolsLayout_->addWidget(name, row, 0, Qt::AlignTop);

    auto* details = new QWidget(this);
    auto* detailsLayout = new QVBoxLayout(details);
    detailsLayout->setContentsMargins(0, 0, 0, 0);
    detailsLayout->setSpacing(1);
    if (isFound) {
      QString versionText = tool.version ? QStringLiteral("Version ") + QString::fromUtf8(*tool.version)
                                         : QStringLiteral("This tool does not report a version.");
      auto* version = new QLabel(versionText, details);
      version->setObjectName("version");
      detailsLayout->addWidget(version);
      auto* path = new ElidedLabel(QString::fromUtf8(tool.url->string()), details);
      path->setObjectName("path");
      path->setFont(monospacedFont(-1));
      path->setSecondary(true);
      detailsLayout->addWidget(path);
    } else {
      auto* missing = new ToneLabel(QStringLiteral("not found"), details);
      missing->setObjectName("notFound");
      missing->setTone(ToneLabel::Tone::red);
      missing->setFont(captionFont());
      detailsLayout->addWidget(missing);
    }
    toolsLayout_->addWidget(details, row, 1);
    ++row;
  }
  for (const std::string& limitation : olderVersionLimitations(tools)) {
    auto* text = wrappedLabel(QString::fromUtf8(limitation), ToneLabel::Tone::orange, this);
    text->setObjectName("limitation");
    text->setFont(captionFont());
    limitationsLayout_->addWidget(text);
  }
}

// ---- RequiredToolsView ----

RequiredToolsView::RequiredToolsView(ExecutableURLCache& executables, const ToolSearchPath& searchPath,
                                     ToolLoadQueue& loads, CopyAction copy, QWidget* parent)
    : QWidget(parent), executables_(executables), searchPath_(searchPath), loads_(loads), copy_(std::move(copy)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 14, 16, 0);
  layout->setSpacing(10);

  auto* header = new QHBoxLayout;
  header->setSpacing(6);
  QWidget* icon = makeSymbolView("wrench.and.screwdriver", 18, this);
  auto* title = new QLabel(QStringLiteral("Required Command-Line Tools"), this);
  title->setFont(headlineFont());
  auto* recheckButton = new QPushButton(symbolIcon("arrow.clockwise"), QStringLiteral("Re-check"), this);
  recheckButton->setObjectName("recheck");
  connect(recheckButton, &QPushButton::clicked, this, [this] { recheck(); });
  header->addWidget(icon);
  header->addWidget(title);
  header->addStretch(1);
  header->addWidget(recheckButton);
  layout->addLayout(header);

  auto* explanation = new QLabel(
      QString::fromUtf8(platformTexts().requiredToolsExplanation),
      this);
  explanation->setFont(calloutFont());
  explanation->setWordWrap(true);
  layout->addWidget(explanation);

  auto* scrollArea = new QScrollArea(this);
  scrollArea->setWidgetResizable(true);
  scrollArea->setFrameShape(QFrame::NoFrame);
  scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);   // long texts wrap or elide instead
  auto* content = new QWidget;
  auto* contentLayout = new QVBoxLayout(content);
  contentLayout->setContentsMargins(0, 4, 0, 16);
  contentLayout->setSpacing(10);

  contentLayout->addWidget(new QLabel(QStringLiteral("Install everything except JPEGli:"), content));
  contentLayout->addWidget(commandTitle(QStringLiteral("Homebrew"), content));
  contentLayout->addWidget(commandBlock(combinedInstallCommand(), copy_, content));
  if (showsDebianCommands) {
    contentLayout->addWidget(commandTitle(QStringLiteral("Debian/Ubuntu"), content));
    contentLayout->addWidget(commandBlock(combinedDebianInstallCommand(), copy_, content));
  }

  auto* rows = new QWidget(content);
  rowsLayout_ = new QVBoxLayout(rows);
  rowsLayout_->setContentsMargins(0, 0, 0, 0);
  rowsLayout_->setSpacing(10);
  contentLayout->addWidget(rows);
  contentLayout->addStretch(1);
  scrollArea->setWidget(content);
  layout->addWidget(scrollArea, 1);

  buildRows();
}

void RequiredToolsView::recheck() {
  executables_.invalidate();
  ++recheckToken_;
  buildRows();
}

void RequiredToolsView::buildRows() {
  while (QLayoutItem* item = rowsLayout_->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  std::vector<std::string> directories = searchPath_.toolSearchDirectories();
  for (const ToolRequirement& requirement : allToolRequirements()) {
    rowsLayout_->addWidget(new RequiredToolRow(requirement, directories, copy_, loads_));
  }
}

}  // namespace quorlin::gui
