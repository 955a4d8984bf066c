// MetricResult: the outcome of one SSIMULACRA2 comparison: a score, or a
// status with the exact one-line message the ssimulacra2 tool prints.
#pragma once

#include <string>

namespace quorlin::metric {

enum class MetricStatus {
  ok,
  originalUnreadable,    // "Could not load original image: PATH"
  originalUndecodable,   // "Could not decode original image: PATH"
  distortedUnreadable,   // "Could not load distorted image: PATH"
  distortedUndecodable,  // "Could not decode distorted image: PATH"
  imageTooSmall,         // "Minimum image size is 8x8 pixels."
  sizeMismatch,          // "Image size mismatch."
  imageRefused,          // why an image is not decoded: "Image is W x H pixels; the limit is 268 megapixels."
  outOfMemory,           // "Not enough memory to compare these images."
  mapUnwritable,         // "Could not write error map: PATH"
};

class [[nodiscard]] MetricResult {
 public:
  static MetricResult success(double score, double weightedSum = 0.0) {
    return MetricResult(MetricStatus::ok, score, {}, weightedSum);
  }
  // The message for `status`; `path` fills in the file for the load errors
  // (without a path they end after "image"); for imageRefused it is the reason.
  static MetricResult failure(MetricStatus status, const std::string& path = {});

  bool ok() const { return status_ == MetricStatus::ok; }
  MetricStatus status() const { return status_; }
  // Higher is better; 100 for identical pixels, unbounded below. 0 on failure.
  double score() const { return score_; }
  // The weighted error sum the score was mapped from (of the run that gave
  // the score when the original has alpha); 0 on failure.
  double weightedSum() const { return weightedSum_; }
  // Empty on success.
  const std::string& message() const { return message_; }

 private:
  MetricResult(MetricStatus status, double score, std::string message, double weightedSum = 0.0)
      : status_(status), score_(score), message_(std::move(message)), weightedSum_(weightedSum) {}

  MetricStatus status_;
  double score_;
  std::string message_;
  double weightedSum_;
};

}  // namespace quorlin::metric
