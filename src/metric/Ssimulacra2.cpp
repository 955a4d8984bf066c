#include "metric/Ssimulacra2.h"

#include <algorithm>
#include <future>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "metric/AlignedMemory.h"
#include "metric/ErrorMap.h"
#include "metric/ImageFileLoader.h"
#include "metric/LinearLight.h"
#include "metric/ScaleComparison.h"
#include "metric/ScoreMapping.h"
#include "metric/ThreadPool.h"

namespace quorlin::metric {

namespace {

constexpr int kMinimumSize = 8;

bool tooSmall(int width, int height) { return width < kMinimumSize || height < kMinimumSize; }
bool tooSmall(const DecodedImage& image) { return tooSmall(image.width(), image.height()); }

// Rows of a decoded image, linearised (and blended) on the fly.
class DecodedRowSource final : public LinearRowSource {
 public:
  DecodedRowSource(const DecodedImage& image, const LinearLightConverter& converter, float background,
                   unsigned threads)
      : image_(image), converter_(converter), background_(background), scratch_(threads) {}
  int width() const override { return image_.width(); }
  int height() const override { return image_.height(); }
  void readRow(int y, float* red, float* green, float* blue, unsigned worker) const override {
    converter_.convertRow(image_, background_, y, red, green, blue, scratch_[worker]);
  }

 private:
  const DecodedImage& image_;
  const LinearLightConverter& converter_;
  float background_;
  mutable std::vector<LinearLightConverter::RowScratch> scratch_;  // one per worker
};

// One comparison of the two images on one background: the norms per scale.
// With `lastUse`, the decoded images are released once the first scale is
// done: the memory they free serves the later scales (fresh memory costs
// more to touch than memory just freed).
std::vector<std::array<ChannelNorms, 3>> compareOnBackground(std::optional<DecodedImage>& original,
                                                             const LinearLightConverter& originalConverter,
                                                             std::optional<DecodedImage>& distorted,
                                                             const LinearLightConverter& distortedConverter,
                                                             float background, ThreadPool& pool,
                                                             ErrorMapRecorder* map, bool lastUse) {
  std::optional<DecodedRowSource> originalRows, distortedRows;
  originalRows.emplace(*original, originalConverter, background, pool.threadCount());
  distortedRows.emplace(*distorted, distortedConverter, background, pool.threadCount());
  const float originalTarget = originalConverter.intensityTarget();
  const float distortedTarget = distortedConverter.intensityTarget();

  std::vector<std::array<ChannelNorms, 3>> perScale;
  PlanarImage originalScale, distortedScale;  // the current scale after the first
  std::optional<PlanarRowSource> originalScaleRows, distortedScaleRows;
  for (int scale = 0; scale < kMaxScales; ++scale) {
    const LinearRowSource& originalSource = scale == 0 ? static_cast<const LinearRowSource&>(*originalRows)
                                                       : *originalScaleRows;
    const LinearRowSource& distortedSource = scale == 0 ? static_cast<const LinearRowSource&>(*distortedRows)
                                                        : *distortedScaleRows;
    const int width = originalSource.width(), height = originalSource.height();
    // The next scale exists while this one is at least 8x8.
    const bool another = scale + 1 < kMaxScales && !tooSmall(width, height);
    PlanarImage originalNext, distortedNext;
    if (another) {
      originalNext = PlanarImage((width + 1) / 2, (height + 1) / 2);
      distortedNext = PlanarImage((width + 1) / 2, (height + 1) / 2);
    }
    perScale.push_back(compareScale({originalSource, originalTarget, another ? &originalNext : nullptr},
                                    {distortedSource, distortedTarget, another ? &distortedNext : nullptr}, pool,
                                    map ? &map->sink(scale) : nullptr));
    if (scale == 0 && lastUse) {
      originalRows.reset();
      distortedRows.reset();
      original.reset();
      distorted.reset();
    }
    if (!another) break;
    originalScaleRows.reset();
    distortedScaleRows.reset();
    originalScale = std::move(originalNext);
    distortedScale = std::move(distortedNext);
    originalScaleRows.emplace(originalScale);
    distortedScaleRows.emplace(distortedScale);
  }
  return perScale;
}

// Checks that the planes of the downsampled scales (three per image, the
// first scale and the next alive at once) can be had before any work is done,
// so a comparison that cannot finish fails at once. Throws std::bad_alloc.
void reservePlaneMemory(int width, int height) {
  const std::size_t half = static_cast<std::size_t>((width + 1) / 2) * static_cast<std::size_t>((height + 1) / 2);
  const std::size_t bytes = half * sizeof(float) * 3 * 2 * 5 / 4;
  releaseLarge(allocateLarge(bytes));
}

// The images are taken over: their samples are freed (unless shared) once no
// longer needed.
MetricResult compareDecoded(DecodedImage originalImage, const LinearLightConverter& originalConverter,
                            DecodedImage distortedImage, const LinearLightConverter& distortedConverter,
                            const MetricOptions& options) {
  const int width = originalImage.width(), height = originalImage.height();
  reservePlaneMemory(width, height);
  ThreadPool pool(options.threads);
  const std::vector<float> backgrounds =
      originalImage.hasAlpha() ? std::vector<float>{0.1f, 0.9f} : std::vector<float>{0.5f};
  std::optional<DecodedImage> original(std::move(originalImage)), distorted(std::move(distortedImage));
  const bool mapped = !options.errorMap.empty();
  try {
    // The map is that of the run whose score counts.
    double worst = 0.0, worstSum = 0.0;
    std::vector<std::array<ChannelNorms, 3>> worstNorms;
    std::unique_ptr<ErrorMapRecorder> worstMap;
    for (std::size_t run = 0; run < backgrounds.size(); ++run) {
      const bool lastRun = run + 1 == backgrounds.size();
      std::unique_ptr<ErrorMapRecorder> map;
      if (mapped) {
        // The coarser scales' values stay in memory on the last run only:
        // there the decoded images are freed before they are made, whereas a
        // map kept from an earlier run would hold them through the next.
        map = std::make_unique<ErrorMapRecorder>(width, height, options.errorMap.parent_path(), lastRun);
      }
      auto norms = compareOnBackground(original, originalConverter, distorted, distortedConverter, backgrounds[run],
                                       pool, map.get(), lastRun);
      const double sum = weightedErrorSum(norms);
      const double score = scoreFromWeightedSum(sum);
      if (run == 0 || score < worst) {
        worst = score;
        worstSum = sum;
        worstNorms = std::move(norms);
        worstMap = std::move(map);
      }
    }
    if (worstMap) worstMap->write(options.errorMap, worstNorms, pool);
    return MetricResult::success(worst, worstSum);
  } catch (const std::system_error&) {
    return MetricResult::failure(MetricStatus::mapUnwritable, options.errorMap.string());
  }
}

MetricResult loadFailure(const ImageLoadResult& load, bool isOriginal, const std::filesystem::path& path) {
  if (load.failure == LoadFailure::refused) return MetricResult::failure(MetricStatus::imageRefused, load.reason);
  const bool undecodable = load.image || load.failure == LoadFailure::undecodable;
  if (isOriginal) {
    return MetricResult::failure(undecodable ? MetricStatus::originalUndecodable : MetricStatus::originalUnreadable,
                                 path.string());
  }
  return MetricResult::failure(undecodable ? MetricStatus::distortedUndecodable : MetricStatus::distortedUnreadable,
                               path.string());
}

MetricResult scoreLoadedFiles(const std::filesystem::path& originalPath, const std::filesystem::path& distortedPath,
                              const MetricOptions& options, std::string* warnings) {
  auto note = [warnings](const std::string& warning) {
    if (warnings && !warning.empty()) {
      if (!warnings->empty()) *warnings += '\n';
      *warnings += warning;
    }
  };

  // With threads to spare the two files decode side by side; failures are
  // still reported in the order the checks are documented.
  std::future<ImageLoadResult> distortedLoad;
  if (resolveThreadCount(options.threads) > 1) {
    distortedLoad = std::async(std::launch::async,
                               [&distortedPath, &options] { return loadImageFile(distortedPath, options.pixelLimit); });
  }
  ImageLoadResult original = loadImageFile(originalPath, options.pixelLimit);
  note(original.warning);
  std::optional<LinearLightConverter> originalConverter;
  if (original.image) {
    std::string warning;
    originalConverter = LinearLightConverter::create(*original.image, &warning);
    note(warning);
  }
  if (!original.image || !originalConverter) return loadFailure(original, true, originalPath);
  if (tooSmall(*original.image)) return MetricResult::failure(MetricStatus::imageTooSmall);

  ImageLoadResult distorted =
      distortedLoad.valid() ? distortedLoad.get() : loadImageFile(distortedPath, options.pixelLimit);
  note(distorted.warning);
  std::optional<LinearLightConverter> distortedConverter;
  if (distorted.image) {
    std::string warning;
    distortedConverter = LinearLightConverter::create(*distorted.image, &warning);
    note(warning);
  }
  if (!distorted.image || !distortedConverter) return loadFailure(distorted, false, distortedPath);
  if (tooSmall(*distorted.image)) return MetricResult::failure(MetricStatus::imageTooSmall);
  if (original.image->width() != distorted.image->width() || original.image->height() != distorted.image->height()) {
    return MetricResult::failure(MetricStatus::sizeMismatch);
  }
  return compareDecoded(std::move(*original.image), *originalConverter, std::move(*distorted.image),
                        *distortedConverter, options);
}

}  // namespace

MetricResult scoreImageFiles(const std::filesystem::path& originalPath, const std::filesystem::path& distortedPath,
                             const MetricOptions& options, std::string* warnings) {
  try {
    return scoreLoadedFiles(originalPath, distortedPath, options, warnings);
  } catch (const std::bad_alloc&) {
    return MetricResult::failure(MetricStatus::outOfMemory);
  }
}

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

}  // namespace quorlin::metric
