#include "core/ratedistortion/RateDistortionSample.h"

#include <cmath>
#include <system_error>

#include "core/engine/ResultTexts.h"

namespace quorlin {

namespace {

bool isDistanceDriven(CompressionCodec codec) {
  return codecInfo(codec).rateParameter == RateParameterKind::distance;
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
  sample.settingsSignature = result.settingsSignature;
  sample.encodedSize = result.encodedSize;
  sample.bitsPerPixel = bitsPerPixel(result.encodedSize, pixelCount);
  sample.ssimulacra2Score = result.ssimulacra2Score;
  sample.encodeDuration = result.encodeDuration;
  sample.decodeDuration = result.decodeDuration;
  sample.commandLine = result.commandLine;
  sample.encodedMetadataLines = result.encodedMetadataLines;
  sample.workDirectory = result.workDirectory;
  sample.encodedURL = result.encodedURL;
  sample.decodedURL = result.decodedURL;
  return sample;
}

CompressionResult resultOf(const RateDistortionSample& sample, CompressionCodec codec) {
  CompressionResult result;
  result.id = Uuid::random();
  result.codec = codec;
  result.workDirectory = sample.workDirectory;
  result.encodedURL = sample.encodedURL;
  result.decodedURL = sample.decodedURL;
  result.encodedSize = sample.encodedSize;
  result.ssimulacra2Score = sample.ssimulacra2Score;
  result.encodeDuration = sample.encodeDuration;
  result.decodeDuration = sample.decodeDuration;
  result.commandLine = sample.commandLine;
  result.encodedMetadataLines = sample.encodedMetadataLines;
  result.settingsSignature = sample.settingsSignature;
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
