#include "core/ratedistortion/RateDistortionSample.h"

#include <cmath>
#include <system_error>

#include "core/engine/ResultTexts.h"

namespace quorlin {

namespace {

bool isDistanceDriven(CompressionCodec codec) {
  return codecInfo(codec).rateParameter == RateParameterKind::distance;
}

// Copies what a sample shares with a result or a search probe, either way:
// the figures, and the files and settings where both sides have them (a
// probe has neither).
template <typename From, typename To>
void copyShared(const From& from, To& to) {
  to.encodedSize = from.encodedSize;
  to.ssimulacra2Score = from.ssimulacra2Score;
  to.encodeDuration = from.encodeDuration;
  to.decodeDuration = from.decodeDuration;
  to.commandLine = from.commandLine;
  if constexpr (requires { from.workDirectory; }) {
    to.settingsSignature = from.settingsSignature;
    to.encodedMetadataLines = from.encodedMetadataLines;
    to.workDirectory = from.workDirectory;
    to.encodedURL = from.encodedURL;
    to.decodedURL = from.decodedURL;
  }
}

}  // namespace

void RateDistortionSample::removeWorkDirectory() const {
  if (workDirectory.empty()) return;
  std::error_code ignored;
  std::filesystem::remove_all(workDirectory, ignored);
}

RateDistortionSample makeSample(const CompressionResult& result, double settingValue,
                                std::optional<std::int64_t> pixelCount) {
  RateDistortionSample sample;
  sample.settingValue = settingValue;
  sample.bitsPerPixel = bitsPerPixel(result.encodedSize, pixelCount);
  copyShared(result, sample);
  return sample;
}

RateDistortionSample makeSample(const SearchProbePoint& probe, const CodecPanel& probed,
                                std::optional<std::int64_t> pixelCount) {
  RateDistortionSample sample;
  sample.settingValue = probe.parameter;
  sample.settingsSignature = probed.settingsSignature();
  sample.bitsPerPixel = bitsPerPixel(probe.encodedSize, pixelCount);
  copyShared(probe, sample);
  return sample;
}

CompressionResult resultOf(const RateDistortionSample& sample, CompressionCodec codec) {
  CompressionResult result;
  result.id = Uuid::random();
  result.codec = codec;
  copyShared(sample, result);
  return result;
}

RateDistortionCurve curveOf(std::span<const RateDistortionSample> samples) {
  bool inBits = true;
  for (const auto& sample : samples) inBits = inBits && sample.bitsPerPixel;
  std::vector<RatePoint> points;
  for (const auto& sample : samples) {
    const double rate = inBits ? *sample.bitsPerPixel : static_cast<double>(sample.encodedSize);
    points.push_back({rate, sample.ssimulacra2Score});
  }
  return RateDistortionCurve(std::move(points));
}

double settingValue(const CodecPanel& panel) {
  return isDistanceDriven(panel.codec) ? panel.distance : panel.quality;
}

void setSettingValue(CodecPanel& panel, double value) {
  if (isDistanceDriven(panel.codec)) {
    panel.distance = value;
  } else {
    panel.quality = static_cast<int>(std::lround(value));
  }
}

std::string settingText(CompressionCodec codec, double value) {
  if (isDistanceDriven(codec)) return "distance " + formatDistance(value);
  return "quality " + std::to_string(std::lround(value));
}

}  // namespace quorlin
