#include "cli/RateDistortionOptions.h"

#include <charconv>
#include <cmath>
#include <map>
#include <variant>

#include "cli/CliArguments.h"
#include "cli/CompareOptions.h"

namespace quorlin::cli {

std::string inQuotes(std::string_view text) {
  std::string quoted(1, '\'');
  quoted.append(text);
  quoted.push_back('\'');
  return quoted;
}

namespace {

// "30,40.5,50" as numbers; nothing when any item is not a plain decimal number.
std::optional<std::vector<double>> numberList(std::string_view text) {
  std::vector<double> values;
  while (true) {
    std::size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    double value = 0;
    auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), value, std::chars_format::fixed);
    if (item.empty() || error != std::errc() || end != item.data() + item.size() || !std::isfinite(value)) {
      return std::nullopt;
    }
    values.push_back(value);
    if (comma == std::string_view::npos) return values;
    text = text.substr(comma + 1);
  }
}

// Why `value` is no rung of a ladder for `codec`, or nothing when it is one.
std::optional<std::string> ladderValueProblem(CompressionCodec codec, double value) {
  if (codecInfo(codec).rateParameter == RateParameterKind::distance) {
    if (value > 0 && value <= 25) return std::nullopt;
    return "distances for " + std::string(rawValue(codec)) + " must be above 0 and at most 25";
  }
  if (value >= 1 && value <= 100 && value == std::floor(value)) return std::nullopt;
  return "qualities for " + std::string(rawValue(codec)) + " must be whole numbers from 1 to 100";
}

}  // namespace

bool SweepPlanArguments::read(std::string_view option, const std::string& value, std::string& error) {
  if (option == "--panel") {
    auto panel = parsePanelArgument(value);
    if (auto* message = std::get_if<std::string>(&panel)) {
      error = *message;
    } else if (panels_.size() == 4) {
      error = "at most four panels can be swept";
    } else {
      panels_.push_back(std::get<CodecPanel>(panel));
    }
  } else if (option == "--ladder") {
    std::size_t equals = value.find('=');
    std::size_t number = 0;
    std::string_view name = std::string_view(value).substr(0, equals);
    auto [end, parseError] = std::from_chars(name.data(), name.data() + name.size(), number);
    auto values = equals == std::string::npos ? std::nullopt : numberList(value.substr(equals + 1));
    if (parseError != std::errc() || end != name.data() + name.size() || number < 1 || number > 4 || !values) {
      error = "--ladder must be a panel number and its values, e.g. 2=30,50,70,90, not " + inQuotes(value);
    } else {
      ladders_[number] = *values;
    }
  } else if (option == "--targets") {
    targets_ = numberList(value);
    for (double score : targets_.value_or(std::vector<double>{-1})) {
      if (score <= 0 || score > 100) error = "--targets must be scores above 0 and at most 100, not " + inQuotes(value);
    }
  } else {
    return false;
  }
  return true;
}

std::optional<std::vector<SweepPlan>> SweepPlanArguments::plans(std::string& error) const {
  if (targets_ && !ladders_.empty()) {
    error = "--targets and --ladder cannot be combined";
    return std::nullopt;
  }
  std::vector<CodecPanel> panels = panels_.empty() ? makeDefaultPanels() : panels_;
  for (const auto& [number, values] : ladders_) {
    if (number > panels.size()) {
      error = "--ladder names panel " + std::to_string(number) + ", but there are " + std::to_string(panels.size()) +
              " panels";
      return std::nullopt;
    }
    for (double value : values) {
      if (auto problem = ladderValueProblem(panels[number - 1].codec, value)) {
        error = *problem;
        return std::nullopt;
      }
    }
  }
  std::vector<SweepPlan> plans;
  for (std::size_t i = 0; i < panels.size(); ++i) {
    SweepPlan plan;
    plan.panel = panels[i];
    plan.panelNumber = static_cast<int>(i + 1);
    if (auto found = ladders_.find(i + 1); found != ladders_.end()) plan.ladder = found->second;
    if (targets_) plan.targetScores = *targets_;
    plans.push_back(std::move(plan));
  }
  return plans;
}

const CliOption rateDistortionOptions[] = {
    {"--panel", "PANEL", "a panel, as for 'quorlin-cli compare' (repeatable, up to four)", "a value", true},
    {"--ladder", "N=V1,V2,...",
     "the qualities or distances panel N sweeps (repeatable; default: the codec's own ladder of nine values)",
     "a value", true},
    {"--targets", "S1,S2,...",
     "search every panel for each of these SSIMULACRA2 scores instead, keeping every probe as a point (not with "
     "--ladder)"},
    {"--anchor", "N", "the panel the others are measured against (default 1)"},
    {"--serial", "", "run one point at a time (default: one per processor core)"},
    {"--threads", "N", "threads the tools of the running points share (default: every hardware thread)"},
    {"--json", "", "print the points and deltas as one JSON object"},
    {"--csv", "FILE", "also write every point to FILE as CSV"},
    {"--tool-dir", "DIR", "also search DIR for the tools, before the built-in directories", "a value", true},
    {"--verbose", "", "print every command as it finishes, with its exit status and time"},
    {"--tool-timeout", "SECONDS", "stop a tool that runs longer than this (default: 1800)"},
    {"--pixel-limit", "PIXELS", "refuse images declaring more pixels than this (default: 268435456)"},
};

const CliSyntax rateDistortionSyntax{
    "rd", "SOURCE", rateDistortionOptions,
    "Sweeps each codec panel's quality or distance over a ladder (the four default\n"
    "panels when no --panel is given), scores every point, prints each panel's\n"
    "rate-distortion points and the Bjontegaard deltas of every panel against the\n"
    "anchor: BD-rate (size at equal SSIMULACRA2) and BD-score (points at equal size).\n"};

std::string rateDistortionUsage() {
  return usageText(rateDistortionSyntax) +
         "\nExit status: 0 every point succeeded, 1 some failed (or the CSV could not be\n"
         "written), 2 usage error or unreadable source, 130/143 interrupted.\n";
}

RateDistortionParse parseRateDistortionArguments(const std::vector<std::string>& arguments) {
  RateDistortionParse parse;
  CliArguments parsed = parseCliArguments(rateDistortionSyntax, arguments);
  parse.isHelp = parsed.isHelp;
  parse.error = parsed.error;
  if (parse.isHelp || !parse.error.empty()) return parse;

  RateDistortionOptions options;
  SweepPlanArguments sweep;
  std::optional<std::size_t> anchor;
  auto fail = [&](std::string message) {
    parse.error = std::move(message);
    return parse;
  };
  for (const auto& [option, value] : parsed.options) {
    std::string problem;
    if (sweep.read(option, value, problem)) {
      if (!problem.empty()) return fail(problem);
    } else if (option == "--anchor") {
      std::size_t number = 0;
      auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), number);
      if (error != std::errc() || end != value.data() + value.size() || number < 1) {
        return fail("--anchor must be a panel number, not " + inQuotes(value));
      }
      anchor = number;
    } else if (option == "--serial") {
      options.isSerial = true;
    } else if (option == "--threads") {
      auto threads = parseThreadCount(value);
      if (auto* message = std::get_if<std::string>(&threads)) return fail(*message);
      options.threads = std::get<int>(threads);
    } else if (option == "--json") {
      options.isJson = true;
    } else if (option == "--verbose") {
      options.isVerbose = true;
    } else if (option == "--csv") {
      options.csvFile = std::filesystem::path(value);
    } else if (option == "--tool-dir") {
      options.toolDirectories.push_back(value);
    } else if (option == "--tool-timeout") {
      options.toolTimeoutSeconds = parseToolTimeout(value);
      if (!options.toolTimeoutSeconds) {
        return fail("--tool-timeout must be a number of seconds above 0, not " + inQuotes(value));
      }
    } else if (option == "--pixel-limit") {
      options.pixelLimit = parsePixelLimit(value);
      if (!options.pixelLimit) {
        return fail("--pixel-limit must be a whole number of pixels above 0, not " + inQuotes(value));
      }
    }
  }
  if (parsed.operands.empty()) return fail("no source image given");
  if (parsed.operands.size() > 1) return fail("only one source can be given");
  options.source = parsed.operands.front();
  std::string problem;
  auto plans = sweep.plans(problem);
  if (!plans) return fail(problem);
  if (anchor && *anchor > plans->size()) {
    return fail("--anchor names panel " + std::to_string(*anchor) + ", but there are " +
                std::to_string(plans->size()) + " panels");
  }
  options.plans = std::move(*plans);
  options.anchorIndex = anchor.value_or(1) - 1;
  parse.options = std::move(options);
  return parse;
}

}  // namespace quorlin::cli
