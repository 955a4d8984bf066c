// The one table of older-tool rules: how each older (or differently packaged)
// version of an external tool differs from the reference releases, and what
// Quorlin does about it. Every rule lives here as a row; the encoder layer, the
// tool requirements, the tools window and `quorlin-cli tools` ask the functions
// below instead of keeping version checks of their own.
//
// A version-bound rule applies only when the installed version is known and
// below the row's bound. An unknown version is treated as a current release:
// the rules whose old behaviour would be a silent false success are also
// caught by the container guard (EncodedContainer.h), so nothing wrong ever
// passes silently.
//
// Everything here is immutable data and pure functions, thread-safe.
#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/codecs/CodecCatalog.h"
#include "core/tools/ToolLookup.h"
#include "core/tools/ToolVersion.h"

namespace quorlin {

enum class ToolRuleId {
  ownSsimulacra2,            // ssimulacra2 is not packaged: Quorlin installs its own
  ssimulacra2WithoutMap,     // another ssimulacra2 build has no --map (the error map)
  heifDecoderStandIn,        // older libheif names its decoder heif-convert
  libheifVersionLine,        // heif-enc/heif-convert 1.15 print the version on "libheif version:" lines
  heifEncoderHevcFlag,       // heif-enc does not know --hevc
  heifEncoderJPEG2000,       // heif-enc < 1.16 writes HEVC for --jpeg2000
  heifEncoderSixteenBitAVIF, // heif-enc < 1.16 encodes 16-bit input as AVIF only at 12 bits
  heifEncoderTIFFInput,      // heif-enc < 1.17 reads no TIFF
  avifEncoderQuality,        // avifenc < 1.0 has no --qcolor
  avifEncoderProgressive,    // avifenc < 1.0 has no --progressive
  jpegTurboPNGInput,         // cjpeg < 3.1 reads no PNG
  jpegXLSixteenBitAlpha,     // djxl 0.7 cannot write back 16-bit RGBA that cjxl made
  jpegXLEncoderJXLInput,     // cjxl reads no JPEG XL or OpenEXR input
  avifEncoderHDRFromPNG,     // avifenc reads no PNG cICP chunk: PQ/HLG is stated with --cicp
  webPEncoderHDR,            // WebP is 8-bit SDR: PQ/HLG sources are refused
  jpegTurboEncoderHDR,       // cjpeg's JPEG is 8-bit SDR: PQ/HLG sources are refused
  jpegSystemEncoderHDR,      // the in-process JPEG writer is 8-bit SDR: PQ/HLG sources are refused
};

// Which installed versions a row applies to.
enum class RuleApplicability {
  everyVersion,   // every version measured (1.15 and 1.19 for heif-enc, for example)
  versionsBelow,  // installed version < `versionBound`
  whenMissing,    // the tool itself is not found
  hdrSources,     // every version, for PQ and HLG sources only
};

struct ToolVersionRule {
  ToolRuleId id;
  // The executables the row is about; for an in-process codec, its display name ("JPEG (System)").
  std::span<const std::string_view> tools;
  RuleApplicability applicability;
  std::string_view versionBound;  // for versionsBelow, e.g. "1.16"; empty otherwise
  std::string_view difference;    // how the tool differs
  std::string_view action;        // what Quorlin does
  // The user-facing failure message, with "VERSION" standing for the installed
  // version (and "TRANSFER" for an HDR source's transfer, "PQ" or "HLG");
  // empty for rows that adapt instead of failing.
  std::string_view message;
  // What the older installed version cannot do, for the tools window and the
  // tools report, with "VERSION" standing for the installed version; empty for
  // rows that are not a limitation of the installed tool.
  std::string_view limitation;
  // The executable that stands in when the row's tool is missing; empty otherwise.
  std::string_view standIn;
};

// Every row, in table order.
std::span<const ToolVersionRule> allToolVersionRules();
const ToolVersionRule& toolVersionRule(ToolRuleId id);

// Whether a version-bound or every-version row applies to a tool of this
// version (whenMissing rows: never; they are about absence).
bool ruleApplies(const ToolVersionRule& rule, const std::optional<ToolVersion>& installed);
// `text` with every "VERSION" replaced by `versionText`.
std::string fillVersion(std::string_view text, std::string_view versionText);

// ---- Lookup stand-ins ----

// A located executable: `requestedName` is what the caller asked for ("heif-dec"),
// `name` what was found and will run ("heif-convert" when it stands in).
struct LocatedTool {
  std::string requestedName;
  std::string name;
  std::filesystem::path path;

  bool isStandIn() const { return name != requestedName; }
  // "heif-dec (heif-convert)" for a stand-in, else the name.
  std::string displayName() const;
};

// The executables that may stand in for `name`, in order of preference.
std::vector<std::string_view> standInsFor(std::string_view name);

// `name` through the cache; when it is missing, each stand-in in the same
// directory list.
std::optional<LocatedTool> locateTool(ExecutableURLCache& cache, std::string_view name,
                                      const std::vector<std::string>& directories);
// The same straight on the file system, without the cache.
std::optional<LocatedTool> findTool(std::string_view name, const std::vector<std::string>& directories);

// ---- Version reading ----

// The version in a tool's version output: parseVersion's first-line rule, and
// for the libheif tools (heif-enc, heif-dec, heif-convert), failing that, the
// number after "libheif version:" on any line.
std::optional<std::string> readToolVersion(std::string_view tool, std::string_view output);

// ---- Predicates for building argument lists ----

// avifenc >= 1.0 takes --qcolor; older ones get --min N --max N.
bool avifencHasQualityOption(const std::optional<ToolVersion>& version);
// libavif's quality-to-quantizer mapping: ((100 - q) * 63 + 50) / 100 in integer
// arithmetic, q clamped to 0...100 (79 -> 13, 100 -> 0, 0 -> 63).
int avifencQuantizerForQuality(int quality);
bool avifencSupportsProgressive(const std::optional<ToolVersion>& version);
bool heifEncSupportsJPEG2000(const std::optional<ToolVersion>& version);
// Whether heif-enc --avif can encode a 16-bit input at this bit-depth choice.
bool heifEncCanEncode16BitAVIF(const std::optional<ToolVersion>& version, HEIFDepth depth);
// Whether to pass --hevc at all (never: HEVC is heif-enc's default).
bool heifEncKnowsHevcFlag(const std::optional<ToolVersion>& version);
bool heifEncReadsTIFF(const std::optional<ToolVersion>& version);
bool cjpegReadsPNG(const std::optional<ToolVersion>& version);
// Whether cjxl reads a source file with this lower-cased extension directly.
bool cjxlReadsInputExtension(std::string_view extension);
// Whether djxl writes back a 16-bit image with alpha that cjxl made.
bool djxlDecodesSixteenBitAlpha(const std::optional<ToolVersion>& version);

// avifenc's --cicp value for an HDR source ("PQ" or "HLG"): BT.2020 primaries,
// the transfer, and the BT.2020 matrix, or the identity matrix when lossless.
std::string avifencHDRCICP(std::string_view transferName, bool lossless);
// Why a codec cannot encode a source with this transfer ("PQ" or "HLG"): the
// filled message of its failing hdrSources row; nothing when it carries HDR
// or `transferName` is empty (an SDR source).
std::optional<std::string> hdrRefusal(CompressionCodec codec, std::string_view transferName);

// The refusal message of a failing row for this installed version, when the
// row applies and the version is known; nothing otherwise.
std::optional<std::string> refusalMessage(ToolRuleId id, const std::optional<ToolVersion>& version);

// ---- Tools window and report ----

// The rows about any of `executables` (or their stand-ins), in table order.
std::vector<const ToolVersionRule*> rulesForExecutables(std::span<const std::string> executables);

// What the installed `tool` of this version cannot do: the filled limitation
// texts of the rows that apply, in table order.
std::vector<std::string> limitationsOf(std::string_view tool, const std::optional<ToolVersion>& version);

}  // namespace quorlin
