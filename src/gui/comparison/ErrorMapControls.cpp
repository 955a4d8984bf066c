#include "gui/comparison/ErrorMapControls.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QSignalBlocker>
#include <QToolButton>

#include <iterator>

#include "gui/app/TextStyles.h"

namespace quorlin::gui {

ErrorMapControls::ErrorMapControls(QWidget* parent)
    : QWidget(parent), toggle_(new QToolButton), layerPicker_(new QComboBox) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(4);
  toggle_->setObjectName("errorMapButton");
  toggle_->setText(QStringLiteral("Error Map"));
  toggle_->setToolTip(QStringLiteral("Show where each result lost its score (hold E)"));
  toggle_->setCheckable(true);
  toggle_->setAutoRaise(true);
  toggle_->setFocusPolicy(Qt::NoFocus);
  toggle_->setFont(calloutFont());
  layerPicker_->setObjectName("errorMapLayerPicker");
  layerPicker_->setToolTip(QStringLiteral("Which of the metric's errors the map shows"));
  layerPicker_->setFocusPolicy(Qt::NoFocus);
  layerPicker_->setFont(calloutFont());
  for (ErrorMapLayer layer : errorMapLayers) {
    layerPicker_->addItem(QString::fromUtf8(errorMapLayerName(layer).data(),
                                            static_cast<qsizetype>(errorMapLayerName(layer).size())));
  }
  layout->addWidget(toggle_);
  layout->addWidget(layerPicker_);
  // The button shows the workspace's state: a click asks for a change and
  // setState answers with the outcome.
  connect(toggle_, &QToolButton::clicked, this, [this](bool checked) {
    toggle_->setChecked(!checked);
    emit toggleRequested();
  });
  connect(layerPicker_, &QComboBox::activated, this, [this](int index) {
    if (index >= 0 && index < static_cast<int>(std::size(errorMapLayers))) {
      emit layerChosen(errorMapLayers[static_cast<std::size_t>(index)]);
    }
  });
}

void ErrorMapControls::setState(bool isShowing, ErrorMapLayer layer) {
  const QSignalBlocker toggleBlocker(toggle_);
  const QSignalBlocker pickerBlocker(layerPicker_);
  toggle_->setChecked(isShowing);
  layerPicker_->setCurrentIndex(static_cast<int>(layer));
}

}  // namespace quorlin::gui
