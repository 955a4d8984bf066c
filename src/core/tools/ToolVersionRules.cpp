#include "core/tools/ToolVersionRules.h"

#include <algorithm>
#include <array>
#include <cassert>

namespace quorlin {

namespace {

constexpr std::string_view ssimulacra2Tools[] = {"ssimulacra2"};
constexpr std::string_view heifDecoderTools[] = {"heif-dec"};
constexpr std::string_view libheifTools[] = {"heif-enc", "heif-dec", "heif-convert"};
constexpr std::string_view heifEncoderTools[] = {"heif-enc"};
constexpr std::string_view avifEncoderTools[] = {"avifenc"};
constexpr std::string_view jpegTurboTools[] = {"cjpeg"};
constexpr std::string_view jpegXLTools[] = {"cjxl", "djxl"};
constexpr std::string_view webPEncoderTools[] = {"cwebp"};
constexpr std::string_view jpegSystemEncoder[] = {"JPEG (System)"};

constexpr std::array<ToolVersionRule, 17> rules = {{
    {ToolRuleId::ownSsimulacra2, ssimulacra2Tools, RuleApplicability::whenMissing, "",
     "not packaged",
     "Quorlin builds and installs its own ssimulacra2; the set-up puts it where the search finds it",
     "", "", ""},
    {ToolRuleId::ssimulacra2WithoutMap, ssimulacra2Tools, RuleApplicability::everyVersion, "",
     "an ssimulacra2 other than Quorlin's current one (an older build, or the reference tool) does not know "
     "--map: usage text, exit 1",
     "score again without --map; the result then has no error map", "", "", ""},
    {ToolRuleId::heifDecoderStandIn, heifDecoderTools, RuleApplicability::whenMissing, "",
     "older libheif (1.15 on Debian 12) names its decoder heif-convert (same arguments)",
     "when heif-dec is not found, heif-convert in the same search stands in; the tools window shows "
     "\"heif-dec (heif-convert)\"",
     "", "", "heif-convert"},
    {ToolRuleId::libheifVersionLine, libheifTools, RuleApplicability::everyVersion, "",
     "--version prints \"unrecognized option\" first, the version on the second line as "
     "\"libheif version: 1.15.1\"",
     "the version reader also takes a \"libheif version: X\" line", "", "", ""},
    {ToolRuleId::heifEncoderHevcFlag, heifEncoderTools, RuleApplicability::everyVersion, "",
     "--hevc is unknown to the releases measured (1.15 and 1.19): a warning, then HEVC, its default",
     "leave the flag out", "", "", ""},
    {ToolRuleId::heifEncoderJPEG2000, heifEncoderTools, RuleApplicability::versionsBelow, "1.16",
     "--jpeg2000 is an unknown option and ignored: it writes HEVC and exits 0",
     "never run it: the panel fails with the message",
     "heif-enc VERSION cannot encode JPEG 2000. Install a newer libheif with its OpenJPEG encoder plugin.",
     "heif-enc VERSION cannot encode JPEG 2000.", ""},
    {ToolRuleId::heifEncoderSixteenBitAVIF, heifEncoderTools, RuleApplicability::versionsBelow, "1.16",
     "--avif on a 16-bit input aborts (status 134) at the default and at -b 10, fails at -b 8 and with -L; "
     "only -b 12 works",
     "unless the bit depth is 12, the panel fails before running with the message",
     "heif-enc VERSION cannot encode 16-bit input as AVIF at this bit depth. Choose Bit Depth 12 or install a "
     "newer libheif.",
     "heif-enc VERSION encodes 16-bit input as AVIF only at Bit Depth 12.", ""},
    {ToolRuleId::heifEncoderTIFFInput, heifEncoderTools, RuleApplicability::versionsBelow, "1.17",
     "reads only JPEG, PNG and Y4M: a TIFF fails with \"Not a JPEG file\" (exit 1)",
     "TIFF sources reach it as the prepared source.png", "",
     "heif-enc VERSION reads no TIFF: TIFF sources are given as the prepared PNG.", ""},
    {ToolRuleId::avifEncoderQuality, avifEncoderTools, RuleApplicability::versionsBelow, "1.0",
     "--qcolor Q is an unknown option (exit 1)",
     "pass --min N --max N, N = ((100 - Q) * 63 + 50) / 100 in integer arithmetic", "",
     "avifenc VERSION has no --qcolor: quality is passed as the equivalent --min/--max quantizer.", ""},
    {ToolRuleId::avifEncoderProgressive, avifEncoderTools, RuleApplicability::versionsBelow, "1.0",
     "--progressive is an unknown option", "the panel fails with the message",
     "avifenc VERSION cannot encode progressive AVIF. Install libavif 1.0 or later.",
     "avifenc VERSION cannot encode progressive AVIF.", ""},
    {ToolRuleId::jpegTurboPNGInput, jpegTurboTools, RuleApplicability::versionsBelow, "3.1",
     "reads no PNG (exit 1, leaves an empty file)",
     "PNG sources go through the PPM path like any other non-direct source", "",
     "cjpeg VERSION reads no PNG: PNG sources are converted to PPM first.", ""},
    {ToolRuleId::jpegXLSixteenBitAlpha, jpegXLTools, RuleApplicability::versionsBelow, "0.8",
     "djxl cannot write back a 16-bit RGBA file that cjxl made",
     "the prepared source.png drops an alpha channel that is opaque everywhere; sources with real "
     "transparency keep RGBA (8-bit sources as 8-bit RGBA, which round-trips)",
     "",
     "libjxl VERSION cannot round-trip 16-bit images with transparency: opaque sources are prepared "
     "without alpha.",
     ""},
    {ToolRuleId::jpegXLEncoderJXLInput, jpegXLTools, RuleApplicability::everyVersion, "",
     "cjxl (0.7 measured) rejects .jxl and .exr input: \"Codecs failed to decode input\", exit 1",
     "JPEG XL and OpenEXR sources reach it as the prepared source.png", "", "", ""},
    // HDR (PQ, HLG) sources. A codec without a failing row here carries HDR: measured on Debian 12,
    // cjxl/djxl 0.7, heif-enc 1.15 and the in-process HEIF writer keep the prepared PNG's ICC profile
    // at 10 bits or more (docs/colour-and-precision.md).
    {ToolRuleId::avifEncoderHDRFromPNG, avifEncoderTools, RuleApplicability::hdrSources, "",
     "reads no PNG cICP chunk: a PQ or HLG source.png becomes an AVIF with its ICC profile and nclx 2/2/6 "
     "(unspecified), which HDR viewers do not take for PQ or HLG",
     "for PQ and HLG sources pass --cicp 9/16/9 or 9/18/9 (matrix 0 with -l) and --ignore-icc, so the AVIF "
     "states its space in nclx; the samples are unchanged",
     "", "", ""},
    {ToolRuleId::webPEncoderHDR, webPEncoderTools, RuleApplicability::hdrSources, "",
     "WebP holds 8 bits per sample: a 16-bit PQ or HLG PNG is cut to 8 bits (dwebp then drops the profile)",
     "the panel fails before running with the message", "cwebp cannot encode HDR (TRANSFER) images: WebP is 8-bit SDR.",
     "", ""},
    {ToolRuleId::jpegTurboEncoderHDR, jpegTurboTools, RuleApplicability::hdrSources, "",
     "JPEG holds 8 bits per sample and the PPM cjpeg reads carries no profile: a PQ or HLG source would be "
     "encoded as 8-bit sRGB",
     "the panel fails before running with the message", "cjpeg cannot encode HDR (TRANSFER) images: JPEG is 8-bit SDR.",
     "", ""},
    {ToolRuleId::jpegSystemEncoderHDR, jpegSystemEncoder, RuleApplicability::hdrSources, "",
     "libvips jpegsave cuts a PQ or HLG source to 8 bits and keeps only its ICC profile, which readers take "
     "relative to SDR white",
     "the panel fails before running with the message",
     "JPEG (System) cannot encode HDR (TRANSFER) images: JPEG is 8-bit SDR.", "", ""},
}};

bool containsName(std::span<const std::string_view> names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

std::span<const ToolVersionRule> allToolVersionRules() { return rules; }

const ToolVersionRule& toolVersionRule(ToolRuleId id) {
  for (const auto& rule : rules) {
    if (rule.id == id) return rule;
  }
  assert(false && "every rule id has a row");
  return rules.front();
}

bool ruleApplies(const ToolVersionRule& rule, const std::optional<ToolVersion>& installed) {
  switch (rule.applicability) {
    case RuleApplicability::everyVersion:
    case RuleApplicability::hdrSources:
      return true;
    case RuleApplicability::whenMissing:
      return false;
    case RuleApplicability::versionsBelow:
      return installed.has_value() && *installed < *ToolVersion::fromText(rule.versionBound);
  }
  return false;
}

std::string fillVersion(std::string_view text, std::string_view versionText) {
  static constexpr std::string_view placeholder = "VERSION";
  std::string filled;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(placeholder, start)) != std::string_view::npos;) {
    filled.append(text.substr(start, at - start));
    filled.append(versionText);
    start = at + placeholder.size();
  }
  filled.append(text.substr(start));
  return filled;
}

std::string LocatedTool::displayName() const {
  return isStandIn() ? requestedName + " (" + name + ")" : name;
}

std::vector<std::string_view> standInsFor(std::string_view name) {
  std::vector<std::string_view> standIns;
  for (const auto& rule : rules) {
    if (!rule.standIn.empty() && containsName(rule.tools, name)) standIns.push_back(rule.standIn);
  }
  return standIns;
}

namespace {

template <typename Find>
std::optional<LocatedTool> locateWithStandIns(std::string_view name, Find find) {
  if (auto path = find(name)) return LocatedTool{std::string(name), std::string(name), std::move(*path)};
  for (std::string_view standIn : standInsFor(name)) {
    if (auto path = find(standIn)) return LocatedTool{std::string(name), std::string(standIn), std::move(*path)};
  }
  return std::nullopt;
}

}  // namespace

std::optional<LocatedTool> locateTool(ExecutableURLCache& cache, std::string_view name,
                                      const std::vector<std::string>& directories) {
  return locateWithStandIns(name, [&](std::string_view candidate) { return cache.locate(candidate, directories); });
}

std::optional<LocatedTool> findTool(std::string_view name, const std::vector<std::string>& directories) {
  return locateWithStandIns(name, [&](std::string_view candidate) { return searchExecutable(candidate, directories); });
}

std::optional<std::string> readToolVersion(std::string_view tool, std::string_view output) {
  if (auto version = parseVersion(output)) return version;
  if (!containsName(toolVersionRule(ToolRuleId::libheifVersionLine).tools, tool)) return std::nullopt;
  static constexpr std::string_view marker = "libheif version:";
  std::size_t at = output.find(marker);
  if (at == std::string_view::npos) return std::nullopt;
  std::string_view rest = output.substr(at + marker.size());
  std::string_view line = rest.substr(0, rest.find_first_of("\r\n"));
  std::size_t first = line.find_first_not_of(" \t");
  if (first == std::string_view::npos) return std::nullopt;
  // The number must follow the marker directly (after blanks), not somewhere later on the line.
  line = line.substr(first);
  auto number = firstDottedNumber(line);
  if (!number || !line.starts_with(*number)) return std::nullopt;
  return number;
}

bool avifencHasQualityOption(const std::optional<ToolVersion>& version) {
  return !ruleApplies(toolVersionRule(ToolRuleId::avifEncoderQuality), version);
}

int avifencQuantizerForQuality(int quality) {
  int q = std::clamp(quality, 0, 100);
  return ((100 - q) * 63 + 50) / 100;
}

bool avifencSupportsProgressive(const std::optional<ToolVersion>& version) {
  return !ruleApplies(toolVersionRule(ToolRuleId::avifEncoderProgressive), version);
}

bool heifEncSupportsJPEG2000(const std::optional<ToolVersion>& version) {
  return !ruleApplies(toolVersionRule(ToolRuleId::heifEncoderJPEG2000), version);
}

bool heifEncCanEncode16BitAVIF(const std::optional<ToolVersion>& version, HEIFDepth depth) {
  return depth == HEIFDepth::twelve || !ruleApplies(toolVersionRule(ToolRuleId::heifEncoderSixteenBitAVIF), version);
}

bool heifEncKnowsHevcFlag(const std::optional<ToolVersion>& version) {
  return !ruleApplies(toolVersionRule(ToolRuleId::heifEncoderHevcFlag), version);
}

bool heifEncReadsTIFF(const std::optional<ToolVersion>& version) {
  return !ruleApplies(toolVersionRule(ToolRuleId::heifEncoderTIFFInput), version);
}

std::string avifencHDRCICP(std::string_view transferName, bool lossless) {
  return std::string("9/") + (transferName == "HLG" ? "18" : "16") + (lossless ? "/0" : "/9");
}

std::optional<std::string> hdrRefusal(CompressionCodec codec, std::string_view transferName) {
  if (transferName.empty()) return std::nullopt;
  const CodecInfo& info = codecInfo(codec);
  const std::string_view encoder = info.encoderTool.empty() ? info.displayName : info.encoderTool;
  for (const auto& rule : rules) {
    if (rule.applicability != RuleApplicability::hdrSources || rule.message.empty()) continue;
    if (!containsName(rule.tools, encoder)) continue;
    std::string message(rule.message);
    static constexpr std::string_view placeholder = "TRANSFER";
    if (auto at = message.find(placeholder); at != std::string::npos) message.replace(at, placeholder.size(), transferName);
    return message;
  }
  return std::nullopt;
}

bool cjxlReadsInputExtension(std::string_view extension) {
  return !(ruleApplies(toolVersionRule(ToolRuleId::jpegXLEncoderJXLInput), std::nullopt) &&
           (extension == "jxl" || extension == "exr"));
}

bool cjpegReadsPNG(const std::optional<ToolVersion>& version) {
  return !ruleApplies(toolVersionRule(ToolRuleId::jpegTurboPNGInput), version);
}

bool djxlDecodesSixteenBitAlpha(const std::optional<ToolVersion>& version) {
  return !ruleApplies(toolVersionRule(ToolRuleId::jpegXLSixteenBitAlpha), version);
}

std::optional<std::string> refusalMessage(ToolRuleId id, const std::optional<ToolVersion>& version) {
  const ToolVersionRule& rule = toolVersionRule(id);
  if (rule.message.empty() || !version || !ruleApplies(rule, version)) return std::nullopt;
  return fillVersion(rule.message, version->text());
}

std::vector<const ToolVersionRule*> rulesForExecutables(std::span<const std::string> executables) {
  std::vector<std::string_view> names(executables.begin(), executables.end());
  for (const auto& executable : executables) {
    for (std::string_view standIn : standInsFor(executable)) names.push_back(standIn);
  }
  std::vector<const ToolVersionRule*> found;
  for (const auto& rule : rules) {
    if (std::any_of(names.begin(), names.end(), [&](std::string_view name) { return containsName(rule.tools, name); })) {
      found.push_back(&rule);
    }
  }
  return found;
}

std::vector<std::string> limitationsOf(std::string_view tool, const std::optional<ToolVersion>& version) {
  std::vector<std::string> texts;
  if (!version) return texts;
  for (const auto& rule : rules) {
    if (rule.limitation.empty() || !containsName(rule.tools, tool) || !ruleApplies(rule, version)) continue;
    texts.push_back(fillVersion(rule.limitation, version->text()));
  }
  return texts;
}

}  // namespace quorlin
