// lcms2 helpers for the metric: RAII handles, profiles built from a described
// encoding, the linear-sRGB destination, and recognition of ICC profiles that
// are really sRGB or linear sRGB (those skip lcms2 entirely, so an embedded
// sRGB profile scores exactly like an untagged image).
#pragma once

#include <lcms2.h>

#include <memory>
#include <optional>
#include <type_traits>

#include "metric/ColourEncoding.h"

namespace quorlin::metric {

struct ProfileCloser {
  void operator()(void* profile) const {
    if (profile) cmsCloseProfile(profile);
  }
};
struct TransformDeleter {
  void operator()(void* transform) const {
    if (transform) cmsDeleteTransform(transform);
  }
};
using ProfileHandle = std::unique_ptr<std::remove_pointer_t<cmsHPROFILE>, ProfileCloser>;
using TransformHandle = std::unique_ptr<std::remove_pointer_t<cmsHTRANSFORM>, TransformDeleter>;

// A matrix/TRC (or grey TRC) profile for a described encoding. PQ and HLG are
// not expressible as lcms2 curves here: for them the profile is linear and the
// caller applies the curve itself. Null on failure.
ProfileHandle profileFor(const Chromaticities& chromaticities, TransferCurve transfer, double exponent, bool grey);

// Linear light with sRGB primaries and D65 white (or linear grey).
ProfileHandle linearSrgbProfile(bool grey);

// sRGB-curve or linear profiles whose primaries (for RGB) are sRGB's, as a
// described encoding; nullopt for anything else.
std::optional<ColourEncoding> recogniseStandardProfile(cmsHPROFILE profile, bool grey);

}  // namespace quorlin::metric
