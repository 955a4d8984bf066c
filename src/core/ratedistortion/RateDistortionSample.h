// RateDistortionSample: one encoded point of a panel's rate–distortion curve,
// kept with the files it stands for so a chart can show its pictures again
// without encoding. The sweep that made a sample owns its work directory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/engine/CodecPanel.h"
#include "core/engine/CompressionResult.h"
#include "core/ratedistortion/RateDistortionCurve.h"

namespace quorlin {

struct RateDistortionSample {
  double settingValue = 0;                 // the quality or distance it was encoded with
  std::string settingsSignature;           // of the panel at that value
  std::int64_t encodedSize = 0;            // bytes
  std::optional<double> bitsPerPixel;      // nothing when the pixel count is unknown
  double ssimulacra2Score = 0;
  double encodeDuration = 0;               // seconds, wall clock
  double decodeDuration = 0;
  std::string commandLine;                 // settings only, never a path
  std::vector<std::string> encodedMetadataLines;
  std::filesystem::path workDirectory;
  std::filesystem::path encodedURL;
  std::filesystem::path decodedURL;
  std::optional<double> targetScore;       // set on the probes of a target search
  bool isRecorded = false;                 // read from a corpus run's results: numbers only

  void removeWorkDirectory() const;
};

RateDistortionSample makeSample(const CompressionResult& result, double settingValue,
                                std::optional<std::int64_t> pixelCount);
// A target search's probe; `probed` is the panel at the probe's value. It has
// no files: the search kept only the figures.
RateDistortionSample makeSample(const SearchProbePoint& probe, const CodecPanel& probed,
                                std::optional<std::int64_t> pixelCount);

// The result the sample stands for, without its decoded image (read it from
// decodedURL); it shares the sample's work directory.
CompressionResult resultOf(const RateDistortionSample& sample, CompressionCodec codec);

// The curve of the samples in order: rate is bits per pixel where known, else
// bytes (the deltas do not depend on the unit, but one curve must use one).
RateDistortionCurve curveOf(std::span<const RateDistortionSample> samples);

// The panel's rate parameter: its distance (JPEG XL, JPEGli) or quality.
double settingValue(const CodecPanel& panel);
// Sets the rate parameter, rounding a quality to a whole number.
void setSettingValue(CodecPanel& panel, double value);
// "quality 85" or "distance 1.5".
std::string settingText(CompressionCodec codec, double value);

}  // namespace quorlin
