#include "metric/IccProfiles.h"

#include <array>
#include <cmath>
#include <initializer_list>
#include <optional>

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

// The white a profile's colours are relative to, before the adaptation to the
// D50 connection space: the media white point where the profile has no
// adaptation matrix, otherwise the absolute colour of full-scale samples.
std::optional<cmsCIEXYZ> unadaptedWhite(cmsHPROFILE profile, bool grey) {
  const auto* white = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile, cmsSigMediaWhitePointTag));
  if (white && !cmsReadTag(profile, cmsSigChromaticAdaptationTag)) return *white;
  ProfileHandle xyz(cmsCreateXYZProfile());
  if (!xyz) return std::nullopt;
  cmsHPROFILE profiles[2] = {profile, xyz.get()};
  cmsUInt32Number intents[2] = {INTENT_ABSOLUTE_COLORIMETRIC, INTENT_ABSOLUTE_COLORIMETRIC};
  cmsBool blackPointCompensation[2] = {FALSE, FALSE};
  cmsFloat64Number adaptation[2] = {0.0, 0.0};
  TransformHandle transform(cmsCreateExtendedTransform(nullptr, 2, profiles, blackPointCompensation, intents,
                                                       adaptation, nullptr, 0, grey ? TYPE_GRAY_DBL : TYPE_RGB_DBL,
                                                       TYPE_XYZ_DBL, cmsFLAGS_NOOPTIMIZE | cmsFLAGS_HIGHRESPRECALC));
  if (!transform) return std::nullopt;
  const cmsFloat64Number full[3] = {1.0, 1.0, 1.0};
  cmsCIEXYZ result{};
  cmsDoTransform(transform.get(), full, &result, 1);
  return result;
}

// Chromaticities closer than this count as the same named white.
constexpr double kChromaticityTolerance = 1e-3;

bool nearChromaticity(const cmsCIEXYZ& xyz, double x, double y) {
  const double sum = xyz.X + xyz.Y + xyz.Z;
  if (!(sum > 0.0)) return false;
  return std::fabs(xyz.X / sum - x) <= kChromaticityTolerance &&
         std::fabs(xyz.Y / sum - y) <= kChromaticityTolerance;
}

// Whether two profiles give the same colours relative to their whites,
// compared in XYZ on a grid of samples from very dark to almost full scale.
// The tolerance is what tells a profile that "is" sRGB from one that merely
// resembles it: a few units of s15Fixed16 in the colorants decide, so the
// grid and the threshold must stay exactly as they are.
bool sameColours(cmsHPROFILE a, cmsHPROFILE b, bool grey) {
  ProfileHandle xyz(cmsCreateXYZProfile());
  if (!xyz) return false;
  const cmsUInt32Number format = grey ? TYPE_GRAY_DBL : TYPE_RGB_DBL;
  const cmsUInt32Number flags = cmsFLAGS_NOOPTIMIZE | cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_HIGHRESPRECALC;
  TransformHandle first(
      cmsCreateTransform(a, format, xyz.get(), TYPE_XYZ_DBL, INTENT_RELATIVE_COLORIMETRIC, flags));
  TransformHandle second(
      cmsCreateTransform(b, format, xyz.get(), TYPE_XYZ_DBL, INTENT_RELATIVE_COLORIMETRIC, flags));
  if (!first || !second) return false;
  constexpr double kTolerance = 2e-4;
  constexpr double kStart = 1e-3, kStep = 0.2;
  double in[3] = {0.0, 0.0, 0.0};
  double outA[3], outB[3];
  if (grey) {
    for (in[0] = kStart; in[0] < 1.0; in[0] += kStep / 8) {
      cmsDoTransform(first.get(), in, outA, 1);
      cmsDoTransform(second.get(), in, outB, 1);
      if (!(std::fabs(outA[0] - outB[0]) <= kTolerance)) return false;
    }
    return true;
  }
  for (in[0] = kStart; in[0] < 1.0; in[0] += kStep) {
    for (in[1] = kStart; in[1] < 1.0; in[1] += kStep) {
      for (in[2] = kStart; in[2] < 1.0; in[2] += kStep) {
        cmsDoTransform(first.get(), in, outA, 1);
        cmsDoTransform(second.get(), in, outB, 1);
        for (int i = 0; i < 3; ++i) {
          if (!(std::fabs(outA[i] - outB[i]) <= kTolerance)) return false;
        }
      }
    }
  }
  return true;
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
  if (cmsGetColorSpace(profile) != (grey ? cmsSigGrayData : cmsSigRgbData)) return std::nullopt;
  const auto white = unadaptedWhite(profile, grey);
  if (!white || !nearChromaticity(*white, kSrgbChromaticities.whiteX, kSrgbChromaticities.whiteY)) {
    return std::nullopt;
  }
  for (const TransferCurve curve : {TransferCurve::linear, TransferCurve::srgb}) {
    ProfileHandle candidate = profileFor(kSrgbChromaticities, curve, 1.0, grey);
    if (candidate && sameColours(profile, candidate.get(), grey)) {
      return ColourEncoding::described(kSrgbChromaticities, curve);
    }
  }
  return std::nullopt;
}

}  // namespace quorlin::metric
