#include "core/comparison/KeyboardCommandRegistry.h"

#include <algorithm>

namespace quorlin {

int stepDifferenceGain(int currentGain, int step) {
  auto found = std::find(differenceGains.begin(), differenceGains.end(), currentGain);
  long place = found == differenceGains.end() ? 1 : found - differenceGains.begin();
  long last = static_cast<long>(differenceGains.size()) - 1;
  long next = std::clamp(place + static_cast<long>(step), 0L, last);
  return differenceGains[static_cast<std::size_t>(next)];
}

int setDifferenceGainStep(int currentGain, int index) {
  if (index < 0 || static_cast<std::size_t>(index) >= differenceGains.size()) return currentGain;
  return differenceGains[static_cast<std::size_t>(index)];
}

}  // namespace quorlin
