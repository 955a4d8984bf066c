#include "gui/windows/WindowParts.h"

#include <QApplication>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QShortcut>
#include <QVBoxLayout>

#include "gui/app/SymbolIcons.h"

namespace quorlin::gui {

namespace {

class SymbolView final : public QWidget {
 public:
  SymbolView(std::string_view symbolName, int side, QWidget* parent)
      : QWidget(parent), icon_(symbolIcon(symbolName)) {
    setFixedSize(side, side);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    icon_.paint(&painter, rect(), Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
  }

 private:
  QIcon icon_;
};

}  // namespace

RoundedBackground::RoundedBackground(QPalette::ColorRole role, qreal radius, qreal opacity, QWidget* parent)
    : QWidget(parent), role_(role), radius_(radius), opacity_(opacity) {}

void RoundedBackground::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  QColor colour = palette().color(role_);
  colour.setAlphaF(float(colour.alphaF() * opacity_));
  painter.setBrush(colour);
  painter.drawRoundedRect(QRectF(rect()), radius_, radius_);
}

QWidget* makeSymbolLabel(std::string_view symbolName, const QString& text, const QFont& font, QWidget* parent) {
  auto* widget = new QWidget(parent);
  auto* layout = new QHBoxLayout(widget);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(6);
  auto* icon = makeSymbolView(symbolName, QFontMetrics(font).height(), widget);
  auto* label = new QLabel(text, widget);
  label->setFont(font);
  layout->addWidget(icon);
  layout->addWidget(label);
  return widget;
}

QWidget* makeSymbolView(std::string_view symbolName, int side, QWidget* parent) {
  return new SymbolView(symbolName, side, parent);
}

QLabel* makeTextLabel(const QString& text, const QFont& font, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setFont(font);
  label->setWordWrap(true);
  label->setTextFormat(Qt::PlainText);
  return label;
}

QWidget* floatingParentWindow() {
  QWidget* window = QApplication::activeWindow();
  if (!window) return nullptr;
  while (window->parentWidget()) window = window->parentWidget()->window();
  // A floating window that stands alone is no window to stay above.
  return window->windowType() == Qt::Tool ? nullptr : window;
}

void centerOnScreen(QWidget* window) {
  QWidget* anchor = window->parentWidget() ? window->parentWidget()->window() : nullptr;
  QScreen* screen = anchor ? anchor->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  // A window opened on a small screen is made to fit it (its content scrolls).
  const QSize room = screen->availableGeometry().size() * 0.94;
  if (window->width() > room.width() || window->height() > room.height()) {
    window->resize(window->size().boundedTo(room).expandedTo(window->minimumSize()));
  }
  QRect frame = window->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  window->move(frame.topLeft());
}

void closeOnEscape(QWidget* window) {
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
  escape->setContext(Qt::WindowShortcut);
  QObject::connect(escape, &QShortcut::activated, window, &QWidget::close);
}

void bringToFront(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
}

std::unique_ptr<QWidget> makeFloatingPanel(const QString& title, QSize minimumSize) {
  auto panel = std::make_unique<QWidget>(nullptr, Qt::Tool);
  panel->setAttribute(Qt::WA_MacAlwaysShowToolWindow);
  panel->setWindowTitle(title);
  panel->setMinimumSize(minimumSize);
  auto* layout = new QVBoxLayout(panel.get());
  layout->setContentsMargins(0, 0, 0, 0);
  closeOnEscape(panel.get());
  return panel;
}

void replacePanelContent(QWidget* panel, QWidget* view) {
  QLayout* layout = panel->layout();
  while (QLayoutItem* item = layout->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  view->setParent(panel);
  layout->addWidget(view);
}

}  // namespace quorlin::gui
