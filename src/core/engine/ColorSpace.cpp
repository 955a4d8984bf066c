#include "core/engine/ColorSpace.h"

#include <array>
#include <cmath>
#include <mutex>
#include <string_view>

#include "core/common/TransferCurves.h"
#include "core/engine/LcmsHandles.h"

namespace quorlin {

namespace {

struct Primaries {
  cmsCIExyY red, green, blue;
};

constexpr cmsCIExyY d65 = {0.3127, 0.3290, 1.0};
constexpr Primaries srgbPrimaries = {{0.64, 0.33, 1.0}, {0.30, 0.60, 1.0}, {0.15, 0.06, 1.0}};
constexpr Primaries p3Primaries = {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
constexpr Primaries bt2020Primaries = {{0.708, 0.292, 1.0}, {0.170, 0.797, 1.0}, {0.131, 0.046, 1.0}};

using ToneCurvePtr = std::unique_ptr<cmsToneCurve, decltype(&cmsFreeToneCurve)>;

ToneCurvePtr srgbCurve() {
  // IEC 61966-2.1: parametric type 4.
  const cmsFloat64Number params[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
  return ToneCurvePtr(cmsBuildParametricToneCurve(nullptr, 4, params), cmsFreeToneCurve);
}

ToneCurvePtr linearCurve() { return ToneCurvePtr(cmsBuildGamma(nullptr, 1.0), cmsFreeToneCurve); }

// SMPTE ST 2084 (PQ) EOTF, normalised so that 1.0 is 10000 nits.
ToneCurvePtr pqCurve() {
  constexpr int entries = 4096;
  std::array<cmsFloat32Number, entries> table{};
  for (int i = 0; i < entries; ++i) {
    const double e = static_cast<double>(i) / (entries - 1);
    table[static_cast<size_t>(i)] = static_cast<cmsFloat32Number>(transfer::pqToLinear(e));
  }
  return ToneCurvePtr(cmsBuildTabulatedToneCurveFloat(nullptr, entries, table.data()), cmsFreeToneCurve);
}

// ARIB STD-B67 (HLG) inverse OETF, scene-linear 0..1.
ToneCurvePtr hlgCurve() {
  constexpr int entries = 4096;
  std::array<cmsFloat32Number, entries> table{};
  for (int i = 0; i < entries; ++i) {
    const double e = static_cast<double>(i) / (entries - 1);
    table[static_cast<size_t>(i)] = static_cast<cmsFloat32Number>(transfer::hlgToSceneLinear(e));
  }
  return ToneCurvePtr(cmsBuildTabulatedToneCurveFloat(nullptr, entries, table.data()), cmsFreeToneCurve);
}

std::vector<std::uint8_t> buildProfile(const Primaries& primaries, const ToneCurvePtr& curve,
                                       std::string_view description) {
  cmsCIExyYTRIPLE triple = {primaries.red, primaries.green, primaries.blue};
  cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
  LcmsProfile profile(cmsCreateRGBProfile(&d65, &triple, curves));
  if (!profile) return {};
  cmsMLU* text = cmsMLUalloc(nullptr, 1);
  cmsMLUsetASCII(text, "en", "US", std::string(description).c_str());
  cmsWriteTag(profile.get(), cmsSigProfileDescriptionTag, text);
  cmsMLUfree(text);
  cmsMD5computeID(profile.get());
  cmsUInt32Number size = 0;
  if (!cmsSaveProfileToMem(profile.get(), nullptr, &size) || size == 0) return {};
  std::vector<std::uint8_t> bytes(size);
  if (!cmsSaveProfileToMem(profile.get(), bytes.data(), &size)) return {};
  bytes.resize(size);
  return bytes;
}

std::string profileDescription(cmsHPROFILE profile) {
  cmsUInt32Number size = cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", nullptr, 0);
  if (size == 0) return {};
  std::string text(size, '\0');
  cmsGetProfileInfoASCII(profile, cmsInfoDescription, "en", "US", text.data(), size);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

ColorSpace::Model modelOf(cmsHPROFILE profile) {
  switch (cmsGetColorSpace(profile)) {
    case cmsSigRgbData:
      return ColorSpace::Model::rgb;
    case cmsSigGrayData:
      return ColorSpace::Model::gray;
    case cmsSigCmykData:
      return ColorSpace::Model::cmyk;
    default:
      return ColorSpace::Model::other;
  }
}

std::shared_ptr<const ColorSpace> makeWellKnown(ColorSpace::WellKnown kind) {
  using K = ColorSpace::WellKnown;
  std::string name;
  std::vector<std::uint8_t> icc;
  switch (kind) {
    case K::none:
    case K::sRGB:
      name = "sRGB IEC61966-2.1";
      icc = buildProfile(srgbPrimaries, srgbCurve(), name);
      kind = K::sRGB;
      break;
    case K::displayP3:
      name = "Display P3";
      icc = buildProfile(p3Primaries, srgbCurve(), name);
      break;
    case K::linearSRGB:
      name = "Linear sRGB";
      icc = buildProfile(srgbPrimaries, linearCurve(), name);
      break;
    case K::linearDisplayP3:
      name = "Linear Display P3";
      icc = buildProfile(p3Primaries, linearCurve(), name);
      break;
    case K::bt2100PQ:
      name = "ITU-R BT.2100 PQ";
      icc = buildProfile(bt2020Primaries, pqCurve(), name);
      break;
    case K::bt2100HLG:
      name = "ITU-R BT.2100 HLG";
      icc = buildProfile(bt2020Primaries, hlgCurve(), name);
      break;
    case K::deviceRGB:
      name = "Device RGB";
      icc = buildProfile(srgbPrimaries, srgbCurve(), name);
      break;
  }
  return std::make_shared<const ColorSpace>(kind, ColorSpace::Model::rgb, std::move(name), std::move(icc));
}

}  // namespace

std::shared_ptr<const ColorSpace> ColorSpace::wellKnown(WellKnown kind) {
  static std::once_flag once;
  static std::array<std::shared_ptr<const ColorSpace>, 8> spaces;
  std::call_once(once, [] {
    for (int i = 0; i < 8; ++i) spaces[static_cast<size_t>(i)] = makeWellKnown(static_cast<WellKnown>(i));
  });
  return spaces[static_cast<size_t>(kind)];
}

std::shared_ptr<const ColorSpace> ColorSpace::fromICC(std::vector<std::uint8_t> profileBytes) {
  if (profileBytes.empty()) return nullptr;
  LcmsProfile profile(cmsOpenProfileFromMem(profileBytes.data(), static_cast<cmsUInt32Number>(profileBytes.size())));
  if (!profile) return nullptr;
  std::string name = profileDescription(profile.get());
  Model model = modelOf(profile.get());
  WellKnown kind = WellKnown::none;
  if (model == Model::rgb) {
    // Byte-identical to one of ours, or an sRGB profile by its usual names.
    for (auto candidate : {WellKnown::sRGB, WellKnown::displayP3, WellKnown::linearSRGB, WellKnown::linearDisplayP3,
                           WellKnown::bt2100PQ, WellKnown::bt2100HLG}) {
      if (wellKnown(candidate)->iccProfile() == profileBytes) {
        kind = candidate;
        break;
      }
    }
    if (kind == WellKnown::none && (name == "sRGB IEC61966-2.1" || name == "sRGB IEC61966-2-1" ||
                                    name == "sRGB built-in" || name == "sRGB")) {
      kind = WellKnown::sRGB;
    }
  }
  return std::make_shared<const ColorSpace>(kind, model, std::move(name), std::move(profileBytes));
}

bool ColorSpace::isLinear() const { return kind_ == WellKnown::linearSRGB || kind_ == WellKnown::linearDisplayP3; }

LcmsProfile openProfile(const ColorSpace& space) {
  const auto& bytes = space.iccProfile();
  if (bytes.empty()) return nullptr;
  return LcmsProfile(cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
}

}  // namespace quorlin
