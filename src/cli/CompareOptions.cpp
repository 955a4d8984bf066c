#include "cli/CompareOptions.h"

#include <charconv>
#include <cmath>

namespace quorlin::cli {

namespace {

using C = CompressionCodec;

// Short keys for the codecs, so a panel can be named without quoting.
struct CodecKey {
  std::string_view key;
  CompressionCodec codec;
};
constexpr CodecKey codecKeys[] = {
    {"jxl", C::jpegXL},           {"avif", C::avif},
    {"webp", C::webP},            {"jpegli", C::jpegli},
    {"heif-libheif", C::heifLibheif}, {"avif-libheif", C::avifLibheif},
    {"jp2-libheif", C::jpeg2000Libheif}, {"heif-system", C::heif},
    {"jpeg-turbo", C::jpegTurbo}, {"jpeg-system", C::jpeg},
};

std::optional<CompressionCodec> codecNamed(std::string_view name) {
  for (const auto& entry : codecKeys) {
    if (entry.key == name) return entry.codec;
  }
  return fromRawValue<CompressionCodec>(name);
}

std::string codecChoices() {
  std::string text;
  for (const auto& entry : codecKeys) {
    if (!text.empty()) text += ", ";
    text += entry.key;
  }
  return text + ", or a codec name such as \"JPEG XL\"";
}

std::optional<long long> wholeNumber(std::string_view text) {
  long long value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<double> decimalNumber(std::string_view text) {
  double value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

// The most threads --threads accepts: far beyond any machine, short of absurd.
constexpr long long maximumThreads = 1024;

// ---- Field rules: one row per settable CodecPanel field ----------------------

using Apply = bool (*)(CodecPanel&, std::string_view);

template <int CodecPanel::*field, int minimum, int maximum>
bool setInteger(CodecPanel& panel, std::string_view text) {
  auto value = wholeNumber(text);
  if (!value || *value < minimum || *value > maximum) return false;
  panel.*field = static_cast<int>(*value);
  return true;
}

template <bool CodecPanel::*field>
bool setFlag(CodecPanel& panel, std::string_view text) {
  if (text == "true" || text == "1" || text == "yes") {
    panel.*field = true;
  } else if (text == "false" || text == "0" || text == "no") {
    panel.*field = false;
  } else {
    return false;
  }
  return true;
}

template <typename Enum, Enum CodecPanel::*field>
bool setOption(CodecPanel& panel, std::string_view text) {
  auto value = fromRawValue<Enum>(text);
  if (!value) return false;
  panel.*field = *value;
  return true;
}

bool setDistance(CodecPanel& panel, std::string_view text) {
  auto value = decimalNumber(text);
  if (!value || *value < 0 || *value > 25) return false;
  panel.distance = *value;
  return true;
}

struct FieldRule {
  std::string_view name;
  std::string_view expected;
  Apply apply;
};

constexpr FieldRule fieldRules[] = {
    {"quality", "a whole number from 1 to 100", setInteger<&CodecPanel::quality, 1, 100>},
    {"effort", "a whole number from 0 to 10", setInteger<&CodecPanel::effort, 0, 10>},
    {"distance", "a number from 0 to 25", setDistance},
    {"chromaSubsampling", "Auto, 444, 440, 422 or 420",
     setOption<ChromaSubsampling, &CodecPanel::chromaSubsampling>},
    {"progressiveLevel", "0, 1 or 2", setInteger<&CodecPanel::progressiveLevel, 0, 2>},
    {"isWebPLossless", "true or false", setFlag<&CodecPanel::isWebPLossless>},
    {"webPLosslessLevel", "a whole number from 0 to 9", setInteger<&CodecPanel::webPLosslessLevel, 0, 9>},
    {"isAVIFLossless", "true or false", setFlag<&CodecPanel::isAVIFLossless>},
    {"avifDepth", "-, 8, 10 or 12", setOption<AVIFDepth, &CodecPanel::avifDepth>},
    {"avifChromaSubsampling", "Auto, 444, 422 or 420",
     setOption<AVIFChromaSubsampling, &CodecPanel::avifChromaSubsampling>},
    {"isAVIFProgressive", "true or false", setFlag<&CodecPanel::isAVIFProgressive>},
    {"isHEIFLossless", "true or false", setFlag<&CodecPanel::isHEIFLossless>},
    {"heifBitDepth", "-, 8, 10 or 12", setOption<HEIFDepth, &CodecPanel::heifBitDepth>},
    {"isJPEGTurboProgressive", "true or false", setFlag<&CodecPanel::isJPEGTurboProgressive>},
    {"isJPEGTurboOptimized", "true or false", setFlag<&CodecPanel::isJPEGTurboOptimized>},
    {"isJPEGXLProgressive", "true or false", setFlag<&CodecPanel::isJPEGXLProgressive>},
    {"jpegXLGroupOrder", "Scanline or Center", setOption<JPEGXLGroupOrder, &CodecPanel::jpegXLGroupOrder>},
    {"isJPEGLosslessTranscode", "true or false", setFlag<&CodecPanel::isJPEGLosslessTranscode>},
};

// The effort range each effort-driven encoder accepts (as the panel's slider offers it).
struct EffortRange {
  CompressionCodec codec;
  int minimum;
  int maximum;
};
constexpr EffortRange effortRanges[] = {{C::jpegXL, 1, 10}, {C::avif, 0, 10}, {C::webP, 0, 6}};

std::string fieldNames() {
  std::string text;
  for (const auto& rule : fieldRules) {
    if (!text.empty()) text += ", ";
    text += rule.name;
  }
  return text;
}

// The panel a codec starts from: the default panel of that codec where there
// is one (its quality and effort), else the general defaults.
CodecPanel startingPanel(CompressionCodec codec) {
  for (const CodecPanel& panel : makeDefaultPanels()) {
    if (panel.codec == codec) return panel;
  }
  CodecPanel panel;
  panel.codec = codec;
  return panel;
}

std::string inQuotes(std::string_view text) {
  std::string quoted(1, '\'');
  quoted.append(text);
  quoted.push_back('\'');
  return quoted;
}

}  // namespace

const char* const compareUsage =
    "usage: quorlin-cli compare SOURCE [--panel CODEC[:FIELD=VALUE,...]]... [--target SCORE]\n"
    "                           [--serial] [--threads N] [--json] [--export DIR] [--tool-dir DIR]...\n"
    "                           [--verbose]\n"
    "\n"
    "Encodes SOURCE with up to four codec panels (the four default panels when no\n"
    "--panel is given), decodes each result, and reports size, bits per pixel,\n"
    "savings, SSIMULACRA2 score and timings.\n"
    "\n"
    "  --panel PANEL   a panel: CODEC, then optionally ':' and FIELD=VALUE pairs joined\n"
    "                  by ',', e.g. webp:quality=70,effort=6 (repeatable, up to four)\n"
    "                  CODEC: jxl, avif, webp, jpegli, heif-libheif, avif-libheif,\n"
    "                  jp2-libheif, heif-system, jpeg-turbo, jpeg-system, or a codec name\n"
    "                  FIELD: quality, effort, distance, chromaSubsampling, progressiveLevel,\n"
    "                  isWebPLossless, webPLosslessLevel, isAVIFLossless, avifDepth,\n"
    "                  avifChromaSubsampling, isAVIFProgressive, isHEIFLossless,\n"
    "                  heifBitDepth, isJPEGTurboProgressive, isJPEGTurboOptimized,\n"
    "                  isJPEGXLProgressive, jpegXLGroupOrder, isJPEGLosslessTranscode\n"
    "  --target SCORE  search each panel's quality or distance for this SSIMULACRA2 score\n"
    "  --serial        run the panels one after another (default: all at once)\n"
    "  --threads N     threads the tools of the pass share (default: every hardware thread)\n"
    "  --json          print the results as one JSON object\n"
    "  --export DIR    copy each encoded file into DIR (created when missing)\n"
    "  --tool-dir DIR  also search DIR for the tools, before the built-in directories\n"
    "  --verbose       print every command as it finishes, with its exit status and time\n"
    "\n"
    "Exit status: 0 every panel succeeded, 1 some failed, 2 usage error or unreadable\n"
    "source, 130/143 interrupted.\n";

std::variant<CodecPanel, std::string> parsePanelArgument(std::string_view text) {
  std::size_t colon = text.find(':');
  std::string_view codecName = text.substr(0, colon);
  auto codec = codecNamed(codecName);
  if (!codec) return "unknown codec " + inQuotes(codecName) + " (use " + codecChoices() + ")";
  CodecPanel panel = startingPanel(*codec);
  if (colon == std::string_view::npos) return panel;

  std::string_view rest = text.substr(colon + 1);
  bool hasEffort = false;
  while (true) {
    std::size_t comma = rest.find(',');
    std::string_view pair = rest.substr(0, comma);
    std::size_t equals = pair.find('=');
    if (equals == std::string_view::npos) {
      return "panel setting " + inQuotes(pair) + " is not FIELD=VALUE";
    }
    std::string_view name = pair.substr(0, equals);
    std::string_view value = pair.substr(equals + 1);
    const FieldRule* rule = nullptr;
    for (const auto& candidate : fieldRules) {
      if (candidate.name == name) rule = &candidate;
    }
    if (!rule) return "unknown panel field " + inQuotes(name) + " (fields: " + fieldNames() + ")";
    if (!rule->apply(panel, value)) {
      return std::string(name) + " must be " + std::string(rule->expected) + ", not " + inQuotes(value);
    }
    hasEffort |= name == "effort";
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  for (const auto& range : effortRanges) {
    if (hasEffort && range.codec == panel.codec && (panel.effort < range.minimum || panel.effort > range.maximum)) {
      return "effort for " + std::string(rawValue(panel.codec)) + " must be from " + std::to_string(range.minimum) +
             " to " + std::to_string(range.maximum) + ", not " + inQuotes(std::to_string(panel.effort));
    }
  }
  return panel;
}

CompareParse parseCompareArguments(const std::vector<std::string>& arguments) {
  CompareParse parse;
  CompareOptions options;
  bool hasSource = false;
  auto needsValue = [&](std::size_t i, std::string_view option) {
    if (i + 1 < arguments.size()) return true;
    parse.error = std::string(option) + " needs a value";
    return false;
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (argument == "--help" || argument == "-h") {
      parse.isHelp = true;
      return parse;
    } else if (argument == "--panel") {
      if (!needsValue(i, argument)) return parse;
      auto panel = parsePanelArgument(arguments[++i]);
      if (auto* message = std::get_if<std::string>(&panel)) {
        parse.error = *message;
        return parse;
      }
      if (options.panels.size() == 4) {
        parse.error = "at most four panels can be compared";
        return parse;
      }
      options.panels.push_back(std::get<CodecPanel>(panel));
    } else if (argument == "--target") {
      if (!needsValue(i, argument)) return parse;
      auto score = decimalNumber(arguments[++i]);
      if (!score || *score <= 0 || *score > 100) {
        parse.error = "--target must be a score above 0 and at most 100, not " + inQuotes(arguments[i]);
        return parse;
      }
      options.targetScore = *score;
    } else if (argument == "--serial") {
      options.isSerial = true;
    } else if (argument == "--threads") {
      if (!needsValue(i, argument)) return parse;
      auto threads = wholeNumber(arguments[++i]);
      if (!threads || *threads < 1 || *threads > maximumThreads) {
        parse.error = "--threads must be a whole number from 1 to " + std::to_string(maximumThreads) + ", not " +
                      inQuotes(arguments[i]);
        return parse;
      }
      options.threads = static_cast<int>(*threads);
    } else if (argument == "--json") {
      options.isJson = true;
    } else if (argument == "--verbose") {
      options.isVerbose = true;
    } else if (argument == "--export") {
      if (!needsValue(i, argument)) return parse;
      options.exportDirectory = std::filesystem::path(arguments[++i]);
    } else if (argument == "--tool-dir") {
      if (!needsValue(i, argument)) return parse;
      options.toolDirectories.push_back(arguments[++i]);
    } else if (argument.starts_with("--") || (argument.starts_with("-") && argument.size() > 1)) {
      parse.error = "unknown option " + inQuotes(argument);
      return parse;
    } else if (hasSource) {
      parse.error = "only one source can be given";
      return parse;
    } else {
      options.source = argument;
      hasSource = true;
    }
  }
  if (!hasSource) {
    parse.error = "no source image given";
    return parse;
  }
  if (options.panels.empty()) options.panels = makeDefaultPanels();
  if (options.targetScore) {
    for (auto& panel : options.panels) {
      panel.rateControlMode = RateControlMode::targetScore;
      panel.targetScore = *options.targetScore;
    }
  }
  parse.options = std::move(options);
  return parse;
}

}  // namespace quorlin::cli
