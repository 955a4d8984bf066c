#include "gui/workspace/WorkspaceWidgets.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "gui/app/SymbolIcons.h"
#include "gui/app/TextStyles.h"

namespace quorlin::gui {

namespace {

// How much of the window-text colour a secondary text keeps: readable on
// light and dark backgrounds alike, yet clearly subordinate.
constexpr double secondaryTextOpacity = 0.62;

constexpr int activitySpokes = 8;
constexpr int activityFrameMilliseconds = 90;

}  // namespace

// ---- PaletteTextLabel ----

PaletteTextLabel::PaletteTextLabel(Shade shade, Layout layout, QWidget* parent)
    : QWidget(parent), shade_(shade), layout_(layout) {
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  if (layout_ == Layout::wrapped) policy.setHeightForWidth(true);
  setSizePolicy(policy);
}

void PaletteTextLabel::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  updateGeometry();
  update();
}

void PaletteTextLabel::setAlignment(Qt::Alignment alignment) {
  alignment_ = alignment;
  update();
}

QString PaletteTextLabel::displayedText() const {
  if (layout_ == Layout::wrapped) return text_;
  return fontMetrics().elidedText(text_, Qt::ElideMiddle, std::max(0, contentsRect().width()));
}

int PaletteTextLabel::preferredWrapWidth() const {
  const QFontMetrics metrics = fontMetrics();
  return std::min({metrics.horizontalAdvance(text_) + 2, metrics.averageCharWidth() * 60, maximumWidth()});
}

QSize PaletteTextLabel::sizeHint() const {
  const QFontMetrics metrics = fontMetrics();
  if (layout_ == Layout::wrapped) {
    const int width = preferredWrapWidth();
    return {width, heightForWidth(width)};
  }
  return {metrics.horizontalAdvance(text_) + 2, metrics.height()};
}

QSize PaletteTextLabel::minimumSizeHint() const {
  const QFontMetrics metrics = fontMetrics();
  if (layout_ == Layout::wrapped) return {metrics.averageCharWidth() * 12, metrics.height()};
  return {std::min(metrics.horizontalAdvance(text_) + 2, metrics.averageCharWidth() * 8), metrics.height()};
}

int PaletteTextLabel::heightForWidth(int width) const {
  if (layout_ != Layout::wrapped) return fontMetrics().height();
  // A layout that places the text by alignment gives it no more than its
  // preferred width, yet asks for the height at the whole width it has.
  width = std::min(width, preferredWrapWidth());
  const QRect bounds = fontMetrics().boundingRect(QRect(0, 0, std::max(1, width), 100000),
                                                  int(alignment_) | Qt::TextWordWrap, text_);
  return std::max(bounds.height(), fontMetrics().height());
}

QColor PaletteTextLabel::textColor() const {
  QColor color = palette().color(QPalette::WindowText);
  if (shade_ == Shade::secondary) color.setAlphaF(float(color.alphaF() * secondaryTextOpacity));
  return color;
}

void PaletteTextLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setPen(textColor());
  painter.setFont(font());
  if (layout_ == Layout::wrapped) {
    painter.drawText(contentsRect(), int(alignment_) | Qt::TextWordWrap, text_);
  } else {
    painter.drawText(contentsRect(), int(alignment_) | Qt::TextSingleLine, displayedText());
  }
}

void PaletteTextLabel::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) updateGeometry();
  QWidget::changeEvent(event);
}

// ---- SegmentedPicker ----

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

// ---- SeparatorLine ----

SeparatorLine::SeparatorLine(Qt::Orientation orientation, QWidget* parent) : QWidget(parent) {
  if (orientation == Qt::Horizontal) {
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  } else {
    setFixedWidth(1);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
  }
}

void SeparatorLine::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QColor color = palette().color(QPalette::WindowText);
  color.setAlphaF(0.18f);
  painter.fillRect(rect(), color);
}

// ---- ActivityIndicator ----

ActivityIndicator::ActivityIndicator(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
  setFixedSize(sizeHint());
  timer_.setInterval(activityFrameMilliseconds);
  connect(&timer_, &QTimer::timeout, this, [this] {
    phase_ = (phase_ + 1) % activitySpokes;
    update();
  });
}

void ActivityIndicator::setRunning(bool isRunning) {
  if (isRunning == isRunning_) return;
  isRunning_ = isRunning;
  if (isRunning_) {
    timer_.start();
  } else {
    timer_.stop();
  }
  update();
}

void ActivityIndicator::paintEvent(QPaintEvent*) {
  if (!isRunning_) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QPointF centre = QRectF(rect()).center();
  const double outer = std::min(width(), height()) / 2.0 - 1.0;
  const double inner = outer * 0.45;
  QColor color = palette().color(QPalette::WindowText);
  for (int spoke = 0; spoke < activitySpokes; ++spoke) {
    // The spoke at the current phase is the brightest; the others trail off.
    const int age = (phase_ - spoke + activitySpokes) % activitySpokes;
    QColor shade = color;
    shade.setAlphaF(float(1.0 - 0.8 * age / double(activitySpokes - 1)));
    painter.setPen(QPen(shade, 2.0, Qt::SolidLine, Qt::RoundCap));
    const double angle = 2.0 * std::numbers::pi * spoke / activitySpokes;
    const QPointF direction(std::sin(angle), -std::cos(angle));
    painter.drawLine(centre + direction * inner, centre + direction * outer);
  }
}

// ---- SourceInfoButton ----

SourceInfoButton::SourceInfoButton(QWidget* parent)
    : QAbstractButton(parent),
      name_(new PaletteTextLabel(PaletteTextLabel::Shade::primary)),
      summary_(new PaletteTextLabel(PaletteTextLabel::Shade::secondary)) {
  setFocusPolicy(Qt::TabFocus);
  name_->setFont(calloutFont(QFont::Medium));
  summary_->setFont(captionFont());
  for (PaletteTextLabel* label : {name_, summary_}) label->setAttribute(Qt::WA_TransparentForMouseEvents);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(8, 3, 8, 3);
  layout->setSpacing(1);
  layout->addWidget(name_);
  layout->addWidget(summary_);
  QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  policy.setRetainSizeWhenHidden(true);
  setSizePolicy(policy);
}

void SourceInfoButton::setContent(const QString& fileName, const QString& summary) {
  name_->setText(fileName);
  // Without a summary the second line stays, empty, so the toolbar's height
  // does not change with the metadata.
  summary_->setText(summary);
  updateGeometry();
}

void SourceInfoButton::setInteractive(bool isInteractive) {
  isInteractive_ = isInteractive;
  setCursor(isInteractive ? Qt::PointingHandCursor : Qt::ArrowCursor);
  setFocusPolicy(isInteractive ? Qt::TabFocus : Qt::NoFocus);
  update();
}

QSize SourceInfoButton::sizeHint() const { return layout()->sizeHint(); }

QSize SourceInfoButton::minimumSizeHint() const { return layout()->minimumSize(); }

bool SourceInfoButton::hitButton(const QPoint& position) const {
  return isInteractive_ && QAbstractButton::hitButton(position);
}

void SourceInfoButton::enterEvent(QEnterEvent* event) {
  isHovered_ = true;
  update();
  QAbstractButton::enterEvent(event);
}

void SourceInfoButton::leaveEvent(QEvent* event) {
  isHovered_ = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void SourceInfoButton::paintEvent(QPaintEvent*) {
  // Borderless: only a soft highlight under the pointer (stronger while
  // pressed) says that the block can be clicked.
  if (!isInteractive_ || !(isHovered_ || isDown() || hasFocus())) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QColor fill = palette().color(QPalette::WindowText);
  fill.setAlphaF(isDown() ? 0.16f : 0.08f);
  QPainterPath shape;
  shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6, 6);
  painter.fillPath(shape, fill);
}

// ---- EmptyWorkspaceState ----

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
