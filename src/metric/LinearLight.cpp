#include "metric/LinearLight.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/common/TransferCurves.h"
#include "metric/SimdTargets.h"

namespace quorlin::metric {

namespace {

[[gnu::always_inline]] inline float srgbToLinearInline(float encoded) {
  const float x = std::fabs(encoded);
  float linear;
  if (x <= 0.04045f) {
    linear = x * (1.0f / 12.92f);
  } else {
    float p = 8.210152774e-01f;
    p = std::fma(p, x, 7.961564959e-01f);
    p = std::fma(p, x, 1.624820318e-01f);
    p = std::fma(p, x, 1.043637593e-02f);
    p = std::fma(p, x, 2.200248328e-04f);
    float q = 6.521209011e-03f;
    q = std::fma(q, x, -5.512498495e-02f);
    q = std::fma(q, x, 4.987528350e-01f);
    q = std::fma(q, x, 1.076976492e+00f);
    q = std::fma(q, x, 2.631846970e-01f);
    linear = p / q;
  }
  return std::copysign(linear, encoded);
}

QUORLIN_METRIC_KERNEL
void srgbToLinearRow(float* __restrict values, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) values[i] = srgbToLinearInline(values[i]);
}

// Negative signals (out-of-range values from a decoder) mirror the curve.
double pqToLinear(double encoded) { return std::copysign(transfer::pqToLinear(std::fabs(encoded)), encoded); }

double hlgToLinear(double encoded) { return std::copysign(transfer::hlgToSceneLinear(std::fabs(encoded)), encoded); }

// Samples of one row to floats in 0..1 (interleaved, all channels).
void unpackRow(const DecodedImage& image, int y, float* __restrict out) {
  const std::size_t count = static_cast<std::size_t>(image.width()) * static_cast<std::size_t>(image.channels());
  const std::size_t offset = count * static_cast<std::size_t>(y);
  switch (image.sampleType()) {
    case SampleType::uint8: {
      const auto* in = static_cast<const std::uint8_t*>(image.samples()) + offset;
      for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<float>(in[i]) * (1.0f / 255.0f);
      break;
    }
    case SampleType::uint16: {
      const auto* in = static_cast<const std::uint16_t*>(image.samples()) + offset;
      for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<float>(in[i]) * (1.0f / 65535.0f);
      break;
    }
    case SampleType::float32: {
      const auto* in = static_cast<const float*>(image.samples()) + offset;
      std::copy(in, in + count, out);
      break;
    }
  }
}

// Blends the colour channels onto `background`: f32(f32(a*c) + f32(f32(1-a)*bg)).
void blendRow(float* __restrict values, int width, int channels, float background) {
  const int colours = channels - 1;
  for (int x = 0; x < width; ++x) {
    float* pixel = values + static_cast<std::ptrdiff_t>(x) * channels;
    const float alpha = pixel[colours];
    const float behind = (1.0f - alpha) * background;
    for (int c = 0; c < colours; ++c) {
      const float front = alpha * pixel[c];
      pixel[c] = front + behind;
    }
  }
}

constexpr const char* kUnusableProfileWarning = "Warning: error setting ICC profile, assuming SRGB";

}  // namespace

float srgbToLinear(float encoded) { return srgbToLinearInline(encoded); }

std::optional<LinearLightConverter> LinearLightConverter::create(const DecodedImage& image, std::string* warning) {
  const bool grey = image.isGrey();
  ColourEncoding encoding = image.encoding();
  ProfileHandle source;

  if (encoding.kind == ColourEncoding::Kind::icc) {
    source.reset(cmsOpenProfileFromMem(encoding.iccProfile.data(),
                                       static_cast<cmsUInt32Number>(encoding.iccProfile.size())));
    if (!source) {
      if (warning) *warning = kUnusableProfileWarning;
      encoding = ColourEncoding::srgb();
    } else {
      const cmsColorSpaceSignature space = cmsGetColorSpace(source.get());
      if (space != (grey ? cmsSigGrayData : cmsSigRgbData)) return std::nullopt;
      if (auto standard = recogniseStandardProfile(source.get(), grey)) {
        encoding = *standard;
        source.reset();
      }
    }
  }

  LinearLightConverter converter;
  if (encoding.kind == ColourEncoding::Kind::srgb) {
    converter.curve_ = Curve::srgb;
    return converter;
  }
  if (encoding.kind == ColourEncoding::Kind::described) {
    const bool srgbPrimaries = grey || encoding.chromaticities == kSrgbChromaticities;
    TransferCurve profileCurve = encoding.transfer;
    switch (encoding.transfer) {
      case TransferCurve::pq:
        converter.curve_ = Curve::pq;
        converter.intensityTarget_ = 10000.0f;
        profileCurve = TransferCurve::linear;
        break;
      case TransferCurve::hlg:
        converter.curve_ = Curve::hlg;
        converter.intensityTarget_ = 1000.0f;
        profileCurve = TransferCurve::linear;
        break;
      case TransferCurve::srgb:
        // With sRGB primaries too this is plain sRGB: our own curve, no lcms2.
        converter.curve_ = srgbPrimaries ? Curve::srgb : Curve::none;
        break;
      case TransferCurve::linear:
      case TransferCurve::power:
      case TransferCurve::bt709:
        converter.curve_ = Curve::none;  // identity, or lcms2 applies the curve
        break;
    }
    const bool builtIn = srgbPrimaries && (profileCurve == TransferCurve::linear ||
                                           (profileCurve == TransferCurve::srgb && converter.curve_ == Curve::srgb));
    if (builtIn) return converter;
    source = profileFor(encoding.chromaticities, profileCurve, encoding.exponent, grey);
    if (!source) return std::nullopt;
  } else {
    converter.curve_ = Curve::none;  // lcms2 applies the profile's own curves
  }

  ProfileHandle destination = linearSrgbProfile(grey);
  if (!destination) return std::nullopt;
  const cmsUInt32Number format = grey ? TYPE_GRAY_FLT : TYPE_RGB_FLT;
  converter.transform_.reset(cmsCreateTransform(
      source.get(), format, destination.get(), format, INTENT_RELATIVE_COLORIMETRIC,
      cmsFLAGS_NOCACHE | cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_HIGHRESPRECALC));
  if (!converter.transform_) {
    if (encoding.kind != ColourEncoding::Kind::icc) return std::nullopt;
    // A profile that parses but lacks what a conversion needs is as unusable
    // as one that does not parse.
    if (warning) *warning = kUnusableProfileWarning;
    converter.curve_ = Curve::srgb;
  }
  return converter;
}

void LinearLightConverter::convertRow(const DecodedImage& image, std::optional<float> background, int y,
                                      float* red, float* green, float* blue, RowScratch& scratch) const {
  const int width = image.width();
  const int channels = image.channels();
  const int colours = image.isGrey() ? 1 : 3;
  scratch.samples.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(channels));
  unpackRow(image, y, scratch.samples.data());
  if (background && image.hasAlpha()) blendRow(scratch.samples.data(), width, channels, *background);

  float* planes[3] = {red, green, blue};
  for (int c = 0; c < colours; ++c) {
    float* out = planes[c];
    const float* in = scratch.samples.data() + c;
    for (int x = 0; x < width; ++x) out[x] = in[static_cast<std::size_t>(x) * channels];
  }
  for (int c = 0; c < colours; ++c) {
    switch (curve_) {
      case Curve::srgb: srgbToLinearRow(planes[c], static_cast<std::size_t>(width)); break;
      case Curve::pq:
        for (int x = 0; x < width; ++x) planes[c][x] = static_cast<float>(pqToLinear(planes[c][x]));
        break;
      case Curve::hlg:
        for (int x = 0; x < width; ++x) planes[c][x] = static_cast<float>(hlgToLinear(planes[c][x]));
        break;
      case Curve::none: break;
    }
  }
  if (transform_) {
    scratch.interleaved.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(colours));
    float* buffer = scratch.interleaved.data();
    for (int c = 0; c < colours; ++c) {
      for (int x = 0; x < width; ++x) buffer[static_cast<std::size_t>(x) * colours + c] = planes[c][x];
    }
    cmsDoTransform(transform_.get(), buffer, buffer, static_cast<cmsUInt32Number>(width));
    for (int c = 0; c < colours; ++c) {
      for (int x = 0; x < width; ++x) planes[c][x] = buffer[static_cast<std::size_t>(x) * colours + c];
    }
  }
  if (colours == 1) {
    std::copy(red, red + width, green);
    std::copy(red, red + width, blue);
  }
}

}  // namespace quorlin::metric
