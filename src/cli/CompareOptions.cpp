#include "cli/CompareOptions.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "cli/CliArguments.h"

namespace quorlin::cli {

namespace {

std::optional<CompressionCodec> codecNamed(std::string_view name) {
  if (auto codec = compressionCodecFromCliKey(name)) return codec;
  return fromRawValue<CompressionCodec>(name);
}

std::string codecChoices() {
  std::string text;
  for (CompressionCodec codec : allCompressionCodecs()) {
    if (!text.empty()) text += ", ";
    text += codecInfo(codec).cliKey;
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

// ---- Panel fields: the catalog says which a codec takes and their ranges;
// here only how each is written into a CodecPanel.

bool isTrue(std::string_view text) { return text == "true" || text == "1" || text == "yes"; }
bool isFalse(std::string_view text) { return text == "false" || text == "0" || text == "no"; }

// What a value of `setting` must be, as the error message says it.
std::string expectedValue(const PanelSetting& setting) {
  const std::string bounds =
      "from " + std::to_string(setting.range.lowerBound) + " to " + std::to_string(setting.range.upperBound);
  switch (setting.kind) {
    case PanelSettingKind::wholeNumber: return "a whole number " + bounds;
    case PanelSettingKind::number: return "a number " + bounds;
    case PanelSettingKind::flag: return "true or false";
    case PanelSettingKind::choice: break;
  }
  std::string text;
  for (std::size_t i = 0; i < setting.choices.size(); ++i) {
    if (i > 0) text += i + 1 == setting.choices.size() ? " or " : ", ";
    text += setting.choices[i];
  }
  return text;
}

bool isAcceptable(const PanelSetting& setting, std::string_view text) {
  switch (setting.kind) {
    case PanelSettingKind::wholeNumber: {
      auto value = wholeNumber(text);
      return value && setting.range.contains(static_cast<double>(*value));
    }
    case PanelSettingKind::number: {
      auto value = decimalNumber(text);
      return value && setting.range.contains(*value);
    }
    case PanelSettingKind::flag: return isTrue(text) || isFalse(text);
    case PanelSettingKind::choice:
      return std::find(setting.choices.begin(), setting.choices.end(), text) != setting.choices.end();
  }
  return false;
}

// The value as the usage text shows it: "1..10", "true|false", "Auto|444|...".
std::string valueSyntax(const PanelSetting& setting) {
  switch (setting.kind) {
    case PanelSettingKind::wholeNumber:
    case PanelSettingKind::number:
      return std::to_string(setting.range.lowerBound) + ".." + std::to_string(setting.range.upperBound);
    case PanelSettingKind::flag: return "true|false";
    case PanelSettingKind::choice: break;
  }
  std::string text;
  for (std::string_view choice : setting.choices) text.append(text.empty() ? "" : "|").append(choice);
  return text;
}

// Writers for values already checked against the catalog's setting.
using Apply = void (*)(CodecPanel&, std::string_view);

template <int CodecPanel::*field>
void setInteger(CodecPanel& panel, std::string_view text) {
  panel.*field = static_cast<int>(*wholeNumber(text));
}

template <bool CodecPanel::*field>
void setFlag(CodecPanel& panel, std::string_view text) {
  panel.*field = isTrue(text);
}

template <typename Enum, Enum CodecPanel::*field>
void setOption(CodecPanel& panel, std::string_view text) {
  panel.*field = *fromRawValue<Enum>(text);
}

void setDistance(CodecPanel& panel, std::string_view text) { panel.distance = *decimalNumber(text); }

struct FieldWriter {
  std::string_view field;
  Apply apply;
};

constexpr FieldWriter fieldWriters[] = {
    {"quality", setInteger<&CodecPanel::quality>},
    {"effort", setInteger<&CodecPanel::effort>},
    {"distance", setDistance},
    {"chromaSubsampling", setOption<ChromaSubsampling, &CodecPanel::chromaSubsampling>},
    {"progressiveLevel", setInteger<&CodecPanel::progressiveLevel>},
    {"isWebPLossless", setFlag<&CodecPanel::isWebPLossless>},
    {"webPLosslessLevel", setInteger<&CodecPanel::webPLosslessLevel>},
    {"isAVIFLossless", setFlag<&CodecPanel::isAVIFLossless>},
    {"avifDepth", setOption<AVIFDepth, &CodecPanel::avifDepth>},
    {"avifChromaSubsampling", setOption<AVIFChromaSubsampling, &CodecPanel::avifChromaSubsampling>},
    {"isAVIFProgressive", setFlag<&CodecPanel::isAVIFProgressive>},
    {"isHEIFLossless", setFlag<&CodecPanel::isHEIFLossless>},
    {"heifBitDepth", setOption<HEIFDepth, &CodecPanel::heifBitDepth>},
    {"isJPEGTurboProgressive", setFlag<&CodecPanel::isJPEGTurboProgressive>},
    {"isJPEGTurboOptimized", setFlag<&CodecPanel::isJPEGTurboOptimized>},
    {"isJPEGXLProgressive", setFlag<&CodecPanel::isJPEGXLProgressive>},
    {"jpegXLGroupOrder", setOption<JPEGXLGroupOrder, &CodecPanel::jpegXLGroupOrder>},
    {"isJPEGLosslessTranscode", setFlag<&CodecPanel::isJPEGLosslessTranscode>},
};

Apply writerOf(std::string_view field) {
  for (const auto& writer : fieldWriters) {
    if (writer.field == field) return writer.apply;
  }
  return nullptr;
}

std::string fieldNames(const std::vector<PanelSetting>& settings) {
  std::string text;
  for (const auto& setting : settings) {
    if (!text.empty()) text += ", ";
    text += setting.field;
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

const CliOption compareOptions[] = {
    {"--panel", "PANEL",
     "a panel: CODEC, then optionally ':' and FIELD=VALUE pairs joined by ',', e.g. webp:quality=70,effort=6 "
     "(repeatable, up to four; the codecs and their fields are listed below)",
     "a value", true},
    {"--target", "SCORE", "search each panel's quality or distance for this SSIMULACRA2 score"},
    {"--serial", "", "run the panels one after another (default: all at once)"},
    {"--threads", "N", "threads the tools of the pass share (default: every hardware thread)"},
    {"--json", "", "print the results as one JSON object"},
    {"--export", "DIR", "copy each encoded file into DIR (created when missing)"},
    {"--maps", "DIR",
     "write each panel's SSIMULACRA2 error map into DIR (created when missing): NAME-error-map.pfm, per pixel "
     "its share of the weighted error sum behind the score as 32-bit floats (R structure, G artifacts, B blur), "
     "and NAME-error-map.png, the three added in the inferno colours on one logarithmic scale for all panels "
     "(three decades up to the largest 99.9th percentile)"},
    {"--tool-dir", "DIR", "also search DIR for the tools, before the built-in directories", "a value", true},
    {"--verbose", "", "print every command as it finishes, with its exit status and time"},
    {"--tool-timeout", "SECONDS", "stop a tool that runs longer than this (default: 1800)"},
    {"--pixel-limit", "PIXELS", "refuse images declaring more pixels than this (default: 268435456)"},
};

const CliSyntax compareSyntax{
    "compare", "SOURCE", compareOptions,
    "Encodes SOURCE with up to four codec panels (the four default panels when no\n"
    "--panel is given), decodes each result, and reports size, bits per pixel,\n"
    "savings, SSIMULACRA2 score and timings.\n"};

std::string compareUsage() {
  std::string text = usageText(compareSyntax);
  text += "\nCODEC is one of these keys or a codec name such as \"JPEG XL\"; each takes the\n"
          "FIELD=VALUE settings listed with it:\n";
  for (CompressionCodec codec : allCompressionCodecs()) {
    std::string head = "  ";
    head.append(codecInfo(codec).cliKey);
    head.resize(std::max<std::size_t>(head.size() + 1, 16), ' ');
    std::string fields;
    for (const PanelSetting& setting : panelSettings(codec)) {
      if (!fields.empty()) fields += ", ";
      fields += std::string(setting.field) + "=" + valueSyntax(setting);
    }
    text += wrappedLines(head, fields, 88, 16);
  }
  text += "\nExit status: 0 every panel succeeded, 1 some failed, 2 usage error or unreadable\n"
          "source, 130/143 interrupted.\n";
  return text;
}

std::optional<double> parseToolTimeout(std::string_view text) {
  auto seconds = decimalNumber(text);
  if (!seconds || *seconds <= 0) return std::nullopt;
  return seconds;
}

std::optional<std::uint64_t> parsePixelLimit(std::string_view text) {
  std::uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0) return std::nullopt;
  return value;
}

std::variant<int, std::string> parseThreadCount(std::string_view text) {
  auto threads = wholeNumber(text);
  if (!threads || *threads < 1 || *threads > maximumThreads) {
    return "--threads must be a whole number from 1 to " + std::to_string(maximumThreads) + ", not " +
           inQuotes(text);
  }
  return static_cast<int>(*threads);
}

std::variant<CodecPanel, std::string> parsePanelArgument(std::string_view text) {
  std::size_t colon = text.find(':');
  std::string_view codecName = text.substr(0, colon);
  auto codec = codecNamed(codecName);
  if (!codec) return "unknown codec " + inQuotes(codecName) + " (use " + codecChoices() + ")";
  CodecPanel panel = startingPanel(*codec);
  if (colon == std::string_view::npos) return panel;

  const std::vector<PanelSetting> settings = panelSettings(*codec);
  std::string_view rest = text.substr(colon + 1);
  while (true) {
    std::size_t comma = rest.find(',');
    std::string_view pair = rest.substr(0, comma);
    std::size_t equals = pair.find('=');
    if (equals == std::string_view::npos) {
      return "panel setting " + inQuotes(pair) + " is not FIELD=VALUE";
    }
    std::string_view name = pair.substr(0, equals);
    std::string_view value = pair.substr(equals + 1);
    auto setting = std::find_if(settings.begin(), settings.end(), [&](const auto& s) { return s.field == name; });
    Apply apply = setting == settings.end() ? nullptr : writerOf(name);
    if (!apply) {
      return "unknown panel field " + inQuotes(name) + " for " + std::string(rawValue(*codec)) +
             " (fields: " + fieldNames(settings) + ")";
    }
    if (!isAcceptable(*setting, value)) {
      return std::string(name) + " must be " + expectedValue(*setting) + ", not " + inQuotes(value);
    }
    apply(panel, value);
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  return panel;
}

CompareParse parseCompareArguments(const std::vector<std::string>& arguments) {
  CompareParse parse;
  CliArguments parsed = parseCliArguments(compareSyntax, arguments);
  parse.isHelp = parsed.isHelp;
  parse.error = parsed.error;
  if (parse.isHelp || !parse.error.empty()) return parse;

  CompareOptions options;
  for (const auto& [option, value] : parsed.options) {
    if (option == "--panel") {
      auto panel = parsePanelArgument(value);
      if (auto* message = std::get_if<std::string>(&panel)) {
        parse.error = *message;
        return parse;
      }
      if (options.panels.size() == 4) {
        parse.error = "at most four panels can be compared";
        return parse;
      }
      options.panels.push_back(std::get<CodecPanel>(panel));
    } else if (option == "--target") {
      auto score = decimalNumber(value);
      if (!score || *score <= 0 || *score > 100) {
        parse.error = "--target must be a score above 0 and at most 100, not " + inQuotes(value);
        return parse;
      }
      options.targetScore = *score;
    } else if (option == "--serial") {
      options.isSerial = true;
    } else if (option == "--threads") {
      auto threads = parseThreadCount(value);
      if (auto* message = std::get_if<std::string>(&threads)) {
        parse.error = *message;
        return parse;
      }
      options.threads = std::get<int>(threads);
    } else if (option == "--json") {
      options.isJson = true;
    } else if (option == "--verbose") {
      options.isVerbose = true;
    } else if (option == "--export") {
      options.exportDirectory = std::filesystem::path(value);
    } else if (option == "--maps") {
      options.mapsDirectory = std::filesystem::path(value);
      options.keepsErrorMaps = true;
    } else if (option == "--tool-timeout") {
      options.toolTimeoutSeconds = parseToolTimeout(value);
      if (!options.toolTimeoutSeconds) {
        parse.error = "--tool-timeout must be a number of seconds above 0, not " + inQuotes(value);
        return parse;
      }
    } else if (option == "--pixel-limit") {
      options.pixelLimit = parsePixelLimit(value);
      if (!options.pixelLimit) {
        parse.error = "--pixel-limit must be a whole number of pixels above 0, not " + inQuotes(value);
        return parse;
      }
    } else if (option == "--tool-dir") {
      options.toolDirectories.push_back(value);
    }
  }
  if (parsed.operands.empty()) {
    parse.error = "no source image given";
    return parse;
  }
  if (parsed.operands.size() > 1) {
    parse.error = "only one source can be given";
    return parse;
  }
  if (parsed.operands.front().empty()) {
    parse.error = "the source path is empty";
    return parse;
  }
  options.source = parsed.operands.front();
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
