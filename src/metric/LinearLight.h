// LinearLight: decoded samples to linear-light sRGB planes, the metric's input.
//
// Per pixel: samples become floats (8-bit times f32(1/255), 16-bit times
// f32(1/65535)); an image with alpha is blended onto a grey background while
// still in its encoded form; then the values are linearised. sRGB uses the
// metric's own float sRGB curve (a rational approximation evaluated with fused
// multiply-adds); linear sRGB is copied; everything else goes through an lcms2
// float transform to linear sRGB (PQ and HLG curves are applied first by us).
// An ICC profile counts as sRGB or linear sRGB only when it gives the same
// colours within a tight tolerance (IccProfiles.h); one that merely resembles
// them is converted by lcms2, sampled curves and all.
// Grey images are linearised as grey and copied to all three planes.
// Values outside 0..1 are kept.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "metric/DecodedImage.h"
#include "metric/IccProfiles.h"

namespace quorlin::metric {

// The metric's float32 sRGB-to-linear curve, odd-symmetric; exposed for tests.
float srgbToLinear(float encoded);

class LinearLightConverter {
 public:
  // Prepares the conversion for the image's colour encoding. Returns nullopt
  // when the encoding cannot apply to this image (an RGB profile on a grey
  // image or the reverse). An ICC profile that lcms2 cannot parse or convert
  // from is replaced by sRGB, with a note in `warning`.
  static std::optional<LinearLightConverter> create(const DecodedImage& image, std::string* warning);

  // Buffers one thread needs for convertRow.
  struct RowScratch {
    std::vector<float> samples, interleaved;
  };

  // Linear sRGB values of row `y` of `image` (the one this converter was
  // created for) into red, green and blue (width floats each). `background`
  // is the grey the encoded colour is blended onto where the image has alpha;
  // without one, alpha is ignored. Thread-safe with one scratch per thread.
  void convertRow(const DecodedImage& image, std::optional<float> background, int y, float* red, float* green,
                  float* blue, RowScratch& scratch) const;

  // Nits of linear 1.0 (255 for SDR, 10000 for PQ, 1000 for HLG); it scales
  // the XYB step.
  float intensityTarget() const { return intensityTarget_; }

 private:
  enum class Curve { srgb, none, pq, hlg };
  LinearLightConverter() = default;

  Curve curve_ = Curve::srgb;
  TransformHandle transform_;  // null when no lcms2 step is needed
  float intensityTarget_ = 255.0f;
};

}  // namespace quorlin::metric
