// The arguments of `quorlin-cli compare`, parsed and checked.
//
//   compare SOURCE [--panel CODEC[:FIELD=VALUE,...]]... [--target SCORE]
//           [--serial] [--threads N] [--json] [--export DIR] [--maps DIR] [--tool-dir DIR]...
//           [--verbose] [--tool-timeout SECONDS] [--pixel-limit PIXELS]
//
// CODEC is a raw value ("JPEG XL", "HEIF") or the catalog's command-line key
// (jxl, webp, ...). FIELD is one of the codec's panel settings in the catalog,
// named as in CodecPanel; VALUE is a number in the setting's range, true/false,
// or an option's raw value. Without --panel the four default panels run; at
// most four panels can be given.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli/CommandEngineSettings.h"
#include "core/engine/CodecPanel.h"

namespace quorlin::cli {

struct CompareOptions : CommandEngineSettings {
  std::filesystem::path source;
  std::vector<CodecPanel> panels;           // in panel order; the defaults when none was given
  std::optional<double> targetScore;        // Target Score mode for every panel
  bool isSerial = false;
  bool isJson = false;
  std::optional<std::filesystem::path> exportDirectory;
  std::optional<std::filesystem::path> mapsDirectory;  // error maps, as PFM and colour PNG
};

// The values of --tool-timeout (seconds above 0) and --pixel-limit (a whole
// number of pixels above 0), shared by the commands that take them; nothing
// when the text is not one.
std::optional<double> parseToolTimeout(std::string_view text);
std::optional<std::uint64_t> parsePixelLimit(std::string_view text);
// --threads: a whole number from 1 up; the message when the text is not one.
std::variant<int, std::string> parseThreadCount(std::string_view text);

// What the user asked for, or the reason the arguments are unusable (a
// one-line message for stderr, printed before the usage text). `isHelp` is
// set for --help.
struct CompareParse {
  std::optional<CompareOptions> options;
  std::string error;
  bool isHelp = false;
};
CompareParse parseCompareArguments(const std::vector<std::string>& arguments);

// One --panel value: "webp:quality=70,effort=6" or "JPEG XL". Nothing plus a
// message when the codec, a field or a value is unknown or out of range.
std::variant<CodecPanel, std::string> parsePanelArgument(std::string_view text);

// The --help text: the options, then every codec's key with its fields.
std::string compareUsage();

}  // namespace quorlin::cli
