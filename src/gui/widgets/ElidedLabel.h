// Main thread only; colours come from the palette at paint time.
#pragma once

#include <QLabel>

namespace quorlin::gui {

// A one-line text that fits its width by leaving out its middle (paths); the
// full text stays its text and its tooltip.
class ElidedLabel : public QLabel {
 public:
  explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);
  // Drawn in the secondary text colour.
  void setSecondary(bool isSecondary);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool isSecondary_ = false;
};

}  // namespace quorlin::gui
