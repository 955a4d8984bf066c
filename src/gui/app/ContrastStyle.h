// ContrastStyle: a style (Fusion unless told otherwise) with two corrections:
// check box and radio button outlines that keep at least 3:1 contrast against
// the window on dark palettes (Fusion outlines them in a shade darker than the
// window, which all but vanishes when the window is dark; on light palettes
// its drawing is left as it is), and a clear gap between a tool button's
// icon and the label beside it.
#pragma once

#include <QProxyStyle>

namespace quorlin::gui {

class ContrastStyle : public QProxyStyle {
  Q_OBJECT

 public:
  explicit ContrastStyle(const QString& baseStyleName = QStringLiteral("Fusion"));

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget = nullptr) const override;
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget = nullptr) const override;
  QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                         const QWidget* widget = nullptr) const override;

  // The space between a tool button's icon and its label.
  static constexpr int iconLabelGap = 6;
};

// The outline of an unchecked control on `palette` (disabled ones fainter).
QColor controlOutlineColor(const QPalette& palette, bool isEnabled = true);

}  // namespace quorlin::gui
