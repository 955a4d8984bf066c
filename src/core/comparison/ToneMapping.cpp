#include "core/comparison/ToneMapping.h"

#include <algorithm>
#include <cmath>

namespace quorlin {

namespace {
double sanitize(double headroom) { return std::isfinite(headroom) && headroom > 0 ? headroom : 1.0; }

float nonNegative(float value) { return value > 0.0f ? value : 0.0f; }  // NaN -> 0
}  // namespace

ToneMapper::ToneMapper(double contentHeadroom, double targetHeadroom)
    : content_(sanitize(contentHeadroom)), target_(sanitize(targetHeadroom)), isIdentity_(content_ <= target_) {
  double knee = target_ / 2;
  knee_ = static_cast<float>(knee);
  kneeRange_ = static_cast<float>(target_ - knee);
  inverseSpan_ = isIdentity_ ? 0.0f : static_cast<float>(1.0 / (content_ - knee));
  slope_ = isIdentity_ ? 1.0f : static_cast<float>((content_ - knee) / (target_ - knee));
}

float ToneMapper::curve(float m) const {
  float target = static_cast<float>(target_);
  if (isIdentity_ || m <= knee_) return std::min(m, target);
  float x = std::min((m - knee_) * inverseSpan_, 1.0f);
  return std::min(knee_ + kneeRange_ * (slope_ * x / (1.0f + (slope_ - 1.0f) * x)), target);
}

void ToneMapper::apply(float* rgba, std::size_t pixelCount) const {
  const float target = static_cast<float>(target_);
  for (std::size_t i = 0; i < pixelCount; ++i) {
    float* pixel = rgba + i * 4;
    float r = nonNegative(pixel[0]), g = nonNegative(pixel[1]), b = nonNegative(pixel[2]);
    if (!isIdentity_) {
      float m = std::max(r, std::max(g, b));
      if (m > knee_) {
        float scale = curve(m) / m;
        r *= scale;
        g *= scale;
        b *= scale;
      }
    }
    pixel[0] = std::min(r, target);
    pixel[1] = std::min(g, target);
    pixel[2] = std::min(b, target);
  }
}

}  // namespace quorlin
