// The display headroom: how far above standard-range white the screen can go.
//
// Read from one place so that a platform whose screens report extended range
// can supply the real value: the view asks its DisplayHeadroomProvider for
// the screen it is on and passes the normalised value to the canvas. Linux
// screens report none, so the default provider always answers "none" (1.0).
#pragma once

#include <functional>
#include <optional>

namespace quorlin {

// The screen's maximum potential component value; none when the view has no
// window or screen, or the platform reports nothing.
using DisplayHeadroomProvider = std::function<std::optional<double>()>;

// The provider for this platform: no extended range on Linux.
DisplayHeadroomProvider platformDisplayHeadroomProvider();

// The value the canvas works with: the reported one when it is above 1.0,
// else 1.0 (absent, NaN, or at most 1.0).
double normalizedDisplayHeadroom(std::optional<double> reported);

// normalizedDisplayHeadroom of what `provider` reports (1.0 for an empty provider).
double displayHeadroom(const DisplayHeadroomProvider& provider);

}  // namespace quorlin
