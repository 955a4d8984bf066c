#include "gui/workspace/LabeledSlider.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

#include "gui/app/TextStyles.h"

namespace quorlin::gui {

LabeledSlider::LabeledSlider(const QString& label, IntegerRange range, QWidget* parent)
    : QWidget(parent),
      range_(range),
      title_(new QLabel(label, this)),
      valueLabel_(new QLabel(this)),
      slider_(new QSlider(Qt::Horizontal, this)),
      captions_(new QWidget(this)),
      lowCaption_(new QLabel(captions_)),
      highCaption_(new QLabel(captions_)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(2);

  auto* top = new QHBoxLayout;
  top->setSpacing(6);
  top->addWidget(title_);
  top->addStretch(1);
  valueLabel_->setFont(calloutFont(QFont::DemiBold));
  valueLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  top->addWidget(valueLabel_);
  layout->addLayout(top);

  slider_->setAccessibleName(label);
  slider_->setPageStep(1);
  layout->addWidget(slider_);

  auto* captionRow = new QHBoxLayout(captions_);
  captionRow->setContentsMargins(0, 0, 0, 0);
  for (QLabel* caption : {lowCaption_, highCaption_}) {
    caption->setFont(captionFont());
    caption->setForegroundRole(QPalette::PlaceholderText);
  }
  captionRow->addWidget(lowCaption_);
  captionRow->addStretch(1);
  highCaption_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  captionRow->addWidget(highCaption_);
  captions_->hide();
  layout->addWidget(captions_);

  connect(slider_, &QSlider::valueChanged, this, &LabeledSlider::take);
  // A stored value outside the range leaves the knob at an end; moving it
  // "to" that end changes no slider value, but it is still the user's choice.
  connect(slider_, &QSlider::actionTriggered, this, [this] { take(slider_->sliderPosition()); });
  connect(slider_, &QSlider::sliderReleased, this, [this] { take(slider_->value()); });
  setRange(range);
  showValue();
}

QString LabeledSlider::label() const { return title_->text(); }

void LabeledSlider::setLabel(const QString& label) {
  title_->setText(label);
  slider_->setAccessibleName(label);
}

void LabeledSlider::setRange(IntegerRange range) {
  range_ = range;
  const QSignalBlocker blocker(slider_);
  slider_->setRange(range.lowerBound, range.upperBound);
  slider_->setValue(std::clamp(value_, range.lowerBound, range.upperBound));
}

void LabeledSlider::setValue(int value) {
  value_ = value;
  const QSignalBlocker blocker(slider_);
  slider_->setValue(std::clamp(value, range_.lowerBound, range_.upperBound));
  showValue();
}

void LabeledSlider::setEndCaptions(const QString& lowCaption, const QString& highCaption) {
  lowCaption_->setText(lowCaption);
  highCaption_->setText(highCaption);
  captions_->setVisible(!lowCaption.isEmpty() || !highCaption.isEmpty());
}

QString LabeledSlider::valueText() const { return QString::number(value_); }

void LabeledSlider::take(int position) {
  if (position == value_) return;
  value_ = position;
  showValue();
  emit valueEdited(position);
}

void LabeledSlider::showValue() { valueLabel_->setText(valueText()); }

}  // namespace quorlin::gui
