// ResultsTable: the four panels' results side by side, one row per panel, as
// the View menu's results table shows them and as "Copy as CSV" writes them.
// Each cell keeps its number (for sorting and for the CSV) and the text the
// panel shows. Pure functions; no Qt.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/engine/CodecPanel.h"

namespace quorlin {

enum class ResultsTableColumn {
  panel, codec, settings, fileSize, bitsPerPixel, savings, score, encodeTime, decodeTime, status,
};
inline constexpr int resultsTableColumnCount = 10;

struct ResultsTableCell {
  std::string text;              // as shown
  std::optional<double> number;  // what sorts and goes into the CSV; none for texts and empty cells
};

struct ResultsTableRow {
  std::vector<ResultsTableCell> cells;   // one per column, in column order
};

// The column titles, in column order: as shown, or for the CSV, whose
// titles name the units of its plain numbers ("File Size (bytes)").
enum class ResultsTableHeaders { shown, csv };
std::vector<std::string> resultsTableHeaders(ResultsTableHeaders kind = ResultsTableHeaders::shown);

// One row per panel, in panel order. A panel without a result has empty
// figures and says why in the status ("Failed", "Not Generated"); a result
// made with other settings says "Needs Regeneration" and names the codec it
// was made with.
std::vector<ResultsTableRow> resultsTableRows(const std::vector<CodecPanel>& panels, std::int64_t sourceFileSize,
                                              std::optional<std::int64_t> sourcePixelCount);

// The headers and rows as comma-separated values (RFC 4180: fields with a
// comma, quote or line break quoted, quotes doubled; CRLF line ends). Numbers
// are written plainly (bytes, bits per pixel, percent, score, seconds), not as
// the shown texts, so a spreadsheet reads them as numbers.
std::string resultsTableCSV(const std::vector<ResultsTableRow>& rows);

}  // namespace quorlin
