#include "gui/app/ApplicationAppearance.h"

#include <QApplication>
#include <QColor>
#include <QStyle>
#include <QStyleFactory>

#include "gui/app/ContrastStyle.h"

namespace quorlin::gui {

QPalette lightPalette() {
  QStyle* fusion = QStyleFactory::create("Fusion");
  QPalette palette = fusion->standardPalette();
  delete fusion;
  return palette;
}

QPalette darkPalette() {
  const QColor window(45, 45, 48);
  const QColor base(30, 30, 32);
  const QColor text(232, 232, 232);
  const QColor disabledText(128, 128, 132);
  const QColor highlight(42, 130, 218);

  QPalette palette;
  palette.setColor(QPalette::Window, window);
  palette.setColor(QPalette::WindowText, text);
  palette.setColor(QPalette::Base, base);
  palette.setColor(QPalette::AlternateBase, window);
  palette.setColor(QPalette::ToolTipBase, QColor(60, 60, 64));
  palette.setColor(QPalette::ToolTipText, text);
  // Secondary texts use it: it keeps 4.5:1 on the window, unlike disabled text.
  palette.setColor(QPalette::PlaceholderText, QColor(152, 152, 156));
  palette.setColor(QPalette::Text, text);
  palette.setColor(QPalette::Button, QColor(58, 58, 62));
  palette.setColor(QPalette::ButtonText, text);
  palette.setColor(QPalette::BrightText, QColor(255, 90, 90));
  palette.setColor(QPalette::Light, QColor(78, 78, 82));
  palette.setColor(QPalette::Midlight, QColor(66, 66, 70));
  palette.setColor(QPalette::Mid, QColor(40, 40, 42));
  palette.setColor(QPalette::Dark, QColor(24, 24, 26));
  palette.setColor(QPalette::Shadow, QColor(0, 0, 0));
  palette.setColor(QPalette::Highlight, highlight);
  palette.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
  palette.setColor(QPalette::Link, QColor(90, 160, 240));
  palette.setColor(QPalette::LinkVisited, QColor(160, 130, 230));
  for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
    palette.setColor(QPalette::Disabled, role, disabledText);
  }
  palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(70, 70, 74));
  palette.setColor(QPalette::Disabled, QPalette::HighlightedText, disabledText);
  return palette;
}

namespace {

// The style the desktop chose, also when our corrections already wrap it.
QString desktopStyleName() {
  const QStyle* style = QApplication::style();
  if (const auto* corrected = qobject_cast<const ContrastStyle*>(style)) style = corrected->baseStyle();
  return style->name();
}

}  // namespace

ApplicationAppearance::ApplicationAppearance()
    : desktopStyleName_(desktopStyleName()), desktopPalette_(QApplication::palette()) {}

void ApplicationAppearance::apply(AppAppearance appearance) {
  switch (appearance) {
    case AppAppearance::automatic:
      // The desktop's style, with our corrections; its palette unless it was never replaced.
      if (applied_ != AppAppearance::automatic || !qobject_cast<const ContrastStyle*>(QApplication::style())) {
        QApplication::setStyle(new ContrastStyle(desktopStyleName_));
      }
      if (applied_ != AppAppearance::automatic) QApplication::setPalette(desktopPalette_);
      break;
    case AppAppearance::light:
      QApplication::setStyle(new ContrastStyle);
      QApplication::setPalette(lightPalette());
      break;
    case AppAppearance::dark:
      QApplication::setStyle(new ContrastStyle);
      QApplication::setPalette(darkPalette());
      break;
  }
  applied_ = appearance;
}

}  // namespace quorlin::gui
