#include "cli/CompareReport.h"

#include <algorithm>

#include "core/common/ByteCount.h"
#include "core/common/JsonWriter.h"
#include "core/engine/ResultTexts.h"

namespace quorlin::cli {

namespace {

std::optional<std::int64_t> pixelCount(const CompareSource& source) {
  return static_cast<std::int64_t>(source.pixelWidth) * source.pixelHeight;
}

// Characters on screen: UTF-8 continuation bytes take no column.
std::size_t displayWidth(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

using Row = std::vector<std::string>;

Row resultRow(std::size_t index, const PanelOutcome& outcome, const CompareSource& source) {
  const CompressionResult& result = *outcome.result;
  return {std::to_string(index + 1),
          std::string(displayName(outcome.panel.codec)),
          result.commandLine,
          formatByteCount(result.encodedSize),
          bitsPerPixelText(result.encodedSize, pixelCount(source)),
          savingsText(result.encodedSize, source.fileSize),
          scoreText(result.ssimulacra2Score),
          durationText(result.encodeDuration),
          durationText(result.decodeDuration),
          searchResultText(result, outcome.panel.targetScore).value_or("")};
}

}  // namespace

std::string compareTable(const CompareSource& source, const std::vector<PanelOutcome>& outcomes) {
  const Row header = {"#", "Codec", "Command", "Size", "Bits/Pixel", "Savings", "SSIMULACRA2", "Encode", "Decode",
                      "Search"};
  std::vector<Row> rows = {header};
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    if (outcomes[i].result) {
      rows.push_back(resultRow(i, outcomes[i], source));
    } else {
      rows.push_back({std::to_string(i + 1), std::string(displayName(outcomes[i].panel.codec)),
                      "Failed: " + outcomes[i].errorMessage});
    }
  }
  // Widths from the successful rows only: a failure's message runs on to the end of its line.
  std::vector<std::size_t> widths(header.size(), 0);
  for (const auto& row : rows) {
    if (row.size() != header.size()) {
      for (std::size_t c = 0; c < 2; ++c) widths[c] = std::max(widths[c], displayWidth(row[c]));
      continue;
    }
    for (std::size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], displayWidth(row[c]));
  }
  bool hasSearch = std::any_of(rows.begin() + 1, rows.end(), [](const Row& row) {
    return row.size() == 10 && !row.back().empty();
  });
  std::string text;
  for (const auto& row : rows) {
    std::size_t columns = row.size() == header.size() && !hasSearch ? row.size() - 1 : row.size();
    std::string line;
    for (std::size_t c = 0; c < columns; ++c) {
      line += row[c];
      if (c + 1 < columns) line += std::string(widths[c] - displayWidth(row[c]) + 2, ' ');
    }
    while (line.ends_with(' ')) line.pop_back();
    text += line + "\n";
  }
  return text;
}

std::string compareJson(const CompareSource& source, const std::vector<PanelOutcome>& outcomes) {
  JsonWriter json;
  json.beginObject();
  writeSourceJson(json, source);
  json.key("panels").beginArray();
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    const PanelOutcome& outcome = outcomes[i];
    json.beginObject();
    json.key("index").value(static_cast<std::int64_t>(i));
    json.key("codec").value(rawValue(outcome.panel.codec));
    json.key("settingsSignature").value(outcome.panel.settingsSignature());
    if (outcome.result) {
      const CompressionResult& result = *outcome.result;
      json.key("result").beginObject();
      json.key("encodedSize").value(result.encodedSize);
      json.key("ssimulacra2Score").value(result.ssimulacra2Score);
      json.key("scoredWithSourceProfile").value(result.scoredWithSourceProfile);
      // The space the decoded result is shown and scored in, and its headroom (HDR results).
      const DecodedImage* decoded = result.decodedImage.image.get();
      json.key("colorSpace").value(decoded ? std::optional<std::string>(decoded->colorSpace()->name()) : std::nullopt);
      json.key("contentHeadroom").value(result.decodedImage.contentHeadroom);
      json.key("encodeDuration").value(result.encodeDuration);
      json.key("decodeDuration").value(result.decodeDuration);
      json.key("commandLine").value(result.commandLine);
      json.key("encodedMetadataLines").beginArray();
      for (const auto& line : result.encodedMetadataLines) json.value(line);
      json.endArray();
      json.key("settingsSignature").value(result.settingsSignature);
      json.key("foundQuality").value(result.foundQuality);
      json.key("foundDistance").value(result.foundDistance);
      json.key("bitsPerPixel").value(bitsPerPixel(result.encodedSize, pixelCount(source)));
      json.key("savingsPercent").value(savingsPercent(result.encodedSize, source.fileSize));
      json.endObject();
    } else {
      json.key("errorMessage").value(outcome.errorMessage);
      if (!outcome.errorDetail.empty()) json.key("errorDetail").value(outcome.errorDetail);
    }
    json.endObject();
  }
  json.endArray();
  json.endObject();
  return json.text();
}

}  // namespace quorlin::cli
