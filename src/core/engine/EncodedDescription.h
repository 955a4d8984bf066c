// What the codec tools say about an encoded file, turned into the short
// description lines a result shows, plus the colour facts a JPEG XL file's own
// description gives (its HDR colour space and content headroom).
//
// Inputs are the tools' printed texts (jxlinfo's output; avifdec's decode or
// "--info" output); nothing here runs a tool. Pure functions, thread-safe, and
// every text is read the same way whatever the process locale is.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/engine/ColorSpace.h"

namespace quorlin {

// jxlinfo's lines, in order, mapped to description lines:
//   "JPEG XL image, 64x48, lossy, 8-bit RGB" -> "Pixel Format: 8-bit RGB" (the
//      size, "JPEG XL image" and a bare "lossy"/"lossless" are dropped; nothing
//      when no piece remains)
//   "intensity_target: 1000.000000 nits"   -> "Intensity Target: 1000.0 nits"
//   "min_nits: X"                          -> "Minimum Nits: " + number
//   "relative_to_max_display: X"           -> "Relative to Max Display: " + number
//   "linear_below: X"                      -> "Linear Below: " + number
//   "Color space: REST"                    -> "Color Space: REST"
// Every other line gives nothing.
std::vector<std::string> jpegXLDescriptionLines(std::string_view jxlinfoOutput);

// The number text of a description line: the first space-separated word of
// `text`; when it holds a "." and reads completely as a number, that number
// with ten decimals and then trailing zeros removed down to one decimal
// ("255.000000" -> "255.0", "0.0050" -> "0.005"); otherwise the word unchanged
// ("1000" -> "1000").
std::string describedNumber(std::string_view text);

// The colour facts of jxlinfo's text: the BT.2100 PQ space when the text
// (lower-cased) mentions both "rec.2100" and "pq transfer", else none; the
// content headroom intensity_target / 100 but at least 1.0 when an
// "intensity_target:" number is there, else none.
struct DescribedDisplay {
  ColorSpaceRef colorSpace;
  std::optional<double> contentHeadroom;
};
DescribedDisplay jpegXLDescribedDisplay(std::string_view jxlinfoOutput);

// An avifdec output's description lines: "Format: WORD" from the first line
// that, trimmed and lower-cased, begins with "format:" or "image format:"
// (WORD = the first word after its colon), then "Pixel Depth: N-bit" from the
// first "depth" (a whole word, any case) followed, after non-digits, by the
// digits N. Either may be missing.
std::vector<std::string> avifDescriptionLines(std::string_view output);

}  // namespace quorlin
