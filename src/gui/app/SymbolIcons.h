// SymbolIcons: icons by the symbol names the interface is described with
// ("arrow.up.left.and.arrow.down.right", "plus.magnifyingglass", ...).
//
// Each known symbol is a bundled SVG drawing (src/gui/resources/icons/SYMBOL.svg),
// never a desktop theme's icon: the drawings are monochrome and take the
// palette's window-text colour each time they are painted (the disabled one for
// disabled icons), so they keep their contrast on light and dark palettes and
// follow a switch between them, which a theme's coloured icons do not. To add a
// symbol: one row in the table in SymbolIcons.cpp, one SVG in resources/icons
// and one line in icons.qrc.
//
// Main thread only (icons read the application palette).
#pragma once

#include <QColor>
#include <QIcon>

#include <string_view>
#include <vector>

namespace quorlin::gui {

// The bundled drawing in the palette's text colour; a null icon for a symbol
// name the table does not know.
QIcon symbolIcon(std::string_view symbolName);

// The bundled drawing alone; a null icon for an unknown symbol name.
QIcon bundledSymbolIcon(std::string_view symbolName);

// The bundled drawing in `colour` (the palette's disabled text colour when
// drawn disabled), for symbols whose colour carries meaning such as a green
// "checkmark.circle.fill"; a null icon for an unknown symbol name.
QIcon tintedSymbolIcon(std::string_view symbolName, const QColor& colour);

// Every symbol name the table knows.
std::vector<std::string_view> knownSymbolNames();

}  // namespace quorlin::gui
