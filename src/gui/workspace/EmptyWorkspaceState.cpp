#include "gui/workspace/EmptyWorkspaceState.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

#include "gui/app/SymbolIcons.h"
#include "gui/app/TextStyles.h"

namespace quorlin::gui {

EmptyWorkspaceState::EmptyWorkspaceState(QWidget* parent)
    : QWidget(parent),
      symbol_(new QLabel),
      headline_(new PaletteTextLabel(PaletteTextLabel::Shade::primary, PaletteTextLabel::Layout::wrapped)),
      detail_(new PaletteTextLabel(PaletteTextLabel::Shade::secondary, PaletteTextLabel::Layout::wrapped)) {
  QFont headlineFont = calloutFont(QFont::DemiBold);
  headlineFont.setPointSizeF(headlineFont.pointSizeF() * 1.3);
  headline_->setFont(headlineFont);
  headline_->setText(QStringLiteral("Open a PNG, JPEG, TIFF, HEIC, or other still image"));
  detail_->setFont(calloutFont());
  detail_->setText(QStringLiteral(
      "The app will encode it with four configurable panels, then decode each result into a quadrant for visual "
      "comparison."));
  for (PaletteTextLabel* label : {headline_, detail_}) {
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setMaximumWidth(460);
  }
  symbol_->setAlignment(Qt::AlignCenter);
  refreshSymbol();

  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(10);
  layout->addStretch(1);
  layout->addWidget(symbol_, 0, Qt::AlignHCenter);
  layout->addWidget(headline_, 0, Qt::AlignHCenter);
  layout->addWidget(detail_, 0, Qt::AlignHCenter);
  layout->addStretch(1);
}

void EmptyWorkspaceState::refreshSymbol() {
  // Drawn from the palette, so it is made again when the palette changes.
  symbol_->setPixmap(symbolIcon("photo").pixmap(QSize(56, 56), devicePixelRatioF(), QIcon::Disabled));
}

void EmptyWorkspaceState::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) refreshSymbol();
  QWidget::changeEvent(event);
}

}  // namespace quorlin::gui
