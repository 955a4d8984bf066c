#include "gui/app/SymbolIcons.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QString>
#include <QSvgRenderer>

#include <algorithm>
#include <array>
#include <optional>

// The icon resources live in a static library, whose resource initialiser the
// linker would drop unless something refers to it.
static void initializeIconResources() { Q_INIT_RESOURCE(icons); }

namespace quorlin::gui {

namespace {

constexpr std::array<std::string_view, 27> symbolTable{
    "arrow.clockwise",
    "arrow.triangle.2.circlepath",
    "arrow.up.left.and.arrow.down.right",
    "chart.xyaxis.line",
    "checkmark.circle.fill",
    "doc.badge.gearshape",
    "doc.on.doc",
    "doc.richtext",
    "exclamationmark.triangle.fill",
    "info.circle",
    "magnifyingglass",
    "minus.circle",
    "minus.magnifyingglass",
    "photo",
    "photo.on.rectangle.angled",
    "play.circle",
    "play.fill",
    "plus",
    "plus.magnifyingglass",
    "scope",
    "square.on.square",
    "stop.fill",
    "terminal",
    "viewfinder",
    "wrench.and.screwdriver",
    "xmark",
    "xmark.circle.fill",
};

bool isKnownSymbol(std::string_view symbolName) {
  return std::find(symbolTable.begin(), symbolTable.end(), symbolName) != symbolTable.end();
}

// Paints a monochrome SVG in the palette's text colour at any size and scale.
class TintedSvgIconEngine final : public QIconEngine {
 public:
  // Without `colour` the drawing takes the palette's text colour.
  explicit TintedSvgIconEngine(QString resourcePath, std::optional<QColor> colour = std::nullopt)
      : resourcePath_(std::move(resourcePath)), colour_(colour) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
    qreal scale = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    painter->drawPixmap(rect, render(rect.size() * scale, mode, scale));
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State) override { return render(size, mode, 1.0); }

  // QIcon asks for the size in device pixels already multiplied by `scale`.
  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override {
    return render(size, mode, scale);
  }

  QIconEngine* clone() const override { return new TintedSvgIconEngine(resourcePath_, colour_); }
  QString key() const override { return QStringLiteral("QuorlinTintedSvg"); }

 private:
  QPixmap render(QSize pixels, QIcon::Mode mode, qreal scale) const {
    if (pixels.isEmpty()) return {};
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter painter(&image);
      QSvgRenderer renderer(resourcePath_);
      renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(pixels)));
      painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
      painter.fillRect(image.rect(), tint(mode));
    }
    QPixmap pixmap = QPixmap::fromImage(std::move(image));
    pixmap.setDevicePixelRatio(scale);
    return pixmap;
  }

  QColor tint(QIcon::Mode mode) const {
    if (colour_ && mode != QIcon::Disabled) return *colour_;
    QPalette::ColorGroup group = mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active;
    return QGuiApplication::palette().color(group, QPalette::WindowText);
  }

  QString resourcePath_;
  std::optional<QColor> colour_;
};

}  // namespace

namespace {

QIcon bundledIcon(std::string_view symbolName, std::optional<QColor> colour) {
  static const bool isInitialized = (initializeIconResources(), true);
  (void)isInitialized;
  if (!isKnownSymbol(symbolName)) return {};
  QString path = QStringLiteral(":/icons/") + QString::fromUtf8(symbolName.data(), qsizetype(symbolName.size())) +
                 QStringLiteral(".svg");
  return QIcon(new TintedSvgIconEngine(path, colour));
}

}  // namespace

QIcon bundledSymbolIcon(std::string_view symbolName) { return bundledIcon(symbolName, std::nullopt); }

QIcon tintedSymbolIcon(std::string_view symbolName, const QColor& colour) { return bundledIcon(symbolName, colour); }

QIcon symbolIcon(std::string_view symbolName) { return bundledSymbolIcon(symbolName); }

std::vector<std::string_view> knownSymbolNames() {
  return {symbolTable.begin(), symbolTable.end()};
}

}  // namespace quorlin::gui
