// Main thread only; colours come from the palette at paint time.
#pragma once

#include <QWidget>

namespace quorlin::gui {

// A one-pixel rule in a faint shade of the window text, for any palette.
class SeparatorLine : public QWidget {
 public:
  explicit SeparatorLine(Qt::Orientation orientation, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace quorlin::gui
