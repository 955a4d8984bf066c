// Main thread only; colours come from the palette at paint time.
#pragma once

#include <QPushButton>

namespace quorlin::gui {

// A checkable button of a segmented picker: the checked one is tinted with the
// palette's highlight, which stays visible on dark palettes too.
class SegmentButton : public QPushButton {
 public:
  explicit SegmentButton(const QString& text, QWidget* parent = nullptr);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void applyTint();
  bool isApplying_ = false;
};

}  // namespace quorlin::gui
