// What a finished sweep is reported as, wherever it is reported (the command
// line, the desktop view's table and its exports): the deltas of every panel
// against an anchor panel, their texts, and the points as JSON and CSV.
// Pure functions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/ratedistortion/PanelSweep.h"

namespace quorlin {

struct RateDistortionSource {
  std::filesystem::path path;
  int pixelWidth = 0;
  int pixelHeight = 0;
  std::int64_t fileSize = 0;
  std::optional<std::string> colorProfileName;  // as the source's specs name it
  std::optional<double> contentHeadroom;        // HDR sources
};

class JsonWriter;
// Writes `"source": {path, pixelWidth, pixelHeight, fileSize, colorProfileName,
// contentHeadroom}` into the open object.
void writeSourceJson(JsonWriter& json, const RateDistortionSource& source);

// One panel against the anchor.
struct PanelDelta {
  int panelNumber = 0;
  int anchorNumber = 0;
  BjontegaardDelta rate;   // its overlap is a score range
  BjontegaardDelta score;  // its overlap is a range of ln(rate)
};

// Every sweep but the anchor's, in order, against sweeps[anchorIndex].
std::vector<PanelDelta> deltasAgainst(std::span<const PanelSweep> sweeps, std::size_t anchorIndex);

// "−23.4% size" (a true minus sign), "+5.0% size", with " (outlier)" when
// flagged; else the status in words: "needs 4 points", "curves do not overlap".
std::string deltaRateText(const BjontegaardDelta& delta);
// "+3.1 points", "−0.4 points", or the status in words.
std::string deltaScoreText(const BjontegaardDelta& delta);
// "SSIMULACRA2 40.2–88.1 (73% of the range)" for the rate delta's overlap; empty without one.
std::string overlapText(const BjontegaardDelta& rate);

// { "source": {path, pixelWidth, pixelHeight, fileSize},
//   "panels": [ {panel, codec, signature, samples: [{setting, settingsSignature,
//     encodedSize, bitsPerPixel, ssimulacra2Score, encodeDuration, decodeDuration,
//     commandLine, targetScore, kept}], failures: [{setting | target, message}]} ],
//   "bd": [ {panel, anchor, bdRate, bdScore, overlapLow, overlapHigh, overlapRatio, status} ] }
// Panel numbers are the panels' own (1-based); bdRate is a fraction, bdScore in points.
std::string rateDistortionJson(const RateDistortionSource& source, std::span<const PanelSweep> sweeps,
                               std::span<const PanelDelta> deltas);

// A header line, then one line per sample: panel, codec, setting, encoded size,
// bits per pixel, score, encode and decode seconds, kept, target score, command
// line; fields with a comma, quote or line break are quoted.
std::string rateDistortionCsv(std::span<const PanelSweep> sweeps);

}  // namespace quorlin
