#include "gui/comparison/ComparisonOverlayWidget.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPen>

#include <cmath>

#include "core/comparison/SplitOverlay.h"
#include "gui/app/SymbolIcons.h"
#include "gui/app/TextStyles.h"
#include "gui/comparison/QtGeometry.h"

namespace quorlin::gui {

namespace {

constexpr char handleSymbol[] = "arrow.up.left.and.arrow.down.right";
constexpr double handleCornerRadius = 8;
constexpr double badgeCornerRadius = 9;
constexpr double legendBarWidth = 256;
constexpr double legendBarHeight = 10;
constexpr double legendPadding = 10;
constexpr double legendBottomDistance = 16;
constexpr int legendMidGrey = 128;

QColor toQColor(const RGBAColor& color) { return QColor::fromRgbF(float(color.red), float(color.green), float(color.blue), float(color.alpha)); }

// Text size of `text` in `font`, padded.
QSizeF paddedTextSize(const QFont& font, const QString& text, double horizontal, double vertical) {
  QFontMetricsF metrics(font);
  return {std::ceil(metrics.horizontalAdvance(text)) + 2 * horizontal, std::ceil(metrics.height()) + 2 * vertical};
}

}  // namespace

ComparisonOverlayWidget::ComparisonOverlayWidget(QWidget* parent)
    : QWidget(parent),
      labelFont_(captionFont(QFont::DemiBold)),
      badgeFont_(calloutFont(QFont::DemiBold)),
      handleIcon_(symbolIcon(handleSymbol)) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_NoSystemBackground);
}

void ComparisonOverlayWidget::setContent(const ComparisonOverlayContent& content) {
  content_ = content;
  update();
}

QSizeF ComparisonOverlayWidget::labelSize(int quadrant) const {
  return paddedTextSize(labelFont_, QString::fromUtf8(content_.labels[static_cast<std::size_t>(quadrant)].text),
                        labelHorizontalPadding, labelVerticalPadding);
}

QRectF ComparisonOverlayWidget::labelFrame(int quadrant) const {
  SplitOverlayLayout layout = splitOverlayLayout(toSizeF(size()), content_.comparisonX, content_.comparisonY);
  QSizeF measured = labelSize(quadrant);
  PointF origin = quadrantLabelOrigin(quadrant, layout.splitPoint, toSizeF(measured));
  return {toQPointF(origin), measured};
}

QRectF ComparisonOverlayWidget::badgeFrame() const {
  if (!content_.badgeText) return {};
  QSizeF measured = paddedTextSize(badgeFont_, QString::fromUtf8(*content_.badgeText), badgeHorizontalPadding,
                                   badgeVerticalPadding);
  return toQRectF(differenceBadgeFrame(toSizeF(size()), toSizeF(measured)));
}

QRectF ComparisonOverlayWidget::handleFrame() const {
  return toQRectF(splitOverlayLayout(toSizeF(size()), content_.comparisonX, content_.comparisonY).handle);
}

void ComparisonOverlayWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  paintCross(painter);
  painter.setRenderHint(QPainter::Antialiasing, true);
  paintLabels(painter);
  paintHandle(painter);
  paintBadge(painter);
  paintLegend(painter);
}

QRectF ComparisonOverlayWidget::legendFrame() const {
  if (!content_.errorMapLegend) return {};
  const double line = std::ceil(QFontMetricsF(labelFont_).height());
  const double height = 2 * legendPadding + 3 * line + legendBarHeight + 4;
  const double width = legendBarWidth + 2 * legendPadding + 40;   // room for the end ticks' text
  return {(this->width() - width) / 2, this->height() - legendBottomDistance - height, width, height};
}

void ComparisonOverlayWidget::paintLegend(QPainter& painter) const {
  if (!content_.errorMapLegend) return;
  const ErrorMapLegendContent& legend = *content_.errorMapLegend;
  const QRectF frame = legendFrame();
  const double line = std::ceil(QFontMetricsF(labelFont_).height());
  painter.save();
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor::fromRgbF(0, 0, 0, float(badgeBackgroundOpacity)));
  painter.drawRoundedRect(frame, badgeCornerRadius, badgeCornerRadius);
  painter.setFont(labelFont_);
  painter.setPen(Qt::white);
  QRectF titleRect(frame.left() + legendPadding, frame.top() + legendPadding, frame.width() - 2 * legendPadding, line);
  painter.drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(legend.title));
  const double barLeft = frame.left() + (frame.width() - legendBarWidth) / 2;
  const double barTop = titleRect.bottom() + 2;
  painter.setRenderHint(QPainter::Antialiasing, false);
  for (int step = 0; step < static_cast<int>(legendBarWidth); ++step) {
    const auto colour = errorMapPixel(step / (legendBarWidth - 1), legendMidGrey);
    painter.fillRect(QRectF(barLeft + step, barTop, 1, legendBarHeight), QColor(colour[0], colour[1], colour[2]));
  }
  painter.setRenderHint(QPainter::Antialiasing, true);
  QFont tickFont = labelFont_;
  tickFont.setWeight(QFont::Normal);
  painter.setFont(tickFont);
  const double tickTop = barTop + legendBarHeight + 2;
  if (legend.ticks.empty() && !legend.isLoading) {
    painter.drawText(QRectF(frame.left(), tickTop, frame.width(), line), Qt::AlignCenter,
                     QStringLiteral("No error in any quadrant"));
  }
  for (const ErrorMapLegendTick& tick : legend.ticks) {
    const double x = barLeft + tick.position * (legendBarWidth - 1);
    painter.drawLine(QPointF(x, barTop + legendBarHeight), QPointF(x, tickTop));
    painter.drawText(QRectF(x - 40, tickTop, 80, line), Qt::AlignHCenter | Qt::AlignTop,
                     QString::fromStdString(tick.text));
  }
  const QRectF readingRect(frame.left() + legendPadding, tickTop + line, frame.width() - 2 * legendPadding, line);
  if (legend.reading) {
    const double x = barLeft + legend.readingPosition * (legendBarWidth - 1);
    painter.setPen(QPen(Qt::white, 2));
    painter.drawLine(QPointF(x, barTop - 2), QPointF(x, barTop + legendBarHeight + 2));
    painter.setPen(Qt::white);
    painter.drawText(readingRect, Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(*legend.reading));
  } else {
    painter.drawText(readingRect, Qt::AlignLeft | Qt::AlignVCenter,
                     legend.isLoading ? QStringLiteral("Loading error map…")
                                      : QStringLiteral("Share of the weighted error per pixel"));
  }
  painter.restore();
}

void ComparisonOverlayWidget::paintCross(QPainter& painter) const {
  SplitOverlayLayout layout = splitOverlayLayout(toSizeF(size()), content_.comparisonX, content_.comparisonY);
  // Each line runs along the middle of its 1-point frame.
  QRectF vertical = toQRectF(layout.verticalLine);
  QRectF horizontal = toQRectF(layout.horizontalLine);
  auto drawCross = [&] {
    painter.drawLine(QPointF(vertical.center().x(), vertical.top()), QPointF(vertical.center().x(), vertical.bottom()));
    painter.drawLine(QPointF(horizontal.left(), horizontal.center().y()),
                     QPointF(horizontal.right(), horizontal.center().y()));
  };
  // A light outline under the dark dashes keeps the cross visible on dark content too.
  QPen outline(QColor::fromRgbF(1, 1, 1, float(splitOutlineOpacity)), splitLineWidth + 2 * splitOutlineWidth);
  outline.setCapStyle(Qt::FlatCap);
  painter.setPen(outline);
  drawCross();
  QPen pen(QColor::fromRgbF(0, 0, 0, float(splitLineOpacity)), splitLineWidth);
  pen.setCapStyle(Qt::FlatCap);
  pen.setDashPattern({splitLineDash / splitLineWidth, splitLineDash / splitLineWidth});   // in pen widths
  painter.setPen(pen);
  drawCross();
}

void ComparisonOverlayWidget::paintHandle(QPainter& painter) const {
  QRectF frame = handleFrame();
  painter.setPen(QPen(palette().color(QPalette::Mid), 0.5));
  painter.setBrush(palette().color(QPalette::Window));
  painter.drawRoundedRect(frame.adjusted(0.25, 0.25, -0.25, -0.25), handleCornerRadius, handleCornerRadius);
  // The symbol at the caption font's size, as a bold text glyph would be.
  int side = static_cast<int>(std::lround(QFontMetricsF(labelFont_).height()));
  QRect iconRect(0, 0, side, side);
  iconRect.moveCenter(frame.center().toPoint());
  handleIcon_.paint(&painter, iconRect);
}

void ComparisonOverlayWidget::paintLabels(QPainter& painter) const {
  painter.save();
  painter.setFont(labelFont_);
  for (int quadrant = 0; quadrant < 4; ++quadrant) {
    const QuadrantLabel& label = content_.labels[static_cast<std::size_t>(quadrant)];
    // A label that warns of a stale result does not fade with the others.
    const bool staysVisible = label.background == LabelBackground::needsRegeneration;
    const double opacity = staysVisible ? 1.0 : content_.labelOpacity;
    if (opacity <= 0) continue;
    painter.setOpacity(opacity);
    QRectF frame = labelFrame(quadrant);
    painter.setPen(Qt::NoPen);
    painter.setBrush(toQColor(labelBackgroundColor(label.background)));
    painter.drawRoundedRect(frame, labelCornerRadius, labelCornerRadius);
    painter.setPen(Qt::white);
    painter.drawText(frame, Qt::AlignCenter, QString::fromUtf8(label.text));
  }
  painter.restore();
}

void ComparisonOverlayWidget::paintBadge(QPainter& painter) const {
  if (!content_.badgeText) return;
  QRectF frame = badgeFrame();
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor::fromRgbF(0, 0, 0, float(badgeBackgroundOpacity)));
  painter.drawRoundedRect(frame, badgeCornerRadius, badgeCornerRadius);
  painter.setFont(badgeFont_);
  painter.setPen(Qt::white);
  painter.drawText(frame, Qt::AlignCenter, QString::fromUtf8(*content_.badgeText));
}

}  // namespace quorlin::gui
