#include "core/comparison/DisplayHeadroom.h"

#include <cmath>

namespace quorlin {

DisplayHeadroomProvider platformDisplayHeadroomProvider() {
  return [] { return std::optional<double>(); };
}

double normalizedDisplayHeadroom(std::optional<double> reported) {
  return reported && std::isfinite(*reported) && *reported > 1.0 ? *reported : 1.0;
}

double displayHeadroom(const DisplayHeadroomProvider& provider) {
  return normalizedDisplayHeadroom(provider ? provider() : std::nullopt);
}

}  // namespace quorlin
