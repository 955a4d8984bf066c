// Conversions between the comparison geometry's plain values and Qt's. Both
// use view points with y pointing down, so these only copy fields.
#pragma once

#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QSizeF>

#include "core/comparison/ViewGeometry.h"

namespace quorlin::gui {

inline QRectF toQRectF(const RectF& rect) { return {rect.x, rect.y, rect.width, rect.height}; }
inline QPointF toQPointF(const PointF& point) { return {point.x, point.y}; }
inline PointF toPointF(const QPointF& point) { return {point.x(), point.y()}; }
inline SizeF toSizeF(const QSizeF& size) { return {size.width(), size.height()}; }
inline SizeF toSizeF(const QSize& size) { return {double(size.width()), double(size.height())}; }
inline QSizeF toQSizeF(const SizeF& size) { return {size.width, size.height}; }

}  // namespace quorlin::gui
