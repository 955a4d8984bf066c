// lcms2 helpers for the metric: RAII handles, profiles built from a described
// encoding, the linear-sRGB destination, and recognition of ICC profiles that
// are really sRGB or linear sRGB (those skip lcms2 entirely, so such an
// embedded profile scores exactly like an untagged image).
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

// A profile that "is" sRGB or linear sRGB (grey: the sRGB curve or linear),
// as a described encoding; nullopt for anything else. Its white must be D65
// (within 1e-3 in x and y), and it must give the colours of our own such
// profile (profileFor) to within 2e-4 in XYZ on a grid of samples: a few
// units of s15Fixed16 in the colorants decide, so profiles from other writers
// that only resemble sRGB are colour-managed instead.
std::optional<ColourEncoding> recogniseStandardProfile(cmsHPROFILE profile, bool grey);

}  // namespace quorlin::metric
