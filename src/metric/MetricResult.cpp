#include "metric/MetricResult.h"

namespace quorlin::metric {

MetricResult MetricResult::failure(MetricStatus status, const std::string& path) {
  const std::string where = path.empty() ? std::string() : ": " + path;
  std::string message;
  switch (status) {
    case MetricStatus::ok: break;
    case MetricStatus::originalUnreadable: message = "Could not load original image" + where; break;
    case MetricStatus::originalUndecodable: message = "Could not decode original image" + where; break;
    case MetricStatus::distortedUnreadable: message = "Could not load distorted image" + where; break;
    case MetricStatus::distortedUndecodable: message = "Could not decode distorted image" + where; break;
    case MetricStatus::imageTooSmall: message = "Minimum image size is 8x8 pixels."; break;
    case MetricStatus::sizeMismatch: message = "Image size mismatch."; break;
    case MetricStatus::imageRefused: message = path; break;
    case MetricStatus::outOfMemory: message = "Not enough memory to compare these images."; break;
    case MetricStatus::mapUnwritable: message = "Could not write error map" + where; break;
  }
  return MetricResult(status, 0.0, std::move(message));
}

}  // namespace quorlin::metric
