#include "metric/Ssimulacra2.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "metric/Downsample.h"
#include "metric/ImageFileLoader.h"
#include "metric/LinearLight.h"
#include "metric/PositiveXyb.h"
#include "metric/ScaleComparison.h"
#include "metric/ScoreMapping.h"
#include "metric/ThreadPool.h"

namespace quorlin::metric {

namespace {

constexpr int kMinimumSize = 8;

bool tooSmall(int width, int height) { return width < kMinimumSize || height < kMinimumSize; }
bool tooSmall(const DecodedImage& image) { return tooSmall(image.width(), image.height()); }

// One comparison of two linear images (consumed: the scales overwrite them).
double compareLinear(PlanarImage original, PlanarImage distorted, float originalTarget, float distortedTarget,
                     ThreadPool& pool) {
  std::vector<std::array<ChannelNorms, 3>> perScale;
  for (int scale = 0; scale < kMaxScales; ++scale) {
    // The next scale exists while this one is at least 8x8; make it before
    // this one turns into XYB in place.
    PlanarImage nextOriginal, nextDistorted;
    if (scale + 1 < kMaxScales && !tooSmall(original.width(), original.height())) {
      nextOriginal = downsample(original, pool);
      nextDistorted = downsample(distorted, pool);
    }
    toPositiveXyb(original, originalTarget, pool);
    toPositiveXyb(distorted, distortedTarget, pool);
    perScale.push_back(compareScale(original, distorted, pool));
    if (nextOriginal.planes[0].empty()) break;
    original = std::move(nextOriginal);
    distorted = std::move(nextDistorted);
  }
  return scoreFromNorms(perScale);
}

MetricResult compareDecoded(const DecodedImage& original, const LinearLightConverter& originalConverter,
                            const DecodedImage& distorted, const LinearLightConverter& distortedConverter,
                            const MetricOptions& options) {
  ThreadPool pool(options.threads);
  std::vector<float> backgrounds = original.hasAlpha() ? std::vector<float>{0.1f, 0.9f} : std::vector<float>{0.5f};
  double worst = 0.0;
  for (std::size_t run = 0; run < backgrounds.size(); ++run) {
    const float background = backgrounds[run];
    PlanarImage linearOriginal = originalConverter.convert(original, background, pool);
    PlanarImage linearDistorted = distortedConverter.convert(distorted, background, pool);
    const double score = compareLinear(std::move(linearOriginal), std::move(linearDistorted),
                                       originalConverter.intensityTarget(), distortedConverter.intensityTarget(), pool);
    worst = run == 0 ? score : std::min(worst, score);
  }
  return MetricResult::success(worst);
}

}  // namespace

MetricResult computeSsimulacra2(const DecodedImage& original, const DecodedImage& distorted,
                                const MetricOptions& options) {
  if (tooSmall(original) || tooSmall(distorted)) return MetricResult::failure(MetricStatus::imageTooSmall);
  if (original.width() != distorted.width() || original.height() != distorted.height()) {
    return MetricResult::failure(MetricStatus::sizeMismatch);
  }
  auto originalConverter = LinearLightConverter::create(original, nullptr);
  if (!originalConverter) return MetricResult::failure(MetricStatus::originalUndecodable);
  auto distortedConverter = LinearLightConverter::create(distorted, nullptr);
  if (!distortedConverter) return MetricResult::failure(MetricStatus::distortedUndecodable);
  return compareDecoded(original, *originalConverter, distorted, *distortedConverter, options);
}

MetricResult scoreImageFiles(const std::filesystem::path& originalPath, const std::filesystem::path& distortedPath,
                             const MetricOptions& options, std::string* warnings) {
  auto note = [warnings](const std::string& warning) {
    if (warnings && !warning.empty()) {
      if (!warnings->empty()) *warnings += '\n';
      *warnings += warning;
    }
  };

  ImageLoadResult original = loadImageFile(originalPath);
  std::optional<LinearLightConverter> originalConverter;
  if (original.image) {
    std::string warning;
    originalConverter = LinearLightConverter::create(*original.image, &warning);
    note(warning);
  }
  if (!original.image || !originalConverter) {
    return MetricResult::failure(original.image || original.failure == LoadFailure::undecodable
                                     ? MetricStatus::originalUndecodable
                                     : MetricStatus::originalUnreadable,
                                 originalPath.string());
  }
  if (tooSmall(*original.image)) return MetricResult::failure(MetricStatus::imageTooSmall);

  ImageLoadResult distorted = loadImageFile(distortedPath);
  std::optional<LinearLightConverter> distortedConverter;
  if (distorted.image) {
    std::string warning;
    distortedConverter = LinearLightConverter::create(*distorted.image, &warning);
    note(warning);
  }
  if (!distorted.image || !distortedConverter) {
    return MetricResult::failure(distorted.image || distorted.failure == LoadFailure::undecodable
                                     ? MetricStatus::distortedUndecodable
                                     : MetricStatus::distortedUnreadable,
                                 distortedPath.string());
  }
  if (tooSmall(*distorted.image)) return MetricResult::failure(MetricStatus::imageTooSmall);
  if (original.image->width() != distorted.image->width() || original.image->height() != distorted.image->height()) {
    return MetricResult::failure(MetricStatus::sizeMismatch);
  }
  return compareDecoded(*original.image, *originalConverter, *distorted.image, *distortedConverter, options);
}

}  // namespace quorlin::metric
