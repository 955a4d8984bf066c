#include "core/comparison/LabelFade.h"

namespace quorlin {

void LabelFade::show(Time now) {
  isVisible_ = true;
  deadline_ = now + fadeDelay;
}

bool LabelFade::advance(Time now) {
  if (!deadline_ || now < *deadline_) return false;
  deadline_.reset();
  bool wasVisible = isVisible_;
  isVisible_ = false;
  return wasVisible;
}

double LabelFade::opacity(bool isShowingOriginal, bool isShowingDifference) const {
  return isVisible_ || isShowingOriginal || isShowingDifference ? 1.0 : 0.0;
}

}  // namespace quorlin
