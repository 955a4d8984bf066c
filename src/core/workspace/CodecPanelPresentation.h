// CodecPanelPresentation: what a codec panel shows for its panel value, as
// pure functions the panel view only displays: which settings rows apply to
// the chosen codec and rate-control mode, their ranges and tooltips, the
// distance slider's position mapping and value text, and the result lines.
//
// Every text here is the interface's own wording and must stay exactly so.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine/CodecPanel.h"

namespace quorlin {

namespace CodecPanelTexts {
inline constexpr std::string_view codecPicker = "Codec";
inline constexpr std::string_view generateTooltip = "Generate this codec";
inline constexpr std::string_view stopTooltip = "Stop this codec";
inline constexpr std::string_view effort = "Encoding Effort";
inline constexpr std::string_view quality = "Quality";
inline constexpr std::string_view distance = "Distance";
inline constexpr std::string_view lowerIsBetter = "Lower is better";
inline constexpr std::string_view distanceSearched = "Distance set by target score search";
inline constexpr std::string_view qualitySearched = "Quality set by target score search";
inline constexpr std::string_view searchedTooltip =
    "The rate parameter is searched automatically to hit the target SSIMULACRA2 score. The found value appears "
    "in the results below.";
inline constexpr std::string_view lossless = "Lossless";
inline constexpr std::string_view webPLosslessLevel = "Lossless Level (-z)";
inline constexpr std::string_view webPLosslessLevelTooltip =
    "WebP lossless effort (cwebp -z, 0–9). Higher values encode more slowly and produce smaller files with no "
    "quality loss.";
inline constexpr std::string_view webPLosslessLevelLowCaption = "0 fastest, larger file";
inline constexpr std::string_view webPLosslessLevelHighCaption = "9 slowest, smallest file";
inline constexpr std::string_view moreProgressive = "More Progressive";
inline constexpr std::string_view moreProgressiveTooltip = "More progressive/responsive decoding (cjxl --progressive).";
inline constexpr std::string_view progressiveOrder = "Progressive Order";
inline constexpr std::string_view progressiveOrderTooltip =
    "Order groups are stored for progressive rendering (cjxl --group_order). Scanline = top-to-bottom; Center = "
    "center outward.";
inline constexpr std::string_view scanlineOrderDescription =
    "Groups are stored in scanline order, so the image renders top-to-bottom (cjxl default).";
inline constexpr std::string_view centerOrderDescription =
    "Groups are stored center-first, so the middle of the image renders before the edges (cjxl --group_order=1).";
inline constexpr std::string_view losslessJPEGTranscode = "Lossless JPEG transcode";
inline constexpr std::string_view losslessJPEGTranscodeCaption = "Available for JPEG source files";
inline constexpr std::string_view depth = "Depth";
inline constexpr std::string_view chroma = "Chroma";
inline constexpr std::string_view progressive = "Progressive";
inline constexpr std::string_view avifProgressiveTooltip =
    "Encode a simple layered image supporting progressive rendering (avifenc --progressive).";
inline constexpr std::string_view jpegTurboProgressiveTooltip =
    "Create a progressive JPEG (cjpeg -progressive). Smaller files that render in successive passes.";
inline constexpr std::string_view optimizeHuffman = "Optimize Huffman";
inline constexpr std::string_view optimizeHuffmanTooltip =
    "Optimize Huffman tables (cjpeg -optimize). Smaller files at the cost of slower encoding.";
inline constexpr std::string_view bitDepth = "Bit Depth";
inline constexpr std::string_view failed = "Failed";
inline constexpr std::string_view exportAction = "Export";
inline constexpr std::string_view exifToolTooltip = "Show ExifTool metadata";
inline constexpr std::string_view needsRegeneration = "Needs Regeneration";
inline constexpr std::string_view staleResultTooltip =
    "The results below were made with other settings than the ones shown above. Generate to update them.";
}  // namespace CodecPanelTexts

// ---- Settings rows

// The "Encoding Effort" slider's range (the catalog's); nothing for the
// codecs without that row.
std::optional<IntegerRange> effortRange(CompressionCodec codec);
// The effort tooltip of the three codecs with the row; empty for the others.
std::string_view effortTooltip(CompressionCodec codec);

// What stands in the rate-parameter row.
enum class RateParameterRow {
  searchCaption,    // Target Score mode: the caption instead of a slider
  distanceSlider,   // JPEG XL and JPEGli
  qualitySlider,    // every other codec, 1-100
};
RateParameterRow rateParameterRow(const CodecPanel& panel);
// The Target Score caption: the distance one for JPEG XL and JPEGli, else the quality one.
std::string_view searchCaption(CompressionCodec codec);
// The distance slider's tooltip (JPEG XL, JPEGli) or the Quality slider's
// (the other codecs).
std::string_view rateParameterTooltip(CompressionCodec codec);

// Whether the codec's "Lossless" toggle shows: WebP, AVIF and the three
// libheif codecs, in Set Quality mode only. The JPEG transcode toggle of
// JPEG XL follows the same mode rule.
bool showsLosslessToggle(const CodecPanel& panel);
bool showsLosslessJPEGTranscodeToggle(const CodecPanel& panel);

// Opacity of the JPEG XL distance slider and progressive controls: dimmed while
// the JPEG transcode switch is on (a transcode passes none of them); JPEGli's
// distance slider is never dimmed.
inline constexpr double dimmedOpacity = 0.45;
double distanceSliderOpacity(const CodecPanel& panel);
double jpegXLProgressiveOpacity(const CodecPanel& panel);

// Description of the chosen JPEG XL progressive order.
std::string_view groupOrderDescription(JPEGXLGroupOrder order);

// ---- Distance slider: a position 0..1 whose square spans distances 0..25

inline constexpr double maximumSliderDistance = distanceRange.upperBound;
// sqrt(d / 25), with negative distances as 0 and distances above 25 at 1.
double distanceSliderPosition(double distance);
// p^2 x 25 rounded to the nearest 0.05 (halves away from zero), p clamped to 0..1.
double distanceForSliderPosition(double position);
// "0.0 mathematically lossless" (JPEG XL at exactly 0), "%.2f visually lossless"
// up to 1.0, else "%.1f".
std::string distanceValueText(double distance, CompressionCodec codec);

// ---- Result section

// How a result line's value stands out: the size and the score are what a
// panel is read for; an unreachable target is a warning.
enum class ResultEmphasis { none, strong, warning };

struct ResultMetricRow {
  std::string label;
  std::string value;
  ResultEmphasis emphasis = ResultEmphasis::none;
  bool operator==(const ResultMetricRow&) const = default;
};

// The result lines of the panel's result, in display order: File Size,
// Savings, Encode Time, Decode Speed, Bits Per Pixel, SSIMULACRA2, Compression,
// and Search Result when the search found a value (a warning when the score
// stays more than 0.5 below the target). Empty without a result.
std::vector<ResultMetricRow> resultMetricRows(const CodecPanel& panel, std::int64_t sourceFileSize,
                                              std::optional<std::int64_t> sourcePixelCount);

}  // namespace quorlin
