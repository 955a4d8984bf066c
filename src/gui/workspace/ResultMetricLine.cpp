#include "gui/workspace/ResultMetricLine.h"

#include <QHBoxLayout>
#include <QLabel>

namespace quorlin::gui {

ResultMetricLine::ResultMetricLine(QWidget* parent) : ResultMetricLine(QString(), QString(), parent) {}

ResultMetricLine::ResultMetricLine(const QString& label, const QString& value, QWidget* parent)
    : QWidget(parent), label_(new QLabel(label, this)), value_(new QLabel(value, this)) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(8);
  label_->setForegroundRole(QPalette::PlaceholderText);
  label_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  value_->setAlignment(Qt::AlignRight | Qt::AlignTop);
  value_->setWordWrap(true);
  value_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  layout->addWidget(label_, 0, Qt::AlignTop);
  layout->addWidget(value_, 1);
  applyEmphasis();
}

QString ResultMetricLine::label() const { return label_->text(); }
QString ResultMetricLine::value() const { return value_->text(); }

void ResultMetricLine::setLabel(const QString& label) { label_->setText(label); }
void ResultMetricLine::setValue(const QString& value) { value_->setText(value); }

void ResultMetricLine::setEmphasized(bool emphasized, QColor emphasisColor) {
  emphasized_ = emphasized;
  emphasisColor_ = emphasisColor;
  applyEmphasis();
}

void ResultMetricLine::applyEmphasis() {
  QFont font = value_->font();
  font.setWeight(emphasized_ ? QFont::DemiBold : QFont::Normal);
  value_->setFont(font);
  // A palette of its own only while a colour is set, so the value otherwise
  // follows the window's palette as it changes.
  if (emphasized_ && emphasisColor_.isValid()) {
    QPalette palette = value_->palette();
    palette.setColor(QPalette::WindowText, emphasisColor_);
    value_->setPalette(palette);
  } else {
    value_->setPalette(QPalette());
  }
}

}  // namespace quorlin::gui
