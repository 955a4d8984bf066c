// Small pieces shared by the auxiliary windows: a rounded background box,
// a label with a symbol in front, and the placement of floating windows.
//
// Main thread only.
#pragma once

#include <QPalette>
#include <QWidget>

#include <memory>
#include <string_view>

class QFont;
class QLabel;

namespace quorlin::gui {

// A widget that paints a rounded rectangle in one palette role, at
// `opacity`, behind its children (the role follows the palette, so it suits
// light and dark alike; a text role at a low opacity gives a light tint).
class RoundedBackground : public QWidget {
 public:
  RoundedBackground(QPalette::ColorRole role, qreal radius, qreal opacity = 1.0, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QPalette::ColorRole role_;
  qreal radius_;
  qreal opacity_;
};

// The symbol at the font's height followed by `text`, 6 points apart.
QWidget* makeSymbolLabel(std::string_view symbolName, const QString& text, const QFont& font,
                         QWidget* parent = nullptr);

// The symbol alone, `side` points square, drawn when painted so that it
// follows palette changes.
QWidget* makeSymbolView(std::string_view symbolName, int side, QWidget* parent = nullptr);

// A word-wrapped plain-text label in `font`.
QLabel* makeTextLabel(const QString& text, const QFont& font, QWidget* parent = nullptr);

// The window that new floating windows should stay above: the outermost
// window of the active one (the main window, also when a panel or dialog
// of it is active), or none.
QWidget* floatingParentWindow();

// Moves `window` to the centre of the available area of its screen, first
// shrinking it (not below its minimum size) when it is larger than that area.
void centerOnScreen(QWidget* window);

// Escape anywhere in `window` closes it, as Linux users expect of auxiliary windows.
void closeOnEscape(QWidget* window);

// Shows `window`, raises it and gives it the keyboard focus.
void bringToFront(QWidget* window);

// A floating panel that stays up while another application is active, kept
// (hidden) when the user closes it, with an empty vertical layout for its
// content. Its owner holds it.
std::unique_ptr<QWidget> makeFloatingPanel(const QString& title, QSize minimumSize);

// Replaces the content of a panel made by makeFloatingPanel with `view`,
// deleting the previous content view.
void replacePanelContent(QWidget* panel, QWidget* view);

}  // namespace quorlin::gui
