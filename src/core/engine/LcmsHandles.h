// RAII handles for lcms2 profiles and transforms.
#pragma once

#include <lcms2.h>

#include <memory>
#include <type_traits>

#include "core/engine/ColorSpace.h"

namespace quorlin {

struct LcmsProfileDeleter {
  void operator()(void* profile) const {
    if (profile) cmsCloseProfile(profile);
  }
};
struct LcmsTransformDeleter {
  void operator()(void* transform) const {
    if (transform) cmsDeleteTransform(transform);
  }
};

using LcmsProfile = std::unique_ptr<std::remove_pointer_t<cmsHPROFILE>, LcmsProfileDeleter>;
using LcmsTransform = std::unique_ptr<std::remove_pointer_t<cmsHTRANSFORM>, LcmsTransformDeleter>;

// Opens the space's ICC profile; null when lcms2 refuses it.
LcmsProfile openProfile(const ColorSpace& space);

}  // namespace quorlin
