// The texts a result is shown with, wherever results are shown (the panel
// view, the command line): size, savings, timings, bits per pixel, score and
// the Target Score answer. Pure functions; numbers always use a full stop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/engine/CompressionResult.h"

namespace quorlin {

// "%.2f s" from one second up ("1.23 s"), else milliseconds "%.0f ms" ("120 ms").
std::string durationText(double seconds);

// encodedSize x 8 / pixelCount; nothing without at least one pixel.
std::optional<double> bitsPerPixel(std::int64_t encodedSize, std::optional<std::int64_t> pixelCount);
// "%.2f bpp", or "--".
std::string bitsPerPixelText(std::int64_t encodedSize, std::optional<std::int64_t> pixelCount);

// (1 - encodedSize / sourceFileSize) x 100; nothing when the source size is below 1.
std::optional<double> savingsPercent(std::int64_t encodedSize, std::int64_t sourceFileSize);
// "%.1f%%" ("95.1%"), or "--".
std::string savingsText(std::int64_t encodedSize, std::int64_t sourceFileSize);

// pixelCount / 1,000,000 / decodeDuration as "%.1f MP/s", or "--" without
// pixels or without a positive duration.
std::string decodeSpeedText(std::optional<std::int64_t> pixelCount, double decodeDuration);

// "%.1f" of the score.
std::string scoreText(double score);

// foundParameterLabel ("Quality 72", "Distance 1.35") followed by
// " — target 85 not reachable" when the score is more than 0.5 below the
// target; nothing when the result carries no found parameter.
std::optional<std::string> searchResultText(const CompressionResult& result, double targetScore);

}  // namespace quorlin
