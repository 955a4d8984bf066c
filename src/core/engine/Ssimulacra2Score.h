// Reading the score out of the ssimulacra2 tool's output.
#pragma once

#include <string_view>

namespace quorlin {

// The output is split at every whitespace character and at "," and ":"; the
// first piece that reads completely as a number (always with a full stop as
// the decimal mark, whatever the locale) is the score, negative scores
// included: "85.3" -> 85.3, "score: 87.25" -> 87.25. Throws
// CompressionError::processFailed("ssimulacra2", output) when no piece does,
// and CompressionError::impossibleOutput ("ssimulacra2 printed an impossible
// score: 1e308.") when that number is not finite or above 100.0001.
double parseSsimulacra2Score(std::string_view output);

}  // namespace quorlin
