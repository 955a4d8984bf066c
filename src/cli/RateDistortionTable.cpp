#include "cli/RateDistortionTable.h"

#include <algorithm>

#include "core/common/ByteCount.h"
#include "core/engine/FixedNotation.h"
#include "core/engine/ResultTexts.h"

namespace quorlin::cli {

namespace {

using Row = std::vector<std::string>;

// Characters on screen: UTF-8 continuation bytes take no column.
std::size_t displayWidth(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Rows with columns padded to their widest cell, indented; a row with fewer
// cells runs on after its last one.
std::string aligned(const std::vector<Row>& rows, const std::string& indent) {
  std::vector<std::size_t> widths;
  for (const Row& row : rows) {
    if (row.size() > widths.size()) widths.resize(row.size(), 0);
    for (std::size_t c = 0; c + 1 < row.size(); ++c) widths[c] = std::max(widths[c], displayWidth(row[c]));
  }
  std::string text;
  for (const Row& row : rows) {
    std::string line = indent;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - displayWidth(row[c]) + 2, ' ');
    }
    while (line.ends_with(' ')) line.pop_back();
    text += line + "\n";
  }
  return text;
}

std::string bitsText(const RateDistortionSample& sample) {
  return sample.bitsPerPixel ? fixedNotation(*sample.bitsPerPixel, 3) + " bpp" : "--";
}

}  // namespace

std::string rateDistortionTable(std::span<const PanelSweep> sweeps, std::size_t anchorIndex,
                                std::span<const PanelDelta> deltas) {
  std::string text;
  for (const PanelSweep& sweep : sweeps) {
    const RateDistortionCurve curve = sweep.curve();
    text += "Panel " + std::to_string(sweep.panelNumber) + ": " + std::string(displayName(sweep.panel.codec)) + "\n";
    std::vector<Row> rows = {{"Setting", "Size", "Bits/Pixel", "SSIMULACRA2", "Curve"}};
    for (std::size_t i = 0; i < sweep.samples.size(); ++i) {
      const RateDistortionSample& sample = sweep.samples[i];
      std::string setting = settingText(sweep.panel.codec, sample.settingValue);
      if (sample.targetScore) setting += " (target " + fixedNotation(*sample.targetScore, 0) + ")";
      rows.push_back({setting, formatByteCount(sample.encodedSize), bitsText(sample),
                      scoreText(sample.ssimulacra2Score), curve.kept[i] ? "kept" : "dropped"});
    }
    for (const SweepFailure& failure : sweep.failures) {
      std::string what = failure.isTargetScore ? "target " + fixedNotation(failure.value, 0)
                                               : settingText(sweep.panel.codec, failure.value);
      rows.push_back({what, "Failed: " + failure.message});
    }
    text += aligned(rows, "  ") + "\n";
  }
  if (sweeps.size() > 1 && anchorIndex < sweeps.size()) {
    const PanelSweep& anchor = sweeps[anchorIndex];
    text += "Against panel " + std::to_string(anchor.panelNumber) + " (" +
            std::string(displayName(anchor.panel.codec)) + "):\n";
    std::vector<Row> rows = {{"#", "Codec", "BD-rate", "BD-score", "Overlap"}};
    for (const PanelDelta& delta : deltas) {
      auto sweep = std::find_if(sweeps.begin(), sweeps.end(),
                                [&](const PanelSweep& s) { return s.panelNumber == delta.panelNumber; });
      rows.push_back({std::to_string(delta.panelNumber), std::string(displayName(sweep->panel.codec)),
                      deltaRateText(delta.rate), deltaScoreText(delta.score), overlapText(delta.rate)});
    }
    text += aligned(rows, "  ");
  }
  return text;
}

}  // namespace quorlin::cli
