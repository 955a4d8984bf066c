#include "core/engine/ResultTexts.h"

#include "core/engine/FixedNotation.h"

namespace quorlin {

std::string durationText(double seconds) {
  if (seconds >= 1.0) return fixedNotation(seconds, 2) + " s";
  return fixedNotation(seconds * 1000.0, 0) + " ms";
}

std::optional<double> bitsPerPixel(std::int64_t encodedSize, std::optional<std::int64_t> pixelCount) {
  if (!pixelCount || *pixelCount < 1) return std::nullopt;
  return static_cast<double>(encodedSize) * 8.0 / static_cast<double>(*pixelCount);
}

std::string bitsPerPixelText(std::int64_t encodedSize, std::optional<std::int64_t> pixelCount) {
  auto bits = bitsPerPixel(encodedSize, pixelCount);
  return bits ? fixedNotation(*bits, 2) + " bpp" : "--";
}

std::optional<double> savingsPercent(std::int64_t encodedSize, std::int64_t sourceFileSize) {
  if (sourceFileSize < 1) return std::nullopt;
  return (1.0 - static_cast<double>(encodedSize) / static_cast<double>(sourceFileSize)) * 100.0;
}

std::string savingsText(std::int64_t encodedSize, std::int64_t sourceFileSize) {
  auto savings = savingsPercent(encodedSize, sourceFileSize);
  return savings ? fixedNotation(*savings, 1) + "%" : "--";
}

std::string decodeSpeedText(std::optional<std::int64_t> pixelCount, double decodeDuration) {
  if (!pixelCount || *pixelCount < 1 || !(decodeDuration > 0)) return "--";
  return fixedNotation(static_cast<double>(*pixelCount) / 1'000'000.0 / decodeDuration, 1) + " MP/s";
}

std::string scoreText(double score) { return fixedNotation(score, 1); }

std::optional<std::string> searchResultText(const CompressionResult& result, double targetScore) {
  auto label = foundParameterLabel(result);
  if (!label) return std::nullopt;
  if (result.ssimulacra2Score < targetScore - 0.5) {
    *label += " \u2014 target " + fixedNotation(targetScore, 0) + " not reachable";
  }
  return label;
}

}  // namespace quorlin
