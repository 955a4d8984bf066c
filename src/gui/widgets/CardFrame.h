// Main thread only; colours come from the palette at paint time.
#pragma once

#include <QFrame>

namespace quorlin::gui {

// A rounded card in the text background colour with a thin outline.
class CardFrame : public QFrame {
 public:
  explicit CardFrame(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace quorlin::gui
