// The arguments of `quorlin-cli rd`, parsed and checked.
//
//   rd SOURCE [--panel CODEC[:FIELD=VALUE,...]]... [--ladder N=V1,V2,...]...
//      [--targets S1,S2,...] [--anchor N] [--serial] [--threads N] [--json] [--csv FILE]
//      [--tool-dir DIR]... [--verbose] [--tool-timeout SECONDS] [--pixel-limit PIXELS]
//
// Panels are given as for `compare`. A ladder names its panel by number and
// lists qualities (whole numbers 1–100) or distances (above 0, at most 25) as
// the panel's codec takes them; panels without one sweep the codec's default
// ladder. --targets sweeps every panel by target score instead and cannot be
// combined with --ladder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cli/CommandEngineSettings.h"
#include "core/ratedistortion/PanelSweep.h"

namespace quorlin::cli {

// The --panel, --ladder and --targets options, which rd and corpus share.
class SweepPlanArguments {
 public:
  // True when `option` is one of them; `error` is then set when its value is unusable.
  bool read(std::string_view option, const std::string& value, std::string& error);
  // One plan per panel (the four default panels when none was given); nothing,
  // with `error` set, when the ladders do not fit the panels.
  std::optional<std::vector<SweepPlan>> plans(std::string& error) const;

 private:
  std::vector<CodecPanel> panels_;
  std::map<std::size_t, std::vector<double>> ladders_;  // by panel number
  std::optional<std::vector<double>> targets_;
};

// "'text'"
std::string inQuotes(std::string_view text);

struct RateDistortionOptions : CommandEngineSettings {
  std::filesystem::path source;
  std::vector<SweepPlan> plans;  // one per panel, numbered from 1
  std::size_t anchorIndex = 0;
  bool isSerial = false;
  bool isJson = false;
  std::optional<std::filesystem::path> csvFile;
};

struct RateDistortionParse {
  std::optional<RateDistortionOptions> options;
  std::string error;
  bool isHelp = false;
};
RateDistortionParse parseRateDistortionArguments(const std::vector<std::string>& arguments);

// The --help text, from the same table the arguments are read with.
std::string rateDistortionUsage();

}  // namespace quorlin::cli
