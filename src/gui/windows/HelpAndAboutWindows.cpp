#include "gui/windows/HelpAndAboutWindows.h"

#include <QDate>
#include <QFile>
#include <QFrame>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#include "core/common/PlatformTexts.h"
#include "gui/app/TextStyles.h"
#include "gui/windows/HelpAndAboutContent.h"
#include "gui/windows/WindowParts.h"

namespace quorlin::gui {

namespace {

// A plain window whose content scrolls vertically; kept (hidden) when closed.
std::unique_ptr<QWidget> makeScrollingWindow(const QString& title, QSize contentSize, QSize minimumSize,
                                             QWidget* content) {
  auto window = std::make_unique<QWidget>(nullptr, Qt::Window);
  window->setWindowTitle(title);
  auto* layout = new QVBoxLayout(window.get());
  layout->setContentsMargins(0, 0, 0, 0);
  auto* scrollArea = new QScrollArea;
  scrollArea->setFrameShape(QFrame::NoFrame);
  scrollArea->setWidgetResizable(true);
  scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  scrollArea->setWidget(content);
  layout->addWidget(scrollArea);
  window->setMinimumSize(minimumSize);
  window->resize(contentSize);
  closeOnEscape(window.get());
  centerOnScreen(window.get());
  return window;
}

QLabel* makeSecondaryLabel(const QString& text, const QFont& font) {
  QLabel* label = makeTextLabel(text, font);
  label->setForegroundRole(QPalette::PlaceholderText);
  return label;
}

QFrame* makeDivider() {
  auto* divider = new QFrame;
  divider->setFrameShape(QFrame::HLine);
  divider->setFrameShadow(QFrame::Sunken);
  return divider;
}

QLabel* makeLinkLabel(const std::string& url, const QFont& font) {
  QString href = QString::fromUtf8(url).toHtmlEscaped();
  auto* label = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(href));
  label->setFont(font);
  label->setTextFormat(Qt::RichText);
  label->setTextInteractionFlags(Qt::TextBrowserInteraction);
  label->setOpenExternalLinks(true);
  return label;
}

// A key in a column 150 points wide, then its description.
QLayout* makeHelpRow(const HelpItem& item) {
  auto* row = new QHBoxLayout;
  row->setSpacing(0);
  QLabel* key = makeTextLabel(QString::fromUtf8(item.key), calloutFont(QFont::DemiBold));
  key->setObjectName(QStringLiteral("helpKey"));
  key->setFixedWidth(150);
  key->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  row->addWidget(key, 0, Qt::AlignTop);
  QLabel* description = makeTextLabel(QString::fromUtf8(item.text), calloutFont());
  description->setObjectName(QStringLiteral("helpText"));
  description->setAlignment(Qt::AlignLeft | Qt::AlignTop);   // level with a key that wraps
  row->addWidget(description, 1);
  return row;
}

// The help texts: the product name, then each section with its title,
// paragraphs and key rows.
class AppHelpView final : public QWidget {
 public:
  AppHelpView() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(20);
    column->addWidget(makeSymbolLabel("photo.on.rectangle.angled", QStringLiteral("Quorlin"), largeTitleFont()), 0,
                      Qt::AlignLeft);
    for (const HelpSection& section : helpSections()) {
      auto* block = new QVBoxLayout;
      block->setSpacing(8);
      QWidget* title = makeSymbolLabel(section.symbolName, QString::fromUtf8(section.title), title3Font(QFont::DemiBold));
      title->setObjectName(QStringLiteral("helpSectionTitle"));
      block->addWidget(title, 0, Qt::AlignLeft);
      for (const HelpItem& item : section.items) {
        if (item.isRow()) {
          block->addLayout(makeHelpRow(item));
        } else {
          QLabel* paragraph = makeTextLabel(QString::fromUtf8(item.text), calloutFont());
          paragraph->setObjectName(QStringLiteral("helpText"));
          block->addWidget(paragraph);
        }
      }
      column->addLayout(block);
    }
    column->addStretch(1);
  }
};

QWidget* makeAttributionBox(const OpenSourceAttribution& attribution) {
  auto* box = new RoundedBackground(QPalette::WindowText, 8, 0.06);
  box->setObjectName(QStringLiteral("attribution"));
  auto* column = new QVBoxLayout(box);
  column->setContentsMargins(12, 10, 12, 10);
  column->setSpacing(3);
  QLabel* name = makeTextLabel(QString::fromUtf8(attribution.name), calloutFont(QFont::DemiBold));
  name->setObjectName(QStringLiteral("attributionName"));
  column->addWidget(name);
  column->addWidget(makeTextLabel(QString::fromUtf8(attribution.role), calloutFont()));
  column->addWidget(makeTextLabel(QString::fromUtf8(attribution.license), captionFont()));
  QLabel* link = makeLinkLabel(attribution.url, captionFont());
  link->setObjectName(QStringLiteral("attributionLink"));
  column->addWidget(link);
  return box;
}

// The icon, name, version and credit, then the open-source projects Quorlin
// runs and a footer with the year the view was built in.
class AboutView final : public QWidget {
 public:
  AboutView() {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(28, 24, 28, 24);
    column->setSpacing(8);

    // The space stays reserved while the application icon is not available.
    auto* icon = new QLabel;
    icon->setObjectName(QStringLiteral("aboutIcon"));
    icon->setFixedSize(96, 96);
    const QString iconPath = QStringLiteral(":/app/quorlin.svg");
    QIcon appIcon = QFile::exists(iconPath) ? QIcon(iconPath) : QIcon();
    if (!appIcon.isNull()) icon->setPixmap(appIcon.pixmap(QSize(96, 96), devicePixelRatioF()));
    column->addWidget(icon, 0, Qt::AlignHCenter);

    auto* name = new QLabel(QStringLiteral("Quorlin"));
    name->setFont(largeTitleFont());
    column->addWidget(name, 0, Qt::AlignHCenter);

    auto* version = new QLabel(QString::fromUtf8(buildVersionLine()));
    version->setObjectName(QStringLiteral("aboutVersion"));
    version->setFont(calloutFont());
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(version, 0, Qt::AlignHCenter);

    auto* credit = new QLabel(QStringLiteral("Made by the Quorlin developers."));
    credit->setFont(calloutFont());
    column->addWidget(credit, 0, Qt::AlignHCenter);

    column->addSpacing(6);
    column->addWidget(makeDivider());
    column->addSpacing(6);

    auto* heading = new QLabel(QStringLiteral("Open Source Software"));
    heading->setFont(title3Font(QFont::DemiBold));
    column->addWidget(heading);
    column->addWidget(makeSecondaryLabel(
        QString::fromUtf8(platformTexts().acknowledgementsIntro),
        calloutFont()));
    column->addSpacing(4);
    for (const OpenSourceAttribution& attribution : openSourceAttributions()) {
      column->addWidget(makeAttributionBox(attribution));
    }

    column->addSpacing(6);
    column->addWidget(makeDivider());
    QLabel* footer = makeSecondaryLabel(QString::fromUtf8(aboutFooter(QDate::currentDate().year())), captionFont());
    footer->setObjectName(QStringLiteral("aboutFooter"));
    column->addWidget(footer);
    column->addStretch(1);
  }
};

}  // namespace

struct AppHelpWindowController::State {
  std::unique_ptr<QWidget> window;
};

AppHelpWindowController::AppHelpWindowController() : state_(std::make_unique<State>()) {}

AppHelpWindowController::~AppHelpWindowController() = default;

void AppHelpWindowController::show() {
  if (!state_->window) {
    state_->window =
        makeScrollingWindow(QStringLiteral("Quorlin Help"), QSize(680, 660), QSize(560, 440), new AppHelpView);
  }
  bringToFront(state_->window.get());
}

QWidget* AppHelpWindowController::window() const { return state_->window.get(); }

struct AboutWindowController::State {
  std::unique_ptr<QWidget> window;
};

AboutWindowController::AboutWindowController() : state_(std::make_unique<State>()) {}

AboutWindowController::~AboutWindowController() = default;

void AboutWindowController::show() {
  if (!state_->window) {
    state_->window =
        makeScrollingWindow(QStringLiteral("About Quorlin"), QSize(560, 540), QSize(480, 420), new AboutView);
  }
  bringToFront(state_->window.get());
}

QWidget* AboutWindowController::window() const { return state_->window.get(); }

}  // namespace quorlin::gui
