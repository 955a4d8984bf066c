#include "gui/widgets/SegmentedPicker.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>

namespace quorlin::gui {

namespace {

constexpr double segmentRadius = 5.0;

class Segment : public QAbstractButton {
 public:
  Segment(const QString& text, QWidget* parent) : QAbstractButton(parent) {
    setText(text);
    setCheckable(true);
    setFocusPolicy(Qt::TabFocus);
  }

  QSize sizeHint() const override {
    const QFontMetrics metrics = fontMetrics();
    return {metrics.horizontalAdvance(text()) + 20, metrics.height() + 10};
  }

 protected:
  void enterEvent(QEnterEvent* event) override {
    update();
    QAbstractButton::enterEvent(event);
  }
  void leaveEvent(QEvent* event) override {
    update();
    QAbstractButton::leaveEvent(event);
  }

  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(2, 2, -2, -2);
    QColor textColor = palette().color(QPalette::ButtonText);
    if (isChecked()) {
      QPainterPath shape;
      shape.addRoundedRect(frame, segmentRadius - 1, segmentRadius - 1);
      painter.fillPath(shape, palette().color(QPalette::Highlight));
      textColor = palette().color(QPalette::HighlightedText);
    } else if (underMouse() || isDown()) {
      QColor hover = palette().color(QPalette::ButtonText);
      hover.setAlphaF(isDown() ? 0.16f : 0.08f);
      QPainterPath shape;
      shape.addRoundedRect(frame, segmentRadius - 1, segmentRadius - 1);
      painter.fillPath(shape, hover);
    }
    painter.setPen(textColor);
    painter.drawText(rect(), Qt::AlignCenter, text());
    if (hasFocus()) {
      QPen focus(palette().color(QPalette::Highlight), 1.0, Qt::DotLine);
      painter.setPen(focus);
      painter.setBrush(Qt::NoBrush);
      painter.drawRoundedRect(frame.adjusted(1, 1, -1, -1), segmentRadius - 2, segmentRadius - 2);
    }
  }
};

}  // namespace

SegmentedPicker::SegmentedPicker(const std::vector<QString>& segments, QWidget* parent) : QWidget(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  group_.setExclusive(true);
  for (std::size_t i = 0; i < segments.size(); ++i) {
    auto* segment = new Segment(segments[i], this);
    group_.addButton(segment, int(i));
    layout->addWidget(segment);
  }
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  connect(&group_, &QButtonGroup::idClicked, this, &SegmentedPicker::segmentClicked);
}

void SegmentedPicker::setCurrentIndex(int index) {
  if (QAbstractButton* button = group_.button(index)) button->setChecked(true);
}

int SegmentedPicker::currentIndex() const { return group_.checkedId(); }

QAbstractButton* SegmentedPicker::segment(int index) const { return group_.button(index); }

void SegmentedPicker::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor border = palette().color(QPalette::WindowText);
  border.setAlphaF(0.25f);
  QColor fill = palette().color(QPalette::WindowText);
  fill.setAlphaF(0.05f);
  painter.setPen(QPen(border, 1.0));
  painter.setBrush(fill);
  painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), segmentRadius, segmentRadius);
}

}  // namespace quorlin::gui
