#include "core/engine/ColorSpace.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
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

// ITU-R BT.709 inverse OETF as a parametric type 4 curve.
ToneCurvePtr bt709Curve() {
  const cmsFloat64Number params[5] = {1.0 / 0.45, 1.0 / 1.099, 0.099 / 1.099, 1.0 / 4.5, 0.081};
  return ToneCurvePtr(cmsBuildParametricToneCurve(nullptr, 4, params), cmsFreeToneCurve);
}

std::vector<std::uint8_t> buildProfile(const Primaries& primaries, const ToneCurvePtr& curve,
                                       std::string_view description, const cmsCIExyY& white = d65) {
  if (!curve) return {};
  cmsCIExyYTRIPLE triple = {primaries.red, primaries.green, primaries.blue};
  cmsToneCurve* curves[3] = {curve.get(), curve.get(), curve.get()};
  LcmsProfile profile(cmsCreateRGBProfile(&white, &triple, curves));
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

// libjxl names the profiles it synthesises from a colour encoding
// "RGB_<white>_<primaries>_<intent>_<transfer>" ("RGB_D65_202_Rel_PeQ"); the
// image libraries hand such a profile on for every JPEG XL file whose
// encoding is an enum, so the name is the file's own colour encoding.
ColorSpace::WellKnown wellKnownFromJPEGXLName(std::string_view name) {
  using K = ColorSpace::WellKnown;
  if (!name.starts_with("RGB_D65_") || name.size() < 19) return K::none;
  const std::string_view primaries = name.substr(8, 3);
  const std::string_view transfer = name.substr(name.size() - 3);
  if (primaries == "202" && transfer == "PeQ") return K::bt2100PQ;
  if (primaries == "202" && transfer == "HLG") return K::bt2100HLG;
  if (primaries == "DCI" && transfer == "SRG") return K::displayP3;
  if (primaries == "DCI" && transfer == "Lin") return K::linearDisplayP3;
  if (primaries == "SRG" && transfer == "Lin") return K::linearSRGB;
  return K::none;
}

std::string_view wellKnownName(ColorSpace::WellKnown kind) {
  using K = ColorSpace::WellKnown;
  switch (kind) {
    case K::none:
    case K::sRGB: return "sRGB IEC61966-2.1";
    case K::displayP3: return "Display P3";
    case K::linearSRGB: return "Linear sRGB";
    case K::linearDisplayP3: return "Linear Display P3";
    case K::bt2100PQ: return "ITU-R BT.2100 PQ";
    case K::bt2100HLG: return "ITU-R BT.2100 HLG";
    case K::deviceRGB: return "Device RGB";
  }
  return {};
}

std::shared_ptr<const ColorSpace> describedSpace(const ColorSpace::Chromaticities& c, ColorSpace::Transfer transfer,
                                                 double exponent, std::string name);

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
    // Another maker's profile of one of our HDR or wide spaces, by its usual name.
    for (auto candidate : {WellKnown::displayP3, WellKnown::bt2100PQ, WellKnown::bt2100HLG}) {
      if (kind == WellKnown::none && name == wellKnownName(candidate)) kind = candidate;
    }
    if (kind == WellKnown::none) {
      kind = wellKnownFromJPEGXLName(name);
      if (kind != WellKnown::none) name = std::string(wellKnownName(kind));
    }
  }
  return std::make_shared<const ColorSpace>(kind, model, std::move(name), std::move(profileBytes));
}

std::shared_ptr<const ColorSpace> ColorSpace::described(const Chromaticities& c, Transfer transfer,
                                                       double exponent) {
  return describedSpace(c, transfer, exponent, "RGB from PNG colour chunks");
}

namespace {

std::shared_ptr<const ColorSpace> describedSpace(const ColorSpace::Chromaticities& c, ColorSpace::Transfer transfer,
                                                 double exponent, std::string name) {
  using Transfer = ColorSpace::Transfer;
  ToneCurvePtr curve(nullptr, cmsFreeToneCurve);
  switch (transfer) {
    case Transfer::srgb: curve = srgbCurve(); break;
    case Transfer::linear: curve = linearCurve(); break;
    case Transfer::power: curve = ToneCurvePtr(cmsBuildGamma(nullptr, exponent), cmsFreeToneCurve); break;
    case Transfer::bt709: curve = bt709Curve(); break;
    case Transfer::pq: curve = pqCurve(); break;
    case Transfer::hlg: curve = hlgCurve(); break;
  }
  const Primaries primaries = {{c.redX, c.redY, 1.0}, {c.greenX, c.greenY, 1.0}, {c.blueX, c.blueY, 1.0}};
  const cmsCIExyY white = {c.whiteX, c.whiteY, 1.0};
  std::vector<std::uint8_t> icc = buildProfile(primaries, curve, name, white);
  if (icc.empty()) return nullptr;
  return std::make_shared<const ColorSpace>(ColorSpace::WellKnown::none, ColorSpace::Model::rgb, std::move(name),
                                            std::move(icc));
}

}  // namespace

std::shared_ptr<const ColorSpace> ColorSpace::fromCICP(int primaries, int transfer) {
  using K = WellKnown;
  struct Named {
    int primaries, transfer;
    K kind;
  };
  static constexpr Named named[] = {{1, 13, K::sRGB},           {12, 13, K::displayP3},  {1, 8, K::linearSRGB},
                                    {12, 8, K::linearDisplayP3}, {9, 16, K::bt2100PQ}, {9, 18, K::bt2100HLG}};
  for (const auto& entry : named) {
    if (entry.primaries == primaries && entry.transfer == transfer) return wellKnown(entry.kind);
  }
  // Otherwise a described space, from the entries of ITU-T H.273 tables 2 and 3 an RGB still image uses.
  struct PrimariesRow {
    int code;
    Chromaticities chromaticities;
    std::string_view name;
  };
  static constexpr PrimariesRow primariesRows[] = {
      {1, {0.64, 0.33, 0.30, 0.60, 0.15, 0.06, 0.3127, 0.3290}, "BT.709"},
      {9, {0.708, 0.292, 0.170, 0.797, 0.131, 0.046, 0.3127, 0.3290}, "BT.2020"},
      {11, {0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.314, 0.351}, "DCI-P3"},
      {12, {0.680, 0.320, 0.265, 0.690, 0.150, 0.060, 0.3127, 0.3290}, "Display P3"},
  };
  struct TransferRow {
    int code;
    Transfer transfer;
    double exponent;
    std::string_view name;
  };
  static constexpr TransferRow transferRows[] = {
      {1, Transfer::bt709, 1.0, "BT.709 transfer"},  {6, Transfer::bt709, 1.0, "BT.709 transfer"},
      {14, Transfer::bt709, 1.0, "BT.709 transfer"}, {15, Transfer::bt709, 1.0, "BT.709 transfer"},
      {4, Transfer::power, 2.2, "gamma 2.2"},        {5, Transfer::power, 2.8, "gamma 2.8"},
      {8, Transfer::linear, 1.0, "linear"},          {13, Transfer::srgb, 1.0, "sRGB transfer"},
      {16, Transfer::pq, 1.0, "PQ"},                 {18, Transfer::hlg, 1.0, "HLG"},
  };
  const auto primariesRow = std::find_if(std::begin(primariesRows), std::end(primariesRows),
                                         [&](const PrimariesRow& row) { return row.code == primaries; });
  const auto transferRow = std::find_if(std::begin(transferRows), std::end(transferRows),
                                        [&](const TransferRow& row) { return row.code == transfer; });
  if (primariesRow == std::end(primariesRows) || transferRow == std::end(transferRows)) return nullptr;
  return describedSpace(primariesRow->chromaticities, transferRow->transfer, transferRow->exponent,
                        std::string(primariesRow->name) + " primaries, " + std::string(transferRow->name));
}

std::string_view ColorSpace::transferName() const {
  if (kind_ == WellKnown::bt2100PQ) return "PQ";
  if (kind_ == WellKnown::bt2100HLG) return "HLG";
  return {};
}

bool isPlainSRGB(const ColorSpaceRef& space) {
  return space && space.get() == ColorSpace::wellKnown(ColorSpace::WellKnown::sRGB).get();
}

bool ColorSpace::isLinear() const { return kind_ == WellKnown::linearSRGB || kind_ == WellKnown::linearDisplayP3; }

LcmsProfile openProfile(const ColorSpace& space) {
  const auto& bytes = space.iccProfile();
  if (bytes.empty()) return nullptr;
  return LcmsProfile(cmsOpenProfileFromMem(bytes.data(), static_cast<cmsUInt32Number>(bytes.size())));
}

}  // namespace quorlin
