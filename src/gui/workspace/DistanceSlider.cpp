#include "gui/workspace/DistanceSlider.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

#include "core/workspace/CodecPanelPresentation.h"
#include "gui/app/TextStyles.h"

namespace quorlin::gui {

DistanceSlider::DistanceSlider(QWidget* parent)
    : QWidget(parent), valueLabel_(new QLabel(this)), slider_(new QSlider(Qt::Horizontal, this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);

  auto* top = new QHBoxLayout;
  top->setSpacing(6);
  top->addWidget(new QLabel(QString::fromUtf8(CodecPanelTexts::distance.data(), CodecPanelTexts::distance.size()),
                            this));
  top->addStretch(1);
  valueLabel_->setFont(calloutFont(QFont::DemiBold));
  valueLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  top->addWidget(valueLabel_);
  layout->addLayout(top);

  slider_->setRange(0, positionSteps);
  slider_->setSingleStep(positionSteps / 100);
  slider_->setPageStep(positionSteps / 10);
  slider_->setAccessibleName("Distance");
  layout->addWidget(slider_);

  auto* caption = new QLabel(
      QString::fromUtf8(CodecPanelTexts::lowerIsBetter.data(), CodecPanelTexts::lowerIsBetter.size()), this);
  caption->setFont(captionFont());
  caption->setForegroundRole(QPalette::PlaceholderText);
  layout->addWidget(caption);

  connect(slider_, &QSlider::valueChanged, this, &DistanceSlider::take);
  // A distance beyond 25 leaves the knob at the right end; moving it "to" the
  // end changes no slider value, but it is still the user's choice.
  connect(slider_, &QSlider::actionTriggered, this, [this] { take(slider_->sliderPosition()); });
  connect(slider_, &QSlider::sliderReleased, this, [this] { take(slider_->value()); });
  setDistance(distance_, codec_);
}

void DistanceSlider::setDistance(double distance, CompressionCodec codec) {
  distance_ = distance;
  codec_ = codec;
  showValue();
  // Leave the knob where it is when it already stands for this distance, so an
  // edit echoed back by the model does not make it jump by a rounding step.
  if (distanceForSliderPosition(position()) == distance) return;
  const QSignalBlocker blocker(slider_);
  slider_->setValue(static_cast<int>(std::lround(distanceSliderPosition(distance) * positionSteps)));
}

double DistanceSlider::position() const { return static_cast<double>(slider_->value()) / positionSteps; }

QString DistanceSlider::valueText() const { return QString::fromStdString(distanceValueText(distance_, codec_)); }

void DistanceSlider::take(int step) {
  const double distance = distanceForSliderPosition(static_cast<double>(step) / positionSteps);
  if (distance == distance_) return;
  distance_ = distance;
  showValue();
  emit distanceEdited(distance);
}

void DistanceSlider::showValue() { valueLabel_->setText(valueText()); }

}  // namespace quorlin::gui
