#include "gui/comparison/CanvasMagnification.h"

namespace quorlin::gui {

CanvasMagnification& CanvasMagnification::instance() {
  static CanvasMagnification magnification;
  return magnification;
}

void CanvasMagnification::setSmooth(bool isSmooth) {
  if (isSmooth == isSmooth_) return;
  isSmooth_ = isSmooth;
  emit smoothChanged(isSmooth_);
}

}  // namespace quorlin::gui
