// What `quorlin-cli compare` prints on standard output: a table with one row
// per panel, or one JSON object. Pure functions of the outcomes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/engine/CodecPanel.h"
#include "core/engine/CompressionResult.h"
#include "core/ratedistortion/RateDistortionReport.h"

namespace quorlin::cli {

// The same facts of the source as the rate-distortion report's.
using CompareSource = RateDistortionSource;

// One panel's outcome: a result or the error message shown in its place.
struct PanelOutcome {
  CodecPanel panel;
  std::optional<CompressionResult> result;
  std::string errorMessage;
  std::string errorDetail;  // why, where the message has no room for it (libvips' text); often empty
};

// Columns: panel number, codec, command, size, bits per pixel, savings,
// SSIMULACRA2, encode and decode time, and the Target Score answer; a failed
// panel shows "Failed: " and its message after the codec.
std::string compareTable(const CompareSource& source, const std::vector<PanelOutcome>& outcomes);

// { "source": {path, pixelWidth, pixelHeight, fileSize}, "panels": [ {index,
// codec, settingsSignature, result {...} | errorMessage} ... ] }.
std::string compareJson(const CompareSource& source, const std::vector<PanelOutcome>& outcomes);

}  // namespace quorlin::cli
