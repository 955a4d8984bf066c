#include "core/workspace/ResultsTable.h"

#include <cstdio>

#include "core/common/ByteCount.h"
#include "core/engine/ResultTexts.h"

namespace quorlin {

namespace {

std::string plainNumber(double value, int decimals) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return buffer;
}

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

// Decimals each numeric column keeps in the CSV.
int csvDecimals(ResultsTableColumn column) {
  switch (column) {
    case ResultsTableColumn::bitsPerPixel:
    case ResultsTableColumn::encodeTime:
    case ResultsTableColumn::decodeTime:
      return 3;
    case ResultsTableColumn::savings:
    case ResultsTableColumn::score:
      return 2;
    default:
      return 0;
  }
}

}  // namespace

std::vector<std::string> resultsTableHeaders(ResultsTableHeaders kind) {
  if (kind == ResultsTableHeaders::csv) {
    return {"Panel",       "Codec",       "Settings",        "File Size (bytes)", "Bits Per Pixel",
            "Savings (%)", "SSIMULACRA2", "Encode Time (s)", "Decode Time (s)",   "Status"};
  }
  return {"Panel",   "Codec",       "Settings",    "File Size",   "Bits Per Pixel",
          "Savings", "SSIMULACRA2", "Encode Time", "Decode Time", "Status"};
}

std::vector<ResultsTableRow> resultsTableRows(const std::vector<CodecPanel>& panels, std::int64_t sourceFileSize,
                                              std::optional<std::int64_t> sourcePixelCount) {
  std::vector<ResultsTableRow> rows;
  for (std::size_t index = 0; index < panels.size(); ++index) {
    const CodecPanel& panel = panels[index];
    const double number = double(index + 1);
    ResultsTableRow row;
    row.cells.resize(resultsTableColumnCount);
    auto cell = [&row](ResultsTableColumn column) -> ResultsTableCell& {
      return row.cells[static_cast<std::size_t>(column)];
    };
    cell(ResultsTableColumn::panel) = {std::to_string(index + 1), number};
    const std::optional<CompressionResult>& result = panel.result;
    cell(ResultsTableColumn::codec).text = std::string(displayName(result ? result->codec : panel.codec));
    if (!result) {
      cell(ResultsTableColumn::status).text = panel.errorMessage ? "Failed" : "Not Generated";
      rows.push_back(std::move(row));
      continue;
    }
    cell(ResultsTableColumn::settings).text = result->commandLine;
    cell(ResultsTableColumn::fileSize) = {formatByteCount(result->encodedSize), double(result->encodedSize)};
    cell(ResultsTableColumn::bitsPerPixel) = {bitsPerPixelText(result->encodedSize, sourcePixelCount),
                                              bitsPerPixel(result->encodedSize, sourcePixelCount)};
    cell(ResultsTableColumn::savings) = {savingsText(result->encodedSize, sourceFileSize),
                                         savingsPercent(result->encodedSize, sourceFileSize)};
    cell(ResultsTableColumn::score) = {scoreText(result->ssimulacra2Score), result->ssimulacra2Score};
    cell(ResultsTableColumn::encodeTime) = {durationText(result->encodeDuration), result->encodeDuration};
    cell(ResultsTableColumn::decodeTime) = {durationText(result->decodeDuration), result->decodeDuration};
    if (panel.needsRegeneration()) cell(ResultsTableColumn::status).text = "Needs Regeneration";
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string resultsTableCSV(const std::vector<ResultsTableRow>& rows) {
  std::string csv;
  auto endLine = [&csv] {
    csv.pop_back();   // the last separator
    csv += "\r\n";
  };
  for (const std::string& header : resultsTableHeaders(ResultsTableHeaders::csv)) csv += csvField(header) + ',';
  endLine();
  for (const ResultsTableRow& row : rows) {
    for (std::size_t column = 0; column < row.cells.size(); ++column) {
      const ResultsTableCell& cell = row.cells[column];
      const auto kind = static_cast<ResultsTableColumn>(column);
      const bool isText = kind == ResultsTableColumn::codec || kind == ResultsTableColumn::settings ||
                          kind == ResultsTableColumn::status;
      csv += csvField(isText || !cell.number ? cell.text : plainNumber(*cell.number, csvDecimals(kind))) + ',';
    }
    endLine();
  }
  return csv;
}

}  // namespace quorlin
