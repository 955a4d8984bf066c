#include "metric/IccProfiles.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace quorlin::metric {

namespace {

using CurveHandle = std::unique_ptr<cmsToneCurve, decltype(&cmsFreeToneCurve)>;
using Matrix3 = std::array<std::array<double, 3>, 3>;

// Profiles store numbers as s15Fixed16; the published scores were made with
// profiles written that way, and the metric notices the difference.
double quantise(double value) { return std::round(value * 65536.0) / 65536.0; }

Matrix3 multiply(const Matrix3& a, const Matrix3& b) {
  Matrix3 r{};
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) {
      for (int k = 0; k < 3; ++k) r[i][j] += a[i][k] * b[k][j];
    }
  }
  return r;
}

Matrix3 invert(const Matrix3& m) {
  const double a = m[0][0], b = m[0][1], c = m[0][2], d = m[1][0], e = m[1][1], f = m[1][2];
  const double g = m[2][0], h = m[2][1], i = m[2][2];
  const double det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
  return Matrix3{{{(e * i - f * h) / det, (c * h - b * i) / det, (b * f - c * e) / det},
                  {(f * g - d * i) / det, (a * i - c * g) / det, (c * d - a * f) / det},
                  {(d * h - e * g) / det, (b * g - a * h) / det, (a * e - b * d) / det}}};
}

// Columns: the red, green and blue colorants adapted to the D50 connection
// space (Bradford), as an ICC matrix/TRC profile stores them.
Matrix3 d50Colorants(const Chromaticities& c) {
  if (c == kSrgbChromaticities) {
    // sRGB's colorants in the s15Fixed16 values profile writers store.
    return Matrix3{{{0x6f9f / 65536.0, 0x6296 / 65536.0, 0x24a2 / 65536.0},
                    {0x38f5 / 65536.0, 0xb787 / 65536.0, 0x0f85 / 65536.0},
                    {0x0390 / 65536.0, 0x18db / 65536.0, 0xb6d6 / 65536.0}}};
  }
  auto xyz = [](double x, double y) { return std::array<double, 3>{x / y, 1.0, (1.0 - x - y) / y}; };
  const auto r = xyz(c.redX, c.redY), g = xyz(c.greenX, c.greenY), b = xyz(c.blueX, c.blueY);
  const auto white = xyz(c.whiteX, c.whiteY);
  const Matrix3 primaries{{{r[0], g[0], b[0]}, {r[1], g[1], b[1]}, {r[2], g[2], b[2]}}};
  const Matrix3 inverse = invert(primaries);
  Matrix3 toXyz{};
  for (int j = 0; j < 3; ++j) {
    double scale = 0;
    for (int k = 0; k < 3; ++k) scale += inverse[j][k] * white[k];
    for (int i = 0; i < 3; ++i) toXyz[i][j] = primaries[i][j] * scale;
  }
  const Matrix3 bradford{{{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}}};
  const std::array<double, 3> d50{0.96422, 1.0, 0.82521};
  Matrix3 gain{};
  for (int i = 0; i < 3; ++i) {
    double source = 0, destination = 0;
    for (int k = 0; k < 3; ++k) {
      source += bradford[i][k] * white[k];
      destination += bradford[i][k] * d50[k];
    }
    gain[i][i] = destination / source;
  }
  Matrix3 result = multiply(multiply(multiply(invert(bradford), gain), bradford), toXyz);
  for (auto& row : result) {
    for (double& value : row) value = quantise(value);
  }
  return result;
}

CurveHandle makeCurve(TransferCurve transfer, double exponent) {
  switch (transfer) {
    case TransferCurve::srgb: {
      // IEC 61966-2.1 as stored in profiles: 2.4, 1/1.055, 0.055/1.055, 1/12.92, 0.04045.
      const cmsFloat64Number params[5] = {157286 / 65536.0, 62119 / 65536.0, 3417 / 65536.0, 5072 / 65536.0,
                                          2651 / 65536.0};
      return CurveHandle(cmsBuildParametricToneCurve(nullptr, 4, params), cmsFreeToneCurve);
    }
    case TransferCurve::bt709: {
      const cmsFloat64Number params[5] = {quantise(1.0 / 0.45), quantise(1.0 / 1.099), quantise(0.099 / 1.099),
                                          quantise(1.0 / 4.5), quantise(0.081)};
      return CurveHandle(cmsBuildParametricToneCurve(nullptr, 4, params), cmsFreeToneCurve);
    }
    case TransferCurve::power:
      return CurveHandle(cmsBuildGamma(nullptr, quantise(exponent)), cmsFreeToneCurve);
    case TransferCurve::linear:
    case TransferCurve::pq:
    case TransferCurve::hlg:
      break;
  }
  return CurveHandle(cmsBuildGamma(nullptr, 1.0), cmsFreeToneCurve);
}

double srgbEncodedToLinear(double v) {
  return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// How far a tone curve strays from `reference` over 0..1.
template <typename Function>
double curveDistance(const cmsToneCurve* curve, Function reference) {
  double worst = 0.0;
  constexpr int kSamples = 256;
  for (int i = 0; i <= kSamples; ++i) {
    const double x = static_cast<double>(i) / kSamples;
    const double value = cmsEvalToneCurveFloat(curve, static_cast<cmsFloat32Number>(x));
    worst = std::max(worst, std::fabs(value - reference(x)));
  }
  return worst;
}

// Curves within this distance of sRGB (or of the identity) are taken as such:
// tabulated or fixed-point copies of the sRGB curve stray by about 1e-4.
constexpr double kCurveTolerance = 1e-3;
// D50-adapted colorants agree to about 1e-4 between profile writers; other
// common primaries (P3, Adobe RGB, BT.2020) differ by more than 0.01.
constexpr double kColorantTolerance = 2e-3;

std::optional<TransferCurve> recogniseCurve(const cmsToneCurve* curve) {
  if (!curve) return std::nullopt;
  if (curveDistance(curve, srgbEncodedToLinear) < kCurveTolerance) return TransferCurve::srgb;
  if (curveDistance(curve, [](double x) { return x; }) < kCurveTolerance) return TransferCurve::linear;
  return std::nullopt;
}

}  // namespace

ProfileHandle profileFor(const Chromaticities& c, TransferCurve transfer, double exponent, bool grey) {
  CurveHandle curve = makeCurve(transfer, exponent);
  if (!curve) return nullptr;
  ProfileHandle profile(cmsCreateProfilePlaceholder(nullptr));
  if (!profile) return nullptr;
  cmsSetProfileVersion(profile.get(), 4.3);
  cmsSetDeviceClass(profile.get(), cmsSigDisplayClass);
  cmsSetColorSpace(profile.get(), grey ? cmsSigGrayData : cmsSigRgbData);
  cmsSetPCS(profile.get(), cmsSigXYZData);
  cmsSetHeaderRenderingIntent(profile.get(), INTENT_RELATIVE_COLORIMETRIC);
  const cmsCIEXYZ d50{0xf6d6 / 65536.0, 1.0, 0xd32d / 65536.0};
  bool ok = cmsWriteTag(profile.get(), cmsSigMediaWhitePointTag, &d50);
  if (grey) {
    ok = ok && cmsWriteTag(profile.get(), cmsSigGrayTRCTag, curve.get());
  } else {
    const Matrix3 colorants = d50Colorants(c);
    const cmsTagSignature colorantTags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
    const cmsTagSignature curveTags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
    for (int j = 0; j < 3; ++j) {
      const cmsCIEXYZ colorant{colorants[0][j], colorants[1][j], colorants[2][j]};
      ok = ok && cmsWriteTag(profile.get(), colorantTags[j], &colorant) &&
           cmsWriteTag(profile.get(), curveTags[j], curve.get());
    }
  }
  return ok ? std::move(profile) : nullptr;
}

ProfileHandle linearSrgbProfile(bool grey) {
  return profileFor(kSrgbChromaticities, TransferCurve::linear, 1.0, grey);
}

std::optional<ColourEncoding> recogniseStandardProfile(cmsHPROFILE profile, bool grey) {
  if (grey) {
    if (cmsGetColorSpace(profile) != cmsSigGrayData) return std::nullopt;
    auto transfer = recogniseCurve(static_cast<cmsToneCurve*>(cmsReadTag(profile, cmsSigGrayTRCTag)));
    if (!transfer) return std::nullopt;
    return ColourEncoding::described(kSrgbChromaticities, *transfer);
  }
  if (cmsGetColorSpace(profile) != cmsSigRgbData || !cmsIsMatrixShaper(profile)) return std::nullopt;

  const Matrix3 srgb = d50Colorants(kSrgbChromaticities);
  const cmsTagSignature colorantTags[3] = {cmsSigRedColorantTag, cmsSigGreenColorantTag, cmsSigBlueColorantTag};
  for (int j = 0; j < 3; ++j) {
    auto* actual = static_cast<cmsCIEXYZ*>(cmsReadTag(profile, colorantTags[j]));
    if (!actual) return std::nullopt;
    if (std::fabs(actual->X - srgb[0][j]) > kColorantTolerance ||
        std::fabs(actual->Y - srgb[1][j]) > kColorantTolerance ||
        std::fabs(actual->Z - srgb[2][j]) > kColorantTolerance) {
      return std::nullopt;
    }
  }
  const cmsTagSignature curveTags[3] = {cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag};
  std::optional<TransferCurve> common;
  for (cmsTagSignature tag : curveTags) {
    auto transfer = recogniseCurve(static_cast<cmsToneCurve*>(cmsReadTag(profile, tag)));
    if (!transfer || (common && *common != *transfer)) return std::nullopt;
    common = transfer;
  }
  return ColourEncoding::described(kSrgbChromaticities, *common);
}

}  // namespace quorlin::metric
